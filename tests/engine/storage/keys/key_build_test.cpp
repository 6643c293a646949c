// Key bytes of records for every kind of field and index, and the key length
// rules.

#include <gtest/gtest.h>

#include <cmath>

#include "engine/storage/fields/bcd.h"
#include "engine/storage/keys/key_encoding.h"
#include "tests/engine/storage/keys/key_test_support.h"

namespace vevura::test {
namespace {

TEST(KeyBuild, AutoIncrementPrimaryKeyIsPresenceAndRowId) {
  TTestTable table({TestField(1, fcInteger, 0, fsAutoInc), TestField(2, fcString, 10)});
  TKeyContext c = table.Context(0, table.Index({1}, true));
  ASSERT_EQ(c.KeyLength, 5);
  auto record = table.NewRecord(1);
  EXPECT_EQ(HexOf(BuildKey(c, record)), "01 80 00 00 01");
  record = table.NewRecord(300);
  EXPECT_EQ(HexOf(BuildKey(c, record)), "01 80 00 01 2C");
}

TEST(KeyBuild, CaseInsensitiveStringIndexWithTieBreakAndNulls) {
  TTestTable table({TestField(1, fcInteger, 0, fsAutoInc), TestField(2, fcString, 18)});
  TKeyContext c = table.Context({2}, false, true);
  ASSERT_EQ(c.KeyLength, 24);

  auto lower = table.NewRecord(7);
  SetStringField(lower, table.Field(2), "ab-1", 0);
  auto key = BuildKey(c, lower);
  EXPECT_EQ(HexOf(key), "01 41 42 2D 31 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 80 00 00 07");

  auto upper = table.NewRecord(8);
  SetStringField(upper, table.Field(2), "AB-1", 0);
  auto other = BuildKey(c, upper);
  EXPECT_TRUE(std::equal(key.begin(), key.begin() + 20, other.begin()));
  EXPECT_EQ(HexOf(other.data() + 20, 4), "80 00 00 08");
  EXPECT_LT(CompareKeys(c, key.data(), other.data(), c.KeyLength), 0);
  // Without the tie-break the two values are the same key.
  EXPECT_EQ(CompareKeys(c, key.data(), other.data(), 20), 0);

  auto null7 = BuildKey(c, table.NewRecord(7));
  auto null3 = BuildKey(c, table.NewRecord(3));
  EXPECT_EQ(null7[0], 0);
  EXPECT_LT(CompareKeys(c, null7.data(), key.data(), c.KeyLength), 0);
  EXPECT_LT(CompareKeys(c, null3.data(), null7.data(), c.KeyLength), 0);

  // A case-sensitive index keeps the letters as they are.
  TKeyContext sensitive = table.Context({2}, false, false);
  EXPECT_EQ(BuildKey(sensitive, lower)[1], 'a');
}

TEST(KeyBuild, NumbersCompareAsBytes) {
  TTestTable table({TestField(1, fcInteger), TestField(2, fcFloat), TestField(3, fcSmallInt),
                    TestField(4, fcLargeInt), TestField(5, fcWord), TestField(6, fcBoolean),
                    TestField(7, fcDate), TestField(8, fcTime), TestField(9, fcTimeStamp)});
  auto slot = [&](uint16_t field, auto set) {
    auto record = table.NewRecord(1);
    set(record);
    return HexOf(BuildKey(table.Context({field}, true), record));
  };
  const auto& f = [&](uint16_t n) -> const TFieldDescriptor& { return table.Field(n); };
  EXPECT_EQ(slot(1, [&](auto& r) { SetIntegerField(r, f(1), -1); }), "01 7F FF FF FF");
  EXPECT_EQ(slot(1, [&](auto& r) { SetIntegerField(r, f(1), 0); }), "01 80 00 00 00");
  EXPECT_EQ(slot(1, [&](auto& r) { SetIntegerField(r, f(1), 1); }), "01 80 00 00 01");
  EXPECT_EQ(slot(2, [&](auto& r) { SetFloatField(r, f(2), -1.0); }), "01 40 0F FF FF FF FF FF FF");
  EXPECT_EQ(slot(2, [&](auto& r) { SetFloatField(r, f(2), 1.0); }), "01 BF F0 00 00 00 00 00 00");
  EXPECT_EQ(slot(2, [&](auto& r) { SetFloatField(r, f(2), 0.0); }), "01 80 00 00 00 00 00 00 00");
  EXPECT_EQ(slot(2, [&](auto& r) { SetFloatField(r, f(2), -0.0); }), "01 80 00 00 00 00 00 00 00");
  EXPECT_EQ(slot(3, [&](auto& r) { SetSmallIntField(r, f(3), -2); }), "01 7F FE");
  EXPECT_EQ(slot(4, [&](auto& r) { SetLargeIntField(r, f(4), 258); }),
            "01 80 00 00 00 00 00 01 02");
  EXPECT_EQ(slot(5, [&](auto& r) { SetWordField(r, f(5), 0xABCD); }), "01 AB CD");
  EXPECT_EQ(slot(6, [&](auto& r) { SetBooleanField(r, f(6), 1); }), "01 00 01");
  EXPECT_EQ(slot(7, [&](auto& r) { SetDateField(r, f(7), 730000); }), "01 80 0B 23 90");
  EXPECT_EQ(slot(8, [&](auto& r) { SetTimeField(r, f(8), 1000); }), "01 80 00 03 E8");
  EXPECT_EQ(slot(9, [&](auto& r) { SetTimeStampField(r, f(9), 2.0); }),
            "01 C0 00 00 00 00 00 00 00");
  // A null number keeps its (zero) stored bytes behind presence byte 0.
  EXPECT_EQ(slot(1, [](auto&) {}), "00 80 00 00 00");
}

TEST(KeyBuild, BcdBecomesFixedPointWithFourPlaces) {
  TTestTable table({TestField(1, fcBCD)});
  TKeyContext c = table.Context({1}, true);
  ASSERT_EQ(c.KeyLength, 9);
  auto key_of = [&](const std::string& text, int places) {
    TBcd value;
    EXPECT_TRUE(BcdFromText(text, places, &value));
    auto record = table.NewRecord(1);
    SetBcdField(record, table.Field(1), value);
    return HexOf(BuildKey(c, record));
  };
  EXPECT_EQ(key_of("12.5", 2), "01 80 00 00 00 00 01 E8 48");
  EXPECT_EQ(key_of("-1", 0), "01 7F FF FF FF FF FF D8 F0");
  // Decimals beyond the fourth are cut off.
  EXPECT_EQ(key_of("0.123456", 6), key_of("0.1234", 4));
  // A value beyond the 64-bit range keeps its place at the end of the order.
  EXPECT_EQ(key_of("99999999999999999999999999999999", 0), "01 FF FF FF FF FF FF FF FF");
  TBcd zero_precision;
  EXPECT_EQ(BcdToKeyFixed(zero_precision), 0);
}

TEST(KeyBuild, DescendingFieldsAreComplementedOnlyWithoutLanguage) {
  std::vector<TFieldDescriptor> fields{TestField(1, fcInteger), TestField(2, fcString, 4)};
  TTestTable plain(fields);
  auto record = plain.NewRecord(9);
  SetIntegerField(record, plain.Field(1), 1);
  SetStringField(record, plain.Field(2), "AB", 0);

  TKeyContext c = plain.Context({1, 2}, true, false, false, {true, true});
  // Integer slot complemented; string slot complemented except its last byte.
  EXPECT_EQ(HexOf(BuildKey(c, record)), "FE 7F FF FF FE FE BE BD FF FF 00");

  // A wholly descending index keeps its bytes; the comparison turns round.
  TKeyContext whole = plain.Context({1, 2}, true, false, true, {true, true});
  EXPECT_EQ(HexOf(BuildKey(whole, record)), "01 80 00 00 01 01 41 42 00 00 00");

  TTestTable german(fields, 1031);
  TKeyContext g = german.Context({1, 2}, true, false, false, {true, false});
  EXPECT_EQ(HexOf(BuildKey(g, record)), "01 80 00 00 01 01 41 42 00 00 00");
}

TEST(KeyBuild, LanguageComparisonOfLeadingCharacters) {
  TTestTable table({TestField(1, fcString, 5), TestField(2, fcInteger)}, 1031);
  TKeyContext c = table.Context({1, 2}, false);
  auto a = table.NewRecord(1);
  auto b = table.NewRecord(2);
  SetStringField(a, table.Field(1), "abX", 0);
  SetStringField(b, table.Field(1), "ABc", 0);
  SetIntegerField(a, table.Field(2), 5);
  SetIntegerField(b, table.Field(2), 4);
  auto ka = BuildKey(c, a);
  auto kb = BuildKey(c, b);
  // A count that ends after the presence byte compares no characters; one
  // that ends inside the value compares only the characters before it.
  EXPECT_EQ(CompareKeys(c, ka.data(), kb.data(), 1), 0);
  EXPECT_EQ(CompareKeys(c, ka.data(), kb.data(), 2), -1);  // a before A
  EXPECT_EQ(CompareKeys(c, ka.data(), kb.data(), 3), -1);
  // Letters outweigh case: abX comes after ABc.
  EXPECT_EQ(CompareKeys(c, ka.data(), kb.data(), 4), 1);
  EXPECT_EQ(CompareKeys(c, ka.data(), kb.data(), c.KeyLength), 1);
  // Case-insensitive: equal strings, then the integer decides.
  TKeyContext ci = table.Context({1, 2}, false, true);
  ka = BuildKey(ci, a);
  kb = BuildKey(ci, b);
  EXPECT_EQ(CompareKeys(ci, ka.data(), kb.data(), 3), 0);
  EXPECT_EQ(CompareKeys(ci, ka.data(), kb.data(), 4), 1);  // X after C
  SetStringField(b, table.Field(1), "abx", 0);
  kb = BuildKey(ci, b);
  EXPECT_EQ(CompareKeys(ci, ka.data(), kb.data(), 7), 0);
  EXPECT_EQ(CompareKeys(ci, ka.data(), kb.data(), 12), 1);  // 5 after 4
  // A descending index turns every part round, the tie-break included.
  TKeyContext down = table.Context({1}, false, true, true);
  ka = BuildKey(down, a);
  kb = BuildKey(down, b);
  EXPECT_EQ(CompareKeys(down, ka.data(), kb.data(), down.KeyLength), 1);
}

TEST(KeyBuild, SystemIndexKeys) {
  TTestTable table({TestField(1, fcString, 20)});
  auto record = table.NewRecord(5);
  uint8_t key[kSlotKeyLength];
  BuildSlotKey(record, key);
  EXPECT_EQ(HexOf(key, 5), "00 80 00 00 05");
  SetRecordStatus(record, rsFree);
  BuildSlotKey(record, key);
  EXPECT_EQ(HexOf(key, 5), "01 80 00 00 05");

  TKeyContext text = table.SystemContext(kTextIndex);
  std::vector<uint8_t> word(kTextKeyLength);
  BuildTextKey(text, 0x0102, "Fox", -1, word.data());
  EXPECT_EQ(HexOf(word.data(), 6), "01 01 02 46 4F 58");
  EXPECT_TRUE(std::all_of(word.begin() + 6, word.begin() + 64, [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(HexOf(word.data() + 64, 4), "7F FF FF FF");
}

TEST(KeyBuild, StringValuesEndAtTheirZeroAndKeepOne) {
  TTestTable table({TestField(1, fcString, 3), TestField(2, fcBytes, 3)});
  TKeyContext c = table.Context({1, 2}, true);
  auto record = table.NewRecord(1);
  SetStringField(record, table.Field(1), "XYZ", 0);
  const uint8_t raw[] = {0, 7, 0};
  SetBytesField(record, table.Field(2), raw);
  EXPECT_EQ(HexOf(BuildKey(c, record)), "01 58 59 5A 00 01 00 07 00");
  // A damaged string without its zero still gives a key whose value ends in one.
  record[table.Field(1).Offset + 4] = 'Q';
  EXPECT_EQ(HexOf(BuildKey(c, record)), "01 58 59 5A 00 01 00 07 00");
}

TEST(KeyBuild, KeyLengthRules) {
  TTestTable table({TestField(1, fcString, 250), TestField(2, fcString, 250),
                    TestField(3, fcString, 16), TestField(4, fcBlob, 0, fsMemo),
                    TestField(5, fcBCD)});
  EXPECT_EQ(table.Index({5}, true).KeyLength, 9);
  EXPECT_EQ(table.Index({5}, false).KeyLength, 13);
  // 252 + 252 + 18 = 522 slot bytes is the limit, 526 with the tie-break.
  EXPECT_EQ(table.Index({1, 2, 3}, false).KeyLength, 526);

  TIndexDescriptor too_long = table.Index({1, 2}, false);
  too_long.FieldCount = 4;
  too_long.FieldNumbers[2] = 3;
  too_long.FieldNumbers[3] = 5;
  try {
    OrdinaryKeyLength(too_long, table.Fields(), "T");
    ADD_FAILURE() << "a key of 531 slot bytes was accepted";
  } catch (const EVEVURAEngineError& e) {
    EXPECT_EQ(e.ErrorCode, VEVURA_INVALIDKEY);
    EXPECT_EQ(e.ErrorIndex, "IX");
    EXPECT_EQ(e.ErrorTable, "T");
  }

  TIndexDescriptor none;
  EXPECT_EQ(CodeRaisedBy([&] { OrdinaryKeyLength(none, table.Fields(), "T"); }), VEVURA_INVALIDKEY);
  none.Unique = 1;
  EXPECT_EQ(OrdinaryKeyLength(none, table.Fields(), "T", true), 0);

  TIndexDescriptor blob = table.Index({3}, true);
  blob.FieldNumbers[0] = 4;
  EXPECT_EQ(CodeRaisedBy([&] { OrdinaryKeyLength(blob, table.Fields(), "T"); }),
            VEVURA_SEARCHCOLREQD);
  blob.FieldNumbers[0] = 6;
  EXPECT_EQ(CodeRaisedBy([&] { OrdinaryKeyLength(blob, table.Fields(), "T"); }),
            VEVURA_INVALIDIDXDESC);

  // A descriptor whose key length disagrees with its fields is refused.
  TIndexDescriptor wrong = table.Index({3}, false);
  wrong.KeyLength = 19;
  EXPECT_EQ(CodeRaisedBy([&] { table.Context(1, wrong); }), VEVURA_HEADERCORRUPT);
  TIndexDescriptor text;
  text.KeyLength = 60;
  EXPECT_EQ(CodeRaisedBy([&] { table.Context(kTextIndex, text); }), VEVURA_HEADERCORRUPT);
}

}  // namespace
}  // namespace vevura::test
