#include <windows.h>
// windows.h first: the shell headers build on its types.
#include <shlobj.h>

#include <cwchar>
#include <iterator>
#include <string>
#include <utility>

#include "files/file_handle.h"
#include "files/folder_system.h"
#include "files/held_files_win32.h"
#include "runtime/system_win32.h"

namespace files::folder_system {

namespace {

using runtime::UniqueCoTaskMemory;
using runtime::UniqueFind;
using runtime::UniqueModule;
using runtime::WideText;

Text text_of(const wchar_t* units) { return runtime::text_from_wide(units); }

FolderEntry entry_of(const WIN32_FIND_DATAW& data) {
  FolderEntry entry;
  entry.name = runtime::text_from_wide({data.cFileName, wcsnlen(data.cFileName, MAX_PATH)});
  entry.is_folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  entry.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  return entry;
}

class FindSearch final : public FolderSearch {
 public:
  explicit FindSearch(UniqueFind handle) : handle_(std::move(handle)) {}

  bool next_entry(FolderEntry& entry) override {
    // Read into a record of our own, so that the end of the search leaves the last entry in place.
    WIN32_FIND_DATAW data;
    if (!FindNextFileW(handle_.get(), &data)) return false;
    entry = entry_of(data);
    return true;
  }

 private:
  UniqueFind handle_;
};

// The Downloads known folder {374DE290-123F-4565-9164-39C4925E467B}.
constexpr GUID DOWNLOADS_FOLDER_ID = {0x374DE290, 0x123F, 0x4565, {0x91, 0x64, 0x39, 0xC4, 0x92, 0x5E, 0x46, 0x7B}};

using GetKnownFolderPath = HRESULT(WINAPI*)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*);

// The shell folder's path with a closing backslash, or the empty Text.
Text get_shell_folder_path(int csidl) {
  UniqueCoTaskMemory<PIDLIST_ABSOLUTE> items;
  if (SHGetFolderLocation(nullptr, csidl, nullptr, 0, items.put()) != S_OK) return {};
  wchar_t path[MAX_PATH + 1] = {};
  if (!SHGetPathFromIDListW(items.get(), path)) return {};
  Text folder = text_of(path);
  if (!folder.empty() && folder.back() != u'\\') folder.push_back(u'\\');
  return folder;
}

// Systems before Vista have no known folders, hence the look-up at run time.
Text get_downloads_folder() {
  UniqueModule shell(LoadLibraryW(L"Shell32.DLL"));
  if (shell) {
    FARPROC address = GetProcAddress(shell.get(), "SHGetKnownFolderPath");
    if (address) {
      auto get_known_folder_path = reinterpret_cast<GetKnownFolderPath>(reinterpret_cast<void*>(address));
      UniqueCoTaskMemory<PWSTR> path;
      if (get_known_folder_path(DOWNLOADS_FOLDER_ID, 0, nullptr, path.put()) == S_OK) {
        Text folder = text_of(path.get());
        folder.push_back(u'\\');
        return folder;
      }
    }
  }
  return get_shell_folder_path(CSIDL_PROFILE) + u"Downloads\\";
}

}  // namespace

SearchStart start_search(const Text& path) {
  SearchStart start;
  WIN32_FIND_DATAW data;
  UniqueFind handle(FindFirstFileW(WideText(path).get(), &data));
  if (!handle) {
    start.outcome = GetLastError() == ERROR_FILE_NOT_FOUND ? SearchOutcome::nothing_matched : SearchOutcome::failed;
    return start;
  }
  start.outcome = SearchOutcome::found;
  start.first = entry_of(data);
  start.search = std::make_unique<FindSearch>(std::move(handle));
  return start;
}

bool has_drive_letters() { return true; }

bool is_known_drive(const Text& root) { return GetDriveTypeW(WideText(root).get()) > DRIVE_NO_ROOT_DIR; }

std::optional<bool> read_is_folder(const Text& path) {
  DWORD attributes = GetFileAttributesW(WideText(path).get());
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool make_folder(const Text& path) { return CreateDirectoryW(WideText(path).get(), nullptr) != 0; }

namespace {

// Removes what was left at the temporary name, a link itself rather than its target. A read-only file
// there is removed too; anything else (a folder) stays, and the new file cannot be made. The error of
// a removal that failed, else 0.
DWORD remove_left_file(const wchar_t* name) {
  if (DeleteFileW(name)) return 0;
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND) return 0;
  const DWORD attributes = GetFileAttributesW(name);
  constexpr DWORD NOT_A_PLAIN_FILE = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  if (error != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_READONLY) == 0 || (attributes & NOT_A_PLAIN_FILE) != 0)
    return error;
  return SetFileAttributesW(name, attributes & ~FILE_ATTRIBUTE_READONLY) && DeleteFileW(name) ? 0 : GetLastError();
}

}  // namespace

bool remove_file_waiting(const SystemName& name) noexcept {
  return retry_while_held(name.c_str(),
                          [&] { return DeleteFileW(name.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND; });
}

ReplaceOutcome replace_file_durably(const Text& path, std::string_view bytes, const Text& model,
                                    const std::function<bool()>& still_expected) {
  const WideText target(path), temporary_name(path + Text(TEMPORARY_SUFFIX));
  constexpr DWORD KEPT =
      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  DWORD attributes = GetFileAttributesW(WideText(model).get());
  attributes =
      attributes == INVALID_FILE_ATTRIBUTES || (attributes & KEPT) == 0 ? FILE_ATTRIBUTE_NORMAL : attributes & KEPT;
  SystemName owned_name(temporary_name.get());
  // CREATE_NEW once the name is free: a link or file planted at it in between makes the call fail
  // rather than be written through.
  HANDLE created = INVALID_HANDLE_VALUE;
  const bool made = retry_while_held(temporary_name.get(), [&] {
    const DWORD left = remove_left_file(temporary_name.get());
    created = CreateFileW(temporary_name.get(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
    // Another program's hold on what was left there is what to wait for, not the name being taken.
    if (created == INVALID_HANDLE_VALUE && left != 0 && GetLastError() == ERROR_FILE_EXISTS) SetLastError(left);
    return created != INVALID_HANDLE_VALUE;
  });
  if (!made) {
    // Only a folder that takes no new file at all answers "access denied" with the name still free.
    const bool refused = GetLastError() == ERROR_ACCESS_DENIED &&
                         GetFileAttributesW(temporary_name.get()) == INVALID_FILE_ATTRIBUTES &&
                         GetLastError() == ERROR_FILE_NOT_FOUND;
    return refused ? ReplaceOutcome::folder_refused : ReplaceOutcome::failed;
  }
  TemporaryFile temporary(std::move(owned_name), FileHandle(reinterpret_cast<std::intptr_t>(created)));
  bool written = write_to_handle(temporary.file(), bytes.data(), bytes.size()) == bytes.size() &&
                 FlushFileBuffers(reinterpret_cast<HANDLE>(temporary.file().native()));
  written = temporary.close() && written;
  if (!written) return ReplaceOutcome::failed;
  // MoveFileExW rather than ReplaceFileW: one rename that either happens or not, and the write-through
  // flag has it on the disk before the call returns; ReplaceFileW can fail half-way with the old file
  // moved aside (ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) and offers no write-through. The attributes that
  // ReplaceFileW would carry over are given to the temporary file above.
  // The check comes with every try, since a program that holds the file may save it before letting
  // go. The file cannot stay open from the check to the rename: MoveFileExW refuses to replace a file
  // that any handle holds, whatever its share mode.
  bool changed = false;
  const bool renamed = retry_while_held(target.get(), [&] {
    if (!still_expected()) {
      changed = true;
      SetLastError(NO_ERROR);
      return false;
    }
    return MoveFileExW(temporary_name.get(), target.get(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  });
  if (changed) return ReplaceOutcome::changed;
  if (!renamed) return ReplaceOutcome::failed;
  temporary.renamed();
  return ReplaceOutcome::replaced;
}

bool is_writable(const Text& path) {
  DWORD attributes = GetFileAttributesW(WideText(path).get());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

bool change_current_folder(const Text& path) { return SetCurrentDirectoryW(WideText(path).get()) != 0; }

Text read_current_folder() {
  wchar_t space[MAX_PATH];
  DWORD length = GetCurrentDirectoryW(MAX_PATH, space);
  if (length == 0) return {};
  if (length < MAX_PATH) return runtime::text_from_wide({space, length});
  // A deeper folder does not fit the usual space: the call told us the size it needs.
  std::wstring larger(length, L'\0');
  length = GetCurrentDirectoryW(static_cast<DWORD>(larger.size()), larger.data());
  if (length == 0 || length >= larger.size()) return {};
  return runtime::text_from_wide({larger.data(), length});
}

char16_t closing_separator() { return u'\\'; }

Text user_folder(std::int32_t id) {
  constexpr int CSIDLS[] = {CSIDL_DESKTOP,         CSIDL_PROGRAM_FILES, -1,
                            CSIDL_PERSONAL,        CSIDL_APPDATA,       CSIDL_COMMON_APPDATA,
                            CSIDL_MYVIDEO,         CSIDL_MYMUSIC,       CSIDL_MYPICTURES,
                            CSIDL_COMMON_DOCUMENTS};
  if (id < 0 || id >= static_cast<std::int32_t>(std::size(CSIDLS))) return {};
  if (id == 2) return get_downloads_folder();
  return get_shell_folder_path(CSIDLS[id]);
}

}  // namespace files::folder_system
