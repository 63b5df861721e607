#include "updater/restore_run.h"

#include <array>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "dialogs/dialogs.h"
#include "files/folders.h"
#include "manifest/manifest_rules.h"
#include "runtime/program_end.h"
#include "runtime/text_functions.h"
#include "texts/catalogue.h"
#include "updater/manifest_files.h"
#include "updater/run_start.h"

// The way back after an update run: each backup goes back over its manifest where that manifest is
// still exactly what the run made of the backup. What replaces it can be made again from the backup
// and the version, so nothing is lost; a manifest changed in any other way (an add-on updated since)
// is left as it is.
namespace updater {

using runtime::format_integer;

namespace {

// The summary's columns, in its order. A replace's outcome goes to its column only in count_replace.
enum RestoreCount { RESTORED, UNCHANGED, CHANGED_SINCE, NOT_INSTALLED, FAILED, COLUMNS };

RestoreCount count_replace(files::ReplaceOutcome outcome) {
  if (files::is_replaced(outcome)) return RESTORED;
  return outcome == files::ReplaceOutcome::changed ? CHANGED_SINCE : FAILED;
}

bool holds_manifest(const Text& folder_path) { return files::query_path_size(folder_path + u"/manifest.ini") >= 0; }

RestoreCount restore_manifest(const manifest::ManifestGrammar& grammar, const Text& name) {
  const Text manifest_path = name + u"/manifest.ini";
  if (files::query_path_size(name) != files::PATH_IS_FOLDER ||
      files::query_path_size(manifest_path) == files::PATH_MISSING)
    return NOT_INSTALLED;
  std::string backup_bytes, manifest_bytes;
  const std::optional<Text> backup = read_manifest_text(Text(BACKUP_PREFIX) + manifest_path, backup_bytes);
  const std::optional<Text> manifest = read_manifest_text(manifest_path, manifest_bytes);
  if (!backup || !manifest) return FAILED;
  if (manifest_bytes == backup_bytes) return UNCHANGED;

  // Restored only where the manifest is what a run with its own version makes of the backup, the key
  // added where the backup had none.
  if (!manifest::is_rewrite_of(grammar, *backup, *manifest)) return CHANGED_SINCE;
  return count_replace(put_manifest(manifest_path, *backup, manifest_bytes));
}

// The names of the backup folder's sub-folders that hold a manifest, in listing order.
std::vector<Text> list_backups() {
  std::vector<Text> names;
  if (!files::start_folder_listing(0, BACKUP_ROOT, u"*")) return names;
  while (files::next_folder_entry(0)) {
    if (files::get_entry_type(0) != files::ENTRY_FOLDER) continue;
    const Text name = files::get_entry_name(0);
    if (is_addon_name(name) && holds_manifest(Text(BACKUP_PREFIX) + name)) names.push_back(name);
  }
  files::finish_folder_listing(0);
  return names;
}

Text join(const std::vector<Text>& names) {
  Text joined;
  // TRANSLATORS: what stands between two names of add-ons in a list.
  const TextView separator = texts::tr(u", ");
  for (const Text& name : names) {
    if (!joined.empty()) joined += separator;
    joined += name;
  }
  return joined;
}

}  // namespace

void run_restore() {
  start_run();
  const Text addons_folder = settle_addons_folder();
  const manifest::ManifestGrammar grammar;

  const std::vector<Text> backups = list_backups();
  if (backups.empty()) {
    dialogs::show_message_box(
        texts::tr(u"Info"),
        texts::format(u"No manifest backups found in {folder}.", {{u"folder", backup_folder_text(addons_folder)}}),
        FLAGS_INFORMATION);
    runtime::end_program();
  }
  const TextView confirmation = texts::tr(
      u"This will put the manifests saved in the manifest backups folder back into the addons folder. A "
      u"manifest that has changed in any other way since its backup was made is left as it is. Are you sure "
      u"you want to proceed?");
  if (!is_confirmed(dialogs::show_message_box(texts::tr(u"Warning"), confirmation, FLAGS_CONFIRM)))
    runtime::end_program();

  std::array<std::int32_t, COLUMNS> counts{};
  std::vector<Text> changed_names;
  for (const Text& name : backups) {
    RestoreCount outcome;
    // A manifest too large for the memory left is left as it is, and the run goes on.
    try {
      outcome = restore_manifest(grammar, name);
    } catch (const std::bad_alloc&) {
      outcome = FAILED;
    }
    ++counts[outcome];
    if (outcome == CHANGED_SINCE) changed_names.push_back(name);
  }

  if (!changed_names.empty())
    dialogs::show_message_box(
        texts::tr(u"Warning"),
        texts::format(u"These manifests have changed since their backups were made and were left as they are: {names}.",
                      {{u"names", join(changed_names)}}),
        FLAGS_WARNING);
  dialogs::show_message_box(texts::tr(u"Done"),
                            texts::format(u"{found} backups found, {restored} restored, {unchanged} unchanged, "
                                          u"{changed} changed since, {missing} not installed, {failed} failed.",
                                          {{u"found", format_integer(static_cast<std::int32_t>(backups.size()))},
                                           {u"restored", format_integer(counts[RESTORED])},
                                           {u"unchanged", format_integer(counts[UNCHANGED])},
                                           {u"changed", format_integer(counts[CHANGED_SINCE])},
                                           {u"missing", format_integer(counts[NOT_INSTALLED])},
                                           {u"failed", format_integer(counts[FAILED])}}),
                            FLAGS_INFORMATION);
  if (counts[RESTORED] > 0)
    dialogs::show_message_box(texts::tr(u"Info"), texts::tr(u"Restart NVDA to load the restored manifests."),
                              FLAGS_INFORMATION);
  runtime::end_program();
}

}  // namespace updater
