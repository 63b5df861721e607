#include <windows.h>

#include "updater/single_instance.h"

namespace updater {

bool is_another_instance_running() {
  // "Local\": one run per session. The handle stays open until the process ends, which releases it.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Local\\Quillbrook.OneRunAtATime");
  return mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace updater
