#pragma once

#include <gtest/gtest.h>

#include "pattern/pattern.h"

// Every pattern test starts from a fresh library and leaves no pattern behind.
class PatternTest : public ::testing::Test {
 protected:
  void SetUp() override { pattern::init_pattern_library(); }
  void TearDown() override { pattern::free_pattern(pattern::ANY_NUMBER); }
};

// A key-line pattern of the kind the program once searched manifests with: leading white space and the
// key up to an optional opening quote (group 1), the year (2), the major (3) and the optional minor
// number (4), and an optional closing quote with the white space up to the line end (5). Compiled with
// PATTERN_MULTILINE.
//
// The possessive runs and (*SKIP) change no match: a run before the key, "=" or a digit could only
// give back white space, which none of them starts with, and every line start inside a run of white
// space reaches the same key as the first one. They keep the search linear: without them each blank
// line of a long run rescans the whole run, and long values backtrack digit by digit.
inline constexpr char16_t MANIFEST_PATTERN[] =
    u"^([\\s\\h]*+(*SKIP)lastTestedNVDAVersion[\\s\\h]*+=[\\s\\h]*+\"?)(\\d++)\\.(\\d++)(?:\\.(\\d++))?(\"?[\\s\\h]*)$";

// It is tested beside the same pattern without the possessive runs
// and (*SKIP) that keep its searches linear: both must find the same matches.
inline constexpr char16_t PLAIN_MANIFEST_PATTERN[] =
    uR"(^([\s\h]*lastTestedNVDAVersion[\s\h]*=[\s\h]*"?)(\d+)\.(\d+)(?:\.(\d+))?("?[\s\h]*)$)";
