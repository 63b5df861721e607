#pragma once

#include <cstdint>

#include "runtime/text.h"

// What the update run and the restore run share: their start, the add-ons folder, the backup folder
// and the flags of their dialogs.
namespace updater {

using runtime::Text;
using runtime::TextView;

// Message-box flags of the runs' dialogs.
inline constexpr std::uint32_t FLAGS_CONFIRM = 308;  // Yes and No, warning icon, No is the default button
inline constexpr std::uint32_t FLAGS_ADD_KEY = 52;   // Yes and No, warning icon, Yes is the default button
inline constexpr std::uint32_t FLAGS_ERROR = 16;
inline constexpr std::uint32_t FLAGS_WARNING = 48;
inline constexpr std::uint32_t FLAGS_INFORMATION = 64;

// The backup folder and the start of each backup's path, relative to the add-ons folder.
inline constexpr TextView BACKUP_ROOT = u"../manifest backups";
inline constexpr TextView BACKUP_PREFIX = u"../manifest backups/";

// False for "." and ".." and any other name made only of dots; ".cache" is an add-on folder like any
// other.
bool is_addon_name(TextView name);

// The start of either program: the libraries, then the one-run claim; a second run is told that the
// first is running, and ends, and so does a run whose claim cannot be taken.
void start_run();
// Makes the add-ons folder current and returns it, with a closing separator: the one below the roaming
// application data, else the one the user chooses. Ends the program when none is chosen or the folder
// cannot be opened.
Text settle_addons_folder();
// The backup folder beside the add-ons folder, as a full path for the user to read (no closing
// separator). The add-ons folder is current again afterwards.
Text backup_folder_text(const Text& addons_folder);

// How the runs read the answer to their confirmation; a box that could not be shown answers 0, a No.
// They go on only on Yes.
bool is_confirmed(std::int32_t answer);

}  // namespace updater
