#pragma once

// A robot that works the dialogs as a user would, from a second thread of the test program, while the
// dialog runs on the test's own thread. It only reads windows and posts input; the test asserts on what
// it saw once the dialog has returned.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "dialogs/dialogs_win32.h"
#include "tests/support/window_reading_win32.h"

namespace dialog_robot {

using namespace std::chrono_literals;

using window_reading::as_text;
using window_reading::child_windows;
using window_reading::class_name;
using window_reading::find_child;
using window_reading::focused_window;
using window_reading::has_class;
using window_reading::pump_messages;
using window_reading::window_text;

// Generous: a dialog under a cold Wine session can take a few seconds to come up.
inline constexpr std::chrono::milliseconds DEADLINE = 15s;

template <typename Condition>
bool wait_until(Condition condition, std::chrono::milliseconds limit = DEADLINE) {
  return window_reading::wait_until(condition, limit);
}

inline LONG style(HWND window) { return GetWindowLongW(window, GWL_STYLE); }
inline LONG extended_style(HWND window) { return GetWindowLongW(window, GWL_EXSTYLE); }

// The visible top-level windows of a thread.
inline std::vector<HWND> thread_windows(DWORD thread) {
  std::vector<HWND> windows;
  EnumThreadWindows(thread, window_reading::collect_window, reinterpret_cast<LPARAM>(&windows));
  std::erase_if(windows, [](HWND window) { return !IsWindowVisible(window); });
  return windows;
}

// Waits for a visible top-level window of the thread with the given class; null after the deadline.
inline HWND wait_for_window(DWORD thread, const wchar_t* class_name_wanted) {
  HWND found = nullptr;
  wait_until([&] {
    for (HWND window : thread_windows(thread))
      if (has_class(window, class_name_wanted)) found = window;
    return found != nullptr;
  });
  return found;
}

// Waits until the keyboard focus is on a control of the dialog, so that posted keys reach it.
inline HWND wait_for_focus_in(DWORD thread, HWND dialog) {
  HWND focus = nullptr;
  wait_until([&] {
    focus = focused_window(thread);
    return focus && IsChild(dialog, focus);
  });
  return focus;
}

// Posting to a null window would post to the robot's own thread instead, so null targets are skipped.
inline void press_key(HWND target, WORD key) {
  if (!target) return;
  const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16;
  PostMessageW(target, WM_KEYDOWN, key, 1 | scan);
  PostMessageW(target, WM_KEYUP, key, 1 | scan | (LPARAM{1} << 30) | (LPARAM{1} << 31));
}

inline void type_text(HWND target, std::wstring_view text) {
  if (!target) return;
  for (wchar_t unit : text) PostMessageW(target, WM_CHAR, unit, 1);
}

inline void click(HWND button) {
  if (button) PostMessageW(button, BM_CLICK, 0, 0);
}

inline bool wait_gone(HWND window) {
  return wait_until([&] { return !IsWindow(window) || !IsWindowVisible(window); });
}

// Runs dialog() on the calling thread while robot(thread) acts from a second thread. Should the robot
// leave a dialog open (a failed step), the dialog is closed after the deadline so the test fails rather
// than hangs.
template <typename Dialog, typename Robot>
auto run_with_robot(Dialog dialog, Robot robot) {
  const DWORD thread = GetCurrentThreadId();
  std::atomic<bool> finished{false};
  std::thread helper([&] {
    robot(thread);
    if (wait_until([&] { return finished.load(); })) return;
    for (HWND window : thread_windows(thread))
      if (has_class(window, L"#32770") || has_class(window, L"InputRequester")) PostMessageW(window, WM_CLOSE, 0, 0);
  });
  auto result = dialog();
  finished = true;
  helper.join();
  return result;
}

// A plain top-level window of the calling thread, destroyed with its owner object.
class TestWindow {
 public:
  explicit TestWindow(DWORD extended_style = 0, bool visible = true) {
    static const ATOM window_class = [] {
      WNDCLASSEXW description{};
      description.cbSize = sizeof description;
      description.lpfnWndProc = DefWindowProcW;
      description.hInstance = GetModuleHandleW(nullptr);
      description.lpszClassName = L"QuillbrookTestWindow";
      return RegisterClassExW(&description);
    }();
    window_ = CreateWindowExW(extended_style, MAKEINTATOM(window_class), L"test window",
                              WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0), 20, 20, 200, 100, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;
  ~TestWindow() {
    if (window_) DestroyWindow(window_);
  }
  HWND get() const { return window_; }

 private:
  HWND window_ = nullptr;
};

inline bool is_topmost(HWND window) { return (extended_style(window) & WS_EX_TOPMOST) != 0; }

// The records of one thread, newest first.
inline std::vector<dialogs::ThreadWindowRecord> records_of(DWORD thread) {
  std::vector<dialogs::ThreadWindowRecord> mine;
  for (const auto& record : dialogs::thread_window_records())
    if (record.thread == thread) mine.push_back(record);
  return mine;
}

}  // namespace dialog_robot
