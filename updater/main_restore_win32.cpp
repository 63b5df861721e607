#include <windows.h>

#include "updater/restore_run.h"

// A GUI-subsystem program: the start-up arguments are not read.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { updater::run_restore(); }
