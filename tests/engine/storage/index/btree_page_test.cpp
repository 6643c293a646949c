// Pages on disk and in memory: the page header, entry layouts of every kind,
// capacities, and refusal of damaged page images.

#include "engine/storage/index/btree_page.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "engine/storage/common/byte_order.h"
#include "tests/engine/storage/file_layer_support.h"

namespace vevura::test {
namespace {

const std::string kTable = "PAGES";

TIndexShape Shape(uint16_t k, uint8_t compression = lcNone, bool unique = true,
                  bool no_counts = false) {
  TIndexShape s;
  s.IndexNumber = 3;
  s.KeyLength = k;
  s.Compression = compression;
  s.Unique = unique;
  s.NoCounts = no_counts;
  return s;
}

std::vector<uint8_t> Image(TPage& page) {
  std::vector<uint8_t> image(kIndexPageSize);
  page.Encode(image.data());
  return image;
}

std::vector<uint8_t> KeyOf(int i, uint16_t k) {
  std::vector<uint8_t> key(k, 0);
  std::string text = "KEY" + std::to_string(1000 + i);
  std::copy(text.begin(), text.begin() + std::min<size_t>(text.size(), k), key.begin());
  return key;
}

TEST(BTreePageTest, InnerEntriesCarryKeyChildAndCountUnlessCountsAreOff) {
  for (bool no_counts : {false, true}) {
    TPage page(&kTable);
    page.Reset(Shape(6, lcNone, true, no_counts), 12);
    page.SetPageType(ptInner);
    page.SetPrevious(11);
    page.SetNext(13);
    page.InsertEntry(1, KeyOf(1, 6).data(), 70, 15);
    page.InsertEntry(2, KeyOf(2, 6).data(), 71, 16);
    EXPECT_TRUE(page.Dirty);
    std::vector<uint8_t> image = Image(page);
    EXPECT_FALSE(page.Dirty) << "encoding for the write clears dirty";
    EXPECT_EQ(image[0], ptInner);
    EXPECT_EQ(GetUInt16(image.data() + 1), 2);
    EXPECT_EQ(GetInt32(image.data() + 3), 11);
    EXPECT_EQ(GetInt32(image.data() + 7), 13);
    EXPECT_EQ(GetUInt16(image.data() + 11), 0);
    const int entry = no_counts ? 10 : 14;
    EXPECT_EQ(GetUInt32(image.data() + 13 + entry + 6), 71u);
    if (!no_counts) {
      EXPECT_EQ(GetUInt32(image.data() + 13 + entry + 10), 16u);
    }

    TPage back(&kTable);
    back.Reset(Shape(6, lcNone, true, no_counts), 12);
    back.Decode(image.data(), false);
    ASSERT_EQ(back.EntryCount(), 2);
    EXPECT_EQ(std::vector<uint8_t>(back.Key(2), back.Key(2) + 6), KeyOf(2, 6));
    EXPECT_EQ(back.Reference(1), 70u);
    EXPECT_EQ(back.KeyCount(1), no_counts ? 0u : 15u);
    EXPECT_EQ(back.LeafEntriesBelow(), no_counts ? 0u : 31u);
  }
}

TEST(BTreePageTest, CapacitiesFollowTheEntrySizes) {
  TPage page(&kTable);
  page.Reset(Shape(100), 1);
  page.SetPageType(ptInnerRoot);
  EXPECT_EQ(page.Capacity(), 4083 / 108);
  page.Reset(Shape(100, lcNone, true, true), 1);
  page.SetPageType(ptInner);
  EXPECT_EQ(page.Capacity(), 4083 / 104);
  page.SetPageType(ptLeaf);
  EXPECT_EQ(page.Capacity(), 4083 / 104);
  for (int i = 1; i <= 39; ++i) page.InsertEntry(i, KeyOf(i, 100).data(), 1, 0);
  EXPECT_FALSE(page.Overflows());
  EXPECT_FALSE(page.Underflows());
  page.InsertEntry(40, KeyOf(40, 100).data(), 1, 0);
  EXPECT_TRUE(page.Overflows());
  EXPECT_EQ(CodeRaisedBy([&] { Image(page); }), VEVURA_INDEXCORRUPT)
      << "a page over its capacity is never written beyond its 4096 bytes";
  while (page.EntryCount() > 19) page.RemoveEntry(page.EntryCount());
  EXPECT_FALSE(page.Underflows()) << "half the capacity, rounded down, is enough";
  page.RemoveEntry(19);
  EXPECT_TRUE(page.Underflows());
}

TEST(BTreePageTest, EveryLeafKindSurvivesTheDiskImage) {
  std::mt19937 rng(11);
  for (uint8_t compression : {lcNone, lcDuplicateByte, lcTrailingByte, lcFull}) {
    for (bool unique : {true, false}) {
      TIndexShape shape = Shape(40, compression, unique);
      TPage page(&kTable);
      page.Reset(shape, 5);
      page.SetPageType(ptLeafRoot);
      std::vector<std::vector<uint8_t>> keys;
      for (int i = 0; i < 60; ++i) {
        std::vector<uint8_t> key = KeyOf(i, 40);
        for (int j = 10; j < 40; ++j) key[j] = rng() % 4 == 0 ? static_cast<uint8_t>(rng()) : 0;
        keys.push_back(key);
      }
      // Every key is 40 bytes long; comparing them as such spares g++ 12 a false
      // overread warning on the general comparison at -O3.
      std::sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) {
        return std::memcmp(a.data(), b.data(), 40) < 0;
      });
      // Insert out of order so that the packing of neighbours is redone.
      for (size_t i = 0; i < keys.size(); i += 2) {
        page.InsertEntry(page.EntryCount() + 1, keys[i].data(), static_cast<uint32_t>(i), 0);
      }
      for (size_t i = 1; i < keys.size(); i += 2) {
        page.InsertEntry(static_cast<int>(i) + 1, keys[i].data(), static_cast<uint32_t>(i), 0);
      }
      page.RemoveEntry(1);
      page.RemoveEntry(30);
      keys.erase(keys.begin() + 30);
      keys.erase(keys.begin());
      if (page.Overflows()) continue;
      std::vector<uint8_t> image = Image(page);
      EXPECT_EQ(GetUInt16(image.data() + 11), compression == lcNone ? 0 : page.EncodedSize());
      TPage back(&kTable);
      back.Reset(shape, 5);
      back.Decode(image.data(), false);
      ASSERT_EQ(back.EntryCount(), keys.size());
      EXPECT_EQ(back.EncodedSize(), page.EncodedSize());
      for (size_t i = 0; i < keys.size(); ++i) {
        ASSERT_EQ(std::vector<uint8_t>(back.Key(static_cast<int>(i) + 1),
                                       back.Key(static_cast<int>(i) + 1) + 40),
                  keys[i])
            << int(compression) << " " << unique << " entry " << i + 1;
        EXPECT_EQ(back.Reference(static_cast<int>(i) + 1), page.Reference(static_cast<int>(i) + 1));
      }
    }
  }
}

TEST(BTreePageTest, PatchingTheKeptImageWritesWhatAWholeEncodingWould) {
  std::mt19937 rng(5);
  struct TKind {
    uint8_t Type;
    uint8_t Compression;
    bool NoCounts;
  };
  for (TKind kind : {TKind{ptInner, lcNone, false}, TKind{ptInner, lcNone, true},
                     TKind{ptLeaf, lcNone, false}, TKind{ptLeaf, lcDuplicateByte, false},
                     TKind{ptLeaf, lcTrailingByte, false}, TKind{ptLeaf, lcFull, false}}) {
    TPage page(&kTable);
    page.Reset(Shape(12, kind.Compression, true, kind.NoCounts), 9);
    page.SetPageType(kind.Type);
    std::vector<uint8_t> image = Image(page);
    page.KeepFileImage(image.data());
    for (int round = 0; round < 400; ++round) {
      const int count = page.EntryCount();
      const bool room =
          page.IsCompressedLeaf() ? page.EncodedSize() < 3000 : count < page.Capacity();
      switch (rng() % 6) {
        case 0:
        case 1:
          if (room) {
            std::vector<uint8_t> key = KeyOf(static_cast<int>(rng() % 900), 12);
            key[11 - rng() % 4] = static_cast<uint8_t>(rng() % 3);
            page.InsertEntry(static_cast<int>(rng() % (count + 1)) + 1, key.data(), rng(),
                             page.IsInner() && !kind.NoCounts ? rng() : 0);
          }
          break;
        case 2:
          if (count > 0) page.RemoveEntry(static_cast<int>(rng() % count) + 1);
          break;
        case 3:
          if (count > 0 && page.IsInner())
            page.SetKeyCount(static_cast<int>(rng() % count) + 1, rng());
          if (count > 0 && page.IsLeaf()) {
            page.SetKey(static_cast<int>(rng() % count) + 1,
                        KeyOf(static_cast<int>(rng() % 900), 12).data());
          }
          break;
        case 4:
          if (count > 0) page.SetReference(static_cast<int>(rng() % count) + 1, rng());
          break;
        default:
          page.SetNext(static_cast<int32_t>(rng() % 50));
      }
      if (rng() % 3 != 0) continue;
      // The patched image against the page's whole encoding.
      std::vector<uint8_t> patched = image;
      size_t from = 0;
      size_t to = 0;
      ASSERT_TRUE(page.EncodeChanges(patched.data(), &from, &to));
      EXPECT_FALSE(page.Dirty);
      std::vector<uint8_t> whole = Image(page);
      ASSERT_EQ(patched, whole) << int(kind.Type) << " " << int(kind.Compression) << " round "
                                << round;
      // Outside from..to the file already held the bytes.
      ASSERT_LE(from, to);
      ASSERT_TRUE(std::equal(image.begin(), image.begin() + from, patched.begin()));
      ASSERT_TRUE(std::equal(image.begin() + to, image.end(), patched.begin() + to));
      page.KeepFileImage(patched.data(), from, to);
      image = patched;
    }
  }

  // Another writer may have packed a leaf otherwise: its first patch is whole.
  TIndexShape shape = Shape(6, lcDuplicateByte);
  std::vector<uint8_t> image(kIndexPageSize, 0);
  image[page_layout::kType] = ptLeafRoot;
  PutUInt16(image.data() + page_layout::kEntryCount, 2);
  PutUInt16(image.data() + page_layout::kEncodedSize, 22);
  for (int e = 0; e < 2; ++e) {
    uint8_t* entry = image.data() + kPageHeaderSize + 11 * e;
    std::memcpy(entry + 1, e == 0 ? "AAAAA1" : "AAAAA2", 6);
    PutUInt32(entry + 7, 40 + e);
  }
  TPage read(&kTable);
  read.Reset(shape, 4);
  read.Decode(image.data(), false);
  read.KeepFileImage(image.data());
  std::vector<uint8_t> patched = image;
  size_t from = 0;
  size_t to = 0;
  ASSERT_TRUE(read.EncodeChanges(patched.data(), &from, &to));
  EXPECT_EQ(patched, Image(read));
  EXPECT_EQ(from, 11u) << "from the encoded size on";
  TPage fresh(&kTable);
  fresh.Reset(shape, 4);
  EXPECT_FALSE(fresh.EncodeChanges(image.data(), &from, &to)) << "no image kept";
}

TEST(BTreePageTest, FreedAndDataPagesOnDisk) {
  TPage page(&kTable);
  page.Reset(Shape(10), 8);
  page.SetPageType(ptLeaf);
  page.InsertEntry(1, KeyOf(1, 10).data(), 3, 0);
  page.SetNext(77);
  page.Freed = true;
  std::vector<uint8_t> image = Image(page);
  EXPECT_EQ(GetUInt16(image.data() + 1), 0) << "a freed page shows no entries";
  EXPECT_EQ(GetInt32(image.data() + 7), 77) << "and the next page of its free list";
  EXPECT_TRUE(std::all_of(image.begin() + 13, image.end(), [](uint8_t b) { return b == 0; }));

  TPage data(&kTable);
  data.Reset(Shape(10), 9);
  data.SetPageType(ptData);
  data.Data()[0] = 0xAB;
  data.Data()[4082] = 0xCD;
  image = Image(data);
  EXPECT_EQ(image[0], ptData);
  EXPECT_EQ(image[13], 0xAB);
  EXPECT_EQ(image[4095], 0xCD);
  TPage back(&kTable);
  back.Reset(Shape(10), 9);
  back.Decode(image.data(), false);
  EXPECT_EQ(back.Data()[4082], 0xCD);
  back.Decode(image.data(), /*header_only=*/true);
  EXPECT_EQ(back.EntryCount(), 0);
}

TEST(BTreePageTest, DamagedImagesAndEntryNumbersAreCorrupt) {
  TIndexShape shape = Shape(10, lcFull, true);
  TPage page(&kTable);
  page.Reset(shape, 1);
  page.SetPageType(ptLeaf);
  for (int i = 1; i <= 5; ++i) page.InsertEntry(i, KeyOf(i, 10).data(), 1, 0);
  const std::vector<uint8_t> good = Image(page);
  auto decode = [&](const std::function<void(std::vector<uint8_t>&)>& damage) {
    std::vector<uint8_t> image = good;
    damage(image);
    TPage back(&kTable);
    back.Reset(shape, 1);
    return CodeRaisedBy([&] { back.Decode(image.data(), false); });
  };
  EXPECT_EQ(decode([](std::vector<uint8_t>&) {}), 0);
  EXPECT_EQ(decode([](std::vector<uint8_t>& i) { i[0] = 5; }), VEVURA_INDEXCORRUPT);
  EXPECT_EQ(decode([](std::vector<uint8_t>& i) { PutUInt16(i.data() + 11, 4084); }),
            VEVURA_INDEXCORRUPT);
  EXPECT_EQ(
      decode([](std::vector<uint8_t>& i) { PutUInt16(i.data() + 11, GetUInt16(&i[11]) + 1); }),
      VEVURA_INDEXCORRUPT)
      << "encoded size larger than the entries";
  EXPECT_EQ(decode([](std::vector<uint8_t>& i) { PutUInt16(i.data() + 1, 6); }),
            VEVURA_INDEXCORRUPT)
      << "more entries than the encoded size holds";
  EXPECT_EQ(decode([](std::vector<uint8_t>& i) {
              i[0] = ptInner;
              PutUInt16(i.data() + 1, 4083 / 18 + 1);
            }),
            VEVURA_INDEXCORRUPT)
      << "an inner page over its capacity";

  EXPECT_EQ(CodeRaisedBy([&] { page.Key(0); }), VEVURA_INDEXCORRUPT);
  EXPECT_EQ(CodeRaisedBy([&] { page.Reference(6); }), VEVURA_INDEXCORRUPT);
  EXPECT_EQ(CodeRaisedBy([&] { page.InsertEntry(8, KeyOf(8, 10).data(), 1, 0); }),
            VEVURA_INDEXCORRUPT);
}

}  // namespace
}  // namespace vevura::test
