#include "runtime/utf8.h"

namespace runtime {

Text text_from_latin1(std::string_view bytes) {
  Text out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) out.push_back(static_cast<char16_t>(c));
  return out;
}

namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

// The length of the UTF-8 form of a character (not a surrogate, at most U+10FFFF).
constexpr std::size_t utf8_length(char32_t c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4; }

// Writes the UTF-8 form of the character to `out` and returns its length.
std::size_t encode_utf8(char32_t c, char* out) {
  const std::size_t length = utf8_length(c);
  if (length == 1) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  constexpr unsigned char LEAD_MARKS[] = {0, 0, 0xC0, 0xE0, 0xF0};
  for (std::size_t k = length - 1; k > 0; --k, c >>= 6) out[k] = static_cast<char>(0x80 | (c & 0x3F));
  out[0] = static_cast<char>(LEAD_MARKS[length] | c);
  return length;
}

// Decodes one character at bytes[i]. Returns the number of bytes taken (at least 1) and sets
// `c` to the character, or to U+FFFD for a maximal ill-formed subsequence.
std::size_t decode_one(std::string_view bytes, std::size_t i, char32_t& c) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
  unsigned char lead = byte(i);
  if (lead < 0x80) {
    c = lead;
    return 1;
  }
  std::size_t length;
  char32_t value;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no encoded surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    c = REPLACEMENT;
    return 1;
  }
  std::size_t k = 1;
  for (; k < length; ++k) {
    if (i + k >= bytes.size()) break;
    unsigned char b = byte(i + k);
    unsigned char lo = k == 1 ? low : 0x80, hi = k == 1 ? high : 0xBF;
    if (b < lo || b > hi) break;
    value = (value << 6) | (b & 0x3F);
  }
  if (k < length) {
    c = REPLACEMENT;
    return k;
  }
  c = value;
  return length;
}

}  // namespace

namespace {

// Calls emit_ascii(byte) for each ASCII unit and emit(character) for every other character, with
// U+FFFD for an unpaired surrogate; stops early when either returns false.
template <typename EmitAscii, typename Emit>
bool for_each_character(TextView text, EmitAscii&& emit_ascii, Emit&& emit) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t u = text[i];
    if (u < 0x80) {
      if (!emit_ascii(static_cast<char>(u))) return false;
      continue;
    }
    char32_t c = u;
    if (is_high_surrogate(u)) {
      if (i + 1 < text.size() && is_low_surrogate(text[i + 1])) {
        c = 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00);
        ++i;
      } else {
        c = REPLACEMENT;
      }
    } else if (is_low_surrogate(u)) {
      c = REPLACEMENT;
    }
    if (!emit(c)) return false;
  }
  return true;
}

}  // namespace

std::string utf16_to_utf8(TextView text) {
  text = until_terminator(text);
  // Two passes, sizing the result exactly first: manifests are large and mostly ASCII, and a
  // growing string would copy them several times over.
  std::size_t size = 0;
  for_each_character(
      text,
      [&](char) {
        ++size;
        return true;
      },
      [&](char32_t c) {
        size += utf8_length(c);
        return true;
      });
  std::string out(size, '\0');
  char* next = out.data();
  for_each_character(
      text,
      [&](char byte) {
        *next++ = byte;
        return true;
      },
      [&](char32_t c) {
        next += encode_utf8(c, next);
        return true;
      });
  return out;
}

bool is_utf8_form_of(TextView text, std::string_view bytes) noexcept {
  text = until_terminator(text);
  if (bytes.size() < text.size()) return false;
  std::size_t at = 0;
  bool same = for_each_character(
      text, [&](char byte) { return at < bytes.size() && bytes[at++] == byte; },
      [&](char32_t c) {
        char encoded[4];
        const std::size_t length = encode_utf8(c, encoded);
        if (bytes.size() - at < length || bytes.compare(at, length, encoded, length) != 0) return false;
        at += length;
        return true;
      });
  return same && at == bytes.size();
}

Text utf8_to_utf16(std::string_view bytes) {
  // At most one unit per byte: size for that, fill, and cut to what was used.
  Text out(bytes.size(), u'\0');
  char16_t* next = out.data();
  for (std::size_t i = 0; i < bytes.size();) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      *next++ = static_cast<char16_t>(static_cast<unsigned char>(bytes[i++]));
      continue;
    }
    char32_t c;
    i += decode_one(bytes, i, c);
    if (c >= 0x10000) {
      c -= 0x10000;
      *next++ = static_cast<char16_t>(0xD800 + (c >> 10));
      *next++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      *next++ = static_cast<char16_t>(c);
    }
  }
  out.resize(static_cast<std::size_t>(next - out.data()));
  return out;
}

bool is_valid_utf8(std::string_view bytes) noexcept {
  for (std::size_t i = 0; i < bytes.size();) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    char32_t c;
    std::size_t taken = decode_one(bytes, i, c);
    // U+FFFD written out as EF BF BD is valid; only a replacement that stands for bad bytes is not.
    if (c == REPLACEMENT && !(taken == 3 && bytes.substr(i, 3) == "\xEF\xBF\xBD")) return false;
    i += taken;
  }
  return true;
}

}  // namespace runtime
