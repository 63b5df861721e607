#include "texts/typed_digits.h"

namespace texts {

runtime::Text with_ascii_digits(runtime::TextView typed) {
  runtime::Text ascii(typed);
  for (char16_t& unit : ascii) {
    for (char16_t zero : {u'\u0660', u'\u06F0', u'\uFF10'})
      if (unit >= zero && unit <= zero + 9) unit = static_cast<char16_t>(u'0' + (unit - zero));
    if (unit == u'\uFF0E' || unit == u'\u066B') unit = u'.';
  }
  return ascii;
}

}  // namespace texts
