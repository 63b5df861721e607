#pragma once

#include <span>
#include <string_view>

// The catalogues compiled into the program, generated at build time from the translators' files.
namespace texts {

struct Translation {
  std::u16string_view english;
  std::u16string_view translated;
};

struct Catalogue {
  std::u16string_view language;  // as the catalogue's file is named: "es", "pt_BR"
  bool right_to_left;
  std::span<const Translation> translations;  // sorted by their English text
};

// Every catalogue, sorted by language.
std::span<const Catalogue> catalogues();

// The texts of the template, the English every catalogue translates, in the template's order.
std::span<const std::u16string_view> template_texts();

}  // namespace texts
