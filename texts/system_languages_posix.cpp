#include <cstdlib>
#include <string_view>

#include "runtime/utf8.h"
#include "texts/system_languages.h"

namespace texts {

namespace {

std::string_view variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

std::vector<runtime::Text> system_languages() {
  std::string_view locale;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    locale = variable(name);
    if (!locale.empty()) break;
  }
  std::vector<runtime::Text> tags;
  if (locale.empty() || locale == "C" || locale == "POSIX") return tags;
  std::string_view list = variable("LANGUAGE");
  while (!list.empty()) {
    const std::size_t colon = list.find(':');
    const std::string_view entry = list.substr(0, colon);
    if (!entry.empty()) tags.push_back(runtime::utf8_to_utf16(entry));
    list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
  }
  tags.push_back(runtime::utf8_to_utf16(locale));
  return tags;
}

void use_language_for_system_texts(runtime::TextView) {}

}  // namespace texts
