#include "updater/manifest_rewrite.h"

#include <new>
#include <optional>
#include <string>

#include "dialogs/dialogs.h"
#include "files/folders.h"
#include "manifest/manifest_rules.h"
#include "runtime/program_end.h"
#include "runtime/text_functions.h"
#include "runtime/utf8.h"
#include "texts/catalogue.h"
#include "updater/manifest_files.h"
#include "updater/run_start.h"

namespace updater {

using manifest::ManifestOutcome;

Text make_new_manifest_text(RunState& state, TextView manifest_path) {
  const std::optional<Text> text = read_manifest_text(manifest_path, state.manifest_bytes, state.manifest_size);
  if (!text) {
    ++state.failed_count;
    return Text();
  }
  manifest::ManifestDecision decision = manifest::decide_manifest_text(state.grammar, *text, state.version_text, [&] {
    const Text question =
        texts::format(u"Last tested version key not found in {path}. Add it?", {{u"path", manifest_path}});
    return is_yes_to_adding_key(dialogs::show_message_box(texts::tr(u"Warning"), question, FLAGS_ADD_KEY));
  });
  if (decision.outcome == ManifestOutcome::SKIPPED) ++state.skipped_count;
  if (decision.outcome == ManifestOutcome::FAILED) ++state.failed_count;
  return std::move(decision.new_text);
}

namespace {

// True when the backup at the path is older than every run since: the manifest is exactly what the
// rules make of it with the version of the manifest's own key line. Such a backup holds the manifest
// as it was before the first of those runs, and is kept as it is.
bool backup_precedes_runs(const RunState& state, TextView backup_path) {
  // No status query first: a missing backup, as on a first run, costs only the open that fails.
  std::string backup_bytes;
  const std::optional<Text> backup = read_manifest_text(backup_path, backup_bytes);
  return backup && manifest::is_rewrite_of(state.grammar, *backup, runtime::utf8_to_utf16(state.manifest_bytes));
}

// The rest of the work on a manifest that was found: its new text, the backup, then the replace.
void rewrite_found_manifest(RunState& state, TextView entry_name) {
  state.new_manifest_text = make_new_manifest_text(state, state.manifest_path);
  if (runtime::are_texts_equal(state.new_manifest_text, u"")) return;

  files::create_folder(BACKUP_ROOT);
  files::create_folder(Text(BACKUP_PREFIX) + Text(entry_name));
  const Text backup_path = Text(BACKUP_PREFIX) + state.manifest_path;
  // The backup holds the bytes the new text was made from, or those of an earlier run's manifest that
  // they were made from in turn, and is on the disk before the manifest is touched.
  if (!backup_precedes_runs(state, backup_path) &&
      files::replace_file(backup_path, state.manifest_bytes, state.manifest_path) != files::ReplaceOutcome::replaced) {
    dialogs::show_message_box(
        texts::tr(u"Error"), texts::format(u"Could not back up {path}", {{u"path", state.manifest_path}}), FLAGS_ERROR);
    runtime::end_program();
  }

  ++(files::is_replaced(put_manifest(state.manifest_path, state.new_manifest_text, state.manifest_bytes))
         ? state.modified_count
         : state.failed_count);
}

}  // namespace

void update_addon_manifest(RunState& state, TextView entry_name) {
  state.manifest_path = Text(entry_name) + u"/manifest.ini";
  const std::int64_t size = files::query_path_size(state.manifest_path);
  state.manifest_size = size;
  if (size == files::PATH_MISSING) return;
  ++state.found_count;
  // Refused before any memory is taken for it.
  if (size > manifest::MAX_MANIFEST_BYTES) {
    ++state.failed_count;
    return;
  }
  // A manifest too large for the memory left (the 32-bit program has 2 GiB in all) is left as it is,
  // and the run goes on with the next one.
  try {
    rewrite_found_manifest(state, entry_name);
  } catch (const std::bad_alloc&) {
    state.new_manifest_text.clear();
    state.manifest_bytes.clear();
    ++state.failed_count;
  }
}

bool is_yes_to_adding_key(std::int32_t answer) { return answer != dialogs::BUTTON_NO && answer != 0; }

}  // namespace updater
