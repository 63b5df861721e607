#include "runtime/text_functions.h"

#include <algorithm>

namespace runtime {

Text format_integer(std::int64_t value) {
  // Work on the magnitude as unsigned so that the most negative value has a magnitude too.
  std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  Text digits;
  do {
    digits.push_back(static_cast<char16_t>(u'0' + magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) digits.push_back(u'-');
  std::reverse(digits.begin(), digits.end());
  return digits;
}

namespace {

char16_t fold_case(char16_t c) {
  // _wcsnicmp in the "C" locale folds the ASCII letters only.
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool matches_at(TextView text, std::size_t at, TextView search, bool ignore_case) {
  if (text.size() - at < search.size()) return false;
  for (std::size_t k = 0; k < search.size(); ++k) {
    char16_t a = text[at + k], b = search[k];
    if (ignore_case ? fold_case(a) != fold_case(b) : a != b) return false;
  }
  return true;
}

}  // namespace

Text remove_all_occurrences(TextView text, TextView search, std::int32_t mode, std::int32_t start, std::int32_t count) {
  text = until_terminator(text);
  search = until_terminator(search);
  if (text.empty()) return Text();
  if (search.empty()) return Text(text);

  const bool ignore_case = (mode & 1) != 0;
  std::int64_t to_remove = count == -1 ? -1 : (count > 0 ? count : 1);
  std::size_t position = start > 1 ? std::min<std::size_t>(static_cast<std::size_t>(start) - 1, text.size()) : 0;

  Text out(text.substr(0, position));
  while (position < text.size()) {
    if (to_remove != 0 && matches_at(text, position, search, ignore_case)) {
      position += search.size();
      if (to_remove > 0) --to_remove;
    } else {
      out.push_back(text[position++]);
    }
  }
  return out;
}

std::int32_t length_of_text(TextView text) { return static_cast<std::int32_t>(until_terminator(text).size()); }

Text middle_of_text(TextView text, std::int32_t start, std::int32_t length) {
  text = until_terminator(text);
  if (length < 0) length = 0;
  std::size_t from = start > 1 ? static_cast<std::size_t>(start) - 1 : 0;
  if (from >= text.size()) return Text();
  return Text(text.substr(from, static_cast<std::size_t>(length)));
}

Text right_of_text(TextView text, std::int32_t n) {
  text = until_terminator(text);
  std::size_t take = n < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(n), text.size());
  return Text(text.substr(text.size() - take));
}

int are_texts_equal(TextView a, TextView b) { return until_terminator(a) == until_terminator(b) ? 1 : 0; }

}  // namespace runtime
