#include <windows.h>

#include "files/folders.h"
#include "runtime/system_win32.h"
#include "updater/single_instance.h"

namespace updater {

bool is_another_instance_running() {
  // A file in the roaming profile, which every session of the user sees, and every machine that
  // shares the profile. Opened without sharing, it keeps any second run out; the system deletes it
  // when the handle closes at the end of the process, also after a crash.
  const runtime::Text folder = files::get_user_folder(files::USER_FOLDER_APPDATA);
  if (folder.empty()) return false;
  HANDLE claim = CreateFileW(runtime::WideText(folder + u"quillbrook.lock").get(), GENERIC_READ | GENERIC_WRITE, 0,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (claim == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  static runtime::UniqueKernelHandle held(claim);
  return false;
}

}  // namespace updater
