#include "runtime/date.h"

#include <gtest/gtest.h>

namespace {

using namespace runtime;

TEST(DateValue, RangeLimitsOfTheZoneFreeCalendar) {
  EXPECT_EQ(date_from_local_clock({1970, 1, 1, 0, 0, 0}), 0);
  EXPECT_EQ(date_from_local_clock({2038, 1, 19, 3, 14, 7}), 2147483647);
  EXPECT_EQ(date_from_local_clock({2038, 1, 19, 3, 14, 8}), DATE_INVALID);
  EXPECT_EQ(date_from_local_clock({2038, 2, 1, 0, 0, 0}), DATE_INVALID);
  EXPECT_EQ(date_from_local_clock({1969, 12, 31, 23, 59, 59}), DATE_INVALID);
  EXPECT_EQ(date_from_local_clock({2039, 1, 1, 0, 0, 0}), DATE_INVALID);
}

TEST(DateValue, KnownDates) {
  EXPECT_EQ(date_from_local_clock({2026, 3, 1, 12, 0, 0}), 1772366400);
  EXPECT_EQ(date_from_local_clock({2000, 2, 29, 0, 0, 0}), 951782400);
}

TEST(DateValue, InvalidCalendarFieldsGiveMinusOne) {
  // One case a line, each beside its comment.
  // clang-format off
  const LocalClock invalid[] = {
      {2023, 2, 29, 0, 0, 0},   // not a leap year
      {1900 + 200, 2, 29, 0, 0, 0},
      {2024, 2, 30, 0, 0, 0},
      {2024, 4, 31, 0, 0, 0},
      {2024, 6, 31, 0, 0, 0},
      {2024, 9, 31, 0, 0, 0},
      {2024, 11, 31, 0, 0, 0},
      {2024, 0, 1, 0, 0, 0},
      {2024, 13, 1, 0, 0, 0},
      {2024, 1, 0, 0, 0, 0},
      {2024, 1, 32, 0, 0, 0},
      {2024, 1, 1, 24, 0, 0},
      {2024, 1, 1, 0, 60, 0},
      {2024, 1, 1, 0, 0, 60},
      {2024, 1, 1, -1, 0, 0},
  };
  // clang-format on
  for (const auto& c : invalid)
    EXPECT_EQ(date_from_local_clock(c), DATE_INVALID)
        << c.year << "-" << c.month << "-" << c.day << " " << c.hour << ":" << c.minute << ":" << c.second;
  EXPECT_NE(date_from_local_clock({2024, 2, 29, 0, 0, 0}), DATE_INVALID);
  EXPECT_NE(date_from_local_clock({2024, 12, 31, 23, 59, 59}), DATE_INVALID);
}

TEST(YearOfDate, ReadsTheYearOnTheSameCalendar) {
  EXPECT_EQ(year_of_date(date_from_local_clock({2026, 3, 1, 12, 0, 0})), 2026);
  EXPECT_EQ(year_of_date(date_from_local_clock({2026, 12, 31, 23, 59, 59})), 2026);
  EXPECT_EQ(year_of_date(date_from_local_clock({2027, 1, 1, 0, 0, 0})), 2027);
  EXPECT_EQ(year_of_date(0), 1970);
  EXPECT_EQ(year_of_date(2147483647), 2038);
  EXPECT_EQ(year_of_date(DATE_INVALID), -1);
  EXPECT_EQ(year_of_date(date_from_local_clock({2038, 1, 19, 3, 14, 8})), -1);
}

TEST(LocalDateNow, MatchesTheLocalClock) {
  LocalClock before = read_local_clock();
  DateValue now = local_date_now();
  LocalClock after = read_local_clock();
  if (before.year > 2038 || after.year > 2038) GTEST_SKIP() << "the clock is past the date range";
  ASSERT_NE(now, DATE_INVALID);
  int year = year_of_date(now);
  EXPECT_TRUE(year == before.year || year == after.year) << year;
  DateValue from_fields = date_from_local_clock(after);
  EXPECT_LE(from_fields - now, 2);
  EXPECT_GE(from_fields - now, 0);
}

}  // namespace
