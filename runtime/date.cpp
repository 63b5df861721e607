#include "runtime/date.h"

namespace runtime {

namespace {

bool is_leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
  static constexpr int DAYS[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap_year(year) ? 29 : DAYS[month - 1];
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t days_from_civil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

std::int64_t year_from_days(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  return yoe + era * 400 + (m <= 2);
}

}  // namespace

DateValue date_from_local_clock(const LocalClock& c) {
  if (c.year < 1970 || c.year > 2038) return DATE_INVALID;
  if (c.month < 1 || c.month > 12) return DATE_INVALID;
  if (c.day < 1 || c.day > days_in_month(c.year, c.month)) return DATE_INVALID;
  if (c.hour < 0 || c.hour > 23 || c.minute < 0 || c.minute > 59 || c.second < 0 || c.second > 59) return DATE_INVALID;
  const std::int64_t seconds =
      days_from_civil(c.year, c.month, c.day) * 86400 + c.hour * 3600 + c.minute * 60 + c.second;
  if (seconds > INT32_MAX) return DATE_INVALID;
  return static_cast<DateValue>(seconds);
}

DateValue local_date_now() { return date_from_local_clock(read_local_clock()); }

std::int32_t year_of_date(DateValue date) {
  if (date < 0) return -1;
  std::int64_t days = date / 86400;
  return static_cast<std::int32_t>(year_from_days(days));
}

}  // namespace runtime
