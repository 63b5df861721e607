#pragma once

// The Windows dialogs' private pieces: the modal-state mechanism shared by every dialog,
// and the input dialog's ids. Tests include this header to drive the mechanism directly.

#include <windows.h>

#include <cstdint>
#include <vector>

#include "dialogs/dialogs.h"
#include "runtime/system_win32.h"

namespace dialogs {

using runtime::ScopeExit;
using runtime::UniqueAccelerators;
using runtime::UniqueModule;
using runtime::WideText;

// One top-level window that disable_thread_windows looked at and kept.
struct ThreadWindowRecord {
  DWORD thread = 0;
  HWND window = nullptr;
  bool was_topmost = false;
  bool disabled_here = false;
};

// The window a new dialog is to be owned by: the foreground window when it belongs to this process.
HWND find_owner_window();

// Before a modal dialog: records the calling thread's visible top-level windows, disables those that are
// enabled (except the foreground window) and takes the topmost ones out of the topmost band.
void disable_thread_windows();

// After the dialog: puts back and forgets every record of the calling thread, newest first.
void restore_thread_windows();

// A copy of the process-wide record list, newest first.
std::vector<ThreadWindowRecord> thread_window_records();

// The input dialog's control and command ids.
inline constexpr int ID_INPUT_EDIT = 10;
inline constexpr int ID_INPUT_OK = 1000;
inline constexpr int ID_INPUT_CANCEL = 1001;

// The folder browser's callback: selects the initial folder (data) once the browser is up.
int CALLBACK browse_callback(HWND window, UINT message, LPARAM parameter, LPARAM data);

}  // namespace dialogs
