#pragma once

#include <string>
#include <string_view>

#include "runtime/text.h"

namespace runtime {

// UTF-16 to UTF-8, up to the first zero unit. An unpaired surrogate becomes U+FFFD (EF BF BD),
// as WideCharToMultiByte does with CP_UTF8 and flags 0.
std::string utf16_to_utf8(TextView text);

// UTF-8 to UTF-16, every byte given. Each maximal ill-formed subsequence (a stray continuation byte,
// a truncated or overlong sequence, an encoded surrogate, a value above U+10FFFF) becomes one U+FFFD;
// a valid sequence never does. Characters above U+FFFF become surrogate pairs.
Text utf8_to_utf16(std::string_view bytes);

// True when the bytes are well-formed UTF-8 (a byte-order mark is well-formed).
bool is_valid_utf8(std::string_view bytes) noexcept;

}  // namespace runtime
