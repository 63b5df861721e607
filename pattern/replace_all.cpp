#include <algorithm>
#include <new>

#include "pattern/pattern.h"
#include "pattern/pattern_internal.h"

namespace pattern {

namespace {

// Room for the whole match and capture groups 1 to 29. A match with more groups still gives its whole
// extent, which is all a replacement needs.
constexpr std::uint32_t REPLACE_GROUP_PAIRS = 30;
constexpr std::size_t INITIAL_OUTPUT_CAPACITY = 4000;

}  // namespace

Text replace_all(ObjectNumber number, TextView text, TextView replacement) {
  return replace_matches(number, text, replacement, [](std::int32_t) { return true; });
}

Text replace_matches(ObjectNumber number, TextView text, TextView replacement,
                     const std::function<bool(std::int32_t)>& chooses) {
  if (runtime::is_absent(text)) return {};
  const pcre2_code* compiled = detail::compiled_pattern(number);
  if (!compiled) return {};
  try {
    Text repaired_text, repaired_replacement;
    const TextView subject = detail::engine_subject(text, repaired_text);
    const TextView literal = detail::engine_subject(replacement, repaired_replacement);
    detail::MatchData groups(pcre2_match_data_create(REPLACE_GROUP_PAIRS, nullptr));
    if (!groups) throw std::bad_alloc();
    const PCRE2_SIZE* found = pcre2_get_ovector_pointer(groups.get());

    // Text grows geometrically, which keeps a text with many matches linear.
    Text output;
    output.reserve(std::max(INITIAL_OUTPUT_CAPACITY, subject.size() + subject.size() / 8));
    std::size_t position = 0;
    for (;;) {
      const int result = detail::search(compiled, subject, position, groups.get());
      // 0 means a match whose higher groups did not fit; the whole match is still known, and leaving
      // it unreplaced would silently skip the rest of the text.
      if (result == PCRE2_ERROR_NOMATCH) break;
      if (result < 0) {
        detail::set_match_error(number, result);
        return {};
      }
      const std::size_t start = found[0];
      const std::size_t end = found[1];
      output.append(subject.substr(position, start - position));
      if (chooses(static_cast<std::int32_t>(start)))
        output.append(literal);
      else
        output.append(subject.substr(start, end - start));
      if (end > start) {
        position = end;
        continue;
      }
      if (start >= subject.size()) {
        position = subject.size();
        break;
      }
      // An empty match is replaced once; the character after it is kept and the search moves past it.
      const std::size_t step = detail::character_length(subject, start);
      output.append(subject.substr(start, step));
      position = start + step;
    }
    output.append(subject.substr(position));
    detail::set_match_error(number, 0);
    return output;
  } catch (const std::bad_alloc&) {
    detail::set_match_error(number, PCRE2_ERROR_NOMEMORY);
    return {};
  }
}

}  // namespace pattern
