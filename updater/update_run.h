#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "runtime/object_table.h"
#include "runtime/text.h"

namespace updater {

using runtime::Text;
using runtime::TextView;

// The key line of a manifest: leading white space and the key up to an optional opening quote (group
// 1), the year (2), the major (3) and the optional minor number (4), and an optional closing quote
// with the white space up to the line end (5). Compiled with PATTERN_MULTILINE.
//
// The possessive runs and (*SKIP) change no match: a run before the key, "=" or a digit could only
// give back white space, which none of them starts with, and every line start inside a run of white
// space reaches the same key as the first one. They keep the search linear: without them each blank
// line of a long run rescans the whole run, and long values backtrack digit by digit.
inline constexpr char16_t MANIFEST_PATTERN[] =
    u"^([\\s\\h]*+(*SKIP)lastTestedNVDAVersion[\\s\\h]*+=[\\s\\h]*+\"?)(\\d++)\\.(\\d++)(?:\\.(\\d++))?(\"?[\\s\\h]*)$";

// Message-box flags of the run's dialogs.
inline constexpr std::uint32_t FLAGS_CONFIRM = 308;  // Yes and No, warning icon, No is the default button
inline constexpr std::uint32_t FLAGS_ADD_KEY = 52;   // Yes and No, warning icon, Yes is the default button
inline constexpr std::uint32_t FLAGS_ERROR = 16;
inline constexpr std::uint32_t FLAGS_WARNING = 48;
inline constexpr std::uint32_t FLAGS_INFORMATION = 64;

// The backup folder and the start of each backup's path, relative to the add-ons folder.
inline constexpr TextView BACKUP_ROOT = u"../manifest backups";
inline constexpr TextView BACKUP_PREFIX = u"../manifest backups/";

// The largest manifest, in bytes, that is read: its text and its UTF-8 form must both fit the signed
// 32-bit lengths of Text operations and of the pattern engine.
inline constexpr std::int64_t MAX_MANIFEST_BYTES = 0x7FFFFFFF;

// The values of one run.
struct RunState {
  Text addons_folder;      // ends with a separator
  Text version_text;       // never empty once the walk runs
  Text manifest_path;      // of the current add-on, relative to the add-ons folder
  Text new_manifest_text;  // empty: the manifest is left alone
  // The bytes that new_manifest_text was made from: the manifest is replaced only while it holds them.
  std::string manifest_bytes;
  std::int32_t found_count = 0;
  std::int32_t skipped_count = 0;
  std::int32_t failed_count = 0;
  std::int32_t modified_count = 0;
};

// False for "." and ".." and any other name made only of dots; ".cache" is an add-on folder like any
// other.
bool is_addon_name(TextView name);

// The start of either program: the libraries, then the one-run claim; a second run is told that the
// first is running, and ends.
void start_run();
// Makes the add-ons folder current and returns it, with a closing separator: the one below the roaming
// application data, else the one the user chooses. Ends the program when none is chosen or the folder
// cannot be opened.
Text settle_addons_folder();
// The backup folder beside the add-ons folder, as a full path for the user to read (no closing
// separator). The add-ons folder is current again afterwards.
Text backup_folder_text(const Text& addons_folder);

// The whole program: settles the add-ons folder, confirms, asks for the version, rewrites every
// add-on's manifest and reports. Ends the process with exit code 0 on every path.
[[noreturn]] void run_update();

// The way back: puts the manifests saved in the backup folder back where the manifest is still
// exactly what an update run made of its backup, and reports. Ends the process with exit code 0.
[[noreturn]] void run_restore();

// The work on one add-on folder (a name in the current folder): finds, rewrites and backs up its
// manifest and counts the outcome. Ends the process when the backup copy fails. A crash at any moment
// leaves the manifest with its old bytes or its new ones, and the new ones only with the old ones in
// the backup.
void update_addon_manifest(RunState& state, TextView entry_name);

// How the run reads the answers of its questions; a box that could not be shown answers 0, a No.
// The confirmation goes on only on Yes; the add-key question, whose default is Yes, on anything but
// No and 0.
bool is_confirmed(std::int32_t answer);
bool is_yes_to_adding_key(std::int32_t answer);

// The text of a manifest that the rules accept: read whole, valid UTF-8 without a zero byte, and not
// too large; its bytes go into `bytes`. Nothing for any other.
std::optional<Text> read_manifest_text(TextView path, std::string& bytes);

// Puts `new_text` in place of the manifest at `path` while it still holds `old_bytes`: through the
// crash-safe replace, or, in a folder that takes no new file, written in place with the old bytes
// put back when that fails. A read-only manifest is not replaced.
enum class PutOutcome { PUT, CHANGED, FAILED };
PutOutcome put_manifest(TextView path, TextView new_text, const std::string& old_bytes);

// The manifest's new text, or the empty Text when it is to be left alone (counted here as skipped or
// failed). Keeps the bytes read in the run state's manifest_bytes.
Text make_new_manifest_text(RunState& state, TextView manifest_path);

// What the rules make of a manifest's text.
enum class ManifestOutcome { REWRITTEN, SKIPPED, FAILED };
struct ManifestDecision {
  ManifestOutcome outcome = ManifestOutcome::SKIPPED;
  Text new_text;  // set only when rewritten
};

// MANIFEST_PATTERN compiled under a number of the pattern library (which must be started), in place of
// what the number held; the number is the holder's until the library ends. Made once and used for
// every manifest, since a compile costs as much as the rest of a small manifest's rules.
class KeyPattern {
 public:
  explicit KeyPattern(runtime::ObjectNumber number);
  runtime::ObjectNumber number() const { return number_; }
  bool is_compiled() const { return compiled_; }

 private:
  runtime::ObjectNumber number_;
  bool compiled_;
};

// The key pattern, compiled under pattern number 0 at its first use.
const KeyPattern& the_key_pattern();

// The rules of one manifest, apart from its file: every key line set to `version` (valid), or, when
// the text has no key line and `add_key` (asked only then) says yes, a key line added. A key line
// inside a triple-quoted value is part of that value.
ManifestDecision decide_manifest_text(const KeyPattern& key_pattern, TextView text, TextView version,
                                      const std::function<bool()>& add_key);

// The version of the text's first key line outside triple-quoted values, as the key pattern reads it
// (year.major, and .minor where the line has one); nothing without such a line.
std::optional<Text> read_key_version(const KeyPattern& key_pattern, TextView text);

// True for a version that the screen reader accepts and the key pattern reads back: four ASCII digits,
// a full stop and one digit, optionally a full stop and one more digit. Every unit counts: a zero
// unit anywhere makes the version invalid.
bool is_valid_version(TextView version);

// True when a line before the first section sets minimumNVDAVersion to a version (0, or year.major
// with an optional .minor; in single or double quotes, or unquoted with an optional "#" comment after
// it) above `version`, a valid version: the screen reader would refuse the add-on once its last tested
// version is below its minimum.
bool has_minimum_above(TextView text, TextView version);

// True when a line of the text that does not start inside a triple-quoted value, after leading spaces
// and tabs (and a byte-order mark at the very start), begins with the key followed by optional spaces
// or tabs and "=".
bool has_key_line(TextView text);

// The position of the first line that opens an INI section ("[" after spaces and tabs), outside
// triple-quoted values; the text's length when there is none. A byte-order mark at the very start is
// not part of the first line.
std::size_t find_first_section_line(TextView text);

}  // namespace updater
