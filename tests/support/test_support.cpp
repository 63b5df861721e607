#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#include "runtime/utf8.h"
#include "texts/catalogue_table.h"

namespace test_support {

ScopedTempDir::ScopedTempDir() : ScopedTempDir(std::filesystem::temp_directory_path()) {}

ScopedTempDir::ScopedTempDir(const std::filesystem::path& base) {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  for (;;) {
    std::ostringstream name;
    name << "quillbrook-test-" << random() << "-" << counter++;
    path_ = base / name.str();
    std::error_code error;
    if (std::filesystem::create_directory(path_, error)) break;
    if (error) throw std::filesystem::filesystem_error("cannot make a temporary folder", path_, error);
  }
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

runtime::Text ScopedTempDir::text() const {
  runtime::Text text = path_text(path_);
  text.push_back(static_cast<char16_t>(std::filesystem::path::preferred_separator));
  return text;
}

std::filesystem::path source_dir() {
  const char* dir = std::getenv("QUILLBROOK_SOURCE_DIR");
  std::string value = dir ? dir : QUILLBROOK_SOURCE_DIR_DEFAULT;
#ifdef _WIN32
  if (!value.empty() && value[0] == '/') value = "Z:" + value;
#endif
  return std::filesystem::path(value);
}

std::filesystem::path shared_dir() {
  auto shared = source_dir() / ".." / "shared";
  std::error_code error;
  if (!std::filesystem::is_directory(shared / "corpus", error)) return {};
  return shared;
}

std::string read_bytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void write_bytes(const std::filesystem::path& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> list_names(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

runtime::Text path_text(const std::filesystem::path& path) {
  auto units = path.u16string();
  return runtime::Text(units.begin(), units.end());
}

std::u16string translated(const std::string& language, std::u16string_view english,
                          const std::map<std::u16string, std::u16string>& fields) {
  const std::u16string name = runtime::utf8_to_utf16(language);
  std::u16string text(english);
  for (const texts::Catalogue& catalogue : texts::catalogues())
    if (catalogue.language == name)
      for (const texts::Translation& entry : catalogue.translations)
        if (entry.english == english) text = entry.translated;
  for (const auto& [field, value] : fields) {
    const std::u16string placeholder = u"{" + field + u"}";
    for (std::size_t at; (at = text.find(placeholder)) != std::u16string::npos;)
      text.replace(at, placeholder.size(), value);
  }
  return text;
}

}  // namespace test_support
