#pragma once

#include <cstdint>
#include <string>

#include "manifest/manifest_reader.h"
#include "runtime/text.h"

// The update run's work on each add-on's manifest.
namespace updater {

using runtime::Text;
using runtime::TextView;

// The values of one update run. Made once the libraries are started.
struct RunState {
  Text addons_folder;      // ends with a separator
  Text version_text;       // never empty once the walk runs
  Text manifest_path;      // of the current add-on, relative to the add-ons folder
  Text new_manifest_text;  // empty: the manifest is left alone
  // The bytes that new_manifest_text was made from: the manifest is replaced only while it holds them.
  std::string manifest_bytes;
  std::int64_t manifest_size = 0;  // when the manifest was found: room for its bytes is taken at once
  std::int32_t found_count = 0;
  std::int32_t skipped_count = 0;
  std::int32_t failed_count = 0;
  std::int32_t modified_count = 0;
  manifest::ManifestGrammar grammar;
};

// The work on one add-on folder (a name in the current folder): finds, rewrites and backs up its
// manifest and counts the outcome. Ends the process when the backup copy fails. A crash at any moment
// leaves the manifest with its old bytes or its new ones, and the new ones only with the old ones in
// the backup.
void update_addon_manifest(RunState& state, TextView entry_name);

// The manifest's new text, or the empty Text when it is to be left alone (counted here as skipped or
// failed). Keeps the bytes read in the run state's manifest_bytes.
Text make_new_manifest_text(RunState& state, TextView manifest_path);

// How the run reads the answer to the add-key question, whose default is Yes: anything but No and 0
// (a box that could not be shown) adds the key.
bool is_yes_to_adding_key(std::int32_t answer);

}  // namespace updater
