#pragma once

// Reading windows from outside, as a screen reader or a robot does, and waiting while the calling
// thread's messages (WinEvents among them) keep coming in. Shared by the dialog robot and the program
// driver.

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include "runtime/system_win32.h"

namespace window_reading {

// Handles whatever is waiting for the calling thread (its windows' messages, out-of-context WinEvents).
inline void pump_messages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// Waits for `condition`, pumping the calling thread's messages; false after the limit.
template <typename Condition>
bool wait_until(Condition condition, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    pump_messages();
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

inline std::wstring class_name(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

inline bool has_class(HWND window, const wchar_t* name) { return lstrcmpiW(class_name(window).c_str(), name) == 0; }

// A window's title or a control's text. (An edit field of another process answers only WM_GETTEXT.)
inline std::wstring window_text(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), length + 1)));
  return text;
}

inline std::u16string as_text(std::wstring_view text) { return runtime::text_from_wide(text); }

// Window enumeration calls back with the stdcall convention, which lambdas lack on 32-bit Windows.
inline BOOL CALLBACK collect_window(HWND window, LPARAM found) {
  reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
  return TRUE;
}

// Every descendant of a window, in creation order.
inline std::vector<HWND> child_windows(HWND parent) {
  std::vector<HWND> children;
  EnumChildWindows(parent, collect_window, reinterpret_cast<LPARAM>(&children));
  return children;
}

inline HWND find_child(HWND parent, const wchar_t* class_name_wanted) {
  for (HWND child : child_windows(parent))
    if (has_class(child, class_name_wanted)) return child;
  return nullptr;
}

// The control with the keyboard focus in a thread's windows.
inline HWND focused_window(DWORD thread) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

}  // namespace window_reading
