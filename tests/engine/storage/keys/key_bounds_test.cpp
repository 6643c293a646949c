// Bound keys: the fill operations, the highest and lowest keys and the
// prefix steps, on their own examples and on random keys that share a
// prefix, in byte order and in languages.

#include <gtest/gtest.h>

#include <random>

#include "engine/storage/keys/bound_keys.h"
#include "engine/storage/language/collation.h"
#include "platform/locale.h"
#include "tests/engine/storage/keys/key_test_support.h"

namespace vevura::test {
namespace {

using TKey = std::vector<uint8_t>;

TEST(KeyBounds, NextKeyCarriesInByteOrder) {
  TTestTable table({TestField(1, fcBytes, 3)});
  TKeyContext c = table.Context({1}, true);
  TKey key = Hex("41 FF 07 07");
  NextKey(c, key.data(), 2);
  EXPECT_EQ(HexOf(key), "42 00 07 07");
  key = Hex("FF FF 07 07");
  NextKey(c, key.data(), 2);
  EXPECT_EQ(HexOf(key), "FF FF 07 07");
  key = Hex("01 FF FF 07");
  NextKey(c, key.data(), 3);
  EXPECT_EQ(HexOf(key), "02 00 00 07");

  key = Hex("42 00 07 07");
  PriorKey(c, key.data(), 2);
  EXPECT_EQ(HexOf(key), "41 FF 07 07");
  key = Hex("00 00 07 07");
  PriorKey(c, key.data(), 2);
  EXPECT_EQ(HexOf(key), "00 00 07 07");

  key = Hex("01 02 03 04");
  FillKeyLow(c, key.data(), 2);
  EXPECT_EQ(HexOf(key), "01 02 00 00");
  FillKeyHigh(c, key.data(), 1);
  EXPECT_EQ(HexOf(key), "01 FF FF FF");
  HighestKey(c, key.data());
  EXPECT_EQ(HexOf(key), "FF FF FF FF");
  LowestKey(c, key.data());
  EXPECT_EQ(HexOf(key), "00 00 00 00");
  // A count of nothing changes nothing.
  key = Hex("05 06 07 08");
  NextKey(c, key.data(), 0);
  PriorKey(c, key.data(), 0);
  EXPECT_EQ(HexOf(key), "05 06 07 08");
}

TEST(KeyBounds, LanguageKeysUseTheCharacterMapInStringValues) {
  TTestTable table({TestField(1, fcString, 2), TestField(2, fcSmallInt)}, 1031);
  TKeyContext c = table.Context({1, 2}, false);
  ASSERT_EQ(c.KeyLength, 11);
  const uint8_t lo = c.CharMap[0];
  const uint8_t hi = c.CharMap[255];
  ASSERT_NE(lo, hi);
  TKey key(c.KeyLength, 0x33);
  HighestKey(c, key.data());
  EXPECT_EQ(key, (TKey{1, hi, hi, hi, 1, 255, 255, 255, 255, 255, 255}));
  LowestKey(c, key.data());
  EXPECT_EQ(key, (TKey{0, lo, lo, lo, 0, 0, 0, 0, 0, 0, 0}));

  key.assign(c.KeyLength, 0x33);
  FillKeyHigh(c, key.data(), 2);
  EXPECT_EQ(key, (TKey{0x33, 0x33, hi, hi, 255, 255, 255, 255, 255, 255, 255}));
  key.assign(c.KeyLength, 0x33);
  FillKeyLow(c, key.data(), 5);
  EXPECT_EQ(key, (TKey{0x33, 0x33, 0x33, 0x33, 0x33, 0, 0, 0, 0, 0, 0}));

  // Raising a character moves to the next one the language tells apart; a
  // character already at the top carries into the one before it.
  key = {1, 'a', 'b', 0, 1, 0x80, 0, 0x80, 0, 0, 5};
  NextKey(c, key.data(), 3);
  EXPECT_EQ(key[1], 'a');
  EXPECT_GT(platform::CompareLocaleChar(1031, key[2], 'b'), 0);
  key = {1, 'a', hi, 0, 1, 0x80, 0, 0x80, 0, 0, 5};
  NextKey(c, key.data(), 3);
  EXPECT_GT(platform::CompareLocaleChar(1031, key[1], 'a'), 0);
  EXPECT_EQ(key[2], lo);
  key = {1, 'a', lo, 0, 1, 0x80, 0, 0x80, 0, 0, 5};
  PriorKey(c, key.data(), 3);
  EXPECT_LT(platform::CompareLocaleChar(1031, key[1], 'a'), 0);
  EXPECT_EQ(key[2], hi);
  // A step to a character that differs only in case, or to one whose
  // expansion begins like it, would not bound the keys: what follows the
  // character outweighs case, and sharp s sorts as "ss".
  key = {1, 'a', 'W', 0, 1, 0x80, 0, 0x80, 0, 0, 5};
  PriorKey(c, key.data(), 3);
  const char w = 'w';
  EXPECT_LT(platform::CompareLocaleText(1031, reinterpret_cast<char*>(&key[2]), 1, &w, 1, true), 0);
  key = {1, 'a', 's', 0, 1, 0x80, 0, 0x80, 0, 0, 5};
  NextKey(c, key.data(), 3);
  EXPECT_NE(key[2], 0xDF);
  EXPECT_GT(
      platform::CompareLocaleText(1031, reinterpret_cast<char*>(&key[1]), 2, "aszz", 4, false), 0);
}

TEST(KeyBounds, TextIndexFillKeepsTheFirstCharactersOfTheWord) {
  TTestTable table({TestField(1, fcString, 20)}, 1031);
  TKeyContext c = table.SystemContext(kTextIndex);
  TKey word(kTextKeyLength);
  BuildTextKey(c, 1, "QUICKLY", 42, word.data());
  const uint8_t hi = c.CharMap[255];

  TKey key = word;
  FillKeyHigh(c, key.data(), 4);  // the first three characters stay
  EXPECT_EQ(std::string(key.begin() + 3, key.begin() + 6), "QUI");
  EXPECT_TRUE(std::all_of(key.begin() + 6, key.begin() + 64, [&](uint8_t b) { return b == hi; }));
  EXPECT_EQ(HexOf(key.data(), 3), "01 00 01");
  EXPECT_EQ(HexOf(key.data() + 64, 4), "FF FF FF FF");

  key = word;
  FillKeyLow(c, key.data(), 0);
  EXPECT_TRUE(
      std::all_of(key.begin() + 3, key.begin() + 64, [&](uint8_t b) { return b == c.CharMap[0]; }));
  EXPECT_EQ(HexOf(key.data() + 64, 4), "00 00 00 00");

  key = word;
  FillKeyLow(c, key.data(), 63);  // the whole word stays; only the row id goes
  EXPECT_TRUE(std::equal(key.begin(), key.begin() + 64, word.begin()));
  EXPECT_EQ(HexOf(key.data() + 64, 4), "00 00 00 00");

  HighestKey(c, key.data());
  EXPECT_EQ(HexOf(key.data(), 3), "FF FF FF");
  EXPECT_EQ(key[3], hi);
  EXPECT_EQ(key[67], 255);

  // Every word with the same first characters lies between the filled keys.
  TKey low = word;
  TKey high = word;
  FillKeyLow(c, low.data(), 4);
  FillKeyHigh(c, high.data(), 4);
  for (const char* other : {"QUI", "QUICK", "QUIZ", "QUI\xC4\xC4", "QUIET"}) {
    TKey k(kTextKeyLength);
    BuildTextKey(c, 1, other, 1 + static_cast<int32_t>(std::strlen(other)), k.data());
    EXPECT_LE(CompareKeys(c, low.data(), k.data(), kTextKeyLength), 0) << other;
    EXPECT_LE(CompareKeys(c, k.data(), high.data(), kTextKeyLength), 0) << other;
  }
  for (const char* outside : {"QUA", "QUJ", "R", "QU"}) {
    TKey k(kTextKeyLength);
    BuildTextKey(c, 1, outside, 1, k.data());
    const bool below = CompareKeys(c, k.data(), low.data(), kTextKeyLength) < 0;
    const bool above = CompareKeys(c, k.data(), high.data(), kTextKeyLength) > 0;
    EXPECT_TRUE(below || above) << outside;
  }
}

// ---------------------------------------------------------------------------
// Random keys that share a prefix

//! Random keys of one index: keys built from random records, and keys made
//! of the first n bytes of one of them and the rest of another.
class TBoundCase {
 public:
  TBoundCase(const TTestTable& table, TKeyContext c, uint32_t seed, const std::string& alphabet)
      : table_(table), c_(std::move(c)), rng_(seed) {
    for (int i = 0; i < 60; ++i) built_.push_back(BuildKey(c_, RandomRecord(alphabet, i)));
  }

  void Check(int rounds) {
    const size_t k = c_.KeyLength;
    TKey lowest(k);
    TKey highest(k);
    LowestKey(c_, lowest.data());
    HighestKey(c_, highest.data());
    // Keys whose every byte already has its lowest or highest content.
    TKey bottom(k);
    TKey top(k);
    FillKeyLow(c_, bottom.data(), 0);
    FillKeyHigh(c_, top.data(), 0);
    for (int round = 0; round < rounds; ++round) {
      const TKey& prefix = built_[rng_() % built_.size()];
      const size_t n = 1 + rng_() % k;
      TKey low = prefix;
      TKey high = prefix;
      TKey next = prefix;
      TKey prior = prefix;
      FillKeyLow(c_, low.data(), n);
      FillKeyHigh(c_, high.data(), n);
      NextKey(c_, next.data(), n);
      PriorKey(c_, prior.data(), n);
      // A prefix that cannot move stays; any other moves past itself.
      ASSERT_EQ(Compare(prefix, next, n), Compare(prefix, top, n) == 0 ? 0 : -1)
          << Where(prefix, n) << " next " << HexOf(next);
      ASSERT_EQ(Compare(prefix, prior, n), Compare(prefix, bottom, n) == 0 ? 0 : 1)
          << Where(prefix, n) << " prior " << HexOf(prior);
      for (int j = 0; j < 30; ++j) {
        TKey key = built_[rng_() % built_.size()];
        std::copy(prefix.begin(), prefix.begin() + static_cast<std::ptrdiff_t>(n), key.begin());
        EndStringsAtTheirZero(key);
        ASSERT_LE(Compare(low, key, k), 0) << Where(prefix, n) << " key " << HexOf(key);
        ASSERT_LE(Compare(key, high, k), 0) << Where(prefix, n) << " key " << HexOf(key);
        ASSERT_LE(Compare(lowest, key, k), 0) << HexOf(key);
        ASSERT_LE(Compare(key, highest, k), 0) << HexOf(key);
      }
      if (!c_.HasLanguage()) CheckNothingBetween(prefix, next, prior, n);
    }
  }

 private:
  //! A key made of two keys can hold characters after the zero that ended
  //! a string value; built keys never do.
  void EndStringsAtTheirZero(TKey& key) const {
    for (const TKeySlot& slot : c_.Slots) {
      if (!slot.IsString()) continue;
      auto first = key.begin() + slot.ValueStart();
      auto last = key.begin() + slot.End();
      std::fill(std::find(first, last, 0), last, 0);
    }
  }

  int Compare(const TKey& a, const TKey& b, size_t n) const {
    return CompareKeys(c_, a.data(), b.data(), n);
  }
  std::string Where(const TKey& prefix, size_t n) const {
    return "prefix " + HexOf(prefix.data(), n) + " of " + HexOf(prefix);
  }

  //! In byte order the steps are exact: no key lies between a prefix and
  //! its next or prior prefix.
  void CheckNothingBetween(const TKey& prefix, const TKey& next, const TKey& prior, size_t n) {
    for (const TKey& other : built_) {
      const int order = Compare(other, prefix, n);
      if (order > 0) {
        ASSERT_GE(Compare(other, next, n), 0) << HexOf(other);
      } else if (order < 0) {
        ASSERT_LE(Compare(other, prior, n), 0) << HexOf(other);
      }
    }
  }

  std::vector<uint8_t> RandomRecord(const std::string& alphabet, int row) {
    auto record = table_.NewRecord(static_cast<int32_t>(rng_() % 1000) + row);
    for (const TFieldDescriptor& f : table_.Fields()) {
      if (f.IsAutoInc() || rng_() % 5 == 0) continue;
      if (f.Type == fcString) {
        std::string text;
        const size_t length = 1 + rng_() % f.Size;
        for (size_t i = 0; i < length; ++i) text += alphabet[rng_() % alphabet.size()];
        SetStringField(record, f, text, 0);
      } else if (f.Type == fcInteger) {
        SetIntegerField(record, f, static_cast<int32_t>(rng_() % 5) - 2);
      } else {
        const uint8_t bytes[] = {static_cast<uint8_t>(rng_() % 3 * 127),
                                 static_cast<uint8_t>(rng_())};
        SetBytesField(record, f, bytes);
      }
    }
    return record;
  }

  const TTestTable& table_;
  TKeyContext c_;
  std::mt19937 rng_;
  std::vector<TKey> built_;
};

std::vector<TFieldDescriptor> BoundFields() {
  return {TestField(1, fcInteger, 0, fsAutoInc), TestField(2, fcString, 5), TestField(3, fcInteger),
          TestField(4, fcBytes, 2), TestField(5, fcString, 2)};
}

void CheckBounds(uint16_t language_id, uint16_t sort_id, const std::string& alphabet,
                 uint32_t seed) {
  TTestTable table(BoundFields(), language_id, sort_id);
  std::mt19937 rng(seed);
  for (int shape = 0; shape < 60; ++shape) {
    std::vector<uint16_t> fields{static_cast<uint16_t>(2 + rng() % 4)};
    if (rng() % 2 == 0) fields.push_back(fields[0] == 2 ? 5 : 2);
    if (rng() % 3 == 0) fields.push_back(1);
    TBoundCase bound_case(table, table.Context(fields, rng() % 2 == 0, rng() % 2 == 0),
                          seed + shape, alphabet);
    bound_case.Check(60);
  }
}

TEST(KeyBounds, RandomPrefixesAreBoundedInByteOrder) {
  CheckBounds(0, 0, std::string("aAbB\xFF\x01z", 7) + std::string(1, '\0'), 31);
}

TEST(KeyBounds, RandomPrefixesAreBoundedInGerman) {
  CheckBounds(1031, 0, "aAbBo\xE4\xC4\xF6\xDF-' z", 32);
}

TEST(KeyBounds, RandomPrefixesAreBoundedInSwedish) {
  CheckBounds(1053, 0, "aAzZ\xE5\xC5\xE4\xF6vw", 33);
}

}  // namespace
}  // namespace vevura::test
