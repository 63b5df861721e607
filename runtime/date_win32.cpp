#include <windows.h>

#include "runtime/date.h"

namespace runtime {

LocalClock read_local_clock() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

}  // namespace runtime
