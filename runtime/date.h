#pragma once

#include <cstdint>

namespace runtime {

// Seconds from 1970-01-01 00:00:00 on a calendar without time zone or daylight saving;
// valid from 0 to 2147483647 (2038-01-19 03:14:07).
using DateValue = std::int32_t;
inline constexpr DateValue DATE_INVALID = -1;

// A local calendar date and time as the clock shows it.
struct LocalClock {
  int year, month, day, hour, minute, second;
};

// The date value of the local clock, or DATE_INVALID outside the date range.
DateValue local_date_now();

// The date value of the given clock fields, or DATE_INVALID when they are not a valid date and time
// inside the range.
DateValue date_from_local_clock(const LocalClock& clock);

// The calendar year of a date value; -1 for DATE_INVALID and any other negative value.
std::int32_t year_of_date(DateValue date);

// Reads the local clock (the platform's).
LocalClock read_local_clock();

}  // namespace runtime
