#pragma once
// Dates, times and timestamps as records keep them.
//
// A date is a day number: 0001-01-01 is day 1, 1899-12-30 (the zero of the
// platform's day counts) is day 693594. A time is milliseconds since
// midnight. A timestamp is day number × 86400000 + milliseconds since
// midnight, kept as a double. These functions convert between those values,
// calendar parts and the platform's local day counts (platform/date_time.h).

#include <cstdint>

#include "platform/date_time.h"

namespace vevura {

inline constexpr int64_t kMsPerDay = 86400000;
//! Day number of 1899-12-30.
inline constexpr int32_t kDayNumberOfZeroDay = 693594;

//! The day number of a calendar date; false for a date that does not exist.
bool DayNumberFromDate(int year, int month, int day, int32_t* day_number);
//! The calendar date of a day number; all zero outside years 1 to 9999.
platform::DateParts DateFromDayNumber(int32_t day_number);
//! Milliseconds since midnight; false for an impossible time.
bool MillisecondsFromTime(int hour, int minute, int second, int millisecond, int32_t* ms);
platform::TimeParts TimeFromMilliseconds(int32_t ms);

//! Day number of the date of a platform day count (its time dropped).
int32_t DayNumberFromDayCount(double days);
//! Milliseconds since midnight of the time of a platform day count.
int32_t MillisecondsFromDayCount(double days);
//! Timestamp value of a platform day count.
double TimeStampFromDayCount(double days);

}  // namespace vevura
