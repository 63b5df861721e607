#pragma once

namespace runtime {

// The libraries' end steps, in the order in which end_program runs them.
enum class EndStep { patterns, folder_listings, files, count };

// Each library hands its end step to the runtime when it starts, so that the runtime can end every
// library without depending on any of them. Registering a step again replaces it.
void register_end_step(EndStep step, void (*end_step)());

// Runs the registered end steps in their fixed order (patterns, folder listings, files) and ends the
// process with exit code 0. Never returns.
[[noreturn]] void end_program();

// Ends the process with exit code 0 (the platform's).
[[noreturn]] void exit_process();

}  // namespace runtime
