#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <stdexcept>
#include <thread>

#include "tests/support/test_support.h"
#include "tests/updater/program_driver.h"

namespace driver {

namespace {

using Clock = std::chrono::steady_clock;

std::wstring wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }
std::u16string narrow(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

std::u16string window_text(HWND window) {
  int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), length + 1)));
  return narrow(text);
}

std::wstring class_name(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
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

HWND find_descendant(HWND parent, const wchar_t* wanted_class) {
  struct Find {
    const wchar_t* wanted;
    HWND found;
  } find{wanted_class, nullptr};
  EnumChildWindows(
      parent,
      [](HWND window, LPARAM data) WINAPI -> BOOL {
        auto* find = reinterpret_cast<Find*>(data);
        if (class_name(window) == find->wanted) {
          find->found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&find));
  return find.found;
}

std::u16string first_static_text(HWND parent) {
  struct Find {
    std::u16string text;
  } find;
  EnumChildWindows(
      parent,
      [](HWND window, LPARAM data) WINAPI -> BOOL {
        auto* find = reinterpret_cast<Find*>(data);
        if (_wcsicmp(class_name(window).c_str(), L"Static") != 0) return TRUE;
        find->text = window_text(window);
        return find->text.empty();
      },
      reinterpret_cast<LPARAM>(&find));
  return find.text;
}

void press_key(HWND window, WPARAM key) {
  DWORD thread = GetWindowThreadProcessId(window, nullptr);
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  HWND target = GetGUIThreadInfo(thread, &info) && info.hwndFocus ? info.hwndFocus : window;
  PostMessageW(target, WM_KEYDOWN, key, 1);
  PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

void click(HWND dialog, int id) {
  if (HWND button = GetDlgItem(dialog, id)) PostMessageW(button, BM_CLICK, 0, 0);
}

// The text of a tree item in another process's folder browser.
std::wstring item_text(HWND tree, HANDLE process, LPARAM item) {
  struct Remote {
    TVITEMW item;
    wchar_t text[MAX_PATH];
  };
  auto* remote = static_cast<Remote*>(VirtualAllocEx(process, nullptr, sizeof(Remote), MEM_COMMIT | MEM_RESERVE,
                                                     PAGE_READWRITE));
  if (!remote) return {};
  Remote local{};
  local.item.mask = TVIF_TEXT;
  local.item.hItem = reinterpret_cast<HTREEITEM>(item);
  local.item.pszText = remote->text;
  local.item.cchTextMax = MAX_PATH;
  std::wstring text;
  if (item && WriteProcessMemory(process, remote, &local, sizeof local, nullptr) &&
      SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&remote->item)) &&
      ReadProcessMemory(process, remote, &local, sizeof local, nullptr)) {
    local.text[MAX_PATH - 1] = L'\0';
    text = local.text;
  }
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  return text;
}

// Selects a folder in the folder browser of another process the way a user clicks through the
// tree: the drive first (by path), then each folder below it by name. Wine's browser does not find a
// fresh folder below the user's profile by path alone.
void select_folder(HWND browser, HANDLE process, const std::wstring& path) {
  std::wstring drive = path.substr(0, 3) + L'\0';
  auto* remote = static_cast<wchar_t*>(
      VirtualAllocEx(process, nullptr, drive.size() * sizeof(wchar_t), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (!remote) return;
  WriteProcessMemory(process, remote, drive.c_str(), drive.size() * sizeof(wchar_t), nullptr);
  SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(remote));
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);

  HWND tree = find_descendant(browser, L"SysTreeView32");
  if (!tree) return;
  LPARAM item = SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
  for (std::size_t start = 3; item && start < path.size();) {
    std::size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    const std::wstring name = path.substr(start, end - start);
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, item);
    LPARAM child = SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, item);
    while (child && _wcsicmp(item_text(tree, process, child).c_str(), name.c_str()) != 0)
      child = SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, child);
    item = child;
    if (item) SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, item);
    start = end + 1;
  }
}

}  // namespace

ProgramDriver::ProgramDriver() {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, folder)))
    throw std::runtime_error("no application-data folder");
  appdata_ = folder;
  owned_ = appdata_ / "nvda";
  std::error_code ignored;
  std::filesystem::remove_all(owned_, ignored);
}

ProgramDriver::~ProgramDriver() {
  std::error_code ignored;
  std::filesystem::remove_all(owned_, ignored);
}

std::filesystem::path ProgramDriver::chooser_base() { return std::filesystem::temp_directory_path(); }

std::u16string ProgramDriver::folder_text(const std::filesystem::path& folder) {
  return narrow(folder.wstring() + L"\\");
}

RunResult ProgramDriver::run(const Responder& responder) {
  // QUILLBROOK_PROGRAM in the environment names another build of the program, such as the packaged one.
  const char* other = std::getenv("QUILLBROOK_PROGRAM");
  std::string program = other && *other ? other : QUILLBROOK_PROGRAM;
  if (!program.empty() && program[0] == '/') program = "Z:" + program;
  std::wstring command = L"\"" + std::filesystem::path(program).make_preferred().wstring() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    throw std::runtime_error("cannot start the program");
  CloseHandle(info.hThread);

  RunResult result;
  std::set<HWND> done;
  const auto deadline = Clock::now() + std::chrono::seconds(90);
  while (Clock::now() < deadline) {
    if (WaitForSingleObject(info.hProcess, 30) == WAIT_OBJECT_0) break;
    HWND window = find_dialog(info.dwProcessId, done);
    if (!window) continue;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let the dialog finish its set-up
    if (!IsWindow(window)) continue;

    Dialog dialog;
    dialog.title = window_text(window);
    HWND edit = nullptr;
    if (class_name(window) == L"InputRequester") {
      dialog.kind = Dialog::Kind::input;
      if (HWND label = FindWindowExW(window, nullptr, L"Static", nullptr)) dialog.text = window_text(label);
      edit = GetDlgItem(window, 10);
    } else if (find_descendant(window, L"SysTreeView32")) {
      dialog.kind = Dialog::Kind::chooser;
      dialog.title = first_static_text(window);  // the instruction above the tree; the caption is the shell's
    } else {
      dialog.kind = Dialog::Kind::message;
      if (HWND text = GetDlgItem(window, 0xFFFF)) dialog.text = window_text(text);
      dialog.yes_no = GetDlgItem(window, IDYES) != nullptr;
      HWND no = GetDlgItem(window, IDNO);
      dialog.no_is_default = no && (GetWindowLongW(no, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
    }
    result.dialogs.push_back(dialog);

    Answer answer = responder(dialog);
    switch (answer.kind) {
      case Answer::Kind::yes: click(window, IDYES); break;
      case Answer::Kind::no: click(window, IDNO); break;
      case Answer::Kind::enter: press_key(window, VK_RETURN); break;
      case Answer::Kind::type:
        if (edit) {
          std::wstring text = wide(answer.text);
          SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        }
        press_key(window, VK_RETURN);
        break;
      case Answer::Kind::cancel:
        if (dialog.kind == Dialog::Kind::chooser)
          click(window, IDCANCEL);
        else
          press_key(window, VK_ESCAPE);
        break;
      case Answer::Kind::choose:
        select_folder(window, info.hProcess, wide(answer.text));
        click(window, IDOK);
        break;
    }
    done.insert(window);
    while (IsWindow(window) && IsWindowVisible(window) && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  DWORD code = 0;
  if (WaitForSingleObject(info.hProcess, 0) == WAIT_OBJECT_0 && GetExitCodeProcess(info.hProcess, &code)) {
    result.finished = true;
    result.exit_code = static_cast<int>(code);
  } else {
    TerminateProcess(info.hProcess, 1);
    WaitForSingleObject(info.hProcess, 5000);
  }
  CloseHandle(info.hProcess);
  return result;
}

}  // namespace driver
