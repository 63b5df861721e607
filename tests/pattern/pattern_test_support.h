#pragma once

#include <gtest/gtest.h>

#include "pattern/pattern.h"
#include "updater/update_run.h"

// Every pattern test starts from a fresh library and leaves no pattern behind.
class PatternTest : public ::testing::Test {
 protected:
  void SetUp() override { pattern::init_pattern_library(); }
  void TearDown() override { pattern::free_pattern(pattern::ANY_NUMBER); }
};

// The updater's own key-line pattern is tested beside the same pattern without the possessive runs
// and (*SKIP) that keep its searches linear: both must find the same matches.
inline constexpr char16_t PLAIN_MANIFEST_PATTERN[] =
    uR"(^([\s\h]*lastTestedNVDAVersion[\s\h]*=[\s\h]*"?)(\d+)\.(\d+)(?:\.(\d+))?("?[\s\h]*)$)";
