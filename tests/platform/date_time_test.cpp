#include "platform/date_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <limits>

namespace vevura::platform {
namespace {

double Date(int y, int m, int d) {
  double days = std::nan("");
  EXPECT_TRUE(EncodeDate(y, m, d, &days)) << y << "-" << m << "-" << d;
  return days;
}

double Time(int h, int m, int s, int ms) {
  double fraction = std::nan("");
  EXPECT_TRUE(EncodeTime(h, m, s, ms, &fraction));
  return fraction;
}

void ExpectDate(double days, int y, int m, int d) {
  DateParts p = DecodeDate(days);
  EXPECT_EQ(p.year, y) << days;
  EXPECT_EQ(p.month, m) << days;
  EXPECT_EQ(p.day, d) << days;
}

void ExpectTime(double days, int h, int m, int s, int ms) {
  TimeParts t = DecodeTime(days);
  EXPECT_EQ(t.hour, h) << days;
  EXPECT_EQ(t.minute, m) << days;
  EXPECT_EQ(t.second, s) << days;
  EXPECT_EQ(t.millisecond, ms) << days;
}

TEST(DayCount, KnownDatesHaveTheirCounts) {
  EXPECT_EQ(Date(1899, 12, 30), 0);
  EXPECT_EQ(Date(1899, 12, 31), 1);
  EXPECT_EQ(Date(1900, 1, 1), 2);
  EXPECT_EQ(Date(1900, 3, 1), 61);  // 1900 is not a leap year
  EXPECT_EQ(Date(1970, 1, 1), 25569);
  EXPECT_EQ(Date(2000, 1, 1), 36526);
  EXPECT_EQ(Date(1899, 12, 29), -1);
  EXPECT_EQ(Date(1, 1, 1), -693593);
  EXPECT_EQ(Date(9999, 12, 31), 2958465);
  ExpectDate(0, 1899, 12, 30);
  ExpectDate(2, 1900, 1, 1);
  ExpectDate(-1, 1899, 12, 29);
  ExpectDate(-693593, 1, 1, 1);
  ExpectDate(2958465, 9999, 12, 31);
}

TEST(DayCount, LeapYearsFollowTheGregorianRules) {
  EXPECT_TRUE(IsValidDate(2000, 2, 29));
  EXPECT_TRUE(IsValidDate(2024, 2, 29));
  EXPECT_TRUE(IsValidDate(1600, 2, 29));
  EXPECT_FALSE(IsValidDate(1900, 2, 29));
  EXPECT_FALSE(IsValidDate(2100, 2, 29));
  EXPECT_FALSE(IsValidDate(2023, 2, 29));
  EXPECT_FALSE(IsValidDate(2023, 4, 31));
  EXPECT_FALSE(IsValidDate(2023, 13, 1));
  EXPECT_FALSE(IsValidDate(2023, 0, 1));
  EXPECT_FALSE(IsValidDate(0, 1, 1));
  EXPECT_FALSE(IsValidDate(10000, 1, 1));
  double days = 123;
  EXPECT_FALSE(EncodeDate(1900, 2, 29, &days));
  EXPECT_EQ(days, 123);
  EXPECT_EQ(Date(2000, 3, 1) - Date(2000, 2, 28), 2);
  EXPECT_EQ(Date(1900, 3, 1) - Date(1900, 2, 28), 1);
  ExpectDate(Date(2024, 2, 29), 2024, 2, 29);
}

TEST(DayCount, EveryDayRoundTripsAndFollowsTheDayBefore) {
  // Every day of years 1 to 9999: encoding counts up by one, decoding inverts.
  double previous = Date(1, 1, 1) - 1;
  for (int y = 1; y <= 9999; ++y) {
    for (int m = 1; m <= 12; ++m) {
      for (int d = 1; d <= 31 && IsValidDate(y, m, d); ++d) {
        double days = 0;
        ASSERT_TRUE(EncodeDate(y, m, d, &days));
        ASSERT_EQ(days, previous + 1) << y << "-" << m << "-" << d;
        DateParts p = DecodeDate(days + (days < 0 ? -0.75 : 0.75));
        ASSERT_TRUE(p.year == y && p.month == m && p.day == d) << days;
        previous = days;
      }
    }
  }
}

TEST(DayCount, TimesEncodeAndDecodeToTheMillisecond) {
  EXPECT_EQ(Time(0, 0, 0, 0), 0);
  EXPECT_EQ(Time(12, 0, 0, 0), 0.5);
  EXPECT_EQ(Time(6, 0, 0, 0), 0.25);
  ExpectTime(0.5, 12, 0, 0, 0);
  ExpectTime(1.25, 6, 0, 0, 0);
  ExpectDate(1.25, 1899, 12, 31);
  double fraction = 0;
  EXPECT_FALSE(EncodeTime(24, 0, 0, 0, &fraction));
  EXPECT_FALSE(EncodeTime(0, 60, 0, 0, &fraction));
  EXPECT_FALSE(EncodeTime(0, 0, 60, 0, &fraction));
  EXPECT_FALSE(EncodeTime(0, 0, 0, 1000, &fraction));
  EXPECT_FALSE(EncodeTime(-1, 0, 0, 0, &fraction));
  // Every millisecond of a day survives a round trip on a recent date, where
  // the fraction has the fewest bits left.
  const double day = Date(2024, 6, 30);
  for (int ms = 0; ms < 86400000; ms += 997) {
    double value = day + Time(ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
    TimeParts t = DecodeTime(value);
    ASSERT_EQ(((t.hour * 60 + t.minute) * 60 + t.second) * 1000 + t.millisecond, ms) << value;
    ExpectDate(value, 2024, 6, 30);
  }
  ExpectTime(day + Time(23, 59, 59, 999), 23, 59, 59, 999);
}

TEST(DayCount, NegativeCountsKeepTheTimeCountingFromMidnight) {
  // -1.25 is 1899-12-29 06:00: the date is the whole part, the time the
  // fraction without its sign.
  ExpectDate(-1.25, 1899, 12, 29);
  ExpectTime(-1.25, 6, 0, 0, 0);
  ExpectDate(-0.5, 1899, 12, 30);
  ExpectTime(-0.5, 12, 0, 0, 0);
  double d = Date(1800, 7, 4);
  ExpectDate(d - Time(18, 30, 15, 250), 1800, 7, 4);
  ExpectTime(d - Time(18, 30, 15, 250), 18, 30, 15, 250);
}

TEST(DayCount, RoundingUpToMidnightMovesToTheNextDay) {
  const double almost = 1.0 - 0.2 / 86400000.0;  // 0.2 ms before midnight
  ExpectTime(almost, 0, 0, 0, 0);
  ExpectDate(almost, 1899, 12, 31);
  ExpectTime(2 + almost, 0, 0, 0, 0);
  ExpectDate(2 + almost, 1900, 1, 2);
  ExpectDate(-1 - almost, 1899, 12, 30);
  ExpectTime(-1 - almost, 0, 0, 0, 0);
}

TEST(DayCount, ValuesOutsideTheCalendarDecodeToZero) {
  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), 1e300, -1e300,
                     2958466.5, -693594.5}) {
    DateParts p = DecodeDate(bad);
    EXPECT_EQ(p.year + p.month + p.day, 0) << bad;
  }
  TimeParts t = DecodeTime(std::nan(""));
  EXPECT_EQ(t.hour + t.minute + t.second + t.millisecond, 0);
}

TEST(DayCount, TimeTIsLocalTime) {
  std::time_t t = 1700000000;  // a fixed instant; compared with the C library's local time
  struct tm local;
  ASSERT_NE(localtime_r(&t, &local), nullptr);
  double days = DayCountFromTimeT(t);
  ExpectDate(days, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  ExpectTime(days, local.tm_hour, local.tm_min, local.tm_sec, 0);
  double now = Now();
  EXPECT_GT(now, Date(2020, 1, 1));
  EXPECT_LT(now, Date(2200, 1, 1));
}

}  // namespace
}  // namespace vevura::platform
