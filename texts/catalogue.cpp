#include "texts/catalogue.h"

#include <algorithm>

#include "texts/catalogue_table.h"

namespace texts {

namespace {

const Catalogue* chosen = nullptr;

const Catalogue* find_catalogue(TextView language) {
  for (const Catalogue& catalogue : catalogues())
    if (catalogue.language == language) return &catalogue;
  return nullptr;
}

}  // namespace

TextView tr(TextView english) {
  if (!chosen) return english;
  auto found = std::lower_bound(chosen->translations.begin(), chosen->translations.end(), english,
                                [](const Translation& entry, TextView key) { return entry.english < key; });
  if (found == chosen->translations.end() || found->english != english || found->translated.empty()) return english;
  return found->translated;
}

Text format(TextView english_template, std::initializer_list<Field> fields) {
  const TextView form = tr(english_template);
  Text out;
  std::size_t at = 0;
  while (at < form.size()) {
    const std::size_t open = form.find(u'{', at);
    const std::size_t close = open == TextView::npos ? TextView::npos : form.find(u'}', open);
    if (close == TextView::npos) break;
    const TextView name = form.substr(open + 1, close - open - 1);
    auto field = std::find_if(fields.begin(), fields.end(), [&](const Field& f) { return f.name == name; });
    out += form.substr(at, open - at);
    if (field == fields.end())
      out += form.substr(open, close + 1 - open);
    else
      out += field->value;
    at = close + 1;
  }
  out += form.substr(at);
  return out;
}

TextView language_of(TextView tag) { return tag.substr(0, tag.find_first_of(u"_-.@")); }

bool choose_language(TextView tag) {
  // The codeset and modifier of a POSIX locale name ("es_ES.UTF-8@euro") say nothing of the language.
  Text name(tag.substr(0, std::min(tag.find(u'.'), tag.find(u'@'))));
  std::replace(name.begin(), name.end(), u'-', u'_');
  const TextView language = language_of(name);
  if (language == u"en") {
    chosen = nullptr;
    return true;
  }
  const Catalogue* found = find_catalogue(name);
  if (!found) found = find_catalogue(language);
  if (!found) return false;
  chosen = found;
  return true;
}

TextView chosen_language() { return chosen ? chosen->language : u"en"; }

bool is_right_to_left() { return chosen && chosen->right_to_left; }

}  // namespace texts
