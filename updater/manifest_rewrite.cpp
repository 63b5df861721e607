#include <array>
#include <optional>
#include <vector>

#include "dialogs/dialogs.h"
#include "files/folders.h"
#include "files/text_files.h"
#include "pattern/pattern.h"
#include "runtime/program_end.h"
#include "runtime/text_functions.h"
#include "runtime/utf8.h"
#include "updater/update_run.h"

namespace updater {

using runtime::are_texts_equal;

namespace {

constexpr char16_t BYTE_ORDER_MARK = 0xFEFF;
constexpr TextView KEY = u"lastTestedNVDAVersion";
constexpr TextView MINIMUM_KEY = u"minimumNVDAVersion";
constexpr TextView BACKUP_ROOT = u"../manifest backups";
constexpr TextView BACKUP_PREFIX = u"../manifest backups/";

bool is_blank(char16_t c) { return c == u' ' || c == u'\t'; }
bool is_line_break(char16_t c) { return c == u'\n' || c == u'\r'; }

// Calls visit(line_start, line_end) for every line; LF, CR and CR LF end lines.
template <typename Visit>
void for_each_line(TextView text, Visit visit) {
  std::size_t start = !text.empty() && text[0] == BYTE_ORDER_MARK ? 1 : 0;
  while (start <= text.size()) {
    std::size_t end = start;
    while (end < text.size() && !is_line_break(text[end])) ++end;
    if (!visit(start, end)) return;
    if (end == text.size()) return;
    start = end + (text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n' ? 2 : 1);
  }
}

std::size_t skip_blanks(TextView text, std::size_t at, std::size_t end) {
  while (at < end && is_blank(text[at])) ++at;
  return at;
}

bool is_digit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Year, major and minor (0 when missing) of a version in the form four digits, a full stop and one
// digit, optionally a full stop and one more digit.
using VersionNumbers = std::array<int, 3>;

std::optional<VersionNumbers> read_version(TextView version) {
  if (version.size() != 6 && version.size() != 8) return std::nullopt;
  for (std::size_t i = 0; i < 4; ++i)
    if (!is_digit(version[i])) return std::nullopt;
  if (version[4] != u'.' || !is_digit(version[5])) return std::nullopt;
  if (version.size() == 8 && (version[6] != u'.' || !is_digit(version[7]))) return std::nullopt;
  auto digit = [&](std::size_t i) { return version[i] - u'0'; };
  int year = ((digit(0) * 10 + digit(1)) * 10 + digit(2)) * 10 + digit(3);
  return VersionNumbers{year, digit(5), version.size() == 8 ? digit(7) : 0};
}

// The version of a line that sets the minimum, as the screen reader's loader reads it ("0" too);
// nothing for any other line.
std::optional<VersionNumbers> read_minimum_line(TextView line) {
  std::size_t at = skip_blanks(line, 0, line.size());
  if (!line.substr(at).starts_with(MINIMUM_KEY)) return std::nullopt;
  at = skip_blanks(line, at + MINIMUM_KEY.size(), line.size());
  if (at == line.size() || line[at] != u'=') return std::nullopt;
  at = skip_blanks(line, at + 1, line.size());
  if (at < line.size() && line[at] == u'"') ++at;
  const std::size_t value = at;
  while (at < line.size() && (is_digit(line[at]) || line[at] == u'.')) ++at;
  TextView number = line.substr(value, at - value);
  if (at < line.size() && line[at] == u'"') ++at;
  if (skip_blanks(line, at, line.size()) != line.size()) return std::nullopt;
  if (number == u"0") return VersionNumbers{0, 0, 0};
  return read_version(number);
}

}  // namespace

bool is_valid_version(TextView version) { return read_version(version).has_value(); }

bool has_minimum_above(TextView text, TextView version) {
  const std::optional<VersionNumbers> typed = read_version(version);
  if (!typed) return false;
  const std::size_t section = find_first_section_line(text);
  bool above = false;
  for_each_line(text, [&](std::size_t start, std::size_t end) {
    if (start >= section) return false;
    const std::optional<VersionNumbers> minimum = read_minimum_line(text.substr(start, end - start));
    above = minimum && *minimum > *typed;
    return !above;
  });
  return above;
}

bool has_key_line(TextView text) {
  bool found = false;
  for_each_line(text, [&](std::size_t start, std::size_t end) {
    std::size_t at = skip_blanks(text, start, end);
    if (text.substr(at, end - at).starts_with(KEY)) {
      at = skip_blanks(text, at + KEY.size(), end);
      found = at < end && text[at] == u'=';
    }
    return !found;
  });
  return found;
}

std::size_t find_first_section_line(TextView text) {
  std::size_t section = text.size();
  TextView open_quote;  // the triple quote of a value that runs over several lines
  for_each_line(text, [&](std::size_t start, std::size_t end) {
    if (open_quote.empty() && skip_blanks(text, start, end) < end && text[skip_blanks(text, start, end)] == u'[') {
      section = start;
      return false;
    }
    // Follow the triple quotes on this line to know whether the next line starts inside a value.
    TextView line = text.substr(start, end - start);
    std::size_t at = 0;
    for (;;) {
      if (!open_quote.empty()) {
        std::size_t close = line.find(open_quote, at);
        if (close == TextView::npos) break;
        at = close + 3;
        open_quote = {};
      } else {
        std::size_t double_quotes = line.find(u"\"\"\"", at), single_quotes = line.find(u"'''", at);
        std::size_t open = std::min(double_quotes, single_quotes);
        if (open == TextView::npos) break;
        open_quote = open == double_quotes ? TextView(u"\"\"\"") : TextView(u"'''");
        at = open + 3;
      }
    }
    return true;
  });
  return section;
}

namespace {

// The new text of a manifest's text after its byte-order mark, or the empty Text when the manifest
// is to be left alone (counted here).
Text make_new_text_after_mark(RunState& state, TextView manifest_path, TextView text) {
  // The engine may stop part-way (its match limit) at any of its searches; a manifest is then left
  // alone rather than written with some key lines replaced and others not.
  auto engine_failed = [&] {
    if (pattern::get_match_error(0) == 0) return false;
    ++state.failed_count;
    return true;
  };
  const int matched = pattern::match_pattern(0, text);
  if (engine_failed()) return Text();
  if (matched) {
    std::int32_t count = pattern::count_pattern_groups(0);
    std::vector<Text> groups(static_cast<std::size_t>(count));
    if (groups.empty() || !pattern::examine_matches(0, text) || !pattern::next_match(0)) {
      ++state.failed_count;
      return Text();
    }
    for (std::int32_t i = 1; i <= count; ++i) groups[static_cast<std::size_t>(i - 1)] = pattern::get_group_text(0, i);
    Text replacement = groups.front() + state.version_text + groups.back();
    Text replaced = pattern::replace_all(0, text, replacement);
    if (engine_failed()) return Text();
    return replaced;
  }

  // A key line whose value the pattern cannot read is not replaced by a second key.
  if (has_key_line(text)) {
    ++state.skipped_count;
    return Text();
  }

  Text question = u"Last tested version key not found in " + Text(manifest_path) + u". Add it?";
  if (dialogs::show_message_box(u"Warning", question, FLAGS_ADD_KEY) == dialogs::BUTTON_NO) {
    ++state.skipped_count;
    return Text();
  }

  Text key_line = u"lastTestedNVDAVersion = " + state.version_text + u"\r\n";
  // A key after a section line would belong to that section, so it goes before the first one.
  std::size_t section = find_first_section_line(text);
  if (section < text.size()) {
    // The key pattern reads a line only at the start of the text or after an LF: after a lone CR the
    // inserted line gets the LF that makes it a line of its own.
    Text before;
    if (section > 0 && text[section - 1] == u'\r') before = u"\n";
    return Text(text.substr(0, section)) + before + key_line + Text(text.substr(section));
  }

  Text kept(text);
  while (!kept.empty()) {
    if (are_texts_equal(runtime::right_of_text(kept, 1), u"\n") ||
        are_texts_equal(runtime::right_of_text(kept, 1), u"\r"))
      kept = runtime::middle_of_text(kept, 1, runtime::length_of_text(kept) - 1);
    else
      break;
  }
  return kept + u"\r\n" + key_line;
}

// True when the text's UTF-8 form would be longer than a manifest may be.
bool is_too_long_to_write(const Text& text) {
  const auto limit = static_cast<std::size_t>(MAX_MANIFEST_BYTES);
  // A unit takes at most three bytes, so only very long texts need the exact count.
  if (text.size() <= limit / 3) return false;
  return text.size() > limit || runtime::utf16_to_utf8(text).size() > limit;
}

// Where the folder takes no temporary file, the manifest is written over in place; when that fails,
// its old bytes (the backup's) go back. False when the new text is not in place.
bool rewrite_in_place(const RunState& state) {
  if (!files::open_file_object(0, state.manifest_path, files::FILE_MODE_CREATE, files::ENCODING_UTF8)) return false;
  bool written = files::write_file_text(0, state.new_manifest_text) != 0;
  if (files::close_file(0) && written) return true;
  bool restored = files::open_file_object(0, state.manifest_path, files::FILE_MODE_CREATE, files::ENCODING_UTF8) &&
                  files::write_file_text(0, runtime::utf8_to_utf16(state.manifest_bytes)) != 0;
  restored = files::close_file(0) && restored;
  if (!restored)
    dialogs::show_message_box(u"Error", u"Could not restore " + state.manifest_path + u" from its backup", FLAGS_ERROR);
  return false;
}

// The manifest's bytes, read whole as bytes, one past the limit to tell a manifest that has grown
// beyond it; nothing when it cannot be opened or a read fails.
std::optional<std::string> read_manifest_bytes(TextView manifest_path) {
  if (!files::open_file_for_reading(0, manifest_path, files::ENCODING_UTF8)) return std::nullopt;
  std::string bytes = files::read_file_bytes(0, static_cast<std::size_t>(MAX_MANIFEST_BYTES) + 1);
  if (!files::close_file(0)) return std::nullopt;
  return bytes;
}

}  // namespace

Text make_new_manifest_text(RunState& state, TextView manifest_path) {
  state.manifest_bytes.clear();
  std::optional<std::string> bytes = read_manifest_bytes(manifest_path);
  // A manifest that would not survive its conversion (invalid UTF-8, a zero byte) or that is too long
  // for a Text is refused.
  bool lossless = bytes && bytes->size() <= static_cast<std::size_t>(MAX_MANIFEST_BYTES) &&
                  bytes->find('\0') == std::string::npos && runtime::is_valid_utf8(*bytes);
  if (!lossless) {
    ++state.failed_count;
    return Text();
  }
  Text text = runtime::utf8_to_utf16(*bytes);
  state.manifest_bytes = std::move(*bytes);

  if (are_texts_equal(text, u"")) {
    ++state.skipped_count;
    return Text();
  }

  // The screen reader refuses an add-on whose minimum version is above its last tested version.
  if (has_minimum_above(text, state.version_text)) {
    ++state.skipped_count;
    return Text();
  }

  // The rules read the text after a byte-order mark, which stays in front of the new text.
  const bool has_mark = text[0] == BYTE_ORDER_MARK;
  Text new_text = make_new_text_after_mark(state, manifest_path, TextView(text).substr(has_mark ? 1 : 0));
  if (new_text.empty()) return Text();
  if (has_mark) new_text.insert(new_text.begin(), BYTE_ORDER_MARK);

  // Writing the same bytes again would only replace the backup of the text before them.
  if (new_text == text) {
    ++state.skipped_count;
    return Text();
  }
  if (is_too_long_to_write(new_text)) {
    ++state.failed_count;
    return Text();
  }
  return new_text;
}

void update_addon_manifest(RunState& state, TextView entry_name) {
  state.manifest_path = Text(entry_name) + u"/manifest.ini";
  const std::int64_t size = files::query_path_size(state.manifest_path);
  if (size == files::PATH_MISSING) return;
  ++state.found_count;
  // Refused before any memory is taken for it.
  if (size > MAX_MANIFEST_BYTES) {
    ++state.failed_count;
    return;
  }

  state.new_manifest_text = make_new_manifest_text(state, state.manifest_path);
  if (are_texts_equal(state.new_manifest_text, u"")) return;

  // Another program (or the user, while a question was open) may have changed the manifest since it
  // was read: its new bytes are not overwritten with a text made from the old ones.
  if (read_manifest_bytes(state.manifest_path) != state.manifest_bytes) {
    ++state.failed_count;
    return;
  }

  files::create_folder(BACKUP_ROOT);
  files::create_folder(Text(BACKUP_PREFIX) + Text(entry_name));
  const Text backup_path = Text(BACKUP_PREFIX) + state.manifest_path;
  // The backup holds the bytes just checked, and is on the disk before the manifest is touched.
  if (files::replace_file(backup_path, state.manifest_bytes, state.manifest_path) != files::FILE_REPLACED) {
    dialogs::show_message_box(u"Error", u"Could not back up " + state.manifest_path, FLAGS_ERROR);
    runtime::end_program();
  }

  // A rename would replace a read-only manifest as readily as any other.
  if (!files::may_write_file(state.manifest_path)) {
    ++state.failed_count;
    return;
  }
  const int replaced =
      files::replace_file(state.manifest_path, runtime::utf16_to_utf8(state.new_manifest_text), state.manifest_path);
  if (replaced == files::FILE_REPLACED || (replaced == files::FOLDER_REFUSES_FILES && rewrite_in_place(state)))
    ++state.modified_count;
  else
    ++state.failed_count;
}

}  // namespace updater
