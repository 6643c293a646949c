#include "engine/storage/fields/value_text.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "engine/storage/common/trim.h"
#include "engine/storage/fields/date_encoding.h"

namespace vevura {
namespace {

char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

//! A run of decimal digits (blanks around allowed) as a number of at most
//! nine digits.
bool ParseUnsigned(std::string_view text, int* value) {
  std::string digits = TrimText(text);
  if (digits.empty() || digits.size() > 9) return false;
  int result = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), result);
  if (ec != std::errc() || end != digits.data() + digits.size() || digits[0] == '-') return false;
  *value = result;
  return true;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string_view::npos ? at : at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

//! Removes one "AM" or "PM" (any case) from text; 0 none, 1 AM, 2 PM.
int TakeMeridiem(std::string& text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    char a = UpperAscii(text[i]);
    if ((a == 'A' || a == 'P') && UpperAscii(text[i + 1]) == 'M') {
      text.erase(i, 2);
      return a == 'A' ? 1 : 2;
    }
  }
  return 0;
}

}  // namespace

bool ParseDateText(std::string_view text, int32_t* day_number) {
  const std::string trimmed = TrimText(text);
  std::vector<std::string_view> parts = Split(trimmed, '-');
  int year = 0, month = 0, day = 0;
  if (parts.size() != 3 || !ParseUnsigned(parts[0], &year) || !ParseUnsigned(parts[1], &month) ||
      !ParseUnsigned(parts[2], &day)) {
    return false;
  }
  return DayNumberFromDate(year, month, day, day_number);
}

bool ParseTimeText(std::string_view text, int32_t* milliseconds) {
  std::string rest(text);
  int meridiem = TakeMeridiem(rest);
  std::vector<std::string_view> parts = Split(rest, ':');
  if (parts.size() < 2 || parts.size() > 3) return false;
  int hour = 0, minute = 0, second = 0, ms = 0;
  if (!ParseUnsigned(parts[0], &hour) || !ParseUnsigned(parts[1], &minute)) return false;
  if (parts.size() == 3) {
    std::vector<std::string_view> seconds = Split(parts[2], '.');
    if (seconds.size() > 2 || !ParseUnsigned(seconds[0], &second)) return false;
    if (seconds.size() == 2 && !ParseUnsigned(seconds[1], &ms)) return false;
  }
  if (meridiem == 1 && hour == 12) hour = 0;
  if (meridiem == 2 && hour != 12) hour += 12;
  return MillisecondsFromTime(hour, minute, second, ms, milliseconds);
}

bool ParseTimeStampText(std::string_view text, double* timestamp) {
  std::string trimmed = TrimText(text);
  int32_t day_number = 0;
  int32_t ms = 0;
  size_t blank = trimmed.find(' ');
  if (blank != std::string::npos && ParseDateText(trimmed.substr(0, blank), &day_number)) {
    if (!ParseTimeText(trimmed.substr(blank + 1), &ms)) return false;
  } else if (trimmed.find(':') != std::string::npos) {
    if (!ParseTimeText(trimmed, &ms)) return false;
    day_number = kDayNumberOfZeroDay;
  } else if (!ParseDateText(trimmed, &day_number)) {
    return false;
  }
  *timestamp = static_cast<double>(day_number) * kMsPerDay + ms;
  return true;
}

bool ParseBooleanText(std::string_view text, bool* value) {
  if (EqualsIgnoringCase(text, "TRUE")) {
    *value = true;
  } else if (EqualsIgnoringCase(text, "FALSE")) {
    *value = false;
  } else {
    return false;
  }
  return true;
}

bool ParseIntegerText(std::string_view text, int64_t min, int64_t max, int64_t* value) {
  std::string trimmed = TrimText(text);
  const char* begin = trimmed.data();
  const char* end = begin + trimmed.size();
  if (begin != end && *begin == '+') ++begin;
  int64_t result = 0;
  auto [stop, ec] = std::from_chars(begin, end, result);
  if (ec != std::errc() || stop != end || result < min || result > max) return false;
  *value = result;
  return true;
}

bool ParseFloatText(std::string_view text, double* value) {
  std::string trimmed = TrimText(text);
  const char* begin = trimmed.data();
  const char* end = begin + trimmed.size();
  if (begin != end && *begin == '+') ++begin;
  // Only plain decimal forms: no "inf", "nan" or hexadecimal.
  for (const char* p = begin; p != end; ++p) {
    if (!(std::isdigit(static_cast<unsigned char>(*p)) || *p == '.' || *p == '-' || *p == 'e' ||
          *p == 'E' || *p == '+')) {
      return false;
    }
  }
  double result = 0;
  auto [stop, ec] = std::from_chars(begin, end, result, std::chars_format::general);
  if (ec != std::errc() || stop != end || !std::isfinite(result)) return false;
  *value = result;
  return true;
}

std::string DateText(int32_t day_number) {
  platform::DateParts date = DateFromDayNumber(day_number);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", date.year, date.month, date.day);
  return buffer;
}

std::string TimeText(int32_t milliseconds) {
  platform::TimeParts time = TimeFromMilliseconds(milliseconds);
  char buffer[40];
  if (time.second == 0) {
    std::snprintf(buffer, sizeof buffer, "%02d:%02d", time.hour, time.minute);
  } else if (time.millisecond == 0) {
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", time.hour, time.minute, time.second);
  } else {
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d.%d", time.hour, time.minute, time.second,
                  time.millisecond);
  }
  return buffer;
}

std::string TimeStampText(double timestamp) {
  double day_number = std::floor(timestamp / kMsPerDay);
  // Far outside the calendar (or not a number): shown as the empty date.
  if (!(day_number >= 0 && day_number <= 4000000)) {
    day_number = 0;
    timestamp = 0;
  }
  double ms = timestamp - day_number * kMsPerDay;
  return DateText(static_cast<int32_t>(day_number)) + " " +
         TimeText(static_cast<int32_t>(std::llround(ms)) % static_cast<int32_t>(kMsPerDay));
}

std::string BooleanText(bool value) {
  return value ? "True" : "False";
}

std::string FloatText(double value) {
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return ec == std::errc() ? std::string(buffer, end) : std::string("0");
}

}  // namespace vevura
