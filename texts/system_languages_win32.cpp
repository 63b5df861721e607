#include <windows.h>

#include <vector>

#include "texts/system_languages.h"

namespace texts {

std::vector<runtime::Text> system_languages() {
  ULONG count = 0, size = 0;
  std::vector<runtime::Text> tags;
  if (!GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, nullptr, &size) || size == 0) return tags;
  std::vector<wchar_t> names(size);
  if (!GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, names.data(), &size)) return tags;
  // A list of zero-ended names, ended by an empty one.
  for (const wchar_t* name = names.data(); *name; name += wcslen(name) + 1)
    tags.emplace_back(reinterpret_cast<const char16_t*>(name));
  return tags;
}

void use_language_for_system_texts(runtime::TextView tag) {
  runtime::Text name(tag);
  for (char16_t& unit : name)
    if (unit == u'_') unit = u'-';
  const LCID locale = LocaleNameToLCID(reinterpret_cast<const wchar_t*>(name.c_str()), 0);
  if (locale != 0) SetThreadUILanguage(LANGIDFROMLCID(locale));
}

}  // namespace texts
