#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <chrono>
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
      [](HWND window, LPARAM data) -> BOOL {
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
      [](HWND window, LPARAM data) -> BOOL {
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

// Selects a folder in the folder browser of another process: the path must live in that process.
void select_folder(HWND browser, HANDLE process, const std::wstring& path) {
  std::size_t bytes = (path.size() + 1) * sizeof(wchar_t);
  void* remote = VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (!remote) return;
  WriteProcessMemory(process, remote, path.c_str(), bytes, nullptr);
  // A folder deep in the tree is found more reliably when its parents are selected first.
  for (std::size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
    std::wstring parent = path.substr(0, at) + L'\0';
    WriteProcessMemory(process, remote, parent.c_str(), parent.size() * sizeof(wchar_t), nullptr);
    SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(remote));
  }
  WriteProcessMemory(process, remote, path.c_str(), bytes, nullptr);
  SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(remote));
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
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

std::u16string ProgramDriver::folder_text(const std::filesystem::path& folder) {
  return narrow(folder.wstring() + L"\\");
}

RunResult ProgramDriver::run(const Responder& responder) {
  std::string program = QUILLBROOK_PROGRAM;
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
    } else {
      dialog.kind = Dialog::Kind::message;
      if (HWND text = GetDlgItem(window, 0xFFFF)) dialog.text = window_text(text);
      dialog.yes_no = GetDlgItem(window, IDYES) != nullptr;
      LRESULT default_id = SendMessageW(window, DM_GETDEFID, 0, 0);
      dialog.no_is_default = HIWORD(default_id) == DC_HASDEFID && LOWORD(default_id) == IDNO;
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
