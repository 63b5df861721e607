#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "runtime/text.h"

namespace test_support {

// A fresh folder under the system's temporary folder, removed with everything in it when the
// object goes, also when an assertion fails.
class ScopedTempDir {
 public:
  ScopedTempDir();
  // A fresh folder inside `base` instead of the temporary folder.
  explicit ScopedTempDir(const std::filesystem::path& base);
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The folder as a Text, with a closing separator.
  runtime::Text text() const;

 private:
  std::filesystem::path path_;
};

// Puts the process's current folder back when a test has moved it.
class CurrentFolderGuard {
 public:
  CurrentFolderGuard() : saved_(std::filesystem::current_path()) {}
  ~CurrentFolderGuard() {
    std::error_code ignored;
    std::filesystem::current_path(saved_, ignored);
  }
  CurrentFolderGuard(const CurrentFolderGuard&) = delete;
  CurrentFolderGuard& operator=(const CurrentFolderGuard&) = delete;

 private:
  std::filesystem::path saved_;
};

// The checkout's root folder, as this platform names it (under Wine, through drive Z:).
std::filesystem::path source_dir();

// The shared folder beside the checkout, or an empty path when there is none (a user's clone).
std::filesystem::path shared_dir();

// Whole-file helpers working on raw bytes.
std::string read_bytes(const std::filesystem::path& file);
void write_bytes(const std::filesystem::path& file, std::string_view bytes);
// The names in a folder, sorted: what a run left behind.
std::vector<std::string> list_names(const std::filesystem::path& folder);

// An English text of the program as the compiled-in catalogue of `language` ("es") has it, each
// `{name}` of `fields` filled in wherever the translation puts it; the English text for "en" and for a
// text the catalogue lacks.
std::u16string translated(const std::string& language, std::u16string_view english,
                          const std::map<std::u16string, std::u16string>& fields = {});

// A path as a Text (UTF-16).
runtime::Text path_text(const std::filesystem::path& path);

}  // namespace test_support

// Skips the current test when the shared folder is absent.
#define SKIP_WITHOUT_SHARED_DIR()                                                 \
  do {                                                                            \
    if (test_support::shared_dir().empty())                                       \
      GTEST_SKIP() << "the shared folder beside the checkout is absent; skipped"; \
  } while (0)
