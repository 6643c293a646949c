// Default values of new records and the required, minimum and maximum rules
// of posted ones, over record images.

#include "engine/storage/fields/field_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/storage/fields/bcd.h"
#include "engine/storage/fields/date_encoding.h"
#include "engine/storage/fields/record_layout.h"

namespace vevura {
namespace {

TFieldDescriptor Def(uint16_t number, uint8_t type, uint8_t subtype = fsNone, uint8_t size = 0) {
  TFieldDescriptor d;
  d.FieldNumber = number;
  d.Name = "F" + std::to_string(number);
  d.Type = type;
  d.Subtype = subtype;
  d.Size = size;
  return d;
}

//! Fields laid out as a table keeps them, and a record image for them.
struct Layout {
  std::vector<TFieldDescriptor> fields;
  std::vector<uint8_t> record;

  explicit Layout(std::vector<TFieldDescriptor> defs) : fields(std::move(defs)) {
    record.assign(LayOutFields(fields), 0xEE);
  }
  const TFieldDescriptor& operator[](size_t number) const { return fields[number - 1]; }
};

//! 2020-05-17 13:45:30.250 as a platform day count.
double FixedNow() {
  double date = 0, time = 0;
  platform::EncodeDate(2020, 5, 17, &date);
  platform::EncodeTime(13, 45, 30, 250, &time);
  return date + time;
}

constexpr int32_t kFixedMs = ((13 * 60 + 45) * 60 + 30) * 1000 + 250;

int32_t DayOf(int year, int month, int day) {
  int32_t n = 0;
  EXPECT_TRUE(DayNumberFromDate(year, month, day, &n));
  return n;
}

TEST(FieldRulesTest, DefaultsFillFieldsByKindAndLeaveTheRestNull) {
  // Parsing of the value texts is the field codec's; here: which fields
  // take a default and how they are marked.
  Layout t({Def(1, fcInteger, fsAutoInc), Def(2, fcString, fsNone, 10), Def(3, fcBCD),
            Def(4, fcBytes, fsNone, 4), Def(5, fcBlob, fsMemo), Def(6, fcInteger),
            Def(7, fcInteger)});
  t.fields[0].DefaultValue = "7";  // the row id is given at insert, never by a default
  t.fields[1].DefaultValue = "abc  ";
  t.fields[1].CharCase = ccUpperCase;
  t.fields[2].Scale = 2;
  t.fields[2].DefaultValue = "12.34";
  t.fields[3].DefaultValue = "anything";
  t.fields[4].DefaultValue = "anything";
  t.fields[5].DefaultValue = "not a number";
  ASSERT_TRUE(HasDefaultValues(t.fields));

  FillDefaultValues(t.record, t.fields, TTableLanguage{}, FixedNow());

  EXPECT_EQ(RecordRowId(t.record), 0);
  EXPECT_EQ(t.record[0], 0) << "the record header is zero";
  EXPECT_EQ(GetStringField(t.record, t[2]), "ABC");
  EXPECT_EQ(BcdToText(GetBcdField(t.record, t[3])), "12.34");
  // Kinds without a text form: zero bytes that count as a value.
  EXPECT_FALSE(FieldIsNull(t.record, t[4]));
  EXPECT_EQ(GetBytesField(t.record, t[4]), std::vector<uint8_t>(4, 0));
  EXPECT_FALSE(FieldIsNull(t.record, t[5]));
  EXPECT_EQ(GetBlobField(t.record, t[5]).FirstBlock, 0);
  // A default that does not parse, and a field without one: null, all zero.
  for (size_t n : {6, 7}) {
    EXPECT_TRUE(FieldIsNull(t.record, t[n])) << n;
    EXPECT_EQ(GetIntegerField(t.record, t[n]), 0) << n;
  }
}

TEST(FieldRulesTest, CurrentMomentsAreTakenAsEachTypeKeepsThem) {
  Layout t({Def(1, fcDate), Def(2, fcTime), Def(3, fcTimeStamp), Def(4, fcTimeStamp),
            Def(5, fcTimeStamp), Def(6, fcDate)});
  t.fields[0].DefaultValue = "current_date";
  t.fields[1].DefaultValue = "CURRENT_TIME";
  t.fields[2].DefaultValue = "Current_Timestamp";
  t.fields[3].DefaultValue = "CURRENT_DATE";
  t.fields[4].DefaultValue = "CURRENT_TIME";
  t.fields[5].DefaultValue = "CURRENT_TIME";  // a date has no time of day
  FillDefaultValues(t.record, t.fields, TTableLanguage{}, FixedNow());

  const int32_t today = DayOf(2020, 5, 17);
  EXPECT_EQ(GetDateField(t.record, t[1]), today);
  EXPECT_EQ(GetTimeField(t.record, t[2]), kFixedMs);
  EXPECT_EQ(GetTimeStampField(t.record, t[3]), double(today) * kMsPerDay + kFixedMs);
  EXPECT_EQ(GetTimeStampField(t.record, t[4]), double(today) * kMsPerDay);
  EXPECT_EQ(GetTimeStampField(t.record, t[5]), double(kDayNumberOfZeroDay) * kMsPerDay + kFixedMs);
  EXPECT_TRUE(FieldIsNull(t.record, t[6]));
}

TEST(FieldRulesTest, RequiredMinimumAndMaximumInFieldOrder) {
  Layout t({Def(1, fcInteger, fsAutoInc), Def(2, fcString, fsNone, 10), Def(3, fcInteger),
            Def(4, fcFloat), Def(5, fcDate)});
  t.fields[0].Required = 1;  // never null: its value is the row id
  t.fields[0].MinValue = "100";
  t.fields[1].Required = 1;
  t.fields[2].MinValue = "-3";
  t.fields[2].MaxValue = "300";
  t.fields[3].MaxValue = "-0.5";
  t.fields[4].MinValue = "2000-1-1";
  ASSERT_TRUE(HasValueRules(t.fields));
  std::fill(t.record.begin(), t.record.end(), 0);
  auto check = [&] { return CheckValueRules(t.record, t.fields, TTableLanguage{}, FixedNow()); };

  TValueRuleBreach breach = check();
  EXPECT_EQ(breach.Code, VEVURA_REQDERR);
  ASSERT_NE(breach.Field, nullptr);
  EXPECT_EQ(breach.Field->FieldNumber, 2);

  SetStringField(t.record, t[2], "x", 0);
  SetIntegerField(t.record, t[3], -4);  // bytewise this is above 300
  EXPECT_EQ(check().Code, VEVURA_MINVALERR);
  EXPECT_EQ(check().Field->FieldNumber, 3);
  SetIntegerField(t.record, t[3], 301);
  EXPECT_EQ(check().Code, VEVURA_MAXVALERR);
  SetIntegerField(t.record, t[3], -3);
  // A null float compares as 0, which lies above the maximum of -0.5.
  EXPECT_EQ(check().Code, VEVURA_MAXVALERR);
  EXPECT_EQ(check().Field->FieldNumber, 4);
  SetFloatField(t.record, t[4], -7.25);
  EXPECT_EQ(check().Code, VEVURA_MINVALERR) << "a null date is day 0, before 2000";
  EXPECT_EQ(check().Field->FieldNumber, 5);
  SetDateField(t.record, t[5], DayOf(1999, 12, 31));
  EXPECT_EQ(check().Code, VEVURA_MINVALERR);
  SetDateField(t.record, t[5], DayOf(2000, 1, 1));
  EXPECT_EQ(check().Code, 0);
  SetIntegerField(t.record, t[3], 300);
  EXPECT_EQ(check().Code, 0);
}

TEST(FieldRulesTest, BoundsCompareInTheTableCollationAndAsMoments) {
  Layout t({Def(1, fcString, fsNone, 10), Def(2, fcTimeStamp), Def(3, fcBlob, fsMemo),
            Def(4, fcSmallInt), Def(5, fcLargeInt)});
  t.fields[0].MinValue = "B";
  t.fields[1].MaxValue = "CURRENT_TIMESTAMP";
  t.fields[2].MinValue = "zzz";  // BLOBs have no order
  t.fields[3].MinValue = "-2";
  t.fields[4].MaxValue = "5000000000";
  std::fill(t.record.begin(), t.record.end(), 0);
  SetStringField(t.record, t[1], "\xC4pfel", 0);  // "Äpfel" in code page 1252
  SetSmallIntField(t.record, t[4], -2);
  SetLargeIntField(t.record, t[5], 4999999999);
  const double now = FixedNow();
  SetTimeStampField(t.record, t[2], TimeStampFromDayCount(now));
  SetBlobField(t.record, t[3], TBlobReference{1, 1}, true);

  // Without a language strings compare as bytes: 0xC4 lies above "B".
  EXPECT_EQ(CheckValueRules(t.record, t.fields, TTableLanguage{}, now).Code, 0);
  // German sorts "Ä" with "A", before "B".
  TValueRuleBreach german = CheckValueRules(t.record, t.fields, TTableLanguage{1031, 0}, now);
  EXPECT_EQ(german.Code, VEVURA_MINVALERR);
  EXPECT_EQ(german.Field->FieldNumber, 1);

  SetStringField(t.record, t[1], "Bar", 0);
  SetTimeStampField(t.record, t[2], TimeStampFromDayCount(now) + 1);
  EXPECT_EQ(CheckValueRules(t.record, t.fields, TTableLanguage{1031, 0}, now).Code,
            VEVURA_MAXVALERR);
  SetTimeStampField(t.record, t[2], TimeStampFromDayCount(now));
  SetLargeIntField(t.record, t[5], 5000000001);
  EXPECT_EQ(CheckValueRules(t.record, t.fields, TTableLanguage{1031, 0}, now).Field->FieldNumber,
            5);
}

}  // namespace
}  // namespace vevura
