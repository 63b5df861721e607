#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace runtime {

// The program's string: UTF-16 code units. Lengths and positions count units.
using Text = std::u16string;

// How operations take a Text. A default-constructed view (null data) is the absent Text, which every
// operation treats as the empty Text unless it says otherwise; a text ends before its first zero unit.
using TextView = std::u16string_view;

// True for the absent Text (a view without data), as opposed to a present empty one.
inline bool is_absent(TextView text) noexcept { return text.data() == nullptr; }

// The text up to its first zero unit; the absent Text stays absent.
inline TextView until_terminator(TextView text) noexcept {
  auto end = text.find(u'\0');
  return end == TextView::npos ? text : text.substr(0, end);
}

// POSIX port: stands in a path Text for a backslash that belongs to a name, since the backslash
// itself separates components there as on Windows (a private-use character, as some ports of POSIX
// tools to Windows use for the reverse).
inline constexpr char16_t NAME_BACKSLASH = 0xF05C;

}  // namespace runtime
