#include "engine/storage/fields/field_codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <random>

#include "engine/storage/common/byte_order.h"
#include "engine/storage/data/field_validation.h"
#include "engine/storage/fields/date_encoding.h"
#include "engine/storage/fields/record_layout.h"
#include "engine/storage/fields/value_text.h"
#include "tests/engine/storage/table_definition_support.h"

namespace vevura {
namespace {

using test::CodeRaisedBy;
using test::FieldDefinition;

constexpr uint32_t kNoLanguage = 0;

//! One field of every kind that has data, laid out as a table would be.
struct AllKinds {
  std::vector<TFieldDescriptor> fields;
  std::vector<uint8_t> record;
  AllKinds() {
    const struct {
      const char* name;
      uint8_t type, subtype, size;
    } kinds[] = {
        {"ID", fcInteger, fsAutoInc, 0},
        {"S", fcString, 0, 10},
        {"D", fcDate, 0, 0},
        {"B", fcBlob, fsMemo, 0},
        {"L", fcBoolean, 0, 0},
        {"SI", fcSmallInt, 0, 0},
        {"I", fcInteger, 0, 0},
        {"F", fcFloat, 0, 0},
        {"M", fcFloat, fsMoney, 0},
        {"N", fcBCD, 0, 0},
        {"BY", fcBytes, 0, 6},
        {"T", fcTime, 0, 0},
        {"TS", fcTimeStamp, 0, 0},
        {"W", fcWord, 0, 0},
        {"VB", fcVarBytes, 0, 12},
        {"LI", fcLargeInt, 0, 0},
        {"UP", fcString, 0, 8},
        {"LO", fcString, 0, 8},
    };
    for (const auto& k : kinds) {
      fields.push_back(FieldDefinition(static_cast<uint16_t>(fields.size() + 1), k.name, k.type,
                                       k.subtype, k.size, false));
    }
    fields[9].Scale = 2;
    fields[16].CharCase = ccUpperCase;
    fields[17].CharCase = ccLowerCase;
    record.assign(ValidateNewFields(fields, "T"), 0);
  }
  const TFieldDescriptor& operator[](const std::string& name) const {
    for (const auto& f : fields) {
      if (f.Name == name) return f;
    }
    throw std::out_of_range(name);
  }
};

TEST(FieldCodec, ANewRecordHasEveryFieldNullButTheAutoIncrementField) {
  AllKinds t;
  for (const auto& f : t.fields) {
    EXPECT_EQ(FieldIsNull(t.record, f), !f.IsAutoInc()) << f.Name;
    EXPECT_EQ(GetFieldText(t.record, f), f.IsAutoInc() ? "0" : "") << f.Name;
  }
  SetFieldNull(t.record, t["ID"]);  // cannot be null: nothing happens
  EXPECT_FALSE(FieldIsNull(t.record, t["ID"]));
}

TEST(FieldCodec, StringsAreCutTrimmedCasedAndEmptyIsNull) {
  AllKinds t;
  const TFieldDescriptor& s = t["S"];
  SetStringField(t.record, s, "abc   ", kNoLanguage);
  EXPECT_EQ(t.record[s.Offset], 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&t.record[s.Offset + 1]), 4),
            std::string("abc\0", 4));
  EXPECT_EQ(GetStringField(t.record, s), "abc");

  SetStringField(t.record, s, "   ", kNoLanguage);
  EXPECT_TRUE(FieldIsNull(t.record, s));
  for (int i = 0; i <= 11; ++i) EXPECT_EQ(t.record[s.Offset + i], 0) << "null slot is zero";

  SetStringField(t.record, s, "0123456789ABCDEF", kNoLanguage);
  EXPECT_EQ(GetStringField(t.record, s), "0123456789") << "cut at the declared size";
  EXPECT_EQ(t.record[s.Offset + 11], 0) << "the terminating zero stays inside the slot";
  SetStringField(t.record, s, "abcdefgh   xyz", kNoLanguage);
  EXPECT_EQ(GetStringField(t.record, s), "abcdefgh") << "blanks left at the cut are removed";
  SetStringField(t.record, s, "", kNoLanguage);
  EXPECT_TRUE(FieldIsNull(t.record, s));

  SetStringField(t.record, t["UP"], "Gr\xFCn w", kNoLanguage);
  EXPECT_EQ(GetStringField(t.record, t["UP"]), "GR\xDCN W");
  SetStringField(t.record, t["LO"], "MiXeD", kNoLanguage);
  EXPECT_EQ(GetStringField(t.record, t["LO"]), "mixed");
}

TEST(FieldCodec, EveryTypeRoundTripsItsExtremesAndLeavesOtherSlotsAlone) {
  AllKinds t;
  auto untouched_outside = [&](const TFieldDescriptor& f, const std::vector<uint8_t>& before) {
    size_t first = f.IsAutoInc() ? 5 : f.Offset;
    size_t last = first + FieldDataSize(f) + (f.IsAutoInc() ? 0 : 1);
    for (size_t i = 0; i < before.size(); ++i) {
      if (i < first || i >= last) {
        ASSERT_EQ(t.record[i], before[i]) << f.Name << " byte " << i;
      }
    }
  };
  auto check = [&](const std::string& name, auto set, auto get) {
    std::vector<uint8_t> before = t.record;
    set(t[name]);
    untouched_outside(t[name], before);
    EXPECT_FALSE(FieldIsNull(t.record, t[name])) << name;
    get(t[name]);
  };
  for (int16_t v : {int16_t{-32768}, int16_t{0}, int16_t{32767}}) {
    check(
        "SI", [&](auto& f) { SetSmallIntField(t.record, f, v); },
        [&](auto& f) { EXPECT_EQ(GetSmallIntField(t.record, f), v); });
  }
  for (int32_t v : {INT32_MIN, -1, INT32_MAX}) {
    check(
        "I", [&](auto& f) { SetIntegerField(t.record, f, v); },
        [&](auto& f) { EXPECT_EQ(GetIntegerField(t.record, f), v); });
    check(
        "ID", [&](auto& f) { SetIntegerField(t.record, f, v); },
        [&](auto&) { EXPECT_EQ(RecordRowId(t.record), v) << "the row id is the field"; });
  }
  for (uint16_t v : {uint16_t{0}, uint16_t{65535}}) {
    check(
        "W", [&](auto& f) { SetWordField(t.record, f, v); },
        [&](auto& f) { EXPECT_EQ(GetWordField(t.record, f), v); });
  }
  for (int64_t v : {INT64_MIN, int64_t{0}, INT64_MAX}) {
    check(
        "LI", [&](auto& f) { SetLargeIntField(t.record, f, v); },
        [&](auto& f) { EXPECT_EQ(GetLargeIntField(t.record, f), v); });
  }
  for (double v : {-std::numeric_limits<double>::max(), -0.0, 5e-324, 1.0 / 3}) {
    check(
        "F", [&](auto& f) { SetFloatField(t.record, f, v); },
        [&](auto& f) {
          EXPECT_EQ(std::signbit(GetFloatField(t.record, f)), std::signbit(v));
          EXPECT_EQ(GetFloatField(t.record, f), v);
        });
  }
  check(
      "M", [&](auto& f) { SetFloatField(t.record, f, 12.34); },
      [&](auto& f) { EXPECT_EQ(GetFieldText(t.record, f), "12.34"); });
  check(
      "L", [&](auto& f) { SetBooleanField(t.record, f, 5); },
      [&](auto& f) {
        EXPECT_EQ(GetUInt16(&t.record[f.Offset + 1]), 1) << "5 is stored as 1";
        EXPECT_TRUE(GetBooleanField(t.record, f));
      });
  check(
      "L", [&](auto& f) { SetBooleanField(t.record, f, 0); },
      [&](auto& f) {
        EXPECT_FALSE(GetBooleanField(t.record, f));
        EXPECT_EQ(GetFieldText(t.record, f), "False");
      });

  int32_t first_day = 0, zero_day = 0, last_day = 0;
  ASSERT_TRUE(DayNumberFromDate(1, 1, 1, &first_day));
  ASSERT_TRUE(DayNumberFromDate(1899, 12, 30, &zero_day));
  ASSERT_TRUE(DayNumberFromDate(9999, 12, 31, &last_day));
  EXPECT_EQ(first_day, 1);
  EXPECT_EQ(zero_day, 693594);
  for (int32_t day : {first_day, zero_day, last_day}) {
    check(
        "D", [&](auto& f) { SetDateField(t.record, f, day); },
        [&](auto& f) { EXPECT_EQ(GetInt32(&t.record[f.Offset + 1]), day); });
  }
  EXPECT_EQ(GetFieldText(t.record, t["D"]), "9999-12-31");
  int32_t noon = 0;
  ASSERT_TRUE(MillisecondsFromTime(12, 0, 0, 0, &noon));
  EXPECT_EQ(noon, 43200000);
  for (int32_t ms : {0, noon, 86399999}) {
    check(
        "T", [&](auto& f) { SetTimeField(t.record, f, ms); },
        [&](auto& f) { EXPECT_EQ(GetTimeField(t.record, f), ms); });
  }
  EXPECT_EQ(GetFieldText(t.record, t["T"]), "23:59:59.999");
  const double moment = 731640.0 * 86400000 + 36300000;  // 2004-02-29 10:05
  check(
      "TS", [&](auto& f) { SetTimeStampField(t.record, f, moment); },
      [&](auto& f) {
        EXPECT_EQ(GetTimeStampField(t.record, f), moment);
        EXPECT_EQ(GetFieldText(t.record, f), "2004-02-29 10:05");
      });

  TBcd bcd;
  ASSERT_TRUE(BcdFromText("-12.5", 2, &bcd));
  check(
      "N", [&](auto& f) { SetBcdField(t.record, f, bcd); },
      [&](auto& f) {
        const uint8_t* d = &t.record[f.Offset + 1];
        EXPECT_EQ(d[0], 32) << "precision";
        EXPECT_EQ(d[1], 0x80 | 2) << "sign and places";
        EXPECT_EQ(d[2 + 14], 0x12);
        EXPECT_EQ(d[2 + 15], 0x50);
        EXPECT_EQ(GetFieldText(t.record, f), "-12.5");
      });
  std::vector<uint8_t> long_bytes = {1, 2, 3, 4, 5, 6, 7, 8};
  check(
      "BY", [&](auto& f) { SetBytesField(t.record, f, long_bytes); },
      [&](auto& f) {
        EXPECT_EQ(GetBytesField(t.record, f),
                  std::vector<uint8_t>(long_bytes.begin(), long_bytes.begin() + 6));
      });
  std::vector<uint8_t> short_bytes = {9, 8};
  check(
      "VB", [&](auto& f) { SetBytesField(t.record, f, short_bytes); },
      [&](auto& f) {
        std::vector<uint8_t> expect(12, 0);
        expect[0] = 9;
        expect[1] = 8;
        EXPECT_EQ(GetBytesField(t.record, f), expect);
      });

  check(
      "B",
      [&](auto& f) {
        SetBlobField(t.record, f, {17, 4}, true);
      },
      [&](auto& f) {
        TBlobReference ref = GetBlobField(t.record, f);
        EXPECT_EQ(ref.FirstBlock, 17);
        EXPECT_EQ(ref.BlobId, 4);
      });
  SetBlobField(t.record, t["B"], {0, 4}, false);
  EXPECT_TRUE(FieldIsNull(t.record, t["B"])) << "an empty BLOB is null";

  for (const auto& f : t.fields) {
    SetFieldNull(t.record, f);
    EXPECT_EQ(FieldIsNull(t.record, f), !f.IsAutoInc()) << f.Name;
  }
  for (size_t i = 9; i < t.record.size(); ++i) ASSERT_EQ(t.record[i], 0) << "byte " << i;
}

TEST(FieldCodec, ValueTextsConvertIntoTheEncodingsOrFailAsZero) {
  AllKinds t;
  EXPECT_TRUE(SetFieldFromText(t.record, t["D"], "0001-01-01", kNoLanguage));
  EXPECT_EQ(GetDateField(t.record, t["D"]), 1);
  EXPECT_TRUE(SetFieldFromText(t.record, t["T"], "12:00", kNoLanguage));
  EXPECT_EQ(GetTimeField(t.record, t["T"]), 43200000);
  EXPECT_TRUE(SetFieldFromText(t.record, t["N"], "3.14159", kNoLanguage));
  EXPECT_EQ(GetFieldText(t.record, t["N"]), "3.14") << "rounded to the field's decimals";
  EXPECT_TRUE(SetFieldFromText(t.record, t["L"], "TRUE", kNoLanguage));
  EXPECT_TRUE(GetBooleanField(t.record, t["L"]));
  EXPECT_TRUE(SetFieldFromText(t.record, t["UP"], "  left  ", kNoLanguage));
  EXPECT_EQ(GetStringField(t.record, t["UP"]), "  LEFT");

  EXPECT_FALSE(SetFieldFromText(t.record, t["D"], "someday", kNoLanguage));
  EXPECT_TRUE(FieldIsNull(t.record, t["D"]));
  EXPECT_EQ(GetDateField(t.record, t["D"]), 0);
  EXPECT_FALSE(SetFieldFromText(t.record, t["SI"], "32768", kNoLanguage));

  std::vector<uint8_t> data(FieldDataSize(t["I"]), 0xAA);
  EXPECT_FALSE(EncodeValueText(t["I"], "x", data, kNoLanguage));
  EXPECT_EQ(data, std::vector<uint8_t>(4, 0));
  EXPECT_TRUE(EncodeValueText(t["I"], "-2", data, kNoLanguage));
  EXPECT_EQ(GetInt32(data.data()), -2);
}

TEST(FieldCodec, CatalogRecordCarriesTheRunsValues) {
  std::vector<TFieldDescriptor> fields = test::CatalogFields();
  std::vector<uint8_t> record(ValidateNewFields(fields, "LICCATALOG"), 0);
  ASSERT_EQ(record.size(), 879u);
  SetRecordRowId(record, 7);
  SetStringField(record, fields[1], "4212345678901234567890", kNoLanguage);  // WELL, 22 characters
  SetFloatField(record, fields[2], 1000.5);
  SetStringField(record, fields[4], "MD", kNoLanguage);
  SetStringField(record, fields[7], std::string(300, 'x'), kNoLanguage);
  EXPECT_EQ(GetIntegerField(record, fields[0]), 7);
  EXPECT_EQ(GetStringField(record, fields[1]), "421234567890123456") << "cut to 18";
  EXPECT_EQ(record[9], 1);
  EXPECT_EQ(GetDouble(&record[30]), 1000.5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&record[48]), 3), std::string("MD\0", 3));
  EXPECT_EQ(GetStringField(record, fields[7]).size(), 250u);
  EXPECT_EQ(record[123 + 251], 0);
  EXPECT_TRUE(FieldIsNull(record, fields[9])) << "Path is never written";
}

TEST(FieldCodec, MisusedOrDamagedDescriptorsRaiseInsteadOfTouchingOtherBytes) {
  AllKinds t;
  EXPECT_EQ(CodeRaisedBy([&] { SetDateField(t.record, t["S"], 1); }), VEVURA_INVALIDFLDTYPE);
  EXPECT_EQ(CodeRaisedBy([&] { GetFloatField(t.record, t["I"]); }), VEVURA_INVALIDFLDTYPE);

  TFieldDescriptor beyond = t["LI"];
  beyond.Offset = static_cast<uint16_t>(t.record.size() - 4);
  EXPECT_EQ(CodeRaisedBy([&] { SetLargeIntField(t.record, beyond, 1); }), VEVURA_HEADERCORRUPT);
  EXPECT_EQ(CodeRaisedBy([&] { FieldIsNull(t.record, beyond); }), VEVURA_HEADERCORRUPT);
  TFieldDescriptor in_header = t["I"];
  in_header.Offset = 2;
  EXPECT_EQ(CodeRaisedBy([&] { SetIntegerField(t.record, in_header, 1); }), VEVURA_HEADERCORRUPT);
  TFieldDescriptor wide = t["S"];
  wide.Size = 255;  // a damaged size larger than the slot
  EXPECT_EQ(CodeRaisedBy([&] { GetStringField(t.record, wide); }), VEVURA_HEADERCORRUPT);
  std::vector<uint8_t> tiny(4, 0);
  EXPECT_EQ(CodeRaisedBy([&] { GetIntegerField(tiny, t["ID"]); }), VEVURA_HEADERCORRUPT);

  // A string slot without its zero (a damaged record) reads as its size.
  std::fill(t.record.begin() + t["S"].Offset, t.record.begin() + t["S"].Offset + 12, 'z');
  EXPECT_EQ(GetStringField(t.record, t["S"]), std::string(10, 'z'));
}

// Random values written in random order against a simple model of what each
// field should read back; every write must leave the other fields as they were.
TEST(FieldCodec, RandomWritesAgreeWithAModel) {
  AllKinds t;
  std::map<std::string, std::string> model;  // field name -> expected text, "" for null
  for (const auto& f : t.fields) model[f.Name] = f.IsAutoInc() ? "0" : "";
  std::mt19937_64 rng(99);
  const std::vector<std::string> names = {"S", "SI", "I", "W", "LI", "L", "D", "T", "ID", "F"};
  for (int step = 0; step < 5000; ++step) {
    const TFieldDescriptor& f = t[names[rng() % names.size()]];
    if (rng() % 5 == 0 && !f.IsAutoInc()) {
      SetFieldNull(t.record, f);
      model[f.Name] = "";
    } else {
      switch (f.Type) {
        case fcString: {
          std::string text(rng() % 14, ' ');
          for (char& c : text) c = "ab "[rng() % 3];
          SetStringField(t.record, f, text, kNoLanguage);
          std::string expect = text.substr(0, 10);
          while (!expect.empty() && expect.back() == ' ') expect.pop_back();
          model[f.Name] = expect;
          break;
        }
        case fcSmallInt: {
          auto v = static_cast<int16_t>(rng());
          SetSmallIntField(t.record, f, v);
          model[f.Name] = std::to_string(v);
          break;
        }
        case fcInteger: {
          auto v = static_cast<int32_t>(rng());
          SetIntegerField(t.record, f, v);
          model[f.Name] = std::to_string(v);
          break;
        }
        case fcWord: {
          auto v = static_cast<uint16_t>(rng());
          SetWordField(t.record, f, v);
          model[f.Name] = std::to_string(v);
          break;
        }
        case fcLargeInt: {
          auto v = static_cast<int64_t>(rng());
          SetLargeIntField(t.record, f, v);
          model[f.Name] = std::to_string(v);
          break;
        }
        case fcBoolean: {
          auto v = static_cast<uint16_t>(rng() % 4);
          SetBooleanField(t.record, f, v);
          model[f.Name] = v ? "True" : "False";
          break;
        }
        case fcDate: {
          auto v = static_cast<int32_t>(1 + rng() % 3652059);
          SetDateField(t.record, f, v);
          model[f.Name] = DateText(v);
          break;
        }
        case fcTime: {
          auto v = static_cast<int32_t>(rng() % 86400000);
          SetTimeField(t.record, f, v);
          model[f.Name] = TimeText(v);
          break;
        }
        case fcFloat: {
          double v = std::ldexp(static_cast<double>(rng() % 1000000) - 500000, rng() % 40 - 20);
          SetFloatField(t.record, f, v);
          model[f.Name] = FloatText(v);
          break;
        }
      }
    }
    if (step % 50 == 0) {
      for (const auto& [name, text] : model) {
        ASSERT_EQ(GetFieldText(t.record, t[name]), text) << name << " at step " << step;
      }
    }
  }
}

}  // namespace
}  // namespace vevura
