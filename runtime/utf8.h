#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "runtime/text.h"

namespace runtime {

// Bytes of the UTF-8 sequence that a lead byte starts by its form (1 to 4), or 0 for a byte that
// starts none (a continuation byte, F8 to FF). Whether the sequence is well-formed is not told here.
constexpr std::size_t utf8_sequence_length(unsigned char lead) noexcept {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 0;
}

constexpr bool is_high_surrogate(char16_t unit) noexcept { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool is_low_surrogate(char16_t unit) noexcept { return unit >= 0xDC00 && unit <= 0xDFFF; }

// UTF-16 to UTF-8, up to the first zero unit. An unpaired surrogate becomes U+FFFD (EF BF BD),
// as WideCharToMultiByte does with CP_UTF8 and flags 0.
std::string utf16_to_utf8(TextView text);

// True when the bytes are exactly utf16_to_utf8(text), found without making that copy.
bool is_utf8_form_of(TextView text, std::string_view bytes) noexcept;

// UTF-8 to UTF-16, every byte given. Each maximal ill-formed subsequence (a stray continuation byte,
// a truncated or overlong sequence, an encoded surrogate, a value above U+10FFFF) becomes one U+FFFD;
// a valid sequence never does. Characters above U+FFFF become surrogate pairs.
Text utf8_to_utf16(std::string_view bytes);

// A Text from ASCII (or Latin-1) bytes, for fixed texts and tests.
Text text_from_latin1(std::string_view bytes);

// True when the bytes are well-formed UTF-8 (a byte-order mark is well-formed).
bool is_valid_utf8(std::string_view bytes) noexcept;

}  // namespace runtime
