#include <windows.h>

#include "files/folders.h"
#include "runtime/system_win32.h"
#include "updater/single_instance.h"

namespace updater {

RunClaim claim_run() {
  // A file in the roaming profile, which every session of the user sees, and every machine that
  // shares the profile. Opened without sharing, it keeps any second run out; the system deletes it
  // when the handle closes at the end of the process, also after a crash. A link planted at the name
  // is opened itself, so that the end of the run deletes the link and never what it points to.
  const runtime::Text folder = files::get_user_folder(files::USER_FOLDER_APPDATA);
  RunClaim claim{ClaimOutcome::FAILED, folder + u"quillbrook.lock"};
  if (folder.empty()) return claim;
  HANDLE handle =
      CreateFileW(runtime::WideText(claim.path).get(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_SHARING_VIOLATION) claim.outcome = ClaimOutcome::ANOTHER_RUN;
    return claim;
  }
  static runtime::UniqueKernelHandle held(handle);
  claim.outcome = ClaimOutcome::CLAIMED;
  return claim;
}

}  // namespace updater
