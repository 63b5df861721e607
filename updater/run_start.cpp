#include "updater/run_start.h"

#include "dialogs/dialogs.h"
#include "files/folders.h"
#include "files/text_files.h"
#include "pattern/pattern.h"
#include "runtime/program_end.h"
#include "runtime/text_functions.h"
#include "texts/catalogue.h"
#include "updater/run_language.h"
#include "updater/single_instance.h"

namespace updater {

namespace {

bool is_empty(TextView text) { return runtime::are_texts_equal(text, u"") != 0; }

}  // namespace

bool is_addon_name(TextView name) { return !is_empty(runtime::remove_all_occurrences(name, u".")); }

bool is_confirmed(std::int32_t answer) { return answer == dialogs::BUTTON_YES; }

void start_run() {
  files::init_file_library();
  pattern::init_pattern_library();
  dialogs::init_dialogs();
  choose_run_language();

  // Two runs at once would each write manifests from what they read before the other wrote, so a
  // run that cannot tell whether it is alone does not go on either.
  const RunClaim claim = claim_run();
  if (claim.outcome == ClaimOutcome::ANOTHER_RUN) {
    dialogs::show_message_box(texts::tr(u"Error"), texts::tr(u"Quillbrook is already running."), FLAGS_ERROR);
    runtime::end_program();
  }
  if (claim.outcome == ClaimOutcome::FAILED) {
    dialogs::show_message_box(texts::tr(u"Error"),
                              texts::format(u"Could not claim {path} for this run, so Quillbrook could not make sure "
                                            u"it runs alone.",
                                            {{u"path", claim.path}}),
                              FLAGS_ERROR);
    runtime::end_program();
  }
}

Text settle_addons_folder() {
  Text folder = files::get_user_folder(files::USER_FOLDER_APPDATA) + u"nvda\\addons\\";
  if (files::query_path_size(folder) != files::PATH_IS_FOLDER) {
    folder = dialogs::choose_folder(texts::tr(u"NVDA addon directory"), u"");
    if (is_empty(folder)) runtime::end_program();
  }
  // Every path of a run is relative to the add-ons folder, so the run must not go on anywhere else.
  if (!files::set_current_folder(folder)) {
    dialogs::show_message_box(texts::tr(u"Error"),
                              texts::format(u"Could not open the folder {folder}", {{u"folder", folder}}), FLAGS_ERROR);
    runtime::end_program();
  }
  return folder;
}

Text backup_folder_text(const Text& addons_folder) {
  files::set_current_folder(addons_folder + u"..\\");
  Text folder = files::get_current_folder() + u"manifest backups";
  files::set_current_folder(addons_folder);
  return folder;
}

}  // namespace updater
