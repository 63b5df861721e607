#include "updater/update_run.h"

#include "dialogs/dialogs.h"
#include "files/folders.h"
#include "manifest/manifest_rules.h"
#include "runtime/date.h"
#include "runtime/program_end.h"
#include "runtime/text_functions.h"
#include "texts/catalogue.h"
#include "texts/typed_digits.h"
#include "updater/manifest_rewrite.h"
#include "updater/run_start.h"

namespace updater {

using runtime::format_integer;

namespace {

bool is_empty(TextView text) { return runtime::are_texts_equal(text, u"") != 0; }

// Asks until the answer is empty (the user gave up) or a version the manifests can hold.
Text ask_version() {
  // The clock's own year: a date value stops at 2038.
  const Text example = format_integer(runtime::read_local_clock().year + 10) + u".1.1";
  const Text message = texts::format(u"set manifests to what version (year.major(optionally .minor), E.g., {example}?",
                                     {{u"example", example}});
  Text typed;
  for (;;) {
    // Typed with the digits of the user's keyboard, read as ASCII: what is written is always ASCII.
    typed = texts::with_ascii_digits(dialogs::ask_text(texts::tr(u"version"), message, typed));
    if (is_empty(typed) || manifest::is_valid_version(typed)) return typed;
    dialogs::show_message_box(texts::tr(u"Error"),
                              // A zero unit would end the message where it stands.
                              texts::format(u"The version \"{version}\" is not valid. Type it as year.major or "
                                            u"year.major.minor, for example {example}.",
                                            {{u"version", runtime::until_terminator(typed)}, {u"example", example}}),
                              FLAGS_ERROR);
  }
}

}  // namespace

void run_update() {
  start_run();
  RunState state;
  state.addons_folder = settle_addons_folder();

  const TextView confirmation = texts::tr(
      u"This will modify all manifest.ini files found in the addons folder. They will be backed up in the "
      u"manifest backups folder. Are you sure you want to proceed?");
  if (!is_confirmed(dialogs::show_message_box(texts::tr(u"Warning"), confirmation, FLAGS_CONFIRM)))
    runtime::end_program();

  if (!files::start_folder_listing(0, files::get_current_folder(), u"*")) {
    dialogs::show_message_box(texts::tr(u"Error"), texts::tr(u"No directories found"), FLAGS_ERROR);
    runtime::end_program();
  }

  state.version_text = ask_version();
  if (is_empty(state.version_text)) runtime::end_program();

  while (files::next_folder_entry(0)) {
    if (files::get_entry_type(0) != files::ENTRY_FOLDER) continue;
    if (!is_addon_name(files::get_entry_name(0))) continue;
    update_addon_manifest(state, files::get_entry_name(0));
  }
  files::finish_folder_listing(0);

  dialogs::show_message_box(
      texts::tr(u"Done"),
      texts::format(u"{found} manifests found, {skipped} skipped, {failed} failed, {modified} modified.",
                    {{u"found", format_integer(state.found_count)},
                     {u"skipped", format_integer(state.skipped_count)},
                     {u"failed", format_integer(state.failed_count)},
                     {u"modified", format_integer(state.modified_count)}}),
      FLAGS_INFORMATION);

  dialogs::show_message_box(texts::tr(u"Info"),
                            texts::format(u"Backups of the old manifests have been placed in {folder}. If you wish to "
                                          u"restore the old manifests, copy all directories inside the backup folder "
                                          u"and paste them in addons folder and confirm replace.",
                                          {{u"folder", backup_folder_text(state.addons_folder)}}),
                            FLAGS_INFORMATION);
  runtime::end_program();
}

}  // namespace updater
