#include "updater/manifest_files.h"

#include "dialogs/dialogs.h"
#include "files/folders.h"
#include "files/text_files.h"
#include "manifest/manifest_rules.h"
#include "runtime/utf8.h"
#include "texts/catalogue.h"
#include "updater/run_start.h"

namespace updater {

using manifest::MAX_MANIFEST_BYTES;

namespace {

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
    dialogs::show_message_box(texts::tr(u"Error"),
                              texts::format(u"Could not restore {path} from its backup", {{u"path", path}}),
                              FLAGS_ERROR);
  return false;
}

// The manifest's bytes, read whole as bytes, one past the limit to tell a manifest that has grown
// beyond it; nothing when it cannot be opened or a read fails.
std::optional<std::string> read_manifest_bytes(TextView manifest_path, std::int64_t size = 0) {
  // Shared with readers: a scanner reading the manifest at the same moment does not fail the run.
  if (!files::open_file_for_reading(0, manifest_path, files::ENCODING_UTF8 | files::OPEN_SHARE_READ))
    return std::nullopt;
  const std::size_t limit = static_cast<std::size_t>(MAX_MANIFEST_BYTES) + 1;
  std::string bytes = files::read_file_bytes(0, limit, size > 0 ? std::min(static_cast<std::size_t>(size), limit) : 0);
  if (!files::close_file(0)) return std::nullopt;
  return bytes;
}

}  // namespace

std::optional<Text> read_manifest_text(TextView path, std::string& bytes, std::int64_t size) {
  bytes.clear();
  std::optional<std::string> read = read_manifest_bytes(path, size);
  // A manifest that would not survive its conversion (invalid UTF-8, a zero byte) or that is too long
  // for a Text is refused.
  bool lossless = read && read->size() <= static_cast<std::size_t>(MAX_MANIFEST_BYTES) &&
                  read->find('\0') == std::string::npos && runtime::is_valid_utf8(*read);
  if (!lossless) return std::nullopt;
  bytes = std::move(*read);
  return runtime::utf8_to_utf16(bytes);
}

files::ReplaceOutcome put_manifest(TextView path, TextView new_text, const std::string& old_bytes) {
  using files::ReplaceOutcome;
  // A rename would replace a read-only manifest as readily as any other.
  if (!files::may_write_file(path)) return ReplaceOutcome::failed;
  // Another program (or the user, while a question was open or the backup was written) may have
  // changed the manifest since it was read: its bytes are compared last, immediately before each
  // try of the rename, and a manifest that no longer holds them is left as that program made it.
  const ReplaceOutcome outcome = files::replace_file(path, runtime::utf16_to_utf8(new_text), path, old_bytes);
  if (outcome != ReplaceOutcome::folder_refused) return outcome;
  if (read_manifest_bytes(path) != old_bytes) return ReplaceOutcome::changed;
  return rewrite_in_place(path, new_text, old_bytes) ? ReplaceOutcome::replaced : ReplaceOutcome::failed;
}

}  // namespace updater
