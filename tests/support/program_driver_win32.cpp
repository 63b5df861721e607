#include <windows.h>
// The headers below need the declarations of windows.h.
#include <commctrl.h>
#include <oleacc.h>
#include <shlobj.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>

#include "runtime/system_win32.h"
#include "runtime/text_functions.h"
#include "runtime/utf8.h"
#include "tests/support/program_driver.h"
#include "tests/support/test_support.h"
#include "tests/support/window_reading_win32.h"

namespace driver {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using runtime::UniqueKernelHandle;
using window_reading::as_text;
using window_reading::class_name;
using window_reading::find_child;
using window_reading::wait_until;

std::u16string window_text(HWND window) { return as_text(window_reading::window_text(window)); }

// The control with the keyboard focus in the dialog's thread.
HWND focused_window(HWND dialog) { return window_reading::focused_window(GetWindowThreadProcessId(dialog, nullptr)); }

class ScopedCom {
 public:
  ScopedCom() { CoInitialize(nullptr); }
  ~ScopedCom() { CoUninitialize(); }
  ScopedCom(const ScopedCom&) = delete;
  ScopedCom& operator=(const ScopedCom&) = delete;
};

// GetWindowText does not ask a control of another process for its text: what the user typed into an
// edit field comes only with WM_GETTEXT.
std::u16string edit_text(HWND edit) {
  const auto length = static_cast<std::size_t>(SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0));
  std::wstring text(length + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(SendMessageW(edit, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()))));
  return as_text(text);
}

// The end-to-end tests empty the user's NVDA folder: they must never run on a real user's machine.
void require_test_prefix() {
  const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  if (!wine || !std::getenv("QUILLBROOK_WINE_DIR"))
    throw std::runtime_error("the program driver runs only inside the tests' own Wine prefix");
}

// Out-of-context WinEvents of the program, as a screen reader receives them. They arrive as messages
// to this thread, so every wait below pumps them.
struct Event {
  DWORD event;
  HWND window;
  LONG object;
};
std::vector<Event>* recorded_events = nullptr;

void CALLBACK record_event(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG, DWORD, DWORD) {
  if (recorded_events) recorded_events->push_back({event, window, object});
}

class EventHook {
 public:
  EventHook(DWORD process, std::vector<Event>& events) {
    recorded_events = &events;
    hook_ = SetWinEventHook(EVENT_MIN, EVENT_MAX, nullptr, record_event, process, 0, WINEVENT_OUTOFCONTEXT);
  }
  ~EventHook() {
    if (hook_) UnhookWinEvent(hook_);
    recorded_events = nullptr;
  }
  EventHook(const EventHook&) = delete;
  EventHook& operator=(const EventHook&) = delete;

 private:
  HWINEVENTHOOK hook_ = nullptr;
};

struct ComString {
  BSTR value = nullptr;
  ~ComString() { SysFreeString(value); }
  std::u16string text() const { return value ? as_text({value, SysStringLen(value)}) : std::u16string(); }
};

// The MSAA object of a window's client area (for a dialog, its window object): what a screen reader
// asks a control for.
Accessible accessible(HWND window, LONG object = OBJID_CLIENT) {
  Accessible result;
  IAccessible* item = nullptr;
  if (FAILED(AccessibleObjectFromWindow(window, static_cast<DWORD>(object), IID_IAccessible,
                                        reinterpret_cast<void**>(&item))) ||
      !item)
    return result;
  VARIANT self{};
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  ComString name, value;
  if (item->get_accName(self, &name.value) == S_OK) result.name = name.text();
  if (item->get_accValue(self, &value.value) == S_OK) result.value = value.text();
  VARIANT role{};
  if (item->get_accRole(self, &role) == S_OK && role.vt == VT_I4) result.role = role.lVal;
  VariantClear(&role);
  item->Release();
  return result;
}

// Keys go through the system's input queue to whatever has the keyboard focus, as a user's do.
void send(std::initializer_list<std::pair<WORD, bool>> keys) {
  std::vector<INPUT> inputs;
  for (auto [key, down] : keys) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    inputs.push_back(input);
  }
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void press(WORD key) { send({{key, true}, {key, false}}); }
void press_with(WORD modifier, WORD key) { send({{modifier, true}, {key, true}, {key, false}, {modifier, false}}); }

// Presses a message box's button as a user does: Alt and the button's underlined letter, where it is
// a Latin letter the test's keyboard has; else Tab to the button (a Yes/No box has two) and Enter.
// Returns the keys it pressed, as the transcript names them.
std::string press_button(HWND box, int id) {
  HWND button = GetDlgItem(box, id);
  const std::wstring text = button ? window_reading::window_text(button) : std::wstring();
  const std::size_t mark = text.find(L'&');
  const wchar_t letter = mark + 1 < text.size() ? text[mark + 1] : L'\0';
  const SHORT key = letter && letter < 0x80 && iswalnum(letter) ? VkKeyScanW(letter) : -1;
  if (key != -1) {
    press_with(VK_MENU, LOBYTE(key));
    return std::string("Alt+") + static_cast<char>(towupper(letter));
  }
  std::string keys;
  if (button && focused_window(box) != button) {
    press(VK_TAB);
    wait_until([&] { return focused_window(box) == button; }, 2s);
    keys = "Tab, ";
  }
  press(VK_RETURN);
  return keys + "Enter";
}

void type(const std::u16string& text) {
  for (char16_t unit : text) {
    INPUT input[2] = {};
    for (INPUT& one : input) {
      one.type = INPUT_KEYBOARD;
      one.ki.wScan = unit;
      one.ki.dwFlags = KEYEVENTF_UNICODE;
    }
    input[1].ki.dwFlags |= KEYEVENTF_KEYUP;
    SendInput(2, input, sizeof(INPUT));
  }
}

struct Search {
  DWORD process;
  const std::set<HWND>* done;
  HWND found;
};

// A visible top-level window of the program that has not been answered yet.
HWND find_dialog(DWORD process, const std::set<HWND>& done) {
  Search search{process, &done, nullptr};
  EnumWindows(
      [](HWND window, LPARAM data) WINAPI -> BOOL {
        auto* search = reinterpret_cast<Search*>(data);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != search->process || !IsWindowVisible(window) || search->done->count(window)) return TRUE;
        std::wstring name = class_name(window);
        if (name != L"#32770" && name != L"InputRequester") return TRUE;
        search->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::u16string first_static_text(HWND parent) {
  for (HWND child : window_reading::child_windows(parent))
    if (window_reading::has_class(child, L"Static"))
      if (std::u16string text = window_text(child); !text.empty()) return text;
  return {};
}

// TVITEMW as a 32-bit process lays it out: the tree control reads the structure in its own
// process's layout, whatever the bitness of the sender.
struct TreeItem32 {
  UINT mask;
  std::uint32_t item;
  UINT state, state_mask;
  std::uint32_t text;
  int text_max, image, selected_image, children;
  std::uint32_t param;
};

bool is_32_bit(HANDLE process) {
  if constexpr (sizeof(void*) == 4) return true;
  BOOL wow64 = FALSE;
  return IsWow64Process(process, &wow64) && wow64;
}

// The text of a tree item in another process's folder browser, read as a screen reader reads it.
std::wstring item_text(HWND tree, HANDLE process, LPARAM item) {
  if (!item) return {};
  constexpr std::size_t TEXT_OFFSET = 64;  // past either layout of the structure
  char* remote = static_cast<char*>(VirtualAllocEx(process, nullptr, TEXT_OFFSET + MAX_PATH * sizeof(wchar_t),
                                                   MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (!remote) return {};
  char* remote_text = remote + TEXT_OFFSET;
  bool written;
  if (is_32_bit(process)) {
    TreeItem32 local{};
    local.mask = TVIF_TEXT;
    local.item = static_cast<std::uint32_t>(item);
    local.text = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(remote_text));
    local.text_max = MAX_PATH;
    written = WriteProcessMemory(process, remote, &local, sizeof local, nullptr);
  } else {
    TVITEMW local{};
    local.mask = TVIF_TEXT;
    local.hItem = reinterpret_cast<HTREEITEM>(item);
    local.pszText = reinterpret_cast<wchar_t*>(remote_text);
    local.cchTextMax = MAX_PATH;
    written = WriteProcessMemory(process, remote, &local, sizeof local, nullptr);
  }
  wchar_t text[MAX_PATH] = {};
  std::wstring result;
  if (written && SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote)) &&
      ReadProcessMemory(process, remote_text, text, sizeof text, nullptr)) {
    text[MAX_PATH - 1] = L'\0';
    result = text;
  }
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  return result;
}

LPARAM tree_item(HWND tree, WPARAM which, LPARAM from = 0) { return SendMessageW(tree, TVM_GETNEXTITEM, which, from); }

// Presses a key in the tree and waits until the selection has moved.
bool press_and_move(HWND tree, WORD key) {
  const LPARAM before = tree_item(tree, TVGN_CARET);
  press(key);
  return wait_until([&] { return tree_item(tree, TVGN_CARET) != before; }, 2s);
}

// Walks the folder tree to a folder with the keyboard, the way a user who hears each item does: from
// the computer (where the browser starts), Right opens an item and moves to its first child, Down goes
// from sibling to sibling until the item read out is the next part of the path.
bool walk_to_folder(HWND tree, HANDLE process, const std::wstring& path) {
  // Wine's browser may move the focus to its edit box after it starts: Tab leads back to the tree.
  HWND browser = GetAncestor(tree, GA_ROOT);
  for (int presses = 0; presses < 8 && focused_window(browser) != tree; ++presses) {
    HWND before = focused_window(browser);
    press(VK_TAB);
    wait_until([&] { return focused_window(browser) != before; }, 1s);
  }
  std::vector<std::wstring> parts{path.substr(0, 2)};  // the drive, "C:"
  for (std::size_t start = 3; start < path.size();) {
    std::size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  for (const std::wstring& part : parts) {
    const LPARAM parent = tree_item(tree, TVGN_CARET);
    const bool is_drive = &part == &parts.front();
    auto matches = [&](const std::wstring& text) {
      if (!is_drive) return _wcsicmp(text.c_str(), part.c_str()) == 0;
      return text.size() >= 2 && (_wcsnicmp(text.c_str(), part.c_str(), 2) == 0 ||
                                  _wcsicmp(text.c_str() + text.size() - 4, (L"(" + part + L")").c_str()) == 0);
    };
    auto open = [&] {
      return (SendMessageW(tree, TVM_GETITEMSTATE, parent, TVIS_EXPANDED) & TVIS_EXPANDED) &&
             tree_item(tree, TVGN_CHILD, parent) != 0;
    };
    if (!open()) {
      press(VK_RIGHT);  // opens the item; the next Right moves to its first child
      wait_until(open, 2s);
    }
    if (!press_and_move(tree, VK_RIGHT)) return false;
    while (!matches(item_text(tree, process, tree_item(tree, TVGN_CARET)))) {
      if (!press_and_move(tree, VK_DOWN)) return false;
      if (tree_item(tree, TVGN_PARENT, tree_item(tree, TVGN_CARET)) != parent) return false;
    }
  }
  return true;
}

// Waits until the dialog has settled: the focus is on one of its controls and the screen reader has
// been told so. Then reads what a screen reader reads of it.
Speech listen(HWND dialog, const std::vector<Event>& events, Dialog::Kind kind) {
  Speech speech;
  std::size_t appeared = SIZE_MAX;  // the first event about the dialog (its creation)
  auto seen_since = [&](DWORD type, HWND window, std::size_t from) {
    for (std::size_t i = from == SIZE_MAX ? events.size() : from; i < events.size(); ++i)
      if (events[i].event == type && events[i].window == window) return true;
    return false;
  };
  HWND focus = nullptr;
  wait_until(
      [&] {
        for (std::size_t i = 0; i < events.size() && appeared == SIZE_MAX; ++i)
          if (events[i].window == dialog) appeared = i;
        focus = focused_window(dialog);
        // The input dialog takes the focus before it sets its default text and makes its OK button.
        if (kind == Dialog::Kind::input && !GetDlgItem(dialog, 1000)) return false;
        return focus && IsChild(dialog, focus) && seen_since(EVENT_SYSTEM_FOREGROUND, dialog, 0) &&
               seen_since(EVENT_OBJECT_FOCUS, focus, appeared);
      },
      3s);
  speech.foreground_event = seen_since(EVENT_SYSTEM_FOREGROUND, dialog, 0);
  speech.caption = window_text(dialog);
  speech.name = accessible(dialog).name;
  if (focus && IsChild(dialog, focus)) {
    speech.focus_id = GetDlgCtrlID(focus);
    speech.focus_class = as_text(class_name(focus));
    speech.focus_event = seen_since(EVENT_OBJECT_FOCUS, focus, appeared);
    speech.focus = accessible(focus);
  }
  // The browser selects its initial folder once more a moment after it starts (200 ms); keys pressed
  // before that can be undone by it.
  if (kind == Dialog::Kind::chooser) wait_until([] { return false; }, 600ms);
  if (kind == Dialog::Kind::message)
    if (HWND text = GetDlgItem(dialog, 0xFFFF)) speech.message = accessible(text).name;
  return speech;
}

int wait_for_focus_move(HWND dialog, HWND from) {
  HWND now = nullptr;
  wait_until([&] { return (now = focused_window(dialog)) != from && now; }, 2s);
  return now ? GetDlgCtrlID(now) : -1;
}

std::wstring windows_path(std::filesystem::path program) {
  std::string text = program.string();
  if (!text.empty() && text[0] == '/') text = "Z:" + text;
  return std::filesystem::path(text).make_preferred().wstring();
}

}  // namespace

std::u16string transcript_line(const Dialog& dialog) {
  const Speech& speech = dialog.speech;
  wchar_t role[64] = {};
  GetRoleTextW(static_cast<DWORD>(speech.focus.role), role, 64);
  std::u16string line =
      u"\"" + speech.name + u"\" dialog; focus on \"" + speech.focus.name + u"\" (" + as_text(role) + u")";
  if (!speech.message.empty()) line += u"; text: \"" + speech.message + u"\"";
  return line;
}

ProgramDriver::ProgramDriver() {
  require_test_prefix();
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, folder)))
    throw std::runtime_error("no application-data folder");
  appdata_ = folder;
  owned_ = appdata_ / "nvda";
  std::error_code ignored;
  std::filesystem::remove_all(owned_, ignored);
}

// The program reads the roaming folder itself, so the given folder must be that one; it stays.
ProgramDriver::ProgramDriver(std::filesystem::path appdata) : appdata_(std::move(appdata)) { require_test_prefix(); }

ProgramDriver::~ProgramDriver() {
  std::error_code ignored;
  if (!owned_.empty()) std::filesystem::remove_all(owned_, ignored);
}

std::filesystem::path ProgramDriver::chooser_base() { return std::filesystem::temp_directory_path(); }

std::u16string ProgramDriver::folder_text(const std::filesystem::path& folder) {
  return as_text(folder.wstring() + L"\\");
}

bool ProgramDriver::can_use_system_locale(const std::string& locale) {
  // Wine takes the locale from LC_ALL.
  const char* own = std::getenv("LC_ALL");
  std::string mine = own ? own : "";
  if (mine == "C" || mine.starts_with("C.") || mine == "POSIX" || mine.starts_with("en")) mine.clear();
  return mine == locale;
}

RunResult ProgramDriver::run(const Responder& responder) {
  ScopedCom com;
  // QUILLBROOK_PROGRAM in the environment names another build of the program, such as the packaged one.
  const char* other = std::getenv("QUILLBROOK_PROGRAM");
  std::filesystem::path program = !program_.empty() ? program_
                                  : other && *other ? std::filesystem::path(other)
                                                    : std::filesystem::path(QUILLBROOK_PROGRAM);
  std::wstring command = L"\"" + windows_path(program) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  // Suspended until the WinEvent hook is in place, so that no event of the first dialog is missed.
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                      &info))
    throw std::runtime_error("cannot start the program");
  UniqueKernelHandle process(info.hProcess), thread(info.hThread);
  // The program ends with the test, even when the test is killed: a dialog left open would take the
  // keyboard from the next run.
  UniqueKernelHandle job(CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job.get()) {
    SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    AssignProcessToJobObject(job.get(), info.hProcess);
  }
  std::vector<Event> events;
  EventHook hook(info.dwProcessId, events);
  ResumeThread(thread.get());
  thread.reset();

  RunResult result;
  std::set<HWND> done;
  const auto deadline = Clock::now() + 90s;
  auto ended = [&] { return WaitForSingleObject(info.hProcess, 0) == WAIT_OBJECT_0; };
  while (Clock::now() < deadline && !ended()) {
    HWND window = nullptr;
    if (!wait_until([&] { return ended() || (window = find_dialog(info.dwProcessId, done)); }, 100ms) || !window)
      continue;

    Dialog dialog;
    dialog.kind = class_name(window) == L"InputRequester"           ? Dialog::Kind::input
                  : find_child(window, L"SysTreeView32") != nullptr ? Dialog::Kind::chooser
                                                                    : Dialog::Kind::message;
    dialog.speech = listen(window, events, dialog.kind);
    if (!IsWindow(window)) continue;
    dialog.title = window_text(window);
    HWND edit = nullptr;
    if (dialog.kind == Dialog::Kind::input) {
      if (HWND label = FindWindowExW(window, nullptr, L"Static", nullptr)) dialog.text = window_text(label);
      edit = GetDlgItem(window, 10);
    } else if (dialog.kind == Dialog::Kind::chooser) {
      dialog.title = first_static_text(window);  // the instruction above the tree; the caption is the shell's
    } else {
      if (HWND text = GetDlgItem(window, 0xFFFF)) dialog.text = window_text(text);
      dialog.yes_no = GetDlgItem(window, IDYES) != nullptr;
      HWND no = GetDlgItem(window, IDNO);
      dialog.no_is_default = no && (GetWindowLongW(no, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
    }

    Answer answer = responder(dialog);
    switch (answer.kind) {
      case Answer::Kind::yes:
        dialog.keys = press_button(window, IDYES);
        break;
      case Answer::Kind::no:
        dialog.keys = press_button(window, IDNO);
        break;
      case Answer::Kind::enter:
        press(VK_RETURN);
        dialog.keys = "Enter";
        break;
      case Answer::Kind::type:
        // After a refused version the field holds the old text, caret at its end.
        if (edit)
          for (std::size_t length = edit_text(edit).size(); length > 0; --length) press(VK_BACK);
        if (edit) wait_until([&] { return edit_text(edit).empty(); }, 2s);
        type(answer.text);
        dialog.keys = "types " + runtime::utf16_to_utf8(answer.text) + ", Tab, Shift+Tab, Enter";
        if (edit) {
          wait_until([&] { return edit_text(edit) == answer.text; }, 2s);
          dialog.speech.typed = accessible(edit);
          press(VK_TAB);
          dialog.speech.focus_after_tab = wait_for_focus_move(window, edit);
          press_with(VK_SHIFT, VK_TAB);
          dialog.speech.focus_after_shift_tab = wait_for_focus_move(window, GetDlgItem(window, 1000));
        }
        press(VK_RETURN);
        break;
      case Answer::Kind::cancel:
        press(VK_ESCAPE);
        dialog.keys = "Escape";
        break;
      case Answer::Kind::choose:
        if (HWND tree = find_child(window, L"SysTreeView32");
            tree && walk_to_folder(tree, info.hProcess, runtime::WideText(answer.text).get()))
          press(VK_RETURN);
        else
          press(VK_ESCAPE);  // the folder is not in the tree: the test fails at once rather than at the deadline
        break;
    }
    result.dialogs.push_back(dialog);
    done.insert(window);
    wait_until([&] { return !IsWindow(window) || !IsWindowVisible(window) || Clock::now() >= deadline; }, 90s);
  }

  DWORD code = 0;
  if (ended() && GetExitCodeProcess(info.hProcess, &code)) {
    result.finished = true;
    result.exit_code = static_cast<int>(code);
  } else {
    TerminateProcess(info.hProcess, 1);
    WaitForSingleObject(info.hProcess, 5000);
  }
  if (std::getenv("QUILLBROOK_TRANSCRIPT"))
    for (const Dialog& dialog : result.dialogs)
      std::printf("%s\n", runtime::utf16_to_utf8(transcript_line(dialog)).c_str());
  return result;
}

}  // namespace driver
