#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "runtime/object_table.h"
#include "runtime/text.h"

// Folder listings under object numbers and the file-system operations of the program. Folder paths
// returned here end in a separator (a backslash on Windows, a slash on POSIX). Both the slash and the
// backslash separate path components.
namespace files {

using runtime::ANY_NUMBER;
using runtime::ObjectNumber;
using runtime::Text;
using runtime::TextView;

// Entry types of get_entry_type.
inline constexpr int ENTRY_FILE = 1;
inline constexpr int ENTRY_FOLDER = 2;

// Results of query_path_size besides a file's size.
inline constexpr std::int64_t PATH_MISSING = -1;
inline constexpr std::int64_t PATH_IS_FOLDER = -2;

// Ids of get_user_folder.
inline constexpr std::int32_t USER_FOLDER_APPDATA = 4;  // the roaming application data

// Starts a listing of the folder's entries that match the wildcard pattern (`*`, `?`; empty means
// all), finishing what the number held first. Non-zero on success (for ANY_NUMBER the new number),
// also when nothing matched; 0 when the folder cannot be searched.
std::intptr_t start_folder_listing(ObjectNumber number, TextView folder, TextView pattern);
// Makes the next entry current; the first call gives the first entry. 0 at the end.
int next_folder_entry(ObjectNumber number);
// 0 without a listing, else ENTRY_FILE or ENTRY_FOLDER.
int get_entry_type(ObjectNumber number);
// The current entry's name, without its folder.
Text get_entry_name(ObjectNumber number);
void finish_folder_listing(ObjectNumber number);
// Finishes every live listing. Registered as an end step by the first start_folder_listing.
void end_folder_library();

// A file's size in bytes, PATH_IS_FOLDER, or PATH_MISSING.
std::int64_t query_path_size(TextView path);
// Creates one folder (trailing separators removed, and on Windows, which drops them itself, trailing
// blanks). 0 on failure, also when it exists, and for a path of only blanks and separators.
int create_folder(TextView path);
// Copies a file, replacing the destination in one step (see replace_file). 0 on failure.
int duplicate_file(TextView source, TextView destination);

// What became of a file that replace_file was to replace: the one account of a replace, from the
// system's calls up to the counts that a run shows.
enum class ReplaceOutcome {
  replaced,
  replaced_unflushed,  // in place, but a power cut may still bring back the old file
  changed,             // it no longer held the expected bytes: it is as another program left it
  folder_refused,      // no file may be made beside it: it is as it was
  failed,              // it is as it was
};
// True for both outcomes that leave the new bytes in place.
inline bool is_replaced(ReplaceOutcome outcome) {
  return outcome == ReplaceOutcome::replaced || outcome == ReplaceOutcome::replaced_unflushed;
}

// Puts the bytes in place of the file so that a crash at any moment leaves its old bytes or the new
// ones: through a temporary file beside it, flushed to the disk and renamed over it. The new file takes
// the attributes (permission bits) of `model`, without the read-only attribute. A symbolic link at the
// path is replaced, never written through. With `expected`, the file is replaced only while it holds
// exactly those bytes, compared once the new ones are on the disk, immediately before each try of the
// rename: another program's save at any moment before the rename that succeeds is kept. No temporary
// file is left behind unless the process dies on the way.
ReplaceOutcome replace_file(TextView path, std::string_view bytes, TextView model,
                            std::optional<std::string_view> expected = std::nullopt);
// 0 when the file may not be written (read-only attribute, or its permission bits).
int may_write_file(TextView path);
// Non-zero on success.
int set_current_folder(TextView path);
// The current folder with a closing separator; the empty Text when it cannot be read.
Text get_current_folder();
// A well-known folder with a closing separator; the empty Text for unknown ids.
Text get_user_folder(std::int32_t id);

}  // namespace files
