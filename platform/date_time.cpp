#include "platform/date_time.h"

#include <cmath>
#include <cstdlib>
#include <ctime>

namespace vevura::platform {

namespace {

constexpr int64_t kMsPerDay = 86400000;
//! Days from 1899-12-30 to 1970-01-01, the epoch of the civil-day arithmetic.
constexpr int64_t kUnixEpochDay = 25569;
//! Day counts of 0001-01-01 and 9999-12-31.
constexpr int64_t kFirstDay = -693593;
constexpr int64_t kLastDay = 2958465;

bool IsLeapYear(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date, by counting whole
// 400-year eras from a calendar that starts in March.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

DateParts CivilFromDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  DateParts parts;
  parts.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  parts.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  parts.year = static_cast<int>(yoe + era * 400 + (parts.month <= 2));
  return parts;
}

// The time of day of a day count in whole milliseconds, rounded to the
// nearest. Before 1899-12-30 the fraction still counts forward from midnight
// (-1.25 is 1899-12-29 06:00), so it is the absolute value of the fraction.
int64_t MillisecondsOfDay(double days) {
  double fraction = std::fabs(days - std::trunc(days));
  return std::llround(fraction * static_cast<double>(kMsPerDay));
}

// The calendar day of a day count, moved on by one when the time of day rounds
// up to midnight; false when outside years 1 to 9999 or not a number.
bool CalendarDay(double days, int64_t* day) {
  if (!std::isfinite(days) || days < kFirstDay - 1 || days > kLastDay + 1) return false;
  *day = static_cast<int64_t>(std::trunc(days));
  if (MillisecondsOfDay(days) >= kMsPerDay) ++*day;
  return *day >= kFirstDay && *day <= kLastDay;
}

// A date and a time of day as one day count.
double Combine(double date, double fraction) {
  return date < 0 ? date - fraction : date + fraction;
}

double DayCountOfLocalTime(std::time_t t, int millisecond) {
  struct tm local;
  double date = 0;
  double fraction = 0;
  if (localtime_r(&t, &local) == nullptr ||
      !EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, &date)) {
    return 0;
  }
  // A leap second (tm_sec 60) counts as the last second of its minute.
  EncodeTime(local.tm_hour, local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec, millisecond,
             &fraction);
  return Combine(date, fraction);
}

}  // namespace

bool IsValidDate(int year, int month, int day) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
         day <= DaysInMonth(year, month);
}

bool EncodeDate(int year, int month, int day, double* days) {
  if (!IsValidDate(year, month, day)) return false;
  *days = static_cast<double>(DaysFromCivil(year, month, day) + kUnixEpochDay);
  return true;
}

DateParts DecodeDate(double days) {
  int64_t day = 0;
  if (!CalendarDay(days, &day)) return DateParts{};
  return CivilFromDays(day - kUnixEpochDay);
}

bool EncodeTime(int hour, int minute, int second, int millisecond, double* fraction) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999) {
    return false;
  }
  int64_t ms = ((int64_t{hour} * 60 + minute) * 60 + second) * 1000 + millisecond;
  *fraction = static_cast<double>(ms) / static_cast<double>(kMsPerDay);
  return true;
}

TimeParts DecodeTime(double days) {
  if (!std::isfinite(days)) return TimeParts{};
  int64_t ms = MillisecondsOfDay(days) % kMsPerDay;
  TimeParts parts;
  parts.millisecond = static_cast<int>(ms % 1000);
  parts.second = static_cast<int>(ms / 1000 % 60);
  parts.minute = static_cast<int>(ms / 60000 % 60);
  parts.hour = static_cast<int>(ms / 3600000);
  return parts;
}

double Now() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return DayCountOfLocalTime(ts.tv_sec, static_cast<int>(ts.tv_nsec / 1000000));
}

double DayCountFromTimeT(std::time_t t) {
  return DayCountOfLocalTime(t, 0);
}

}  // namespace vevura::platform
