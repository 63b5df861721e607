#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialogs/dialogs.h"
#include "dialogs/dialogs_win32.h"
#include "tests/dialogs/dialog_robot_win32.h"
#include "texts/catalogue.h"

namespace {

using namespace dialog_robot;
using dialogs::ID_INPUT_EDIT;
using dialogs::ID_INPUT_OK;

struct SeenControl {
  std::wstring class_name;
  int id = -1;
  std::wstring text;
  LONG style = 0;
  LONG extended_style = 0;
  RECT place{};  // in the dialog's client area
  LOGFONTW font{};
  HFONT font_handle = nullptr;
};

struct SeenDialog {
  bool found = false;
  std::wstring caption;
  RECT outer{};
  LONG style = 0;
  std::vector<SeenControl> controls;
  bool focus_in_edit = false;
  DWORD selection_start = 0, selection_end = 0;
  bool focus_on_button_after_tab = false;
  bool focus_back_in_edit_on_activation = false;
};

SeenControl look_at_control(HWND dialog, HWND child) {
  SeenControl seen;
  seen.class_name = class_name(child);
  seen.id = GetDlgCtrlID(child);
  seen.text = window_text(child);
  seen.style = style(child);
  seen.extended_style = extended_style(child);
  GetWindowRect(child, &seen.place);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&seen.place), 2);
  seen.font_handle = reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0));
  GetObjectW(seen.font_handle, sizeof seen.font, &seen.font);
  return seen;
}

// The window shows before its children exist: wait until they are all there and the edit field has the focus.
HWND wait_for_input_dialog(DWORD thread) {
  HWND dialog = wait_for_window(thread, L"InputRequester");
  if (!dialog) return nullptr;
  const bool ready = wait_until([&] {
    HWND edit = GetDlgItem(dialog, ID_INPUT_EDIT);
    return edit && GetDlgItem(dialog, ID_INPUT_OK) && focused_window(thread) == edit;
  });
  return ready ? dialog : nullptr;
}

LOGFONTW message_font() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = 500;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, 500, &metrics, 0);
  return metrics.lfMessageFont;
}

class InputDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { dialogs::init_dialogs(); }
};

TEST_F(InputDialogTest, IsACentredFixedWindowWithALabelAnEditFieldAndAnOkButton) {
  SeenDialog seen;
  const auto answer =
      run_with_robot([] { return dialogs::ask_text(u"version", u"Type the version, such as 2036.1.1", u"2036.1"); },
                     [&](DWORD thread) {
                       HWND dialog = wait_for_input_dialog(thread);
                       if (!dialog) return;
                       seen.found = true;
                       seen.caption = window_text(dialog);
                       seen.style = style(dialog);
                       GetWindowRect(dialog, &seen.outer);
                       for (HWND child : child_windows(dialog)) seen.controls.push_back(look_at_control(dialog, child));
                       HWND edit = GetDlgItem(dialog, ID_INPUT_EDIT);
                       seen.focus_in_edit = focused_window(thread) == edit;
                       SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&seen.selection_start),
                                    reinterpret_cast<LPARAM>(&seen.selection_end));
                       HWND button = GetDlgItem(dialog, ID_INPUT_OK);
                       press_key(edit, VK_TAB);
                       seen.focus_on_button_after_tab = wait_until([&] { return focused_window(thread) == button; });
                       SendMessageW(dialog, WM_ACTIVATE, WA_ACTIVE, 0);
                       seen.focus_back_in_edit_on_activation = focused_window(thread) == edit;
                       press_key(focused_window(thread), VK_RETURN);
                       wait_gone(dialog);
                     });

  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.caption, L"version");
  EXPECT_EQ(seen.style & (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX),
            WS_CAPTION | WS_SYSMENU);
  const RECT centred_on_1920_by_1080{810, 475, 810 + 300, 475 + 130};
  EXPECT_TRUE(EqualRect(&seen.outer, &centred_on_1920_by_1080))
      << seen.outer.left << "," << seen.outer.top << " " << seen.outer.right - seen.outer.left << "x"
      << seen.outer.bottom - seen.outer.top;

  struct Expected {
    const wchar_t* class_name;
    int id;
    const wchar_t* text;
    LONG style;
    LONG extended_style;
    RECT place;
  };
  // The controls keep their creation styles; the edit field gains only the border of its client edge.
  const Expected expected[] = {
      {L"Static", 0, L"Type the version, such as 2036.1.1", 0x5000000B, 0, {10, 10, 290, 32}},
      {L"Edit", ID_INPUT_EDIT, L"2036.1", 0x50010080, WS_EX_CLIENTEDGE, {10, 32, 285, 53}},
      {L"Button", ID_INPUT_OK, L"OK", 0x50010001, 0, {110, 67, 190, 92}},
  };
  ASSERT_EQ(seen.controls.size(), std::size(expected));
  const LOGFONTW font = message_font();
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const auto& control = seen.controls[i];
    const auto& e = expected[i];
    SCOPED_TRACE(e.class_name);
    EXPECT_EQ(lstrcmpiW(control.class_name.c_str(), e.class_name), 0) << control.class_name;
    EXPECT_EQ(control.id, e.id);
    EXPECT_EQ(control.text, e.text);
    EXPECT_EQ(control.style, e.style) << std::hex << control.style;
    EXPECT_EQ(control.extended_style & ~WS_EX_NOPARENTNOTIFY, e.extended_style) << std::hex << control.extended_style;
    EXPECT_TRUE(EqualRect(&control.place, &e.place))
        << control.place.left << "," << control.place.top << "," << control.place.right << "," << control.place.bottom;
    EXPECT_EQ(std::wstring(control.font.lfFaceName), std::wstring(font.lfFaceName)) << "the system's message font";
    EXPECT_EQ(control.font.lfHeight, font.lfHeight);
  }
  EXPECT_TRUE(seen.focus_in_edit);
  EXPECT_EQ(seen.selection_start, 6u) << "the caret after the default text, nothing selected";
  EXPECT_EQ(seen.selection_end, 6u);
  EXPECT_TRUE(seen.focus_on_button_after_tab);
  EXPECT_TRUE(seen.focus_back_in_edit_on_activation);
  EXPECT_EQ(answer, u"2036.1");
}

// From right to left the dialog is mirrored and its prompt reads and aligns that way; the edit field
// aligns right but reads from left to right, as the version does; the button speaks the language.
TEST_F(InputDialogTest, InALanguageWrittenFromRightToLeftTheDialogReadsThatWayButTheVersionDoesNot) {
  ASSERT_TRUE(texts::choose_language(u"ar"));
  struct Seen {
    LONG dialog_extended = 0;
    SeenControl label, edit, button;
  } seen;
  const auto answer = run_with_robot([] { return dialogs::ask_text(u"version", u"prompt", u"2036.1"); },
                                     [&](DWORD thread) {
                                       HWND dialog = wait_for_input_dialog(thread);
                                       if (!dialog) return;
                                       seen.dialog_extended = extended_style(dialog);
                                       const std::vector<HWND> children = child_windows(dialog);
                                       if (children.size() == 3) {
                                         seen.label = look_at_control(dialog, children[0]);
                                         seen.edit = look_at_control(dialog, children[1]);
                                         seen.button = look_at_control(dialog, children[2]);
                                       }
                                       press_key(focused_window(thread), VK_RETURN);
                                       wait_gone(dialog);
                                     });
  texts::choose_language(u"en");
  EXPECT_EQ(seen.dialog_extended & (WS_EX_LAYOUTRTL | WS_EX_NOINHERITLAYOUT), WS_EX_LAYOUTRTL | WS_EX_NOINHERITLAYOUT);
  EXPECT_EQ(seen.label.style & SS_TYPEMASK, SS_RIGHT);
  EXPECT_TRUE(seen.label.extended_style & WS_EX_RTLREADING);
  EXPECT_TRUE(seen.edit.style & ES_RIGHT);
  EXPECT_FALSE(seen.edit.extended_style & (WS_EX_RTLREADING | WS_EX_LAYOUTRTL));
  EXPECT_EQ(seen.button.text, L"\u0645\u0648\u0627\u0641\u0642");
  EXPECT_EQ(answer, u"2036.1");
}

enum class Action { enter, enter_at_button, click_ok, escape, escape_at_button, close_box };

TEST_F(InputDialogTest, ConfirmingReturnsTheFieldsTextAndCancellingTheEmptyText) {
  struct Case {
    const char16_t* default_text;
    const wchar_t* typed;
    Action action;
    std::u16string expected;
  };
  const Case cases[] = {
      {nullptr, L"2024.1.1", Action::enter, u"2024.1.1"},
      {u"", L"2024.2", Action::click_ok, u"2024.2"},
      {u"20", L"36.1", Action::enter, u"2036.1"},  // typing goes on after the default text
      {u"2036.1", L"", Action::enter_at_button, u"2036.1"},
      {u"", L"2024.3", Action::escape, u""},
      {u"", L"2024.4", Action::escape_at_button, u""},
      {u"2024.5", L"", Action::close_box, u""},
      {u"", L"", Action::click_ok, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.action));
    const dialogs::TextView default_text = c.default_text ? dialogs::TextView(c.default_text) : dialogs::TextView();
    const auto answer = run_with_robot([&] { return dialogs::ask_text(u"version", u"Which version?", default_text); },
                                       [&](DWORD thread) {
                                         HWND dialog = wait_for_input_dialog(thread);
                                         if (!dialog) return;
                                         HWND edit = GetDlgItem(dialog, ID_INPUT_EDIT);
                                         HWND button = GetDlgItem(dialog, ID_INPUT_OK);
                                         type_text(edit, c.typed);
                                         switch (c.action) {
                                           case Action::enter:
                                             press_key(edit, VK_RETURN);
                                             break;
                                           case Action::enter_at_button:
                                             press_key(button, VK_RETURN);
                                             break;
                                           case Action::click_ok:
                                             click(button);
                                             break;
                                           case Action::escape:
                                             press_key(edit, VK_ESCAPE);
                                             break;
                                           case Action::escape_at_button:
                                             press_key(button, VK_ESCAPE);
                                             break;
                                           case Action::close_box:
                                             PostMessageW(dialog, WM_CLOSE, 0, 0);
                                             break;
                                         }
                                         wait_gone(dialog);
                                       });
    EXPECT_EQ(answer, c.expected);
  }
}

TEST_F(InputDialogTest, DisablesItsOwnerAndTheThreadsWindowsWhileItIsOpen) {
  TestWindow plain;
  TestWindow owner;
  SetForegroundWindow(owner.get());
  pump_messages();
  ASSERT_EQ(GetForegroundWindow(), owner.get());

  HWND seen_owner = nullptr;
  bool owner_disabled = false, plain_disabled = false;
  const auto answer = run_with_robot([] { return dialogs::ask_text(u"version", u"Which version?", u"1.0"); },
                                     [&](DWORD thread) {
                                       HWND dialog = wait_for_input_dialog(thread);
                                       if (!dialog) return;
                                       seen_owner = GetWindow(dialog, GW_OWNER);
                                       owner_disabled = !IsWindowEnabled(owner.get());
                                       plain_disabled = !IsWindowEnabled(plain.get());
                                       press_key(GetDlgItem(dialog, ID_INPUT_EDIT), VK_RETURN);
                                       wait_gone(dialog);
                                     });
  EXPECT_EQ(answer, u"1.0");
  EXPECT_EQ(seen_owner, owner.get());
  EXPECT_TRUE(owner_disabled);
  EXPECT_TRUE(plain_disabled);
  EXPECT_TRUE(IsWindowEnabled(owner.get()));
  EXPECT_TRUE(IsWindowEnabled(plain.get()));
  EXPECT_TRUE(dialogs::thread_window_records().empty());
}

TEST_F(InputDialogTest, ASecondCallWorksWithTheSameClassAndFont) {
  std::vector<HFONT> fonts;
  for (const char16_t* typed : {u"first", u"second"}) {
    const auto answer = run_with_robot([] { return dialogs::ask_text(u"version", u"Which version?", {}); },
                                       [&](DWORD thread) {
                                         HWND dialog = wait_for_input_dialog(thread);
                                         if (!dialog) return;
                                         HWND edit = GetDlgItem(dialog, ID_INPUT_EDIT);
                                         fonts.push_back(reinterpret_cast<HFONT>(SendMessageW(edit, WM_GETFONT, 0, 0)));
                                         SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed));
                                         press_key(edit, VK_RETURN);
                                         wait_gone(dialog);
                                       });
    EXPECT_EQ(answer, typed);
  }
  ASSERT_EQ(fonts.size(), 2u);
  EXPECT_NE(fonts[0], nullptr);
  EXPECT_EQ(fonts[0], fonts[1]) << "the font is made once";
}

TEST_F(InputDialogTest, AQuitMessageCancelsTheDialogAndIsPassedOn) {
  TestWindow owner;
  SetForegroundWindow(owner.get());
  pump_messages();
  HWND dialog = nullptr;
  const auto answer = run_with_robot([] { return dialogs::ask_text(u"version", u"Which version?", u"typed"); },
                                     [&](DWORD thread) {
                                       dialog = wait_for_input_dialog(thread);
                                       if (!dialog) return;
                                       PostThreadMessageW(thread, WM_QUIT, 5, 0);
                                       wait_gone(dialog);
                                     });
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(answer, u"");
  EXPECT_FALSE(IsWindow(dialog));
  EXPECT_TRUE(IsWindowEnabled(owner.get()));
  EXPECT_TRUE(dialogs::thread_window_records().empty());
  MSG quit;
  ASSERT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(quit.wParam, 5u);
}

}  // namespace
