#include "updater/run_language.h"

#include <optional>
#include <string>

#include "files/folders.h"
#include "manifest/manifest_reader.h"
#include "texts/catalogue.h"
#include "texts/system_languages.h"
#include "updater/manifest_files.h"

namespace updater {

namespace {

// NVDA's language as its configuration names it, or nothing. The file is a ConfigObj file like a
// manifest, and read by the same reader.
std::optional<Text> read_nvda_language() {
  std::string bytes;
  const std::optional<Text> text =
      read_manifest_text(files::get_user_folder(files::USER_FOLDER_APPDATA) + u"nvda\\nvda.ini", bytes);
  if (!text) return std::nullopt;
  const manifest::ManifestGrammar grammar;
  manifest::ManifestReader reader(grammar, *text);
  manifest::ManifestItem item;
  bool in_general = false;
  std::optional<Text> language;
  for (;;) {
    const manifest::ManifestReader::Status status = reader.next(item);
    if (status == manifest::ManifestReader::Status::REFUSED) return std::nullopt;
    if (status == manifest::ManifestReader::Status::END) return language;
    if (item.kind == manifest::ManifestItem::Kind::SECTION)
      in_general = item.depth == 1 && item.name == u"general";
    else if (in_general && item.depth == 1 && item.name == u"language" && !item.is_list && item.values.size() == 1)
      language = item.values[0];
  }
}

}  // namespace

void choose_run_language() {
  const std::vector<Text> system = texts::system_languages();
  const std::optional<Text> nvda = read_nvda_language();
  if (nvda && *nvda != u"Windows" && texts::choose_language(*nvda)) {
    if (system.empty() || texts::language_of(system.front()) != texts::language_of(*nvda))
      texts::use_language_for_system_texts(*nvda);
    return;
  }
  for (const Text& tag : system)
    if (texts::choose_language(tag)) return;
}

}  // namespace updater
