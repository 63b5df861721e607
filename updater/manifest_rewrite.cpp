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

}  // namespace

bool is_valid_version(TextView version) {
  version = runtime::until_terminator(version);
  auto digit = [&](std::size_t i) { return version[i] >= u'0' && version[i] <= u'9'; };
  if (version.size() != 6 && version.size() != 8) return false;
  for (std::size_t i = 0; i < 4; ++i)
    if (!digit(i)) return false;
  if (version[4] != u'.' || !digit(5)) return false;
  return version.size() == 6 || (version[6] == u'.' && digit(7));
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

Text make_new_manifest_text(RunState& state, TextView manifest_path) {
  if (!files::open_file_for_reading(0, manifest_path, 2)) {
    ++state.failed_count;
    return Text();
  }
  // The manifest is read twice over the same open file: as bytes, to refuse a manifest that would not
  // survive its conversion (invalid UTF-8, a zero byte), and as text.
  std::string bytes = files::read_file_bytes(0);
  bool lossless = bytes.find('\0') == std::string::npos && runtime::is_valid_utf8(bytes);
  Text text = lossless ? runtime::utf8_to_utf16(bytes) : Text();
  files::close_file(0);
  if (!lossless) {
    ++state.failed_count;
    return Text();
  }

  if (are_texts_equal(text, u"")) {
    ++state.skipped_count;
    return Text();
  }

  if (pattern::match_pattern(0, text)) {
    std::int32_t count = pattern::count_pattern_groups(0);
    std::vector<Text> groups(static_cast<std::size_t>(count));
    pattern::examine_matches(0, text);
    pattern::next_match(0);
    for (std::int32_t i = 1; i <= count; ++i) groups[static_cast<std::size_t>(i - 1)] = pattern::get_group_text(0, i);
    if (groups.empty()) return Text();
    Text replacement = groups.front() + state.version_text + groups.back();
    return pattern::replace_all(0, text, replacement);
  }

  // A key line whose value the pattern cannot read is not replaced by a second key.
  if (has_key_line(text)) {
    ++state.skipped_count;
    return Text();
  }

  Text question = u"Last tested version key not found in " + Text(manifest_path) + u". Add it?";
  if (dialogs::show_message_box(u"Warning", question, 52) == dialogs::BUTTON_NO) {
    ++state.skipped_count;
    return Text();
  }

  Text key_line = u"lastTestedNVDAVersion = " + state.version_text + u"\r\n";
  // A key after a section line would belong to that section, so it goes before the first one.
  std::size_t section = find_first_section_line(text);
  if (section < text.size()) {
    // The key pattern reads a line only at the start of the text or after an LF: after a lone CR the
    // inserted line gets the LF that makes it a line of its own, after a byte-order mark a line end.
    Text before;
    if (section > 0 && text[section - 1] == u'\r') before = u"\n";
    if (section > 0 && text[section - 1] == BYTE_ORDER_MARK) before = u"\r\n";
    return text.substr(0, section) + before + key_line + text.substr(section);
  }

  while (!text.empty()) {
    if (are_texts_equal(runtime::right_of_text(text, 1), u"\n") || are_texts_equal(runtime::right_of_text(text, 1), u"\r"))
      text = runtime::middle_of_text(text, 1, runtime::length_of_text(text) - 1);
    else
      break;
  }
  return text + u"\r\n" + key_line;
}

void update_addon_manifest(RunState& state, TextView entry_name) {
  state.manifest_path = Text(entry_name) + u"/manifest.ini";
  if (files::query_path_size(state.manifest_path) == files::PATH_MISSING) return;
  ++state.found_count;

  state.new_manifest_text = make_new_manifest_text(state, state.manifest_path);
  if (are_texts_equal(state.new_manifest_text, u"")) return;

  files::create_folder(BACKUP_ROOT);
  files::create_folder(Text(BACKUP_PREFIX) + Text(entry_name));
  const Text backup_path = Text(BACKUP_PREFIX) + state.manifest_path;
  if (!files::duplicate_file(state.manifest_path, backup_path)) {
    dialogs::show_message_box(u"Error", u"Could not back up " + state.manifest_path, 16);
    runtime::end_program();
  }

  if (!files::open_file_object(0, state.manifest_path, files::FILE_MODE_CREATE, 2)) {
    ++state.failed_count;
    return;
  }
  // From here on a failed write or close must not leave a damaged manifest: the backup goes back.
  bool written = files::write_file_text(0, state.new_manifest_text) != 0;
  bool closed = files::close_file(0) != 0;
  if (!written || !closed) {
    files::duplicate_file(backup_path, state.manifest_path);
    ++state.failed_count;
    return;
  }
  ++state.modified_count;
}

}  // namespace updater
