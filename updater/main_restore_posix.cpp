#include "updater/restore_run.h"

int main() { updater::run_restore(); }
