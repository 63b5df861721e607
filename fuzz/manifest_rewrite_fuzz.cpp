// The manifest rewrite on arbitrary manifest bytes, through update_addon_manifest on a real add-ons
// folder in a temporary folder, with the Yes/No answer waiting on standard input. Checks properties
// of the bytes on disk afterwards rather than examples, reading the key lines with PCRE itself and the
// key pattern in its plain form (without the controls that keep the updater's searches linear):
// - bytes that are not well-formed UTF-8, or hold a zero, are left alone without a question, and
//   a manifest of only a byte-order mark is skipped, unasked, as an empty one is;
// - a minimum version above the typed one before the first section leaves the manifest alone, unasked;
// - everything below reads the text after a byte-order mark, which stays in front, and takes key
//   lines that start inside triple-quoted values as part of those values;
// - a manifest with exactly one key line changes only in its version digits, and one with several
//   keeps every byte outside the key lines, each key line becoming the first one's replacement;
// - a manifest without a key line but with a key the pattern cannot read is left alone, unasked;
// - otherwise the question is asked, No leaves the manifest alone, and Yes adds exactly one key line,
//   before the first section line or after the text with its final line ends taken off;
// - a new text equal to the old one leaves the manifest alone, counted as skipped;
// - the backup holds the old bytes whenever the manifest was rewritten, and nothing is backed up
//   otherwise; every manifest is counted found and exactly one of skipped, failed and modified;
// - a second run with the same version changes nothing and backs nothing up after a key line was
//   rewritten or added, and reads an added key back with the pattern.

#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <pcre.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dialogs/dialogs.h"
#include "files/text_files.h"
#include "fuzz/fuzz_support.h"
#include "pattern/pattern.h"
#include "runtime/utf8.h"
#include "updater/update_run.h"

namespace {

using runtime::Text;

constexpr std::string_view KEY = "lastTestedNVDAVersion";
constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";
constexpr const char* PLAIN_KEY_PATTERN =
    R"(^([\s\h]*lastTestedNVDAVersion[\s\h]*=[\s\h]*"?)(\d+)\.(\d+)(?:\.(\d+))?("?[\s\h]*)$)";
// One line, its line end taken off, that sets the minimum version as the screen reader reads it:
// quoted, or unquoted and maybe followed by a comment.
constexpr const char* MINIMUM_LINE_PATTERN =
    R"re(^[ \t]*minimumNVDAVersion[ \t]*=[ \t]*(?:["']?(0|[0-9]{4}\.[0-9](?:\.[0-9])?)["']?[ \t]*|)re"
    R"re((0|[0-9]{4}\.[0-9](?:\.[0-9])?)[ \t]*#.*)\z)re";

struct Match {
  std::size_t start, end;    // the whole match
  std::size_t group1_end;    // group 1 runs from start
  std::size_t version_end;   // groups 2 to 4 run from group1_end
  std::size_t group5_start;  // group 5 runs to end
};

// Whether the position lies inside a value opened by a triple quote before it and not closed yet.
bool is_in_value(std::string_view text, std::size_t position) {
  std::string_view open_quote;
  for (std::size_t at = 0;;) {
    const std::size_t next =
        open_quote.empty() ? std::min(text.find("\"\"\"", at), text.find("'''", at)) : text.find(open_quote, at);
    if (next == std::string_view::npos || next + 3 > position) return !open_quote.empty();
    open_quote = open_quote.empty() ? text.substr(next, 3) : std::string_view();
    at = next + 3;
  }
}

// The key lines outside triple-quoted values as PCRE itself finds them in the bytes, left to right;
// nothing when PCRE gives up (its match limit), since the library then sees no further match either.
std::optional<std::vector<Match>> find_key_lines(const pcre* key_pattern, std::string_view bytes) {
  std::vector<Match> matches;
  int offsets[30];
  const int length = static_cast<int>(bytes.size());
  for (int start = 0;;) {
    int result = pcre_exec(key_pattern, nullptr, bytes.data(), length, start, PCRE_NO_UTF8_CHECK, offsets, 30);
    if (result == PCRE_ERROR_NOMATCH) return matches;
    if (result < 0) return std::nullopt;
    auto at = [&](int i) { return static_cast<std::size_t>(offsets[i]); };
    if (!is_in_value(bytes, at(0)))
      matches.push_back(Match{at(0), at(1), at(3), offsets[8] >= 0 ? at(9) : at(7), at(10)});
    start = offsets[1];
  }
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Calls visit(line) for every line, LF, CR and CR LF ending them, after a byte-order mark at the
// start; stops when visit returns true and gives the line's start, else the text's length.
template <typename Visit>
std::size_t find_line(std::string_view text, Visit visit) {
  std::size_t start = text.starts_with(BYTE_ORDER_MARK) ? BYTE_ORDER_MARK.size() : 0;
  for (;;) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    if (visit(text.substr(start, end - start))) return start;
    if (end == text.size()) return text.size();
    start = end + (text.substr(end, 2) == "\r\n" ? 2 : 1);
  }
}

std::string_view without_blanks(std::string_view line) {
  while (!line.empty() && is_blank(line.front())) line.remove_prefix(1);
  return line;
}

std::size_t offset_in(std::string_view text, std::string_view line) {
  return static_cast<std::size_t>(line.data() - text.data());
}

// A line outside triple-quoted values that sets the key, whatever its value.
bool has_key_line(std::string_view text) {
  return find_line(text, [&](std::string_view line) {
           if (is_in_value(text, offset_in(text, line))) return false;
           line = without_blanks(line);
           if (!line.starts_with(KEY)) return false;
           return without_blanks(line.substr(KEY.size())).starts_with("=");
         }) < text.size();
}

// The first line that opens a section, outside triple-quoted values.
std::size_t first_section_line(std::string_view text) {
  return find_line(text, [&](std::string_view line) {
    return without_blanks(line).starts_with("[") && !is_in_value(text, offset_in(text, line));
  });
}

// Year, major and minor (0 when missing) of a version such as 2024.1 or 2024.1.2; 0 is all zeros.
std::vector<int> version_numbers(std::string_view version) {
  std::vector<int> numbers;
  for (std::size_t at = 0; at <= version.size();) {
    std::size_t end = std::min(version.find('.', at), version.size());
    numbers.push_back(std::stoi(std::string(version.substr(at, end - at))));
    at = end + 1;
  }
  numbers.resize(3);
  return numbers;
}

const pcre* minimum_line_pattern = nullptr;

bool has_minimum_above(std::string_view text, std::string_view version) {
  const std::size_t section = first_section_line(text);
  const std::vector<int> typed = version_numbers(version);
  bool above = false;
  find_line(text, [&](std::string_view line) {
    if (offset_in(text, line) >= section) return true;
    int offsets[9];
    const int result =
        pcre_exec(minimum_line_pattern, nullptr, line.data(), static_cast<int>(line.size()), 0, 0, offsets, 9);
    // The quoted form is group 1, the one with a comment group 2.
    const int group = result == 3 ? 2 : 1;
    if (result >= 2)
      above =
          version_numbers(line.substr(static_cast<std::size_t>(offsets[2 * group]),
                                      static_cast<std::size_t>(offsets[2 * group + 1] - offsets[2 * group]))) > typed;
    return above;
  });
  return above;
}

struct Folder {
  std::string root, addons, manifest, backups, backup;
};

const Folder& folder() {
  static const Folder paths = [] {
    Folder f;
    f.root = fuzz::temporary_folder();
    f.addons = f.root + "addons/";
    f.manifest = f.addons + "sample/manifest.ini";
    f.backups = f.root + "manifest backups";
    f.backup = f.backups + "/sample/manifest.ini";
    return f;
  }();
  return paths;
}

struct Outcome {
  updater::RunState state;
  bool asked;
  std::string manifest;
  bool backed_up;
  std::string backup;
};

// One add-on through the updater, as the run walks it; `answer` waits on standard input for a question.
Outcome update(std::string_view old_bytes, const Text& version, char answer) {
  const Folder& f = folder();
  fuzz::remove_tree(f.backups);
  fuzz::write_whole_file(f.manifest, old_bytes);
  const char line[2] = {answer, '\n'};
  if (::ftruncate(0, 0) != 0 || ::pwrite(0, line, 2, 0) != 2 || ::lseek(0, 0, SEEK_SET) != 0) fuzz::fail("answer file");

  Outcome outcome;
  outcome.state.version_text = version;
  fuzz::enter_folder(f.addons);
  updater::update_addon_manifest(outcome.state, u"sample");
  fuzz::leave_folder();
  outcome.asked = ::lseek(0, 0, SEEK_CUR) != 0;
  outcome.manifest = fuzz::read_whole_file(f.manifest);
  outcome.backup = fuzz::read_whole_file(f.backup, &outcome.backed_up);
  return outcome;
}

const pcre* key_pattern = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  files::init_file_library();
  pattern::init_pattern_library();
  dialogs::init_dialogs();
  const char* error = nullptr;
  int error_offset = 0;
  key_pattern =
      pcre_compile(PLAIN_KEY_PATTERN, PCRE_MULTILINE | PCRE_UTF8 | PCRE_NO_UTF8_CHECK, &error, &error_offset, nullptr);
  minimum_line_pattern = pcre_compile(MINIMUM_LINE_PATTERN, 0, &error, &error_offset, nullptr);
  if (!key_pattern || !minimum_line_pattern) fuzz::fail("pcre_compile", error ? error : "");

  const Folder& f = folder();
  if (::mkdir(f.addons.c_str(), 0755) != 0 || ::mkdir((f.addons + "sample").c_str(), 0755) != 0)
    fuzz::fail("mkdir", f.addons);
  // The questions go to the terminal dialogs: their text to nowhere, their answers from a file.
  int answers = ::open((f.root + "answers").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  int nowhere = ::open("/dev/null", O_WRONLY);
  if (answers < 0 || nowhere < 0 || ::dup2(answers, 0) < 0 || ::dup2(nowhere, 1) < 0) fuzz::fail("redirect");
  ::close(answers);
  ::close(nowhere);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const auto options = input.ConsumeIntegral<std::uint8_t>();
  const auto year = input.ConsumeIntegral<std::uint16_t>();
  const auto numbers = input.ConsumeIntegral<std::uint8_t>();
  const std::string old_bytes = input.ConsumeRemainingBytesAsString();
  const bool yes = (options & 1) != 0;

  // A version as the prompt accepts it: four digits, a full stop and a digit, maybe a third number.
  std::string version_bytes = std::to_string(1000 + year % 9000) + "." + std::to_string(numbers % 10);
  if (options & 2) version_bytes += "." + std::to_string(numbers / 10 % 10);
  const Text version = runtime::utf8_to_utf16(version_bytes);

  const Outcome first = update(old_bytes, version, yes ? 'y' : 'n');
  const updater::RunState& counts = first.state;
  const std::string context = "manifest: " + fuzz::show_bytes(old_bytes) + "\nversion: " + version_bytes +
                              "\nanswer: " + (yes ? "yes" : "no") + "\nafter: " + fuzz::show_bytes(first.manifest) +
                              "\ncounts: found " + std::to_string(counts.found_count) + ", skipped " +
                              std::to_string(counts.skipped_count) + ", failed " + std::to_string(counts.failed_count) +
                              ", modified " + std::to_string(counts.modified_count) + (first.asked ? ", asked" : "");

  FUZZ_CHECK(counts.found_count == 1, context);
  FUZZ_CHECK(counts.skipped_count + counts.failed_count + counts.modified_count == 1, context);
  auto check_left_alone = [&](const char* outcome, const std::int32_t& counter) {
    FUZZ_CHECK(counter == 1, context + "\nexpected: " + outcome);
    FUZZ_CHECK(first.manifest == old_bytes, context);
    FUZZ_CHECK(!first.backed_up, context);
  };
  if (old_bytes.empty() || old_bytes == BYTE_ORDER_MARK) {
    check_left_alone("skipped", counts.skipped_count);
    FUZZ_CHECK(!first.asked, context);
    return 0;
  }
  if (old_bytes.find('\0') != std::string::npos || !runtime::is_valid_utf8(old_bytes)) {
    check_left_alone("failed", counts.failed_count);
    FUZZ_CHECK(!first.asked, context);
    return 0;
  }

  // The rules read the text after a byte-order mark, which stays in front.
  const std::string mark(old_bytes.starts_with(BYTE_ORDER_MARK) ? BYTE_ORDER_MARK : "");
  const std::string body = old_bytes.substr(mark.size());
  if (has_minimum_above(body, version_bytes)) {
    check_left_alone("skipped", counts.skipped_count);
    FUZZ_CHECK(!first.asked, context);
    return 0;
  }
  // Checks the new body; the manifest is left alone when that changes nothing.
  bool modified = false;
  auto check_rewritten = [&](const std::string& expected_body) {
    const std::string expected = mark + expected_body;
    if (expected == old_bytes) {
      check_left_alone("skipped", counts.skipped_count);
      return;
    }
    modified = true;
    FUZZ_CHECK(counts.modified_count == 1, context);
    FUZZ_CHECK(first.manifest == expected, context + "\nexpected: " + fuzz::show_bytes(expected));
    FUZZ_CHECK(first.backed_up && first.backup == old_bytes, context + "\nbackup: " + fuzz::show_bytes(first.backup));
  };

  const std::optional<std::vector<Match>> key_lines = find_key_lines(key_pattern, body);
  if (!key_lines) {
    // PCRE gave up (its match limit) where the updater's linear searches may not: the manifest is
    // left alone as failed, or rewritten with its backup taken.
    FUZZ_CHECK(!first.asked, context);
    FUZZ_CHECK(counts.failed_count == 1 ? first.manifest == old_bytes && !first.backed_up
                                        : first.backed_up && first.backup == old_bytes,
               context);
    return 0;
  }
  const std::string key_line = std::string(KEY) + " = " + version_bytes + "\r\n";
  bool added = false;
  if (key_lines->size() == 1) {
    const Match& line = key_lines->front();
    FUZZ_CHECK(!first.asked, context);
    check_rewritten(body.substr(0, line.group1_end) + version_bytes + body.substr(line.version_end));
  } else if (!key_lines->empty()) {
    // Every key line becomes the first one's group 1, the version and the first one's group 5.
    FUZZ_CHECK(!first.asked, context);
    const Match& model = key_lines->front();
    const std::string replacement = body.substr(model.start, model.group1_end - model.start) + version_bytes +
                                    body.substr(model.group5_start, model.end - model.group5_start);
    std::string expected;
    std::size_t at = 0;
    for (const Match& line : *key_lines) {
      expected += body.substr(at, line.start - at) + replacement;
      at = line.end;
    }
    check_rewritten(expected + body.substr(at));
    // A second run need not give the same text: the key lines took the first one's surroundings.
    return 0;
  } else if (has_key_line(body) || (first_section_line(body) == body.size() && is_in_value(body, body.size()))) {
    // An unreadable key line, or a text that ends inside a triple-quoted value, where an added key
    // would be part of the value.
    FUZZ_CHECK(!first.asked, context);
    check_left_alone("skipped", counts.skipped_count);
    return 0;
  } else {
    FUZZ_CHECK(first.asked, context);
    if (!yes) {
      check_left_alone("skipped", counts.skipped_count);
      return 0;
    }
    const std::size_t section = first_section_line(body);
    if (section < body.size()) {
      // After a lone CR the inserted line gets an LF, so that the pattern, which starts lines only
      // after an LF, reads the key back.
      const std::string before = section > 0 && body[section - 1] == '\r' ? "\n" : "";
      check_rewritten(body.substr(0, section) + before + key_line + body.substr(section));
    } else {
      const std::size_t kept = body.find_last_not_of("\r\n");
      check_rewritten(body.substr(0, kept == std::string::npos ? 0 : kept + 1) + "\r\n" + key_line);
    }
    added = true;
  }
  if (!modified) return 0;

  // The same version again: the pattern reads the key back and nothing changes, nothing is backed up.
  const Outcome second = update(first.manifest, version, 'n');
  const std::string again = context + "\nsecond run: " + fuzz::show_bytes(second.manifest) +
                            (second.asked ? ", asked" : "") + ", skipped " + std::to_string(second.state.skipped_count);
  const std::string new_body = first.manifest.substr(mark.size());
  FUZZ_CHECK(!second.asked, again);
  FUZZ_CHECK(second.manifest == first.manifest, again);
  FUZZ_CHECK(second.state.skipped_count == 1 && !second.backed_up, again);
  const std::optional<std::vector<Match>> read_back = find_key_lines(key_pattern, new_body);
  if (added && read_back) FUZZ_CHECK(read_back->size() == 1u, again);
  return 0;
}
