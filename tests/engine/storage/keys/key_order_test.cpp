// Randomized check of key order: for random records and random indexes, the
// order CompareKeys gives to the built keys must be the order of the field
// values compared directly, with nulls, descending fields and indexes,
// case-insensitive strings and the row-id tie-break, in byte order and in
// two languages.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "engine/storage/fields/bcd.h"
#include "platform/locale.h"
#include "tests/engine/storage/keys/key_test_support.h"

namespace vevura::test {
namespace {

template <typename T>
int Order(T a, T b) {
  return (a > b) - (a < b);
}

//! One field value as the model sees it.
struct TValue {
  bool null = true;
  int64_t number = 0;  //!< integers, words, booleans, dates, times, BCD times 10000
  double real = 0;     //!< floats and timestamps
  std::string text;    //!< strings
  std::vector<uint8_t> bytes;
};

//! Fields of every key kind; field 1 is the auto-increment field.
std::vector<TFieldDescriptor> ModelFields() {
  return {TestField(1, fcInteger, 0, fsAutoInc),
          TestField(2, fcString, 6),
          TestField(3, fcInteger),
          TestField(4, fcFloat),
          TestField(5, fcSmallInt),
          TestField(6, fcLargeInt),
          TestField(7, fcWord),
          TestField(8, fcBoolean),
          TestField(9, fcBCD),
          TestField(10, fcDate),
          TestField(11, fcTimeStamp),
          TestField(12, fcBytes, 3),
          TestField(13, fcTime),
          TestField(14, fcString, 3)};
}

class TRecordMaker {
 public:
  TRecordMaker(const TTestTable& table, uint32_t seed, std::string alphabet)
      : table_(table), rng_(seed), alphabet_(std::move(alphabet)) {}

  //! A record with random values (about one in six null) and its values.
  std::vector<uint8_t> Make(int32_t row_id, std::vector<TValue>* values) {
    auto record = table_.NewRecord(row_id);
    values->assign(table_.Fields().size() + 1, TValue{});
    for (const TFieldDescriptor& f : table_.Fields()) {
      TValue& v = (*values)[f.FieldNumber];
      if (f.IsAutoInc()) {
        v.null = false;
        v.number = row_id;
        continue;
      }
      if (Pick(6) == 0) continue;
      v.null = false;
      Set(record, f, v);
    }
    return record;
  }

 private:
  uint32_t Pick(uint32_t n) { return static_cast<uint32_t>(rng_() % n); }
  int64_t Small() { return static_cast<int64_t>(Pick(7)) - 3; }

  void Set(std::vector<uint8_t>& r, const TFieldDescriptor& f, TValue& v) {
    switch (f.Type) {
      case fcString: {
        size_t length = 1 + Pick(f.Size);
        for (size_t i = 0; i < length; ++i) v.text += alphabet_[Pick(alphabet_.size())];
        SetStringField(r, f, v.text, 0);
        v.text = GetStringField(r, f);  // trailing blanks go
        v.null = FieldIsNull(r, f);
        return;
      }
      case fcInteger:
        v.number = Pick(3) == 0 ? Small() : static_cast<int32_t>(rng_());
        SetIntegerField(r, f, static_cast<int32_t>(v.number));
        return;
      case fcDate:
        v.number = static_cast<int32_t>(rng_());
        SetDateField(r, f, static_cast<int32_t>(v.number));
        return;
      case fcTime:
        v.number = Small() * 1000;
        SetTimeField(r, f, static_cast<int32_t>(v.number));
        return;
      case fcSmallInt:
        v.number = Pick(3) == 0 ? Small() : static_cast<int16_t>(rng_());
        SetSmallIntField(r, f, static_cast<int16_t>(v.number));
        return;
      case fcLargeInt:
        v.number = Pick(3) == 0 ? Small() : static_cast<int64_t>((uint64_t{rng_()} << 32) | rng_());
        SetLargeIntField(r, f, v.number);
        return;
      case fcWord:
        v.number = Pick(3) == 0 ? Pick(3) : static_cast<uint16_t>(rng_());
        SetWordField(r, f, static_cast<uint16_t>(v.number));
        return;
      case fcBoolean:
        v.number = Pick(2);
        SetBooleanField(r, f, static_cast<uint16_t>(v.number));
        return;
      case fcFloat:
      case fcTimeStamp:
        v.real = RandomDouble();
        if (f.Type == fcFloat) {
          SetFloatField(r, f, v.real);
        } else {
          SetTimeStampField(r, f, v.real);
        }
        return;
      case fcBCD:
        SetBcd(r, f, v);
        return;
      default:
        v.bytes = {static_cast<uint8_t>(Pick(3) * 127), static_cast<uint8_t>(rng_()),
                   static_cast<uint8_t>(rng_())};
        SetBytesField(r, f, v.bytes);
        return;
    }
  }

  double RandomDouble() {
    static const double kSpecial[] = {0.0,
                                      -0.0,
                                      1.0,
                                      -1.0,
                                      std::numeric_limits<double>::infinity(),
                                      -std::numeric_limits<double>::infinity(),
                                      std::numeric_limits<double>::denorm_min(),
                                      -std::numeric_limits<double>::denorm_min(),
                                      std::numeric_limits<double>::max(),
                                      -std::numeric_limits<double>::max()};
    if (Pick(3) == 0) return kSpecial[Pick(std::size(kSpecial))];
    double mantissa = static_cast<double>(static_cast<int32_t>(rng_())) / 65536.0;
    return std::ldexp(mantissa, static_cast<int>(Pick(200)) - 100);
  }

  //! A decimal of up to four places, kept by the model times 10000.
  void SetBcd(std::vector<uint8_t>& r, const TFieldDescriptor& f, TValue& v) {
    const int places = static_cast<int>(Pick(5));
    int64_t mantissa =
        Pick(3) == 0 ? Small() : static_cast<int64_t>(rng_() % 2000000000) - 1000000000;
    std::string digits = std::to_string(std::llabs(mantissa));
    while (digits.size() <= static_cast<size_t>(places)) digits.insert(0, "0");
    std::string text = (mantissa < 0 ? "-" : "") + digits.substr(0, digits.size() - places) +
                       (places > 0 ? "." + digits.substr(digits.size() - places) : "");
    TBcd bcd;
    ASSERT_TRUE(BcdFromText(text, places, &bcd)) << text;
    SetBcdField(r, f, bcd);
    v.number = mantissa;
    for (int p = places; p < 4; ++p) v.number *= 10;
  }

  const TTestTable& table_;
  std::mt19937 rng_;
  std::string alphabet_;
};

//! The model's order of two values of one field, ascending, nulls first.
int CompareValues(const TTestTable& table, const TKeyContext& c, const TFieldDescriptor& f,
                  const TValue& a, const TValue& b) {
  if (a.null || b.null) return Order(!a.null, !b.null);
  switch (f.Type) {
    case fcString: {
      const uint32_t lcid = platform::MakeLcid(table.LanguageId(), table.SortId());
      std::string x = a.text;
      std::string y = b.text;
      if (c.CaseInsensitive) x = platform::UpperCase(lcid, x), y = platform::UpperCase(lcid, y);
      return platform::CompareLocaleText(lcid, x.c_str(), -1, y.c_str(), -1, false);
    }
    case fcFloat:
    case fcTimeStamp:
      return Order(a.real, b.real);
    case fcBytes:
      return Order(a.bytes, b.bytes);
    default:
      return Order(a.number, b.number);
  }
}

//! The model's order of two records over the first `fields` fields of the
//! index, and the tie-break when asked.
int CompareRecords(const TTestTable& table, const TKeyContext& c, const std::vector<TValue>& a,
                   const std::vector<TValue>& b, size_t fields, bool tie_break) {
  for (size_t i = 0; i < fields; ++i) {
    const TKeySlot& slot = c.Slots[i];
    int r =
        CompareValues(table, c, slot.Field, a[slot.Field.FieldNumber], b[slot.Field.FieldNumber]);
    if (r != 0) return c.Descending || slot.Descending ? -r : r;
  }
  if (!tie_break) return 0;
  // The row id is the auto-increment field's value.
  const int r = Order(a[1].number, b[1].number);
  return c.Descending ? -r : r;
}

struct TOrderCase {
  uint16_t language_id;
  uint16_t sort_id;
  std::string alphabet;  //!< characters of the random strings
};

void CheckKeyOrder(const TOrderCase& order_case, uint32_t seed, int shapes, int pairs) {
  TTestTable table(ModelFields(), order_case.language_id, order_case.sort_id);
  TRecordMaker maker(table, seed, order_case.alphabet);
  std::mt19937 rng(seed ^ 0x5EED);
  constexpr int kRecords = 120;
  std::vector<std::vector<uint8_t>> records;
  std::vector<std::vector<TValue>> values(kRecords);
  for (int i = 0; i < kRecords; ++i) {
    // Few distinct row ids near each other, some negative, so ties and
    // sign handling both show.
    records.push_back(maker.Make(static_cast<int32_t>(rng() % 2000) - 200 + i * 3, &values[i]));
  }
  for (int shape = 0; shape < shapes; ++shape) {
    std::vector<uint16_t> fields;
    std::vector<bool> descending;
    const size_t count = 1 + rng() % 4;
    while (fields.size() < count) {
      auto number = static_cast<uint16_t>(1 + rng() % table.Fields().size());
      if (std::find(fields.begin(), fields.end(), number) != fields.end()) continue;
      fields.push_back(number);
      descending.push_back(rng() % 3 == 0);
    }
    const bool unique = rng() % 2 == 0;
    TKeyContext c = table.Context(fields, unique, rng() % 2 == 0, rng() % 4 == 0, descending);
    std::vector<std::vector<uint8_t>> keys;
    for (const auto& record : records) keys.push_back(BuildKey(c, record));
    for (int p = 0; p < pairs; ++p) {
      const size_t i = rng() % kRecords;
      const size_t j = rng() % 5 == 0 ? i : rng() % kRecords;
      const int expected = CompareRecords(table, c, values[i], values[j], fields.size(), !unique);
      const int actual = CompareKeys(c, keys[i].data(), keys[j].data(), c.KeyLength);
      ASSERT_EQ(actual, expected) << "language " << order_case.language_id << " shape " << shape
                                  << " keys " << HexOf(keys[i]) << " / " << HexOf(keys[j]);
      // A search over the leading fields compares only their slots.
      const size_t leading = 1 + rng() % fields.size();
      const size_t n = c.Slots[leading - 1].End();
      ASSERT_EQ(CompareKeys(c, keys[i].data(), keys[j].data(), n),
                CompareRecords(table, c, values[i], values[j], leading, false))
          << "language " << order_case.language_id << " shape " << shape << " leading " << leading;
    }
  }
}

TEST(KeyOrder, ByteOrderTableMatchesTheValues) {
  CheckKeyOrder({0, 0, "aAbB-' z\x7F\xE4\xC4"}, 11, 300, 600);
}

TEST(KeyOrder, GermanTableMatchesTheCollation) {
  ASSERT_TRUE(platform::LocaleInstalled(1031));
  CheckKeyOrder({1031, 0, "aAbBoO\xE4\xC4\xF6\xD6\xDF-' e"}, 12, 200, 500);
}

TEST(KeyOrder, SwedishTableMatchesTheCollation) {
  ASSERT_TRUE(platform::LocaleInstalled(1053));
  CheckKeyOrder({1053, 0, "aAzZ\xE5\xC5\xE4\xF6vw-"}, 13, 200, 500);
}

TEST(KeyOrder, GermanPhoneBookTableMatchesTheCollation) {
  ASSERT_TRUE(platform::LocaleInstalled(platform::MakeLcid(1031, 1)));
  CheckKeyOrder({1031, 1, "aeAE\xE4\xC4 z"}, 14, 100, 500);
}

}  // namespace
}  // namespace vevura::test
