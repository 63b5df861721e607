#include <windows.h>

#include "runtime/program_end.h"

namespace runtime {

void exit_process() { ExitProcess(0); }

}  // namespace runtime
