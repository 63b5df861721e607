#include <windows.h>
// The headers below need the declarations of windows.h.
#include <commctrl.h>
#include <objbase.h>

#include "dialogs/dialogs_win32.h"
#include "texts/catalogue.h"

namespace dialogs {

// The flags and ids pass straight through to and from MessageBoxW.
static_assert(MESSAGE_OK == MB_OK && MESSAGE_YES_NO == MB_YESNO);
static_assert(MESSAGE_ICON_ERROR == MB_ICONERROR && MESSAGE_ICON_WARNING == MB_ICONWARNING);
static_assert(MESSAGE_ICON_INFORMATION == MB_ICONINFORMATION && MESSAGE_DEFAULT_BUTTON_2 == MB_DEFBUTTON2);
static_assert(BUTTON_OK == IDOK && BUTTON_YES == IDYES && BUTTON_NO == IDNO);

namespace {
constexpr DWORD COMMON_CONTROL_CLASSES =
    ICC_TAB_CLASSES | ICC_HOTKEY_CLASS | ICC_DATE_CLASSES | ICC_USEREX_CLASSES | ICC_INTERNET_CLASSES;
static_assert(COMMON_CONTROL_CLASSES == 0xB48);
}  // namespace

void init_dialogs() {
  INITCOMMONCONTROLSEX classes{8, COMMON_CONTROL_CLASSES};
  static_assert(sizeof classes == 8);
  InitCommonControlsEx(&classes);
  CoInitialize(nullptr);
}

std::int32_t show_message_box(TextView title, TextView text, std::uint32_t flags) {
  const WideText wide_title(title);
  const WideText wide_text(text);
  HWND owner = find_owner_window();
  disable_thread_windows();
  ScopeExit restore([] { restore_thread_windows(); });
  // A language written from right to left is read and aligned that way, title and buttons included.
  if (texts::is_right_to_left()) flags |= MB_RTLREADING | MB_RIGHT;
  return MessageBoxW(owner, wide_text.get(), wide_title.get(), flags);
}

}  // namespace dialogs
