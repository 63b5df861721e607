#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "files/file_handle.h"
#include "files/folders.h"
#include "runtime/text.h"

// The calls that the folder library makes on the system, one definition per platform
// (folder_system_win32.cpp, folder_system_posix.cpp). Paths are whole Texts, already trimmed and joined; the POSIX
// side turns backslashes into slashes before a path reaches the system.
namespace files::folder_system {

using files::ReplaceOutcome;
using runtime::Text;

// One entry of a folder search: its name without the folder, whether it is a folder, its size.
struct FolderEntry {
  Text name;
  bool is_folder = false;
  std::int64_t size = 0;
};

// An open search; destroying it ends the search (FindClose, closedir).
class FolderSearch {
 public:
  FolderSearch() = default;
  FolderSearch(const FolderSearch&) = delete;
  FolderSearch& operator=(const FolderSearch&) = delete;
  virtual ~FolderSearch() = default;

  // Moves on to the next matching entry. False at the end, and `entry` is then left as it was.
  virtual bool next_entry(FolderEntry& entry) = 0;
};

enum class SearchOutcome {
  found,            // `first` is the first matching entry, `search` hands out the rest
  nothing_matched,  // the folder exists but no entry matches the last component
  failed,           // the folder cannot be searched (missing, not a folder, no access)
};

struct SearchStart {
  SearchOutcome outcome = SearchOutcome::failed;
  std::unique_ptr<FolderSearch> search;
  FolderEntry first;
};

// Searches the folder part of the path for entries matching its last component, a wildcard pattern
// (`*`, `?`). "." and ".." are reported like any other entry.
SearchStart start_search(const Text& path);

// True where paths may start with a drive letter and a colon.
bool has_drive_letters();
// True when the root names a drive or share of a known type (GetDriveTypeW above DRIVE_NO_ROOT_DIR).
bool is_known_drive(const Text& root);
// Whether the path is a folder; nothing when its attributes cannot be read.
std::optional<bool> read_is_folder(const Text& path);

// Creates the last component only.
bool make_folder(const Text& path);
// The name ending of the temporary file that replace_file_durably writes beside its file; whatever
// a killed run (or anyone else) left at that name is removed first, and what cannot be removed fails
// the replace.
inline constexpr std::u16string_view TEMPORARY_SUFFIX = u".quillbrook-new";

// A path in the system's own form, made before it is needed where no memory may be taken any more.
#ifdef _WIN32
using SystemName = std::wstring;
#else
using SystemName = std::string;
#endif

// Removes the file, waiting out another program's brief hold on it as every other step does. True
// when nothing is left at the name.
bool remove_file_waiting(const SystemName& name) noexcept;

// Owns the temporary file of one replace, which it made: the open file while it is written, then its
// name until renamed() says it bears the other name. On every other path out, exceptions included,
// it removes the file. Move-only.
class TemporaryFile {
 public:
  TemporaryFile(SystemName name, FileHandle file) noexcept : name_(std::move(name)), file_(std::move(file)) {}
  ~TemporaryFile() { discard(); }
  TemporaryFile(TemporaryFile&& other) noexcept
      : name_(std::move(other.name_)), file_(std::move(other.file_)), owned_(std::exchange(other.owned_, false)) {}
  TemporaryFile& operator=(TemporaryFile&& other) noexcept {
    if (this != &other) {
      discard();
      name_ = std::move(other.name_);
      file_ = std::move(other.file_);
      owned_ = std::exchange(other.owned_, false);
    }
    return *this;
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const SystemName& name() const noexcept { return name_; }
  const FileHandle& file() const noexcept { return file_; }
  // Closes the file; false when the system reported a failure. The name stays owned.
  bool close() noexcept { return file_.close(); }
  void renamed() noexcept { owned_ = false; }
  // Closes and removes the file now; true when nothing is left at its name.
  bool discard() noexcept {
    file_.close();
    if (!owned_) return true;
    owned_ = !remove_file_waiting(name_);
    return !owned_;
  }

 private:
  SystemName name_;
  FileHandle file_;
  bool owned_ = true;
};

// Puts `bytes` in place of the file in one step: written to a temporary file beside it (its name and
// TEMPORARY_SUFFIX, made afresh so that nothing planted at that name is written through), flushed to
// the disk, given the attributes or permission bits of `model` (the read-only attribute aside), and,
// once `still_expected` agrees, renamed over it, the folder flushed too. `still_expected` is asked
// again immediately before every try of the rename; an exception from it goes to the caller. A
// symbolic link at the path is replaced itself.
ReplaceOutcome replace_file_durably(const Text& path, std::string_view bytes, const Text& model,
                                    const std::function<bool()>& still_expected);
// False when the file has the read-only attribute, or its permission bits refuse this user writing.
bool is_writable(const Text& path);

bool change_current_folder(const Text& path);
// The current folder as the system gives it (a closing separator only at a root); empty on failure.
Text read_current_folder();
// The separator that closes the folder paths the library returns.
char16_t closing_separator();

// A well-known user folder with a closing separator; the empty Text for unknown ids.
Text user_folder(std::int32_t id);

}  // namespace files::folder_system
