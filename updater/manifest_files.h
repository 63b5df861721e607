#pragma once

#include <optional>
#include <string>

#include "files/folders.h"
#include "runtime/text.h"

// A manifest's file as both runs read and replace it.
namespace updater {

using runtime::Text;
using runtime::TextView;

// The text of a manifest that the rules accept: read whole, valid UTF-8 without a zero byte, and not
// too large; its bytes go into `bytes`. Nothing for any other.
// `size`, where the caller has it, is the size the file had a moment ago: room for it is taken at once.
std::optional<Text> read_manifest_text(TextView path, std::string& bytes, std::int64_t size = 0);

// Puts `new_text` in place of the manifest at `path` while it still holds `old_bytes`: through the
// crash-safe replace, or, in a folder that takes no new file, written in place with the old bytes
// put back when that fails. A read-only manifest is not replaced. Never folder_refused.
files::ReplaceOutcome put_manifest(TextView path, TextView new_text, const std::string& old_bytes);

}  // namespace updater
