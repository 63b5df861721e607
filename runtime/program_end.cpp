#include "runtime/program_end.h"

#include <array>
#include <cstddef>

namespace runtime {

namespace {
std::array<void (*)(), static_cast<std::size_t>(EndStep::count)> end_steps{};
}

void register_end_step(EndStep step, void (*end_step)()) { end_steps[static_cast<std::size_t>(step)] = end_step; }

void end_program() {
  for (auto step : end_steps)
    if (step) step();
  exit_process();
}

}  // namespace runtime
