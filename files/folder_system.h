#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "runtime/text.h"

// The calls that the folder library makes on the system, one definition per platform
// (folder_system_win32.cpp, folder_system_posix.cpp). Paths are whole Texts, already trimmed and joined; the POSIX
// side turns backslashes into slashes before a path reaches the system.
namespace files::folder_system {

using runtime::Text;

// One entry of a folder search: its name without the folder, whether it is a folder, its size.
struct FolderEntry {
  Text name;
  bool is_folder = false;
  std::int64_t size = 0;
};

// An open search; destroying it ends the search (FindClose, closedir).
class FolderSearch {
 public:
  FolderSearch() = default;
  FolderSearch(const FolderSearch&) = delete;
  FolderSearch& operator=(const FolderSearch&) = delete;
  virtual ~FolderSearch() = default;

  // Moves on to the next matching entry. False at the end, and `entry` is then left as it was.
  virtual bool next_entry(FolderEntry& entry) = 0;
};

enum class SearchOutcome {
  found,            // `first` is the first matching entry, `search` hands out the rest
  nothing_matched,  // the folder exists but no entry matches the last component
  failed,           // the folder cannot be searched (missing, not a folder, no access)
};

struct SearchStart {
  SearchOutcome outcome = SearchOutcome::failed;
  std::unique_ptr<FolderSearch> search;
  FolderEntry first;
};

// Searches the folder part of the path for entries matching its last component, a wildcard pattern
// (`*`, `?`). "." and ".." are reported like any other entry.
SearchStart start_search(const Text& path);

// True where paths may start with a drive letter and a colon.
bool has_drive_letters();
// True when the root names a drive or share of a known type (GetDriveTypeW above DRIVE_NO_ROOT_DIR).
bool is_known_drive(const Text& root);
// Whether the path is a folder; nothing when its attributes cannot be read.
std::optional<bool> read_is_folder(const Text& path);

// Creates the last component only.
bool make_folder(const Text& path);
// The name ending of the temporary file that replace_file_durably writes beside its file; whatever
// a killed run (or anyone else) left at that name is removed first.
inline constexpr std::u16string_view TEMPORARY_SUFFIX = u".quillbrook-new";

enum class ReplaceOutcome {
  replaced,
  replaced_unflushed,  // in place, but its folder could not be flushed: a power cut may bring back the old file
  failed,              // the file is as it was
  folder_refused,      // no file may be made in its folder
  refused_by_check,    // `may_rename` said no: the file is as it was
};
// Puts `bytes` in place of the file in one step: written to a temporary file beside it (its name and
// TEMPORARY_SUFFIX, made afresh so that nothing planted at that name is written through), flushed to
// the disk, given the attributes or permission bits of `model` (the read-only attribute aside), and,
// once `may_rename` (called immediately before) agrees, renamed over it, the folder flushed too. A
// symbolic link at the path is replaced itself. Nothing is left behind unless the process dies on
// the way.
ReplaceOutcome replace_file_durably(const Text& path, std::string_view bytes, const Text& model,
                                    const std::function<bool()>& may_rename);
// False when the file has the read-only attribute, or its permission bits refuse this user writing.
bool is_writable(const Text& path);

bool change_current_folder(const Text& path);
// The current folder as the system gives it (a closing separator only at a root); empty on failure.
Text read_current_folder();
// The separator that closes the folder paths the library returns.
char16_t closing_separator();

// A well-known user folder with a closing separator; the empty Text for unknown ids.
Text user_folder(std::int32_t id);

}  // namespace files::folder_system
