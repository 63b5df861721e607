#pragma once

namespace updater {

// The whole program: settles the add-ons folder, confirms, asks for the version, rewrites every
// add-on's manifest and reports. Ends the process with exit code 0 on every path.
[[noreturn]] void run_update();

}  // namespace updater
