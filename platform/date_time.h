#pragma once
// Dates and times as the table files keep them: a day count with fraction
// since 1899-12-30 00:00 in local time (1.25 is 1899-12-31 06:00).

#include <cstdint>
#include <ctime>

namespace vevura::platform {

struct DateParts {
  int year = 0, month = 0, day = 0;
};
struct TimeParts {
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

//! True when the date exists in the proleptic Gregorian calendar, years 1 to 9999.
bool IsValidDate(int year, int month, int day);
//! Days since 1899-12-30 (negative before it); false for an invalid date.
bool EncodeDate(int year, int month, int day, double* days);
//! The calendar date of a day count; all zero outside years 1 to 9999 or for
//! a value that is not a number.
DateParts DecodeDate(double days);
//! Fraction of a day; false for hour > 23, minute > 59, second > 59 or ms > 999.
bool EncodeTime(int hour, int minute, int second, int millisecond, double* fraction);
//! The time of day of a day count, rounded to the nearest millisecond (a value
//! that rounds up to midnight gives 00:00:00.000, and DecodeDate the next day).
//! Before 1899-12-30 the fraction still counts from midnight: -1.25 is
//! 1899-12-29 06:00. All zero for a value that is not a number.
TimeParts DecodeTime(double days);

//! The current local date and time as a day count.
double Now();
//! A time_t as a local day count.
double DayCountFromTimeT(std::time_t t);

}  // namespace vevura::platform
