#pragma once

namespace updater {

// True when another run of the program is going on for this user (in this session on Windows). The
// first run holds its claim until the process ends; a claim that cannot be checked lets the run go on.
bool is_another_instance_running();

}  // namespace updater
