#include <gtest/gtest.h>

#include "updater/manifest_rewrite.h"
#include "updater/run_start.h"

namespace {

TEST(Answers, OnlyYesConfirmsAndABoxThatCouldNotBeShownIsANo) {
  struct Case {
    std::int32_t answer;
    bool confirmed, add_key;
  } cases[] = {
      {0, false, false},  // the box could not be shown
      {6, true, true},    // Yes
      {7, false, false},  // No
      {2, false, true},   // closed without a button (Escape under Wine), at a box whose default is Yes
  };
  for (const auto& c : cases) {
    EXPECT_EQ(updater::is_confirmed(c.answer), c.confirmed) << c.answer;
    EXPECT_EQ(updater::is_yes_to_adding_key(c.answer), c.add_key) << c.answer;
  }
}

}  // namespace
