#pragma once

#include <windows.h>

#include <algorithm>

// On users' machines a virus scanner, the search indexer or a sync tool often opens a file for a
// moment right after it is written, or while it is read. Such a hold fails an open or a rename with a
// sharing or lock violation, or with "access denied"; it passes within a second or so.
namespace files {

// True when `error` can be another program's brief hold on `path`: a sharing or lock violation, or
// access denied where the path is neither read-only nor a folder (or is a file about to be deleted).
inline bool is_held_by_another_program(DWORD error, const wchar_t* path) {
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
  if (error != ERROR_ACCESS_DENIED) return false;
  const DWORD attributes = GetFileAttributesW(path);
  // A file that another program still holds after its deletion cannot even be asked for its attributes.
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_ACCESS_DENIED;
  return (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

// Runs `step` (true on success) again while it fails because another program holds `path`, after
// pauses that grow from 10 ms to about a second in all. The last error afterwards is the step's.
template <typename Step>
bool retry_while_held(const wchar_t* path, Step step) {
  constexpr DWORD TOTAL_PAUSE_MS = 1000;
  DWORD paused = 0;
  for (DWORD pause = 10;; pause *= 2) {
    if (step()) return true;
    const DWORD error = GetLastError();
    if (paused >= TOTAL_PAUSE_MS || !is_held_by_another_program(error, path)) {
      SetLastError(error);
      return false;
    }
    const DWORD now = std::min(pause, TOTAL_PAUSE_MS - paused);
    Sleep(now);
    paused += now;
  }
}

}  // namespace files
