#include "manifest/manifest_rules.h"

#include <array>
#include <initializer_list>

#include "runtime/utf8.h"

namespace manifest {

namespace {

constexpr char16_t BYTE_ORDER_MARK = 0xFEFF;

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

// The screen reader refuses an add-on whose minimum version is above its last tested version. Its
// minimum is "0" or a version; any other value sets none.
bool is_minimum_above(const std::optional<ManifestItem>& minimum, TextView version) {
  const std::optional<VersionNumbers> typed = read_version(version);
  if (!typed || !minimum || minimum->is_list || minimum->values.size() != 1) return false;
  const Text& value = minimum->values[0];
  const std::optional<VersionNumbers> numbers = value == u"0" ? VersionNumbers{0, 0, 0} : read_version(value);
  return numbers && *numbers > *typed;
}

ManifestDecision left_alone(ManifestOutcome outcome) { return {outcome, Text()}; }

// The parts in one Text, made at its full size: a manifest is not copied twice on the way.
Text joined(std::initializer_list<TextView> parts) {
  std::size_t size = 0;
  for (TextView part : parts) size += part.size();
  Text text;
  text.reserve(size);
  for (TextView part : parts) text += part;
  return text;
}

// The text with a key line added: before the first section, where a key still belongs to the top level,
// or else at the end.
Text add_key_line(TextView text, std::size_t first_section_line, TextView version) {
  const Text key_line = Text(KEY) + u" = " + Text(version) + u"\r\n";
  if (first_section_line < text.size()) {
    // After a lone CR the added line gets an LF too, so that a run of older rules, which ended lines
    // at LF only, made the same text.
    const bool after_cr = first_section_line > 0 && text[first_section_line - 1] == u'\r';
    return joined(
        {text.substr(0, first_section_line), after_cr ? u"\n" : u"", key_line, text.substr(first_section_line)});
  }
  std::size_t kept = text.size();
  while (kept > 0 && (text[kept - 1] == u'\n' || text[kept - 1] == u'\r')) --kept;
  return joined({text.substr(0, kept), u"\r\n", key_line});
}

// True when the text's UTF-8 form would be longer than a manifest may be.
bool is_too_long_to_write(const Text& text) {
  const auto limit = static_cast<std::size_t>(MAX_MANIFEST_BYTES);
  // A unit takes at most three bytes, so only very long texts need the exact count.
  if (text.size() <= limit / 3) return false;
  return text.size() > limit || runtime::utf16_to_utf8(text).size() > limit;
}

}  // namespace

bool is_valid_version(TextView version) { return read_version(version).has_value(); }

ManifestDecision decide_manifest_text(const ManifestGrammar& grammar, TextView text, TextView version,
                                      const std::function<bool()>& add_key) {
  // A text of nothing but a byte-order mark is empty.
  if (text.empty() || (text.size() == 1 && text[0] == BYTE_ORDER_MARK)) return left_alone(ManifestOutcome::SKIPPED);
  const ManifestReading reading = read_manifest(grammar, text);
  // The screen reader loads nothing of a text it refuses, whatever its key says.
  if (!reading.is_readable) return left_alone(ManifestOutcome::FAILED);
  if (is_minimum_above(reading.minimum, version)) return left_alone(ManifestOutcome::SKIPPED);

  Text new_text;
  if (const std::optional<ManifestItem>& key = reading.key) {
    if (key->is_list || !key->is_on_key_line) return left_alone(ManifestOutcome::FAILED);
    new_text = joined({text.substr(0, key->value_start), version, text.substr(key->value_end)});
  } else {
    if (!add_key()) return left_alone(ManifestOutcome::SKIPPED);
    new_text = add_key_line(text, reading.first_section_line, version);
  }

  // Writing the same bytes again would only replace the backup of the text before them.
  if (new_text == text) return left_alone(ManifestOutcome::SKIPPED);
  if (is_too_long_to_write(new_text)) return left_alone(ManifestOutcome::FAILED);
  // What is written is read back first: a slip of the reader fails the manifest instead of damaging it.
  if (!reads_as_before(grammar, text, new_text, KEY, version)) return left_alone(ManifestOutcome::FAILED);
  return {ManifestOutcome::REWRITTEN, std::move(new_text)};
}

std::optional<Text> read_key_version(const ManifestGrammar& grammar, TextView text) {
  const ManifestReading reading = read_manifest(grammar, text);
  if (!reading.is_readable || !reading.key || reading.key->is_list || !reading.key->is_on_key_line) return std::nullopt;
  return reading.key->values[0];
}

bool is_rewrite_of(const ManifestGrammar& grammar, TextView earlier, TextView later) {
  const std::optional<Text> version = read_key_version(grammar, later);
  if (!version) return false;
  const ManifestDecision decision = decide_manifest_text(grammar, earlier, *version, [] { return true; });
  return decision.outcome == ManifestOutcome::REWRITTEN && decision.new_text == later;
}

}  // namespace manifest
