#include "runtime/program_end.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using runtime::EndStep;

void say_patterns() { std::fputs("patterns;", stderr); }
void say_folders() { std::fputs("folders;", stderr); }
void say_files() { std::fputs("files;", stderr); }

void end_with_steps_registered_out_of_order() {
  runtime::register_end_step(EndStep::files, say_files);
  runtime::register_end_step(EndStep::patterns, say_patterns);
  runtime::register_end_step(EndStep::folder_listings, say_folders);
  std::fflush(stderr);
  runtime::end_program();
}

TEST(EndProgram, RunsTheEndStepsInTheirFixedOrderAndExitsWithZero) {
  EXPECT_EXIT(end_with_steps_registered_out_of_order(), ::testing::ExitedWithCode(0), "patterns;folders;files;");
}

TEST(EndProgram, ExitsWithZeroWhenNoStepIsRegistered) {
  EXPECT_EXIT(runtime::end_program(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
