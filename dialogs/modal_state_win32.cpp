#include <list>
#include <mutex>
#include <new>
#include <vector>

#include "dialogs/dialogs_win32.h"

namespace dialogs {

namespace {

// Every thread of the process shares one list; each record says which thread made it. The lock guards
// the list only: windows are touched outside it, since EnableWindow and SetWindowPos send messages.
std::mutex records_lock;
std::list<ThreadWindowRecord> records;

void set_topmost(HWND window, bool topmost) {
  SetWindowPos(window, topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}

BOOL CALLBACK record_thread_window(HWND window, LPARAM) {
  const DWORD thread = GetCurrentThreadId();
  if (GetWindowThreadProcessId(window, nullptr) != thread || !IsWindowVisible(window)) return TRUE;

  const bool topmost = (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  const bool disable = window != GetForegroundWindow() && IsWindowEnabled(window);
  try {
    std::lock_guard lock(records_lock);
    records.push_front(ThreadWindowRecord{thread, window, topmost, disable});
  } catch (const std::bad_alloc&) {
    return TRUE;  // without a record the window could not be put back, so it is left alone
  }
  if (disable) EnableWindow(window, FALSE);
  return TRUE;
}

}  // namespace

HWND find_owner_window() {
  HWND window = GetForegroundWindow();
  if (!window) return nullptr;
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return process == GetCurrentProcessId() ? window : nullptr;
}

void disable_thread_windows() {
  EnumWindows(record_thread_window, 0);

  const DWORD thread = GetCurrentThreadId();
  std::vector<HWND> topmost;
  {
    std::lock_guard lock(records_lock);
    for (const auto& record : records)
      if (record.thread == thread && record.was_topmost) topmost.push_back(record.window);
  }
  for (HWND window : topmost) set_topmost(window, false);
}

void restore_thread_windows() {
  const DWORD thread = GetCurrentThreadId();
  std::list<ThreadWindowRecord> mine;
  {
    std::lock_guard lock(records_lock);
    for (auto it = records.begin(); it != records.end();) {
      auto next = std::next(it);
      if (it->thread == thread) mine.splice(mine.end(), records, it);
      it = next;
    }
  }
  for (const auto& record : mine) {
    if (record.disabled_here) EnableWindow(record.window, TRUE);
    if (record.was_topmost) set_topmost(record.window, true);
  }
}

std::vector<ThreadWindowRecord> thread_window_records() {
  std::lock_guard lock(records_lock);
  return {records.begin(), records.end()};
}

}  // namespace dialogs
