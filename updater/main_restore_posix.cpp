#include "updater/update_run.h"

int main() { updater::run_restore(); }
