#include "engine/storage/data/field_validation.h"

#include <gtest/gtest.h>

#include "engine/storage/fields/value_text.h"
#include "tests/engine/storage/table_definition_support.h"

namespace vevura {
namespace {

using test::CodeRaisedBy;
using test::FieldDefinition;

uint16_t CreateCode(std::vector<TFieldDescriptor> fields) {
  return CodeRaisedBy([&] { ValidateNewFields(fields, "T"); });
}

TEST(FieldValidation, NamesAreTrimmedCutCheckedAndUniqueWithoutRegardToCase) {
  std::vector<TFieldDescriptor> fields = {
      FieldDefinition(1, "  Padded\t ", fcString, 0, 10, false),
      FieldDefinition(2, std::string(40, 'L'), fcInteger, 0, 0, false),
  };
  ValidateNewFields(fields, "T");
  EXPECT_EQ(fields[0].Name, "Padded");
  EXPECT_EQ(fields[1].Name, std::string(30, 'L'));

  auto named = [](const std::string& name) {
    return std::vector<TFieldDescriptor>{FieldDefinition(1, name, fcInteger, 0, 0, false)};
  };
  EXPECT_EQ(CreateCode(named("_under")), 0);
  EXPECT_EQ(CreateCode(named("\xC4pfel")), 0) << "characters 128 to 254 may start a name";
  EXPECT_EQ(CreateCode(named("   ")), VEVURA_INVALIDFIELDNAME);
  EXPECT_EQ(CreateCode(named("1st")), VEVURA_INVALIDFIELDNAME);
  EXPECT_EQ(CreateCode(named("\xFFx")), VEVURA_INVALIDFIELDNAME);
  EXPECT_EQ(CreateCode({FieldDefinition(1, "API", fcString, 0, 5, false),
                        FieldDefinition(2, " api", fcString, 0, 5, false)}),
            VEVURA_INVALIDFIELDNAME);

  std::vector<TFieldDescriptor> dup = {FieldDefinition(1, "A", fcString, 0, 5, false),
                                       FieldDefinition(2, "a", fcString, 0, 5, false)};
  try {
    ValidateNewFields(dup, "CATX");
    FAIL() << "duplicate accepted";
  } catch (const EVEVURAEngineError& e) {
    EXPECT_EQ(e.ErrorTable, "CATX");
    EXPECT_EQ(e.ErrorField, "A");
  }
}

TEST(FieldValidation, TypesSizesAndNumbersFollowTheRules) {
  auto one = [](uint8_t type, uint8_t size, uint16_t number = 1) {
    return std::vector<TFieldDescriptor>{FieldDefinition(number, "F", type, 0, size, false)};
  };
  EXPECT_EQ(CreateCode(one(fcNone, 0)), VEVURA_INVALIDFLDTYPE);
  EXPECT_EQ(CreateCode(one(fcString, 0)), VEVURA_INVALIDFLDTYPE);
  EXPECT_EQ(CreateCode(one(fcString, 251)), VEVURA_INVALIDFLDTYPE);
  EXPECT_EQ(CreateCode(one(fcString, 250)), 0);
  EXPECT_EQ(CreateCode(one(fcBytes, 0)), VEVURA_INVALIDFLDTYPE);
  EXPECT_EQ(CreateCode(one(fcVarBytes, 251)), VEVURA_INVALIDFLDTYPE);
  EXPECT_EQ(CreateCode(one(fcInteger, 0, 2)), VEVURA_INVALIDFLDTYPE) << "number not its position";
  EXPECT_EQ(CreateCode({FieldDefinition(1, "A", fcInteger, 0, 0, false),
                        FieldDefinition(1, "B", fcInteger, 0, 0, false)}),
            VEVURA_INVALIDFLDTYPE);

  std::vector<TFieldDescriptor> sized = one(fcInteger, 12);
  sized[0].Scale = 3;
  ValidateNewFields(sized, "T");
  EXPECT_EQ(sized[0].Size, 0) << "an integer keeps no size";
  EXPECT_EQ(sized[0].Scale, 0);
  EXPECT_EQ(sized[0].PhysicalSize, 4);

  std::vector<TFieldDescriptor> bcd = one(fcBCD, 0);
  bcd[0].Scale = 4;
  EXPECT_EQ(ValidateNewFields(bcd, "T"), 9u + 35u);
  EXPECT_EQ(bcd[0].PhysicalScale, 4);
  bcd[0].Scale = 33;
  EXPECT_EQ(CreateCode(bcd), VEVURA_INVALIDFLDTYPE) << "more decimals than digits";
}

TEST(FieldValidation, LayoutGivesEveryStoredSize) {
  const struct {
    uint8_t type, subtype, size;
    int stored;
  } kinds[] = {
      {fcString, 0, 10, 11},        {fcDate, 0, 0, 4},
      {fcBlob, fsMemo, 0, 8},       {fcBoolean, 0, 0, 2},
      {fcSmallInt, 0, 0, 2},        {fcInteger, 0, 0, 4},
      {fcFloat, fsMoney, 0, 8},     {fcBCD, 0, 0, 34},
      {fcBytes, 0, 7, 7},           {fcTime, 0, 0, 4},
      {fcTimeStamp, 0, 0, 8},       {fcWord, 0, 0, 2},
      {fcVarBytes, 0, 20, 20},      {fcLargeInt, 0, 0, 8},
      {fcCursor, 0, 0, 0},          {fcADT, 0, 0, 0},
      {fcInteger, fsAutoInc, 0, 4},
  };
  std::vector<TFieldDescriptor> fields;
  for (const auto& k : kinds) {
    fields.push_back(FieldDefinition(static_cast<uint16_t>(fields.size() + 1),
                                     "F" + std::to_string(fields.size()), k.type, k.subtype, k.size,
                                     false));
  }
  uint32_t record_size = ValidateNewFields(fields, "T");
  uint32_t running = 9;
  for (size_t i = 0; i < fields.size(); ++i) {
    EXPECT_EQ(fields[i].PhysicalSize, kinds[i].stored) << i;
    if (fields[i].IsAutoInc()) {
      EXPECT_EQ(fields[i].Offset, 5);
      continue;
    }
    EXPECT_EQ(fields[i].Offset, running) << i;
    running += kinds[i].stored + 1;
  }
  EXPECT_EQ(record_size, running);
  EXPECT_TRUE(StoredFieldsValid(fields, record_size));
  EXPECT_FALSE(StoredFieldsValid(fields, record_size + 1));

  // An auto-increment field adds nothing; a no-storage field takes no slot.
  std::vector<TFieldDescriptor> auto_only = {FieldDefinition(1, "ID", fcInteger, fsAutoInc, 0, 1)};
  EXPECT_EQ(ValidateNewFields(auto_only, "T"), 9u);
  std::vector<TFieldDescriptor> with_hidden = {FieldDefinition(1, "A", fcInteger, 0, 0, 0),
                                               FieldDefinition(2, "B", fcInteger, 0, 0, 0)};
  with_hidden[0].NoStorage = 1;
  EXPECT_EQ(ValidateNewFields(with_hidden, "T"), 14u);
  EXPECT_EQ(with_hidden[1].Offset, 9);
}

TEST(FieldValidation, DefaultMinimumAndMaximumTextsMustSuitTheType) {
  auto with_default = [](uint8_t type, const std::string& text, uint8_t size = 0) {
    std::vector<TFieldDescriptor> f = {FieldDefinition(1, "F", type, 0, size, false)};
    f[0].DefaultValue = text;
    return CreateCode(f);
  };
  EXPECT_EQ(with_default(fcDate, "current_date"), 0);
  EXPECT_EQ(with_default(fcDate, "2004-2-29"), 0);
  EXPECT_EQ(with_default(fcDate, "2003-2-29"), VEVURA_INVALIDVCHKSTRUCT);
  EXPECT_EQ(with_default(fcDate, "CURRENT_TIME"), VEVURA_INVALIDVCHKSTRUCT);
  EXPECT_EQ(with_default(fcTime, "Current_Time"), 0);
  EXPECT_EQ(with_default(fcTime, "10:05 pm"), 0);
  EXPECT_EQ(with_default(fcTime, "24:00"), VEVURA_INVALIDVCHKSTRUCT);
  EXPECT_EQ(with_default(fcTimeStamp, "CURRENT_DATE"), 0);
  EXPECT_EQ(with_default(fcTimeStamp, "CURRENT_TIME"), 0);
  EXPECT_EQ(with_default(fcTimeStamp, "2004-02-29 23:59:59.999"), 0);
  EXPECT_EQ(with_default(fcInteger, "abc"), VEVURA_INVALIDVCHKSTRUCT);
  EXPECT_EQ(with_default(fcInteger, "-2147483648"), 0);
  EXPECT_EQ(with_default(fcInteger, "2147483648"), VEVURA_INVALIDVCHKSTRUCT);
  EXPECT_EQ(with_default(fcSmallInt, "40000"), VEVURA_INVALIDVCHKSTRUCT);
  EXPECT_EQ(with_default(fcWord, "-1"), VEVURA_INVALIDVCHKSTRUCT);
  EXPECT_EQ(with_default(fcWord, "65535"), 0);
  EXPECT_EQ(with_default(fcLargeInt, "-9223372036854775808"), 0);
  EXPECT_EQ(with_default(fcBoolean, "tRuE"), 0);
  EXPECT_EQ(with_default(fcBoolean, "yes"), VEVURA_INVALIDVCHKSTRUCT);
  EXPECT_EQ(with_default(fcFloat, "-1.5e3"), 0);
  EXPECT_EQ(with_default(fcFloat, "inf"), VEVURA_INVALIDVCHKSTRUCT);
  EXPECT_EQ(with_default(fcFloat, "1,5"), VEVURA_INVALIDVCHKSTRUCT);
  EXPECT_EQ(with_default(fcBCD, "12.345"), 0);
  EXPECT_EQ(with_default(fcString, "any text at all", 5), 0);
  EXPECT_EQ(with_default(fcBytes, "whatever", 5), 0);

  std::vector<TFieldDescriptor> bounded = {FieldDefinition(1, "F", fcInteger, 0, 0, false)};
  bounded[0].MaxValue = "ten";
  EXPECT_EQ(CreateCode(bounded), VEVURA_INVALIDVCHKSTRUCT);
  bounded[0].MaxValue = "10";
  bounded[0].MinValue = "1.5";
  EXPECT_EQ(CreateCode(bounded), VEVURA_INVALIDVCHKSTRUCT);
}

TEST(FieldValidation, TableLimitsAreCheckedInOrder) {
  TNewTableHeader params;
  auto code = [&](size_t fields, int secondary) {
    return CodeRaisedBy([&] { CheckNewTableLimits(params, fields, secondary, "T"); });
  };
  EXPECT_EQ(code(1024, 32), 0);
  EXPECT_EQ(code(1025, 0), VEVURA_FLDLIMIT);
  EXPECT_EQ(code(1, 33), VEVURA_INDEXLIMIT);
  params.BlobBlockSize = 63;
  EXPECT_EQ(code(1, 0), VEVURA_BLOBLIMIT);
  params.BlobBlockSize = 64;
  params.Encrypted = true;
  params.Password = "  ";
  EXPECT_EQ(code(2000, 0), VEVURA_INVALIDPASSWORD) << "the password comes first";
  params.Password = "pw";
  params.LanguageId = 0x7FFF;
  EXPECT_EQ(code(1, 0), VEVURA_CANNOTLOADLDDRV);
  params.LanguageId = 1033;
  EXPECT_EQ(code(1, 0), 0);
}

TEST(ValueText, DatesTimesAndTimestampsParseAndPrintInTheEngineForm) {
  int32_t day = 0;
  ASSERT_TRUE(ParseDateText("0001-01-01", &day));
  EXPECT_EQ(day, 1);
  ASSERT_TRUE(ParseDateText("1899-12-30", &day));
  EXPECT_EQ(day, 693594);
  ASSERT_TRUE(ParseDateText(" 2004-2-29 ", &day));
  EXPECT_EQ(DateText(day), "2004-02-29");
  EXPECT_FALSE(ParseDateText("2004/02/29", &day));
  EXPECT_FALSE(ParseDateText("2004-02", &day));
  EXPECT_FALSE(ParseDateText("10000-01-01", &day));

  int32_t ms = 0;
  ASSERT_TRUE(ParseTimeText("12:00", &ms));
  EXPECT_EQ(ms, 43200000);
  ASSERT_TRUE(ParseTimeText("12:00 AM", &ms));
  EXPECT_EQ(ms, 0);
  ASSERT_TRUE(ParseTimeText("pm 1:30", &ms));
  EXPECT_EQ(ms, 13 * 3600000 + 30 * 60000);
  ASSERT_TRUE(ParseTimeText("10:05:07.5", &ms));
  EXPECT_EQ(TimeText(ms), "10:05:07.5");
  EXPECT_EQ(TimeText(10 * 3600000 + 5 * 60000), "10:05");
  EXPECT_FALSE(ParseTimeText("10", &ms));
  EXPECT_FALSE(ParseTimeText("10:61", &ms));
  EXPECT_FALSE(ParseTimeText("1:2:3:4", &ms));

  double ts = 0;
  ASSERT_TRUE(ParseTimeStampText("2004-02-29 10:05", &ts));
  EXPECT_EQ(TimeStampText(ts), "2004-02-29 10:05");
  ASSERT_TRUE(ParseTimeStampText("06:00", &ts));
  EXPECT_EQ(ts, 693594.0 * 86400000 + 6 * 3600000);
  ASSERT_TRUE(ParseTimeStampText("0001-01-01", &ts));
  EXPECT_EQ(ts, 86400000.0);
  EXPECT_FALSE(ParseTimeStampText("tomorrow", &ts));

  int64_t n = 0;
  EXPECT_TRUE(ParseIntegerText(" +42 ", -100, 100, &n));
  EXPECT_EQ(n, 42);
  EXPECT_FALSE(ParseIntegerText("4 2", -100, 100, &n));
  EXPECT_FALSE(ParseIntegerText("", -100, 100, &n));
  double f = 0;
  EXPECT_TRUE(ParseFloatText("2.5", &f));
  EXPECT_EQ(FloatText(f), "2.5");
  EXPECT_EQ(FloatText(0.1), "0.1");
  EXPECT_FALSE(ParseFloatText("0x10", &f));
  EXPECT_FALSE(ParseFloatText("1e999", &f));
}

}  // namespace
}  // namespace vevura
