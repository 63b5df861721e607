// Pattern compile, scan and replace-all on arbitrary patterns, texts and replacements.
//
// Input: the option bits (taken from the end), then a pattern and a replacement (each up to a lone
// backslash), and the rest is the text. The option bits pick PCRE compile options and whether the
// bytes are UTF-8 or raw UTF-16 units, so that unpaired surrogates and zero units reach the library.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "pattern/pattern.h"
#include "runtime/utf8.h"

namespace {

using runtime::ObjectNumber;
using runtime::Text;
using runtime::TextView;

// PCRE_CASELESS, PCRE_MULTILINE, PCRE_DOTALL, PCRE_EXTENDED, PCRE_ANCHORED, PCRE_DOLLAR_ENDONLY,
// PCRE_UNGREEDY: options that change what matches without changing the calling rules.
constexpr std::int32_t OPTION_BITS[] = {0x1, 0x2, 0x4, 0x8, 0x10, 0x20, 0x200};
constexpr std::uint8_t RAW_UNITS = 0x80;
// PCRE's default match limit makes a backtracking pattern slow on a long text; a short text finds
// the same faults.
constexpr std::size_t MAXIMUM_TEXT_BYTES = 1024;

constexpr ObjectNumber FUZZED = 0;
constexpr ObjectNumber EMPTY_PATTERN = 1;
constexpr ObjectNumber LITERAL = 2;

Text decode(std::string_view bytes, bool raw_units) {
  if (!raw_units) return runtime::utf8_to_utf16(bytes);
  Text text(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                    static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  return text;
}

// A Text as the library sees it: up to its first zero unit, unpaired surrogates as U+FFFD.
Text as_matched(TextView text) { return runtime::utf8_to_utf16(runtime::utf16_to_utf8(text)); }

bool is_low_surrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The characters of a well-formed Text, each one or two units.
std::vector<TextView> characters_of(TextView text) {
  std::vector<TextView> characters;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t length = at + 1 < text.size() && is_low_surrogate(text[at + 1]) ? 2 : 1;
    characters.push_back(text.substr(at, length));
    at += length;
  }
  return characters;
}

// A pattern that matches exactly the text: ASCII punctuation, controls and spaces escaped.
Text literal_pattern(TextView text) {
  Text pattern;
  for (char16_t unit : text) {
    bool alphanumeric =
        (unit >= u'0' && unit <= u'9') || (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z');
    if (unit < 0x80 && !alphanumeric) pattern += u'\\';
    pattern += unit;
  }
  return pattern;
}

std::vector<Text> split(TextView text, char16_t marker) {
  std::vector<Text> pieces(1);
  for (char16_t unit : text) {
    if (unit == marker)
      pieces.emplace_back();
    else
      pieces.back() += unit;
  }
  return pieces;
}

Text join(const std::vector<Text>& pieces, TextView between) {
  Text joined;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0) joined += between;
    joined += pieces[i];
  }
  return joined;
}

std::string describe(TextView pattern, std::int32_t flags, TextView text, TextView replacement) {
  return "pattern: " + fuzz::show_text(pattern) + "\nflags: " + std::to_string(flags) +
         "\ntext: " + fuzz::show_text(text) + "\nreplacement: " + fuzz::show_text(replacement);
}

void check_empty_number(ObjectNumber number, TextView text, const std::string& context) {
  FUZZ_CHECK(pattern::count_pattern_groups(number) == 0, context);
  FUZZ_CHECK(pattern::match_pattern(number, text) == 0, context);
  FUZZ_CHECK(pattern::examine_matches(number, text) == 0, context);
  FUZZ_CHECK(pattern::next_match(number) == 0, context);
  FUZZ_CHECK(pattern::get_group_text(number, 1).empty(), context);
  FUZZ_CHECK(pattern::replace_all(number, text, u"x").empty(), context);
}

// Walks every match of the scan, checks what the groups give, and returns how many there were.
std::size_t scan_matches(ObjectNumber number, TextView text, TextView matched_text, bool groups_are_whole,
                         const std::string& context) {
  const std::int32_t groups = pattern::count_pattern_groups(number);
  FUZZ_CHECK(pattern::examine_matches(number, text) == 1, context);
  FUZZ_CHECK(pattern::get_group_text(number, 1).empty(), context);
  // Each match moves the scan on by at least one byte of the UTF-8 form (a pattern with \C can match
  // single bytes of a character), so the count is bounded by the byte length.
  const std::size_t bound = pattern::to_utf8(matched_text).size() + 1;
  std::size_t count = 0;
  while (pattern::next_match(number)) {
    ++count;
    FUZZ_CHECK(count <= bound, context);
    FUZZ_CHECK(pattern::get_group_text(number, 0).empty(), context);
    FUZZ_CHECK(pattern::get_group_text(number, groups + 1).empty(), context);
    for (std::int32_t i = 1; i <= groups && i <= 40; ++i) {
      Text group = pattern::get_group_text(number, i);
      if (groups_are_whole)
        FUZZ_CHECK(matched_text.find(group) != TextView::npos, context + "\ngroup: " + fuzz::show_text(group));
    }
  }
  FUZZ_CHECK(pattern::next_match(number) == 0, context);
  FUZZ_CHECK(pattern::get_group_text(number, 1).empty(), context);
  return count;
}

char16_t marker_absent_from(TextView text, TextView other) {
  for (char16_t marker = 0xE000; marker < 0xF8FF; ++marker)
    if (text.find(marker) == TextView::npos && other.find(marker) == TextView::npos) return marker;
  return 0;
}

void check_fuzzed_pattern(TextView pattern_text, std::int32_t flags, TextView text, TextView replacement,
                          bool splits_characters) {
  const std::string context = describe(pattern_text, flags, text, replacement);
  const Text matched_text = as_matched(text);
  const Text matched_replacement = as_matched(replacement);

  const bool compiled = pattern::compile_pattern(FUZZED, pattern_text, flags) != 0;
  const std::intptr_t handle = pattern::compile_pattern(runtime::ANY_NUMBER, pattern_text, flags);
  FUZZ_CHECK((handle != 0) == compiled, context);
  if (!compiled) {
    check_empty_number(FUZZED, text, context);
    return;
  }
  FUZZ_CHECK(pattern::count_pattern_groups(FUZZED) >= 0, context);
  const int matches = pattern::match_pattern(FUZZED, text);
  FUZZ_CHECK(matches == 0 || matches == 1, context);
  // The engine gave up (its match limit): the calls report no match, and nothing more is known.
  if (pattern::get_match_error(FUZZED) != 0) {
    FUZZ_CHECK(matches == 0, context);
    return;
  }
  const auto dynamic = static_cast<ObjectNumber>(handle);
  FUZZ_CHECK(pattern::match_pattern(dynamic, text) == matches, context);
  FUZZ_CHECK(pattern::count_pattern_groups(dynamic) == pattern::count_pattern_groups(FUZZED), context);
  pattern::free_pattern(dynamic);
  check_empty_number(dynamic, text, context);

  const std::size_t scanned = scan_matches(FUZZED, text, matched_text, !splits_characters, context);
  if (pattern::get_match_error(FUZZED) != 0) return;
  // The scan never starts a search at the very end, so only an empty text differs from match_pattern.
  if (!matched_text.empty()) FUZZ_CHECK((scanned > 0) == (matches == 1), context);

  // A marker that neither text holds shows where replace_all put each replacement.
  const char16_t marker = marker_absent_from(matched_text, matched_replacement);
  if (marker == 0) return;
  const Text marked = pattern::replace_all(FUZZED, text, Text(1, marker));
  if (pattern::get_match_error(FUZZED) != 0) {
    FUZZ_CHECK(marked.empty(), context);
    return;
  }
  const std::vector<Text> gaps = split(marked, marker);
  const std::size_t replaced = gaps.size() - 1;
  // replace_all also takes an empty match at the very end, where the scan does not look.
  FUZZ_CHECK(replaced == scanned || replaced == scanned + 1, context + "\nmarked: " + fuzz::show_text(marked));
  if (replaced == 0) FUZZ_CHECK(marked == matched_text, context);
  const Text removed = pattern::replace_all(FUZZED, text, u"");
  FUZZ_CHECK(removed == join(gaps, u""), context + "\nremoved: " + fuzz::show_text(removed));
  const Text rewritten = pattern::replace_all(FUZZED, text, replacement);
  FUZZ_CHECK(rewritten == join(gaps, matched_replacement), context + "\nrewritten: " + fuzz::show_text(rewritten));
  if (!splits_characters) {
    // What is not replaced is the text's own, in order.
    std::size_t at = 0;
    for (const Text& gap : gaps) {
      at = matched_text.find(gap, at);
      FUZZ_CHECK(at != TextView::npos, context + "\ngap: " + fuzz::show_text(gap));
      at += gap.size();
    }
  }
  // The scan state survives replace_all.
  FUZZ_CHECK(pattern::examine_matches(FUZZED, text) == 1, context);
  const int first = pattern::next_match(FUZZED);
  Text group = pattern::get_group_text(FUZZED, 1);
  pattern::replace_all(FUZZED, text, replacement);
  FUZZ_CHECK(pattern::get_group_text(FUZZED, 1) == group, context);
  if (first) FUZZ_CHECK(pattern::next_match(FUZZED) == (scanned > 1 ? 1 : 0), context);
}

// The empty pattern matches before every character and at the end.
void check_empty_pattern(TextView text, TextView replacement) {
  const std::string context = describe(u"", 0, text, replacement);
  const Text matched_replacement = as_matched(replacement);
  FUZZ_CHECK(pattern::compile_pattern(EMPTY_PATTERN, u"", 0) != 0, context);
  const Text matched_text = as_matched(text);
  const std::vector<TextView> characters = characters_of(matched_text);
  Text expected(matched_replacement);
  for (TextView character : characters) {
    expected += character;
    expected += matched_replacement;
  }
  const Text result = pattern::replace_all(EMPTY_PATTERN, text, replacement);
  FUZZ_CHECK(result == expected, context + "\nresult: " + fuzz::show_text(result));
  FUZZ_CHECK(scan_matches(EMPTY_PATTERN, text, matched_text, true, context) == characters.size(), context);
}

// A literal piece of the text: replacing every match by its own text gives the text back.
void check_literal(TextView text, std::size_t start_choice, std::size_t length_choice) {
  const Text matched_text = as_matched(text);
  const std::vector<TextView> characters = characters_of(matched_text);
  if (characters.empty()) return;
  const std::size_t first = start_choice % characters.size();
  const std::size_t count = 1 + length_choice % std::min<std::size_t>(8, characters.size() - first);
  Text literal;
  for (std::size_t i = first; i < first + count; ++i) literal += characters[i];
  const Text pattern_text = literal_pattern(literal);
  const std::string context = describe(pattern_text, 0, text, literal);
  FUZZ_CHECK(pattern::compile_pattern(LITERAL, pattern_text, 0) != 0, context);
  FUZZ_CHECK(pattern::match_pattern(LITERAL, text) == 1, context);
  const Text result = pattern::replace_all(LITERAL, text, literal);
  FUZZ_CHECK(result == matched_text, context + "\nresult: " + fuzz::show_text(result));
  const std::size_t found = scan_matches(LITERAL, text, matched_text, true, context);
  FUZZ_CHECK(found >= 1, context);
  const Text removed = pattern::replace_all(LITERAL, text, u"");
  FUZZ_CHECK(removed.size() + found * literal.size() == matched_text.size(),
             context + "\nremoved: " + fuzz::show_text(removed));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pattern::init_pattern_library();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const auto options = input.ConsumeIntegral<std::uint8_t>();
  const auto literal_start = input.ConsumeIntegral<std::uint16_t>();
  const auto literal_length = input.ConsumeIntegral<std::uint8_t>();
  std::int32_t flags = 0;
  for (std::size_t bit = 0; bit < std::size(OPTION_BITS); ++bit)
    if (options & (1u << bit)) flags |= OPTION_BITS[bit];
  const bool raw_units = (options & RAW_UNITS) != 0;
  const std::string pattern_bytes = input.ConsumeRandomLengthString(256);
  const std::string replacement_bytes = input.ConsumeRandomLengthString(64);
  std::string text_bytes = input.ConsumeRemainingBytesAsString();
  if (text_bytes.size() > MAXIMUM_TEXT_BYTES) text_bytes.resize(MAXIMUM_TEXT_BYTES);

  const Text pattern_text = decode(pattern_bytes, raw_units);
  const Text replacement = decode(replacement_bytes, raw_units);
  const Text text = decode(text_bytes, raw_units);
  // \C matches a single byte even inside a character, so groups may split one.
  const bool splits_characters = pattern_text.find(u"\\C") != TextView::npos;

  check_fuzzed_pattern(pattern_text, flags, text, replacement, splits_characters);
  check_empty_pattern(text, replacement);
  check_literal(text, literal_start, literal_length);
  return 0;
}
