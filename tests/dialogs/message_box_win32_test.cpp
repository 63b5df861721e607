#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <set>
#include <thread>

#include "dialogs/dialogs.h"
#include "dialogs/dialogs_win32.h"
#include "tests/dialogs/dialog_robot_win32.h"

namespace {

using namespace dialog_robot;
using dialogs::ThreadWindowRecord;

// What the robot saw of one message box.
struct SeenBox {
  bool found = false;
  std::wstring title;
  std::wstring text;
  std::vector<int> buttons;  // ids of the visible buttons, sorted
  int default_button = 0;
  HICON icon = nullptr;
  HWND owner = nullptr;
};

void look_at_box(HWND box, SeenBox& seen) {
  seen.found = true;
  seen.title = window_text(box);
  seen.text = window_text(GetDlgItem(box, 0xFFFF));
  seen.owner = GetWindow(box, GW_OWNER);
  for (HWND child : child_windows(box)) {
    if (has_class(child, L"Button") && IsWindowVisible(child)) {
      seen.buttons.push_back(GetDlgCtrlID(child));
      if ((style(child) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) seen.default_button = GetDlgCtrlID(child);
    } else if (has_class(child, L"Static") && (style(child) & SS_TYPEMASK) == SS_ICON) {
      seen.icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
    }
  }
  std::sort(seen.buttons.begin(), seen.buttons.end());
}

class MessageBoxTest : public ::testing::Test {
 protected:
  void SetUp() override { dialogs::init_dialogs(); }
};

TEST_F(MessageBoxTest, ShowsTheFlagsButtonsAndIconAndEnterAnswersWithTheDefaultButton) {
  struct Case {
    std::uint32_t flags;
    std::vector<int> buttons;
    int default_button;
    const wchar_t* icon;
  };
  const Case cases[] = {
      {308, {IDYES, IDNO}, IDNO, IDI_WARNING},
      {52, {IDYES, IDNO}, IDYES, IDI_WARNING},
      {16, {IDOK}, IDOK, IDI_ERROR},
      {64, {IDOK}, IDOK, IDI_INFORMATION},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flags);
    SeenBox seen;
    const auto answer =
        run_with_robot([&] { return dialogs::show_message_box(u"Quillbrook", u"Update 3 manifests?", c.flags); },
                       [&](DWORD thread) {
                         HWND box = wait_for_window(thread, L"#32770");
                         if (!box) return;
                         look_at_box(box, seen);
                         press_key(wait_for_focus_in(thread, box), VK_RETURN);
                         wait_gone(box);
                       });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.title, L"Quillbrook");
    EXPECT_EQ(seen.text, L"Update 3 manifests?");
    EXPECT_EQ(seen.buttons, c.buttons);
    EXPECT_EQ(seen.default_button, c.default_button);
    EXPECT_EQ(seen.icon, LoadIconW(nullptr, c.icon));
    EXPECT_EQ(seen.owner, nullptr) << "no window of the program is in the foreground";
    EXPECT_EQ(answer, c.default_button);
  }
}

TEST_F(MessageBoxTest, ReturnsTheIdOfTheButtonClicked) {
  struct Case {
    std::uint32_t flags;
    int button;
  };
  for (const auto& c : {Case{308, IDYES}, Case{52, IDNO}, Case{308, IDNO}, Case{64, IDOK}}) {
    SCOPED_TRACE(c.flags);
    const auto answer = run_with_robot([&] { return dialogs::show_message_box(u"title", u"text", c.flags); },
                                       [&](DWORD thread) {
                                         HWND box = wait_for_window(thread, L"#32770");
                                         if (!box) return;
                                         wait_for_focus_in(thread, box);
                                         click(GetDlgItem(box, c.button));
                                         wait_gone(box);
                                       });
    EXPECT_EQ(answer, c.button);
  }
}

// The windows the mechanism must tell apart, all of this thread except one.
struct ThreadWindows {
  TestWindow plain;
  TestWindow foreground;
  TestWindow disabled;
  TestWindow topmost{WS_EX_TOPMOST};
  TestWindow hidden{0, false};

  ThreadWindows() {
    EnableWindow(disabled.get(), FALSE);
    SetForegroundWindow(foreground.get());
    pump_messages();
  }
};

// A visible enabled window of a second thread, which keeps its message loop running until the end.
class OtherThreadWindow {
 public:
  OtherThreadWindow() {
    std::promise<HWND> made;
    auto window = made.get_future();
    thread_ = std::thread([this, &made] {
      TestWindow own;
      thread_id_ = GetCurrentThreadId();
      made.set_value(own.get());
      MSG message;
      while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    });
    window_ = window.get();
  }
  ~OtherThreadWindow() {
    PostThreadMessageW(thread_id_, WM_QUIT, 0, 0);
    thread_.join();
  }
  HWND get() const { return window_; }

 private:
  std::thread thread_;
  DWORD thread_id_ = 0;
  HWND window_ = nullptr;
};

TEST(ModalState, DisablesTheThreadsVisibleWindowsAndPutsThemBack) {
  OtherThreadWindow other;
  ThreadWindows windows;
  ASSERT_EQ(GetForegroundWindow(), windows.foreground.get());
  ASSERT_EQ(dialogs::find_owner_window(), windows.foreground.get());
  const DWORD thread = GetCurrentThreadId();

  dialogs::disable_thread_windows();
  const auto records = records_of(thread);
  EXPECT_FALSE(IsWindowEnabled(windows.plain.get()));
  EXPECT_TRUE(IsWindowEnabled(windows.foreground.get())) << "the foreground window stays enabled";
  EXPECT_FALSE(IsWindowEnabled(windows.disabled.get()));
  EXPECT_FALSE(IsWindowEnabled(windows.topmost.get()));
  EXPECT_FALSE(is_topmost(windows.topmost.get())) << "out of the topmost band during the dialog";
  EXPECT_TRUE(IsWindowEnabled(windows.hidden.get()));
  EXPECT_TRUE(IsWindowEnabled(other.get()));
  dialogs::restore_thread_windows();

  auto record_of = [&](HWND window) {
    auto found = std::find_if(records.begin(), records.end(), [&](const auto& r) { return r.window == window; });
    return found == records.end() ? ThreadWindowRecord{} : *found;
  };
  struct Expected {
    HWND window;
    bool recorded, was_topmost, disabled_here;
  };
  const Expected expected[] = {
      {windows.plain.get(), true, false, true},     {windows.foreground.get(), true, false, false},
      {windows.disabled.get(), true, false, false}, {windows.topmost.get(), true, true, true},
      {windows.hidden.get(), false, false, false},  {other.get(), false, false, false},
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(window_text(e.window));
    const auto record = record_of(e.window);
    EXPECT_EQ(record.window != nullptr, e.recorded);
    EXPECT_EQ(record.was_topmost, e.was_topmost);
    EXPECT_EQ(record.disabled_here, e.disabled_here);
  }
  EXPECT_EQ(records.size(), 4u);

  EXPECT_TRUE(IsWindowEnabled(windows.plain.get()));
  EXPECT_TRUE(IsWindowEnabled(windows.foreground.get()));
  EXPECT_FALSE(IsWindowEnabled(windows.disabled.get())) << "a window disabled before stays disabled";
  EXPECT_TRUE(IsWindowEnabled(windows.topmost.get()));
  EXPECT_TRUE(is_topmost(windows.topmost.get())) << "back in the topmost band";
  EXPECT_TRUE(IsWindowEnabled(other.get()));
  EXPECT_TRUE(dialogs::thread_window_records().empty());
}

TEST(ModalState, RestoringForgetsEveryRecordOfTheThreadAlsoOfAnEarlierDisable) {
  TestWindow foreground;
  TestWindow first;
  SetForegroundWindow(foreground.get());
  dialogs::disable_thread_windows();
  TestWindow second;
  SetForegroundWindow(foreground.get());
  dialogs::disable_thread_windows();
  EXPECT_FALSE(IsWindowEnabled(first.get()));
  EXPECT_FALSE(IsWindowEnabled(second.get()));
  dialogs::restore_thread_windows();
  EXPECT_TRUE(IsWindowEnabled(first.get()));
  EXPECT_TRUE(IsWindowEnabled(second.get()));
  EXPECT_TRUE(dialogs::thread_window_records().empty());
}

TEST(ModalState, AThreadRestoresOnlyItsOwnRecords) {
  std::promise<void> disabled, restored_here;
  auto disabled_done = disabled.get_future();
  std::promise<bool> kept_while_other_restored;
  auto kept = kept_while_other_restored.get_future();
  std::promise<bool> enabled_at_end;
  auto enabled = enabled_at_end.get_future();
  std::thread other([&] {
    TestWindow own;
    TestWindow foreground;
    dialogs::disable_thread_windows();
    const bool own_disabled = !IsWindowEnabled(own.get());
    disabled.set_value();
    restored_here.get_future().wait();
    kept_while_other_restored.set_value(own_disabled && records_of(GetCurrentThreadId()).size() == 2 &&
                                        !IsWindowEnabled(own.get()));
    dialogs::restore_thread_windows();
    enabled_at_end.set_value(IsWindowEnabled(own.get()) != FALSE);
  });
  disabled_done.wait();
  dialogs::restore_thread_windows();
  restored_here.set_value();
  EXPECT_TRUE(kept.get()) << "another thread's record and window are left as they are";
  EXPECT_TRUE(enabled.get());
  other.join();
  EXPECT_TRUE(dialogs::thread_window_records().empty());
}

TEST_F(MessageBoxTest, IsOwnedByTheForegroundWindowAndDisablesTheThreadsOtherWindows) {
  ThreadWindows windows;
  bool plain_disabled = false, topmost_left_band = false;
  HWND owner = nullptr;
  std::size_t records_during = 0;
  const auto answer = run_with_robot([&] { return dialogs::show_message_box(u"title", u"text", 64); },
                                     [&](DWORD thread) {
                                       HWND box = wait_for_window(thread, L"#32770");
                                       if (!box) return;
                                       owner = GetWindow(box, GW_OWNER);
                                       plain_disabled = !IsWindowEnabled(windows.plain.get());
                                       topmost_left_band = !is_topmost(windows.topmost.get());
                                       records_during = records_of(thread).size();
                                       press_key(wait_for_focus_in(thread, box), VK_RETURN);
                                       wait_gone(box);
                                     });
  EXPECT_EQ(answer, IDOK);
  EXPECT_EQ(owner, windows.foreground.get());
  EXPECT_TRUE(plain_disabled);
  EXPECT_TRUE(topmost_left_band);
  EXPECT_EQ(records_during, 4u);
  EXPECT_TRUE(IsWindowEnabled(windows.plain.get()));
  EXPECT_TRUE(is_topmost(windows.topmost.get()));
  EXPECT_FALSE(IsWindowEnabled(windows.disabled.get()));
  EXPECT_TRUE(dialogs::thread_window_records().empty());
}

}  // namespace
