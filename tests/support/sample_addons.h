#pragma once

// Add-ons with realistic manifests, laid out for a run of the program, the rewrite each one should
// get, and the answers and readings of a run that the tests of failures share on both platforms.
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "runtime/utf8.h"
#include "tests/support/program_driver.h"
#include "tests/support/test_support.h"

namespace sample_addons {

namespace fs = std::filesystem;

constexpr char16_t VERSION[] = u"2036.1.1";

inline constexpr std::string_view OLD_KEY_LINE = "lastTestedNVDAVersion = 2023.1";
inline constexpr std::string_view NEW_KEY_LINE = "lastTestedNVDAVersion = 2036.1.1";

// A manifest as add-ons carry it: the key line near the end, CR LF (or LF) line ends, and a long
// description that brings it to exactly `size` bytes (at least about 300).
inline std::string make_manifest(std::string_view name, std::size_t size, bool crlf = true) {
  const std::string end = crlf ? "\r\n" : "\n";
  std::string head = "name = " + std::string(name) + end + "summary = \"Sample add-on " + std::string(name) + "\"" +
                     end + "description = \"";
  std::string tail = "\"" + end + "author = \"Sample Author <author@example.org>\"" + end +
                     "url = https://example.org/addons/" + std::string(name) + end + "version = 1.4.2" + end +
                     "docFileName = readme.html" + end + "minimumNVDAVersion = 2019.3" + end +
                     std::string(OLD_KEY_LINE) + end + "updateChannel = None" + end;
  std::size_t fixed = head.size() + tail.size();
  std::string description;
  const std::string_view words = "Reads more of the screen aloud and keeps the focus where the user left it. ";
  while (fixed + description.size() < size) description += words;
  description.resize(size > fixed ? size - fixed : 0);
  return head + description + tail;
}

// The bytes the program should write for a manifest made by make_manifest.
inline std::string rewritten(std::string bytes) {
  std::size_t at = bytes.rfind(OLD_KEY_LINE);
  return bytes.replace(at, OLD_KEY_LINE.size(), NEW_KEY_LINE);
}

struct Addon {
  std::string name;
  std::string old_bytes;
  std::string new_bytes;
};

// Writes each add-on's manifest into the add-ons folder.
inline void lay_out(const fs::path& addons, const std::vector<Addon>& list) {
  for (const Addon& addon : list) {
    fs::create_directories(addons / addon.name);
    test_support::write_bytes(addons / addon.name / "manifest.ini", addon.old_bytes);
  }
}

inline Addon addon(std::string name, std::size_t size, bool crlf = true) {
  std::string old_bytes = make_manifest(name, size, crlf);
  return {std::move(name), old_bytes, rewritten(old_bytes)};
}

inline std::string read_if_present(const fs::path& file) {
  std::error_code error;
  return fs::is_regular_file(file, error) ? test_support::read_bytes(file) : std::string();
}

inline bool is_present(const fs::path& file) {
  std::error_code error;
  return fs::exists(file, error);
}

// Answers Yes to every question and types the version.
inline driver::Answer yes_to_all(const driver::Dialog& dialog) {
  if (dialog.kind == driver::Dialog::Kind::input) return {driver::Answer::Kind::type, VERSION};
  if (dialog.kind == driver::Dialog::Kind::chooser) return {driver::Answer::Kind::cancel, {}};
  return {dialog.yes_no ? driver::Answer::Kind::yes : driver::Answer::Kind::enter, {}};
}

inline const driver::Dialog* find_dialog(const driver::RunResult& result, std::u16string_view title) {
  for (const driver::Dialog& dialog : result.dialogs)
    if (dialog.title == title) return &dialog;
  return nullptr;
}

inline std::u16string summary(int found, int skipped, int failed, int modified) {
  auto number = [](int value) { return runtime::utf8_to_utf16(std::to_string(value)); };
  return number(found) + u" manifests found, " + number(skipped) + u" skipped, " + number(failed) + u" failed, " +
         number(modified) + u" modified.";
}

inline std::u16string could_not_back_up(std::string_view name) {
  return u"Could not back up " + runtime::utf8_to_utf16(name) + u"/manifest.ini";
}

}  // namespace sample_addons
