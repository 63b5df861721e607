#include <windows.h>
// The headers below need the declarations of windows.h.
#include <commctrl.h>
#include <gtest/gtest.h>
#include <shlobj.h>

#include <filesystem>
#include <string>

#include "dialogs/dialogs.h"
#include "dialogs/dialogs_win32.h"
#include "tests/dialogs/dialog_robot_win32.h"
#include "tests/support/test_support.h"

namespace {

using namespace dialog_robot;

std::wstring item_text(HWND tree, HTREEITEM item) {
  if (!item) return {};
  wchar_t text[MAX_PATH] = {};
  TVITEMW request{};
  request.mask = TVIF_TEXT;
  request.hItem = item;
  request.pszText = text;
  request.cchTextMax = MAX_PATH;
  SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&request));
  return text;
}

// The name of the folder the browser's tree has selected.
std::wstring selected_item_text(HWND tree) {
  return item_text(tree, reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0)));
}

// Opens a tree item and finds its child of the given name.
HTREEITEM child_named(HWND tree, LPARAM parent, const std::wstring& name) {
  SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, parent);
  for (auto item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, parent)); item;
       item = reinterpret_cast<HTREEITEM>(
           SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)))) {
    if (lstrcmpiW(item_text(tree, item).c_str(), name.c_str()) == 0) return item;
  }
  return nullptr;
}

struct SeenBrowser {
  bool found = false;
  std::wstring instruction;
  bool selected = false;
};

// Finds the browser, waits until its tree shows the wanted folder selected (asking for it with
// select() while it does not), then presses the button.
template <typename Select>
void choose_in_browser(DWORD thread, SeenBrowser& seen, const std::wstring& wanted, Select select, int button) {
  HWND browser = wait_for_window(thread, L"#32770");
  if (!browser) return;
  HWND tree = nullptr;
  if (!wait_until([&] { return (tree = find_child(browser, L"SysTreeView32")) != nullptr; })) return;
  seen.found = true;
  for (HWND child : child_windows(browser))
    if (has_class(child, L"Static") && IsWindowVisible(child) && seen.instruction.empty())
      seen.instruction = window_text(child);
  seen.selected = wait_until([&] {
    if (selected_item_text(tree) == wanted) return true;
    select(browser);
    return selected_item_text(tree) == wanted;
  });
  click(GetDlgItem(browser, button));
  wait_gone(browser);
}

class FolderChooserTest : public ::testing::Test {
 protected:
  void SetUp() override { dialogs::init_dialogs(); }
};

TEST_F(FolderChooserTest, OffersTheInitialFolderAndReturnsItWithOneClosingBackslash) {
  struct Case {
    std::u16string initial;
    const wchar_t* shown;  // the tree's name for it
    std::u16string expected;
  };
  const Case cases[] = {
      {u"C:\\windows\\", L"windows", u"C:\\windows\\"},
      {u"C:\\windows", L"windows", u"C:\\windows\\"},
      {u"C:\\", L" (C:)", u"C:\\"},  // a drive root keeps its one backslash
      {u"", L"My Computer", u""},    // no file-system path: nothing usable chosen
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.initial.begin(), c.initial.end()));
    SeenBrowser seen;
    const auto answer = run_with_robot([&] { return dialogs::choose_folder(u"NVDA addon directory", c.initial); },
                                       [&](DWORD thread) {
                                         choose_in_browser(
                                             thread, seen, c.shown, [](HWND) {}, IDOK);
                                       });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.instruction, L"NVDA addon directory");
    EXPECT_TRUE(seen.selected) << "the browser opened on the initial folder";
    EXPECT_EQ(answer, c.expected);
  }
}

TEST_F(FolderChooserTest, ReturnsTheFolderTheUserSelects) {
  test_support::ScopedTempDir dir;
  std::filesystem::create_directory(dir.path() / "chosen");
  const std::wstring target = (dir.path() / "chosen").wstring();
  // Wine does not find folders below the user's profile folder by path, so the robot starts at the drive
  // and opens the tree one level at a time, as a user clicking through it would.
  auto select_target = [&](HWND browser) {
    SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(L"C:\\"));
    HWND tree = find_child(browser, L"SysTreeView32");
    auto item = reinterpret_cast<LPARAM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    for (std::size_t start = 3; item && start < target.size();) {
      std::size_t end = target.find(L'\\', start);
      if (end == std::wstring::npos) end = target.size();
      item = reinterpret_cast<LPARAM>(child_named(tree, item, target.substr(start, end - start)));
      if (item) SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, item);
      start = end + 1;
    }
  };
  SeenBrowser seen;
  const auto answer =
      run_with_robot([] { return dialogs::choose_folder(u"NVDA addon directory", {}); },
                     [&](DWORD thread) { choose_in_browser(thread, seen, L"chosen", select_target, IDOK); });
  ASSERT_TRUE(seen.found);
  EXPECT_TRUE(seen.selected);
  EXPECT_EQ(answer, test_support::path_text(dir.path() / "chosen") + u"\\");
}

TEST_F(FolderChooserTest, CancellingReturnsTheEmptyText) {
  enum class Way { cancel_button, close_box, escape };
  for (Way way : {Way::cancel_button, Way::close_box, Way::escape}) {
    SCOPED_TRACE(static_cast<int>(way));
    bool found = false;
    const auto answer = run_with_robot([] { return dialogs::choose_folder(u"NVDA addon directory", u"C:\\"); },
                                       [&](DWORD thread) {
                                         HWND browser = wait_for_window(thread, L"#32770");
                                         if (!browser) return;
                                         found = true;
                                         switch (way) {
                                           case Way::cancel_button:
                                             click(GetDlgItem(browser, IDCANCEL));
                                             break;
                                           case Way::close_box:
                                             PostMessageW(browser, WM_CLOSE, 0, 0);
                                             break;
                                           case Way::escape:
                                             press_key(wait_for_focus_in(thread, browser), VK_ESCAPE);
                                             break;
                                         }
                                         wait_gone(browser);
                                       });
    EXPECT_TRUE(found);
    EXPECT_EQ(answer, u"");
  }
}

// Counts the selection requests that reach a window, sent or posted.
int selection_requests = 0;
LPARAM last_selection = 0;

LRESULT CALLBACK count_selections(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == BFFM_SETSELECTIONW && wparam == TRUE) {
    ++selection_requests;
    last_selection = lparam;
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

TEST(BrowseCallback, SelectsTheInitialFolderAtOnceAndOnceMoreOnlyWhenTheBrowserStarts) {
  WNDCLASSEXW description{};
  description.cbSize = sizeof description;
  description.lpfnWndProc = count_selections;
  description.hInstance = GetModuleHandleW(nullptr);
  description.lpszClassName = L"QuillbrookSelectionCounter";
  RegisterClassExW(&description);
  HWND window = CreateWindowExW(0, L"QuillbrookSelectionCounter", L"", 0, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  wchar_t folder[] = L"C:\\windows";
  const auto data = reinterpret_cast<LPARAM>(folder);

  EXPECT_EQ(dialogs::browse_callback(window, BFFM_INITIALIZED, 0, data), 0);
  EXPECT_EQ(selection_requests, 1) << "sent before the callback returns";
  pump_messages();
  EXPECT_EQ(selection_requests, 2) << "posted once more";
  EXPECT_EQ(last_selection, data);

  EXPECT_EQ(dialogs::browse_callback(window, BFFM_SELCHANGED, 0, data), 0);
  EXPECT_EQ(dialogs::browse_callback(window, BFFM_INITIALIZED, 0, 0), 0);
  pump_messages();
  EXPECT_EQ(selection_requests, 2) << "later notifications and a missing folder select nothing";
  DestroyWindow(window);
}

}  // namespace
