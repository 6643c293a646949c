// Packing of compressed leaf entries: the lengths chosen, the bytes written,
// and refusal of packed bytes that do not fit.

#include "engine/storage/index/leaf_compression.h"

#include <gtest/gtest.h>

#include <random>

#include "engine/storage/common/byte_order.h"
#include "tests/engine/storage/file_layer_support.h"

namespace vevura::test {
namespace {

TIndexShape Shape(uint16_t k, uint8_t compression, bool unique) {
  TIndexShape s;
  s.KeyLength = k;
  s.Compression = compression;
  s.Unique = unique;
  return s;
}

std::vector<uint8_t> Key(const std::string& text, size_t k) {
  std::vector<uint8_t> key(k, 0);
  std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(std::min(k, text.size())),
            key.begin());
  return key;
}

std::vector<uint8_t> Packed(const TIndexShape& s, const std::vector<uint8_t>& key,
                            const std::vector<uint8_t>* prev, uint32_t reference) {
  TLeafPacking p = PackingOf(s, prev ? prev->data() : nullptr, key.data());
  std::vector<uint8_t> out(600);
  int size = PackEntry(s, key.data(), reference, p, out.data());
  EXPECT_EQ(size, PackedEntrySize(s, p));
  out.resize(static_cast<size_t>(size));
  return out;
}

TEST(LeafCompressionTest, DuplicateByteLeavesOutTheSharedLeadingBytes) {
  TIndexShape s = Shape(8, lcDuplicateByte, true);
  auto first = Key("ABCDEF", 8);
  auto second = Key("ABCXYZ", 8);
  EXPECT_EQ(Packed(s, first, nullptr, 1).size(), 8u + 5) << "K - 0 + 5 for the first entry";
  std::vector<uint8_t> bytes = Packed(s, second, &first, 0x01020304);
  ASSERT_EQ(bytes.size(), 8u - 3 + 5);
  EXPECT_EQ(bytes[0], 3);
  EXPECT_EQ(std::string(bytes.begin() + 1, bytes.begin() + 4), "XYZ");
  EXPECT_EQ(GetUInt32(bytes.data() + 6), 0x01020304u);
}

TEST(LeafCompressionTest, TrailingZerosStopAtTheTieBreak) {
  // A key that is not unique ends in its 4-byte tie-break, which is kept
  // even when it holds zeros.
  TIndexShape unique = Shape(10, lcTrailingByte, true);
  TIndexShape tie = Shape(10, lcTrailingByte, false);
  auto key = Key("AB", 10);
  EXPECT_EQ(PackingOf(unique, nullptr, key.data()).Trailing, 8);
  EXPECT_EQ(PackingOf(tie, nullptr, key.data()).Trailing, 4);
  key[7] = 9;  // tie-break 00 09 00 00
  std::vector<uint8_t> bytes = Packed(tie, key, nullptr, 5);
  ASSERT_EQ(bytes.size(), 10u - 4 + 5);
  EXPECT_EQ(bytes[0], 4);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 1, bytes.begin() + 7),
            std::vector<uint8_t>({'A', 'B', 0, 9, 0, 0}));
}

TEST(LeafCompressionTest, FullCompressionGivesUpTrailingZerosInsideTheTieBreak) {
  TIndexShape tie = Shape(10, lcFull, false);
  auto a = Key("ABCDEF", 10);
  auto b = a;
  b[9] = 1;  // differs only in the tie-break: prefix 9 reaches into it
  TLeafPacking p = PackingOf(tie, a.data(), b.data());
  EXPECT_EQ(p.Prefix, 9);
  EXPECT_EQ(p.Trailing, 0);
  EXPECT_EQ(PackedEntrySize(tie, p), 10 - 9 - 0 + 6);
  auto c = Key("ABC", 10);
  p = PackingOf(tie, a.data(), c.data());
  EXPECT_EQ(p.Prefix, 3);
  EXPECT_EQ(p.Trailing, 3) << "zeros of bytes 3 to 5, before the tie-break";
}

TEST(LeafCompressionTest, LengthsNeverExceed254) {
  TIndexShape s = Shape(500, lcFull, true);
  std::vector<uint8_t> zeros(500, 0);
  std::vector<uint8_t> same = zeros;
  EXPECT_EQ(PackingOf(s, nullptr, zeros.data()).Trailing, 254);
  TLeafPacking p = PackingOf(s, zeros.data(), same.data());
  EXPECT_EQ(p.Prefix, 254);
  EXPECT_EQ(p.Trailing, 246);
}

TEST(LeafCompressionTest, UnpackingRestoresEveryKeyOfARandomPage) {
  std::mt19937 rng(3);
  for (uint8_t compression : {lcDuplicateByte, lcTrailingByte, lcFull}) {
    for (bool unique : {true, false}) {
      for (uint16_t k : {uint16_t{5}, uint16_t{40}, uint16_t{300}}) {
        TIndexShape s = Shape(k, compression, unique);
        std::vector<std::vector<uint8_t>> keys;
        std::vector<uint8_t> bytes;
        for (int i = 0; i < 60; ++i) {
          std::vector<uint8_t> key = keys.empty() ? std::vector<uint8_t>(k, 0) : keys.back();
          size_t from = rng() % k;
          size_t to = std::min<size_t>(k, from + rng() % 8);
          for (size_t j = from; j < to; ++j) key[j] = rng() % 3 == 0 ? 0 : rng() % 256;
          const std::vector<uint8_t>* prev = keys.empty() ? nullptr : &keys.back();
          auto packed = Packed(s, key, prev, static_cast<uint32_t>(i));
          bytes.insert(bytes.end(), packed.begin(), packed.end());
          keys.push_back(key);
        }
        size_t at = 0;
        std::vector<std::vector<uint8_t>> decoded;
        for (size_t i = 0; i < keys.size(); ++i) {
          std::vector<uint8_t> key(k);
          uint32_t reference = 0;
          TLeafPacking packing;
          at += static_cast<size_t>(UnpackEntry(s, bytes.data() + at, bytes.size() - at,
                                                decoded.empty() ? nullptr : decoded.back().data(),
                                                key.data(), &reference, &packing, "T"));
          ASSERT_EQ(key, keys[i]) << int(compression) << " " << unique << " " << k << " " << i;
          ASSERT_EQ(reference, i);
          decoded.push_back(key);
        }
        EXPECT_EQ(at, bytes.size());
      }
    }
  }
}

TEST(LeafCompressionTest, PackedBytesThatDoNotFitAreCorrupt) {
  TIndexShape s = Shape(10, lcFull, false);
  std::vector<uint8_t> key(10);
  std::vector<uint8_t> prev(10, 7);
  uint32_t reference;
  TLeafPacking p;
  auto unpack = [&](std::vector<uint8_t> bytes, const uint8_t* previous) {
    return CodeRaisedBy([&] {
      UnpackEntry(s, bytes.data(), bytes.size(), previous, key.data(), &reference, &p, "T");
    });
  };
  std::vector<uint8_t> good = {0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 1, 0, 0, 0};
  EXPECT_EQ(unpack(good, nullptr), 0);
  EXPECT_EQ(unpack({2, 0, 1, 2, 3, 4, 5, 6, 7, 8, 1, 0, 0, 0}, nullptr), VEVURA_INDEXCORRUPT)
      << "a prefix in the first entry";
  EXPECT_EQ(unpack({11, 0, 1, 0, 0, 0}, prev.data()), VEVURA_INDEXCORRUPT) << "prefix beyond K";
  EXPECT_EQ(unpack({0, 7, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, nullptr), VEVURA_INDEXCORRUPT)
      << "trailing zeros inside the tie-break";
  EXPECT_EQ(unpack({7, 1, 1, 2, 3, 4, 1, 0, 0, 0}, prev.data()), VEVURA_INDEXCORRUPT)
      << "trailing zeros with a prefix that reaches the tie-break";
  good.pop_back();
  EXPECT_EQ(unpack(good, nullptr), VEVURA_INDEXCORRUPT) << "bytes end inside the entry";
  EXPECT_EQ(unpack({}, nullptr), VEVURA_INDEXCORRUPT);
}

}  // namespace
}  // namespace vevura::test
