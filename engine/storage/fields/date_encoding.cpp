#include "engine/storage/fields/date_encoding.h"

namespace vevura {

bool DayNumberFromDate(int year, int month, int day, int32_t* day_number) {
  double days = 0;
  if (!platform::EncodeDate(year, month, day, &days)) return false;
  *day_number = static_cast<int32_t>(days) + kDayNumberOfZeroDay;
  return true;
}

platform::DateParts DateFromDayNumber(int32_t day_number) {
  return platform::DecodeDate(static_cast<double>(day_number) - kDayNumberOfZeroDay);
}

bool MillisecondsFromTime(int hour, int minute, int second, int millisecond, int32_t* ms) {
  double fraction = 0;
  if (!platform::EncodeTime(hour, minute, second, millisecond, &fraction)) return false;
  *ms = ((hour * 60 + minute) * 60 + second) * 1000 + millisecond;
  return true;
}

platform::TimeParts TimeFromMilliseconds(int32_t ms) {
  platform::TimeParts parts;
  if (ms < 0 || ms >= kMsPerDay) return parts;
  parts.millisecond = ms % 1000;
  parts.second = ms / 1000 % 60;
  parts.minute = ms / 60000 % 60;
  parts.hour = ms / 3600000;
  return parts;
}

int32_t DayNumberFromDayCount(double days) {
  platform::DateParts date = platform::DecodeDate(days);
  int32_t day_number = 0;
  DayNumberFromDate(date.year, date.month, date.day, &day_number);
  return day_number;
}

int32_t MillisecondsFromDayCount(double days) {
  platform::TimeParts time = platform::DecodeTime(days);
  int32_t ms = 0;
  MillisecondsFromTime(time.hour, time.minute, time.second, time.millisecond, &ms);
  return ms;
}

double TimeStampFromDayCount(double days) {
  return static_cast<double>(DayNumberFromDayCount(days)) * kMsPerDay +
         MillisecondsFromDayCount(days);
}

}  // namespace vevura
