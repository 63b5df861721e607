#include <new>
#include <optional>

#include "dialogs/dialogs.h"
#include "files/folders.h"
#include "files/text_files.h"
#include "runtime/program_end.h"
#include "runtime/text_functions.h"
#include "runtime/utf8.h"
#include "updater/update_run.h"

// Reading, backing up and replacing each add-on's manifest; the rules that make its new text are in
// manifest_rules.cpp.
namespace updater {

using runtime::are_texts_equal;

namespace {

constexpr runtime::ObjectNumber KEY_PATTERN = 0;

// Where the folder takes no temporary file, the manifest is written over in place; when that fails,
// its old bytes (the backup's) go back. False when the new text is not in place.
bool rewrite_in_place(TextView path, TextView new_text, const std::string& old_bytes) {
  if (!files::open_file_object(0, path, files::FILE_MODE_CREATE, files::ENCODING_UTF8)) return false;
  bool written = files::write_file_text(0, new_text) != 0;
  if (files::close_file(0) && written) return true;
  bool restored = files::open_file_object(0, path, files::FILE_MODE_CREATE, files::ENCODING_UTF8) &&
                  files::write_file_text(0, runtime::utf8_to_utf16(old_bytes)) != 0;
  restored = files::close_file(0) && restored;
  if (!restored)
    dialogs::show_message_box(u"Error", u"Could not restore " + Text(path) + u" from its backup", FLAGS_ERROR);
  return false;
}

// The manifest's bytes, read whole as bytes, one past the limit to tell a manifest that has grown
// beyond it; nothing when it cannot be opened or a read fails.
std::optional<std::string> read_manifest_bytes(TextView manifest_path) {
  // Shared with readers: a scanner reading the manifest at the same moment does not fail the run.
  if (!files::open_file_for_reading(0, manifest_path, files::ENCODING_UTF8 | files::OPEN_SHARE_READ))
    return std::nullopt;
  std::string bytes = files::read_file_bytes(0, static_cast<std::size_t>(MAX_MANIFEST_BYTES) + 1);
  if (!files::close_file(0)) return std::nullopt;
  return bytes;
}

}  // namespace

const KeyPattern& the_key_pattern() {
  static const KeyPattern key_pattern(KEY_PATTERN);
  return key_pattern;
}

std::optional<Text> read_manifest_text(TextView path, std::string& bytes) {
  bytes.clear();
  std::optional<std::string> read = read_manifest_bytes(path);
  // A manifest that would not survive its conversion (invalid UTF-8, a zero byte) or that is too long
  // for a Text is refused.
  bool lossless = read && read->size() <= static_cast<std::size_t>(MAX_MANIFEST_BYTES) &&
                  read->find('\0') == std::string::npos && runtime::is_valid_utf8(*read);
  if (!lossless) return std::nullopt;
  bytes = std::move(*read);
  return runtime::utf8_to_utf16(bytes);
}

PutOutcome put_manifest(TextView path, TextView new_text, const std::string& old_bytes) {
  // A rename would replace a read-only manifest as readily as any other.
  if (!files::may_write_file(path)) return PutOutcome::FAILED;
  // Another program (or the user, while a question was open or the backup was written) may have
  // changed the manifest since it was read: its bytes are compared last, immediately before the
  // rename, and a manifest that no longer holds them is left as that program made it.
  switch (files::replace_file(path, runtime::utf16_to_utf8(new_text), path, old_bytes)) {
    case files::FILE_REPLACED:
    case files::FILE_REPLACED_UNFLUSHED:
      return PutOutcome::PUT;
    case files::FILE_CHANGED:
      return PutOutcome::CHANGED;
    case files::FOLDER_REFUSES_FILES:
      if (read_manifest_bytes(path) != old_bytes) return PutOutcome::CHANGED;
      return rewrite_in_place(path, new_text, old_bytes) ? PutOutcome::PUT : PutOutcome::FAILED;
    default:
      return PutOutcome::FAILED;
  }
}

Text make_new_manifest_text(RunState& state, TextView manifest_path) {
  const std::optional<Text> text = read_manifest_text(manifest_path, state.manifest_bytes);
  if (!text) {
    ++state.failed_count;
    return Text();
  }
  ManifestDecision decision = decide_manifest_text(the_key_pattern(), *text, state.version_text, [&] {
    Text question = u"Last tested version key not found in " + Text(manifest_path) + u". Add it?";
    return is_yes_to_adding_key(dialogs::show_message_box(u"Warning", question, FLAGS_ADD_KEY));
  });
  if (decision.outcome == ManifestOutcome::SKIPPED) ++state.skipped_count;
  if (decision.outcome == ManifestOutcome::FAILED) ++state.failed_count;
  return std::move(decision.new_text);
}

namespace {

// The rest of the work on a manifest that was found: its new text, the backup, then the replace.
void rewrite_found_manifest(RunState& state, TextView entry_name) {
  state.new_manifest_text = make_new_manifest_text(state, state.manifest_path);
  if (are_texts_equal(state.new_manifest_text, u"")) return;

  files::create_folder(BACKUP_ROOT);
  files::create_folder(Text(BACKUP_PREFIX) + Text(entry_name));
  const Text backup_path = Text(BACKUP_PREFIX) + state.manifest_path;
  // The backup holds the bytes the new text was made from, and is on the disk before the manifest is
  // touched.
  if (files::replace_file(backup_path, state.manifest_bytes, state.manifest_path) != files::FILE_REPLACED) {
    dialogs::show_message_box(u"Error", u"Could not back up " + state.manifest_path, FLAGS_ERROR);
    runtime::end_program();
  }

  ++(put_manifest(state.manifest_path, state.new_manifest_text, state.manifest_bytes) == PutOutcome::PUT
         ? state.modified_count
         : state.failed_count);
}

}  // namespace

void update_addon_manifest(RunState& state, TextView entry_name) {
  state.manifest_path = Text(entry_name) + u"/manifest.ini";
  const std::int64_t size = files::query_path_size(state.manifest_path);
  if (size == files::PATH_MISSING) return;
  ++state.found_count;
  // Refused before any memory is taken for it.
  if (size > MAX_MANIFEST_BYTES) {
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
