#pragma once

#include <cstdint>

#include "runtime/text.h"

namespace runtime {

// Decimal digits, a leading minus sign for negative values; the whole signed 64-bit range.
Text format_integer(std::int64_t value);

// Removes occurrences of `search`, scanning left to right without overlap. Bit 0 of `mode` compares
// case-insensitively. `start` is 1-based: the units before it are copied unchanged. `count` -1 removes
// every occurrence, a positive count at most that many, 0 or below -1 only the first.
Text remove_all_occurrences(TextView text, TextView search, std::int32_t mode = 0, std::int32_t start = 1,
                            std::int32_t count = -1);

std::int32_t length_of_text(TextView text);

// At most `length` units from the 1-based `start`; a start beyond the end gives the empty Text.
Text middle_of_text(TextView text, std::int32_t start, std::int32_t length);

// The last n units, n clamped to 0 and to the length.
Text right_of_text(TextView text, std::int32_t n);

// 1 when both hold the same units (exact, case-sensitive), else 0. Absent equals empty.
int are_texts_equal(TextView a, TextView b);

}  // namespace runtime
