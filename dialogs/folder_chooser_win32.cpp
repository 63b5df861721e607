#include <windows.h>
// The headers below need the declarations of windows.h.
#include <shlobj.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cwchar>

#include "dialogs/dialogs_win32.h"

namespace dialogs {

namespace {

using BrowseForFolder = decltype(&SHBrowseForFolderW);
using GetPathFromItem = decltype(&SHGetPathFromIDListW);

using UniqueItem = runtime::UniqueCoTaskMemory<PIDLIST_ABSOLUTE>;

std::atomic<bool> com_initialized{false};

// GetProcAddress hands back a generic function pointer; void (*)() converts to any other without a warning.
template <typename Function>
Function find_entry(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace

int CALLBACK browse_callback(HWND window, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED && data) {
    SendMessageW(window, BFFM_SETSELECTIONW, TRUE, data);
    // The browser fills its tree after this notification; asking again once its loop runs makes sure the
    // initial folder ends up selected and in view.
    Sleep(200);
    PostMessageW(window, BFFM_SETSELECTIONW, TRUE, data);
  }
  return 0;
}

Text choose_folder(TextView title, TextView initial_folder) {
  if (!com_initialized.exchange(true)) CoInitialize(nullptr);
  const WideText wide_title(title);

  BROWSEINFOW browse{};
  UniqueModule shell(LoadLibraryW(L"SHELL32.DLL"));
  if (!shell) return {};
  const auto browse_for_folder = find_entry<BrowseForFolder>(shell.get(), "SHBrowseForFolderW");
  const auto get_path_from_item = find_entry<GetPathFromItem>(shell.get(), "SHGetPathFromIDListW");
  if (!browse_for_folder || !get_path_from_item) return {};

  // Lives until the browser has gone, since the callback's posted request still reads it.
  std::array<wchar_t, MAX_PATH> initial{};
  const TextView folder = runtime::until_terminator(initial_folder);
  std::copy_n(folder.begin(), std::min(folder.size(), initial.size() - 1), initial.begin());
  initial.back() = L'\0';
  // A folder is offered without its closing backslash; a drive root ("C:\") needs it to stay a root.
  const std::size_t length = std::wcslen(initial.data());
  if (length > 3 && initial[length - 1] == L'\\') initial[length - 1] = L'\0';

  browse.hwndOwner = find_owner_window();
  browse.lpszTitle = wide_title.get();
  static_assert((BIF_EDITBOX | BIF_NEWDIALOGSTYLE) == 0x50);
  browse.ulFlags = BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
  browse.lpfn = browse_callback;
  browse.lParam = reinterpret_cast<LPARAM>(initial.data());

  UniqueItem item;
  {
    disable_thread_windows();
    ScopeExit restore([] { restore_thread_windows(); });
    item.reset(browse_for_folder(&browse));
  }
  if (!item) return {};

  // Room for the path, the appended backslash and the terminator.
  std::array<wchar_t, MAX_PATH + 1> path{};
  get_path_from_item(item.get(), path.data());
  std::size_t size = std::wcslen(path.data());
  if (size > 0 && path[size - 1] != L'\\') path[size++] = L'\\';
  return runtime::text_from_wide({path.data(), size});
}

}  // namespace dialogs
