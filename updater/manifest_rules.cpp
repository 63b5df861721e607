#include <array>
#include <optional>
#include <vector>

#include "pattern/pattern.h"
#include "runtime/text_functions.h"
#include "runtime/utf8.h"
#include "updater/update_run.h"

namespace updater {

using runtime::are_texts_equal;

namespace {

constexpr char16_t BYTE_ORDER_MARK = 0xFEFF;
constexpr TextView KEY = u"lastTestedNVDAVersion";
constexpr TextView MINIMUM_KEY = u"minimumNVDAVersion";

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

ManifestDecision rewritten(Text text) { return {ManifestOutcome::REWRITTEN, std::move(text)}; }
ManifestDecision left_alone(ManifestOutcome outcome) { return {outcome, Text()}; }

// The rules over a manifest's text after its byte-order mark.
ManifestDecision decide_text_after_mark(TextView text, TextView version, const std::function<bool()>& add_key) {
  // The engine may stop part-way (its match limit) at any of its searches; a manifest is then left
  // alone rather than written with some key lines replaced and others not.
  auto engine_failed = [] { return pattern::get_match_error(0) != 0; };
  const int matched = pattern::match_pattern(0, text);
  if (engine_failed()) return left_alone(ManifestOutcome::FAILED);
  if (matched) {
    std::int32_t count = pattern::count_pattern_groups(0);
    std::vector<Text> groups(static_cast<std::size_t>(count));
    if (groups.empty() || !pattern::examine_matches(0, text) || !pattern::next_match(0))
      return left_alone(ManifestOutcome::FAILED);
    for (std::int32_t i = 1; i <= count; ++i) groups[static_cast<std::size_t>(i - 1)] = pattern::get_group_text(0, i);
    Text replacement = groups.front() + Text(version) + groups.back();
    Text replaced = pattern::replace_all(0, text, replacement);
    if (engine_failed()) return left_alone(ManifestOutcome::FAILED);
    return rewritten(std::move(replaced));
  }

  // A key line whose value the pattern cannot read is not replaced by a second key.
  if (has_key_line(text) || !add_key()) return left_alone(ManifestOutcome::SKIPPED);

  Text key_line = u"lastTestedNVDAVersion = " + Text(version) + u"\r\n";
  // A key after a section line would belong to that section, so it goes before the first one.
  std::size_t section = find_first_section_line(text);
  if (section < text.size()) {
    // The key pattern reads a line only at the start of the text or after an LF: after a lone CR the
    // inserted line gets the LF that makes it a line of its own.
    Text before;
    if (section > 0 && text[section - 1] == u'\r') before = u"\n";
    return rewritten(Text(text.substr(0, section)) + before + key_line + Text(text.substr(section)));
  }

  Text kept(text);
  while (!kept.empty()) {
    if (are_texts_equal(runtime::right_of_text(kept, 1), u"\n") ||
        are_texts_equal(runtime::right_of_text(kept, 1), u"\r"))
      kept = runtime::middle_of_text(kept, 1, runtime::length_of_text(kept) - 1);
    else
      break;
  }
  return rewritten(kept + u"\r\n" + key_line);
}

// True when the text's UTF-8 form would be longer than a manifest may be.
bool is_too_long_to_write(const Text& text) {
  const auto limit = static_cast<std::size_t>(MAX_MANIFEST_BYTES);
  // A unit takes at most three bytes, so only very long texts need the exact count.
  if (text.size() <= limit / 3) return false;
  return text.size() > limit || runtime::utf16_to_utf8(text).size() > limit;
}

}  // namespace

ManifestDecision decide_manifest_text(TextView text, TextView version, const std::function<bool()>& add_key) {
  if (are_texts_equal(text, u"")) return left_alone(ManifestOutcome::SKIPPED);
  // The screen reader refuses an add-on whose minimum version is above its last tested version.
  if (has_minimum_above(text, version)) return left_alone(ManifestOutcome::SKIPPED);

  // The rules read the text after a byte-order mark, which stays in front of the new text.
  const bool has_mark = text[0] == BYTE_ORDER_MARK;
  ManifestDecision decision = decide_text_after_mark(text.substr(has_mark ? 1 : 0), version, add_key);
  if (decision.outcome != ManifestOutcome::REWRITTEN) return decision;
  if (has_mark) decision.new_text.insert(decision.new_text.begin(), BYTE_ORDER_MARK);

  // Writing the same bytes again would only replace the backup of the text before them.
  if (decision.new_text == text) return left_alone(ManifestOutcome::SKIPPED);
  if (is_too_long_to_write(decision.new_text)) return left_alone(ManifestOutcome::FAILED);
  return decision;
}

}  // namespace updater
