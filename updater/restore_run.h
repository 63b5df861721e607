#pragma once

namespace updater {

// The way back: puts the manifests saved in the backup folder back where the manifest is still
// exactly what an update run made of its backup, and reports. Ends the process with exit code 0.
[[noreturn]] void run_restore();

}  // namespace updater
