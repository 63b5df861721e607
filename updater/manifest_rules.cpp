#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "pattern/pattern.h"
#include "runtime/text_functions.h"
#include "runtime/utf8.h"
#include "updater/update_run.h"

namespace updater {

using runtime::are_texts_equal;
using runtime::ObjectNumber;

namespace {

constexpr char16_t BYTE_ORDER_MARK = 0xFEFF;
constexpr TextView KEY = u"lastTestedNVDAVersion";
constexpr TextView MINIMUM_KEY = u"minimumNVDAVersion";

bool is_blank(char16_t c) { return c == u' ' || c == u'\t'; }
bool is_line_break(char16_t c) { return c == u'\n' || c == u'\r'; }

bool has_mark(TextView text) { return !text.empty() && text[0] == BYTE_ORDER_MARK; }
// The rules read a manifest's text after its byte-order mark.
TextView after_mark(TextView text) { return text.substr(has_mark(text) ? 1 : 0); }

// Calls visit(line_start, line_end) for every line; LF, CR and CR LF end lines.
template <typename Visit>
void for_each_line(TextView text, Visit visit) {
  std::size_t start = has_mark(text) ? 1 : 0;
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
bool is_quote(char16_t c) { return c == u'"' || c == u'\''; }

// Tells, for positions asked about in ascending order, whether they lie inside a value opened by
// """ or ''' and not closed yet. Each quote is looked for once, so a walk over a whole text stays
// linear.
class TripleQuotedValues {
 public:
  explicit TripleQuotedValues(TextView text)
      : text_(text), next_double_(text.find(DOUBLE)), next_single_(text.find(SINGLE)) {}

  bool contains(std::size_t position) {
    for (;;) {
      const std::size_t next = open_quote_.empty()     ? std::min(next_double_, next_single_)
                               : open_quote_ == DOUBLE ? next_double_
                                                       : next_single_;
      if (next == TextView::npos || next + 3 > position) return !open_quote_.empty();
      open_quote_ = open_quote_.empty() ? (next == next_double_ ? DOUBLE : SINGLE) : TextView();
      // A quote that starts before the end of the one just taken lies in a value or overlaps it.
      if (next_double_ != TextView::npos && next_double_ < next + 3) next_double_ = text_.find(DOUBLE, next + 3);
      if (next_single_ != TextView::npos && next_single_ < next + 3) next_single_ = text_.find(SINGLE, next + 3);
    }
  }

 private:
  static constexpr TextView DOUBLE = u"\"\"\"";
  static constexpr TextView SINGLE = u"'''";
  TextView text_;
  TextView open_quote_;  // of the value open at the last position asked about
  std::size_t next_double_, next_single_;
};

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
  bool quoted = false;
  auto skip_quote = [&] {
    if (at < line.size() && is_quote(line[at])) {
      ++at;
      quoted = true;
    }
  };
  skip_quote();
  const std::size_t value = at;
  while (at < line.size() && (is_digit(line[at]) || line[at] == u'.')) ++at;
  TextView number = line.substr(value, at - value);
  skip_quote();
  at = skip_blanks(line, at, line.size());
  // After an unquoted value the loader reads a "#" as the start of a comment.
  if (!quoted && at < line.size() && line[at] == u'#') at = line.size();
  if (at != line.size()) return std::nullopt;
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
  TripleQuotedValues values(text);
  for_each_line(text, [&](std::size_t start, std::size_t end) {
    if (values.contains(start)) return true;
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
  TripleQuotedValues values(text);
  for_each_line(text, [&](std::size_t start, std::size_t end) {
    const std::size_t at = skip_blanks(text, start, end);
    if (at == end || text[at] != u'[' || values.contains(start)) return true;
    section = start;
    return false;
  });
  return section;
}

namespace {

ManifestDecision rewritten(Text text) { return {ManifestOutcome::REWRITTEN, std::move(text)}; }
ManifestDecision left_alone(ManifestOutcome outcome) { return {outcome, Text()}; }

enum class KeyLineSearch { FOUND, NONE, ENGINE_FAILED };

// Places the key pattern's scan on the text's first key line outside triple-quoted values: a key line
// inside one is part of that value's text, not a key to the screen reader.
KeyLineSearch find_first_key_line(ObjectNumber key_pattern, TextView text) {
  // The engine may stop part-way (its match limit) at any of its searches.
  auto engine_failed = [&] { return pattern::get_match_error(key_pattern) != 0; };
  const int matched = pattern::match_pattern(key_pattern, text);
  if (engine_failed()) return KeyLineSearch::ENGINE_FAILED;
  if (!matched) return KeyLineSearch::NONE;
  if (!pattern::examine_matches(key_pattern, text)) return KeyLineSearch::ENGINE_FAILED;
  TripleQuotedValues values(text);
  bool outside = false;
  while (!outside && pattern::next_match(key_pattern))
    outside = !values.contains(static_cast<std::size_t>(pattern::get_match_position(key_pattern)));
  if (engine_failed()) return KeyLineSearch::ENGINE_FAILED;
  return outside ? KeyLineSearch::FOUND : KeyLineSearch::NONE;
}

// The rules over a manifest's text after its byte-order mark, with the key pattern compiled.
ManifestDecision decide_text_after_mark(ObjectNumber key_pattern, TextView text, TextView version,
                                        const std::function<bool()>& add_key) {
  // A manifest whose search the engine gave up is left alone rather than written with some key lines
  // replaced and others not.
  auto engine_failed = [&] { return pattern::get_match_error(key_pattern) != 0; };
  const KeyLineSearch search = find_first_key_line(key_pattern, text);
  if (search == KeyLineSearch::ENGINE_FAILED) return left_alone(ManifestOutcome::FAILED);
  if (search == KeyLineSearch::FOUND) {
    // The first key line is the model for every other one.
    std::int32_t count = pattern::count_pattern_groups(key_pattern);
    std::vector<Text> groups(static_cast<std::size_t>(count));
    if (groups.empty()) return left_alone(ManifestOutcome::FAILED);
    for (std::int32_t i = 1; i <= count; ++i)
      groups[static_cast<std::size_t>(i - 1)] = pattern::get_group_text(key_pattern, i);
    Text replacement = groups.front() + Text(version) + groups.back();
    TripleQuotedValues replaced_values(text);
    Text replaced = pattern::replace_matches(key_pattern, text, replacement, [&](std::int32_t start) {
      return !replaced_values.contains(static_cast<std::size_t>(start));
    });
    if (engine_failed()) return left_alone(ManifestOutcome::FAILED);
    return rewritten(std::move(replaced));
  }

  // A key line whose value the pattern cannot read is not replaced by a second key. Nor is a key added
  // where it would land inside a triple-quoted value left open to the end of the text: no later run
  // would find it, and each would add one more.
  const std::size_t section = find_first_section_line(text);
  const bool ends_in_value = section == text.size() && TripleQuotedValues(text).contains(text.size());
  if (has_key_line(text) || ends_in_value || !add_key()) return left_alone(ManifestOutcome::SKIPPED);

  Text key_line = u"lastTestedNVDAVersion = " + Text(version) + u"\r\n";
  // A key after a section line would belong to that section, so it goes before the first one.
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

KeyPattern::KeyPattern(ObjectNumber number)
    : number_(number), compiled_(pattern::compile_pattern(number, MANIFEST_PATTERN, pattern::PATTERN_MULTILINE) != 0) {}

ManifestDecision decide_manifest_text(const KeyPattern& key_pattern, TextView text, TextView version,
                                      const std::function<bool()>& add_key) {
  if (are_texts_equal(after_mark(text), u"")) return left_alone(ManifestOutcome::SKIPPED);
  // The screen reader refuses an add-on whose minimum version is above its last tested version.
  if (has_minimum_above(text, version)) return left_alone(ManifestOutcome::SKIPPED);

  if (!key_pattern.is_compiled()) return left_alone(ManifestOutcome::FAILED);
  ManifestDecision decision = decide_text_after_mark(key_pattern.number(), after_mark(text), version, add_key);
  if (decision.outcome != ManifestOutcome::REWRITTEN) return decision;
  // The mark stays in front of the new text.
  if (has_mark(text)) decision.new_text.insert(decision.new_text.begin(), BYTE_ORDER_MARK);

  // Writing the same bytes again would only replace the backup of the text before them.
  if (decision.new_text == text) return left_alone(ManifestOutcome::SKIPPED);
  if (is_too_long_to_write(decision.new_text)) return left_alone(ManifestOutcome::FAILED);
  return decision;
}

std::optional<Text> read_key_version(const KeyPattern& key_pattern, TextView text) {
  text = after_mark(text);
  const ObjectNumber number = key_pattern.number();
  if (!key_pattern.is_compiled() || find_first_key_line(number, text) != KeyLineSearch::FOUND) return std::nullopt;
  Text version = pattern::get_group_text(number, 2) + u"." + pattern::get_group_text(number, 3);
  if (Text minor = pattern::get_group_text(number, 4); !minor.empty()) version += u"." + minor;
  return version;
}

}  // namespace updater
