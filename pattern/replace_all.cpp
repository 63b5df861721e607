#include <pcre.h>

#include <algorithm>
#include <climits>
#include <new>

#include "pattern/pattern.h"
#include "pattern/pattern_internal.h"
#include "runtime/utf8.h"

namespace pattern {

namespace {

// Room for the whole match and capture groups 1 to 29.
constexpr int REPLACE_OFFSETS_SIZE = 90;
constexpr std::size_t INITIAL_OUTPUT_CAPACITY = 4000;

}  // namespace

Text replace_all(ObjectNumber number, TextView text, TextView replacement) {
  return replace_matches(number, text, replacement, [](std::int32_t) { return true; });
}

Text replace_matches(ObjectNumber number, TextView text, TextView replacement,
                     const std::function<bool(std::int32_t)>& chooses) {
  if (runtime::is_absent(text)) return {};
  const pcre* compiled = detail::compiled_pattern(number);
  if (!compiled) return {};
  try {
    const std::string_view subject = detail::converted_text(number, text);
    const std::string literal = to_utf8(replacement);
    if (subject.size() > INT_MAX) {
      detail::set_match_error(number, PCRE_ERROR_BADLENGTH);
      return {};
    }
    const int length = static_cast<int>(subject.size());

    // std::string grows geometrically, which keeps a text with many matches linear.
    std::string output;
    output.reserve(std::max(INITIAL_OUTPUT_CAPACITY, subject.size() + subject.size() / 8));
    int offsets[REPLACE_OFFSETS_SIZE];
    int position = 0;
    std::size_t units = 0;  // the Text position of the bytes copied or replaced so far
    auto take = [&](int from, int to, bool copied) {
      const std::string_view bytes =
          subject.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from));
      if (copied) output.append(bytes);
      units += detail::count_text_units(bytes);
    };
    for (;;) {
      int result = pcre_exec(compiled, nullptr, subject.data(), length, position, PCRE_NO_UTF8_CHECK, offsets,
                             REPLACE_OFFSETS_SIZE);
      // 0 means a match whose higher groups did not fit the vector; the whole match is still known,
      // and leaving it unreplaced would silently skip the rest of the text.
      if (result == PCRE_ERROR_NOMATCH) break;
      if (result < 0) {
        detail::set_match_error(number, result);
        return {};
      }
      const int start = offsets[0];
      const int end = offsets[1];
      take(position, start, true);
      const bool replaced = chooses(static_cast<std::int32_t>(units));
      if (replaced) output.append(literal);
      take(start, end, !replaced);
      if (end > start) {
        position = end;
        continue;
      }
      if (start >= length) {
        position = length;
        break;
      }
      // An empty match is replaced once; the character after it is kept and the search moves past it.
      const int step = std::min(
          length - start, static_cast<int>(detail::utf8_sequence_length(static_cast<unsigned char>(subject[start]))));
      take(start, start + step, true);
      position = start + step;
    }
    output.append(subject.substr(static_cast<std::size_t>(position)));
    detail::set_match_error(number, 0);
    return runtime::utf8_to_utf16(output);
  } catch (const std::bad_alloc&) {
    detail::set_match_error(number, PCRE_ERROR_NOMEMORY);
    return {};
  }
}

}  // namespace pattern
