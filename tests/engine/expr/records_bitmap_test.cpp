#include "engine/expr/records_bitmap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace vevura {
namespace {

// The simple model: the sorted list of set records of a bitmap of some size.
struct TModel {
  int32_t size = 0;
  std::vector<int32_t> records;  // ascending

  int32_t CountBefore(int32_t record) const {
    return static_cast<int32_t>(std::lower_bound(records.begin(), records.end(), record) -
                                records.begin());
  }
  // Index into records of the first set record after position.
  size_t FirstAfter(int32_t position) const {
    return std::upper_bound(records.begin(), records.end(), position) - records.begin();
  }
  bool FindNext(int32_t& position, int32_t k, int32_t& running) const {
    if (k < 1) return false;
    const size_t first = FirstAfter(position);
    const size_t available = records.size() - first;
    if (available < static_cast<size_t>(k)) {
      running += static_cast<int32_t>(available);
      return false;
    }
    position = records[first + k - 1];
    running += k;
    return true;
  }
  bool FindPrior(int32_t& position, int32_t k, int32_t& running) const {
    if (k < 1) return false;
    const size_t available = static_cast<size_t>(CountBefore(position));
    if (available < static_cast<size_t>(k)) {
      running += static_cast<int32_t>(available);
      return false;
    }
    position = records[available - k];
    running += k;
    return true;
  }
};

// Fills bitmap and model of the given size; each record is set with
// probability density.
TModel Fill(TRecordsBitmap& bitmap, int32_t size, double density, std::mt19937& random) {
  TModel model;
  model.size = size;
  bitmap.SetSize(size);
  bitmap.ClearAll();
  std::bernoulli_distribution draw(density);
  for (int32_t record = 1; record <= size; ++record) {
    if (!draw(random)) continue;
    bitmap.Set(record);
    model.records.push_back(record);
  }
  return model;
}

void ExpectFindNextAgrees(const TRecordsBitmap& bitmap, const TModel& model, int32_t position,
                          int32_t k) {
  int32_t got_position = position, want_position = position;
  int32_t got_running = 7, want_running = 7;
  const bool got = bitmap.FindNext(got_position, k, got_running);
  const bool want = model.FindNext(want_position, k, want_running);
  ASSERT_EQ(got, want) << "next size " << model.size << " from " << position << " k " << k;
  ASSERT_EQ(got_position, want_position) << "next from " << position << " k " << k;
  ASSERT_EQ(got_running, want_running) << "next from " << position << " k " << k;
}

void ExpectFindPriorAgrees(const TRecordsBitmap& bitmap, const TModel& model, int32_t position,
                           int32_t k) {
  int32_t got_position = position, want_position = position;
  int32_t got_running = 3, want_running = 3;
  const bool got = bitmap.FindPrior(got_position, k, got_running);
  const bool want = model.FindPrior(want_position, k, want_running);
  ASSERT_EQ(got, want) << "prior size " << model.size << " from " << position << " k " << k;
  ASSERT_EQ(got_position, want_position) << "prior from " << position << " k " << k;
  ASSERT_EQ(got_running, want_running) << "prior from " << position << " k " << k;
}

TEST(RecordsBitmapTest, RecordsMapOntoWordsAndOutOfRangeIsIgnored) {
  TRecordsBitmap bitmap;
  EXPECT_EQ(bitmap.Size(), 0);
  EXPECT_EQ(bitmap.Capacity(), 0);
  EXPECT_FALSE(bitmap.Test(1));
  bitmap.Set(1);  // no storage: ignored
  EXPECT_EQ(bitmap.Count(), 0);

  bitmap.SetSize(100);
  EXPECT_EQ(bitmap.RoundedSize(), 128);
  EXPECT_EQ(bitmap.WordCount(), 4);
  bitmap.Set(33);
  bitmap.Set(32);
  bitmap.Set(100);
  ASSERT_EQ(bitmap.Words().size(), 4u);
  EXPECT_EQ(bitmap.Words()[0], 0x80000000u);
  EXPECT_EQ(bitmap.Words()[1], 1u);
  EXPECT_EQ(bitmap.Words()[3], 1u << 3);

  for (int32_t outside : {0, -1, -1000, 101, 128, 129, INT32_MAX, INT32_MIN}) {
    bitmap.Set(outside);
    EXPECT_FALSE(bitmap.Test(outside)) << outside;
  }
  EXPECT_EQ(bitmap.Words()[3], 1u << 3);
  EXPECT_EQ(bitmap.Count(), 3);
  bitmap.Clear(0);
  bitmap.Clear(101);
  bitmap.Clear(33);
  EXPECT_EQ(bitmap.Count(), 2);
  EXPECT_FALSE(bitmap.Test(33));
}

TEST(RecordsBitmapTest, SetAllSetsWholeStorageButCountsOnlyTheSize) {
  TRecordsBitmap bitmap;
  bitmap.SetSize(40);
  bitmap.SetAll();
  EXPECT_EQ(bitmap.Words()[1], 0xFFFFFFFFu);  // 64 bits set
  EXPECT_EQ(bitmap.Count(), 40);
  EXPECT_EQ(bitmap.CountBefore(1), 0);
  EXPECT_EQ(bitmap.CountBefore(0), 0);
  EXPECT_EQ(bitmap.CountBefore(41), 40);
  EXPECT_EQ(bitmap.CountBefore(64), 40);
  EXPECT_FALSE(bitmap.Test(41));

  int32_t position = 40, running = 0;
  EXPECT_FALSE(bitmap.FindNext(position, 1, running));
  EXPECT_EQ(position, 40);
  EXPECT_EQ(running, 0);
  position = 1000;
  EXPECT_TRUE(bitmap.FindPrior(position, 1, running));
  EXPECT_EQ(position, 40);

  // Records a larger size newly covers start clear, even where set all had
  // already set their bits.
  bitmap.SetSize(64);
  EXPECT_EQ(bitmap.Count(), 40);
  EXPECT_FALSE(bitmap.Test(41));
  bitmap.SetSize(20);
  bitmap.SetSize(40);
  EXPECT_EQ(bitmap.Count(), 20);

  bitmap.ClearAll();
  EXPECT_EQ(bitmap.Count(), 0);
}

TEST(RecordsBitmapTest, CapacityGrowsInStepsAndShrinksOnlyToZero) {
  TRecordsBitmap bitmap;
  bitmap.SetSize(1);
  EXPECT_EQ(bitmap.Capacity(), 256);
  bitmap.SetSize(2048);  // 64 words = 256 bytes
  EXPECT_EQ(bitmap.Capacity(), 256);
  bitmap.Set(2000);
  bitmap.SetSize(2049);
  EXPECT_EQ(bitmap.Capacity(), 512);
  bitmap.SetSize(100000);
  EXPECT_EQ(bitmap.Capacity(), 12544);  // 3125 words = 12500 bytes, rounded up
  EXPECT_TRUE(bitmap.Test(2000));       // kept across reallocation
  EXPECT_EQ(bitmap.Count(), 1);

  bitmap.SetSize(10);
  EXPECT_EQ(bitmap.Capacity(), 12544);
  bitmap.Set(5);
  bitmap.SetSize(100000);
  EXPECT_EQ(bitmap.Capacity(), 12544);
  EXPECT_TRUE(bitmap.Test(5));
  EXPECT_FALSE(bitmap.Test(2000));  // beyond the size meanwhile: starts clear again
  EXPECT_EQ(bitmap.Count(), 1);

  bitmap.SetSize(0);
  EXPECT_EQ(bitmap.Capacity(), 0);
  EXPECT_TRUE(bitmap.Words().empty());
  bitmap.SetSize(-5);
  EXPECT_EQ(bitmap.Size(), 0);
  bitmap.SetSize(70);
  EXPECT_EQ(bitmap.Capacity(), 256);
  EXPECT_EQ(bitmap.Count(), 0);
}

TEST(RecordsBitmapTest, FindNextAndPriorEdges) {
  TRecordsBitmap bitmap;
  bitmap.SetSize(200);
  for (int32_t record : {7, 64, 65, 150}) bitmap.Set(record);

  int32_t position = 0, running = 0;
  ASSERT_TRUE(bitmap.FindNext(position, 1, running));
  EXPECT_EQ(position, 7);
  position = -50;
  ASSERT_TRUE(bitmap.FindNext(position, 3, running));
  EXPECT_EQ(position, 65);
  EXPECT_EQ(running, 4);

  position = 150;
  running = 0;
  EXPECT_FALSE(bitmap.FindNext(position, 1, running));
  EXPECT_EQ(position, 150);
  EXPECT_EQ(running, 0);

  position = 10;
  EXPECT_FALSE(bitmap.FindNext(position, 4, running));  // only 3 after 10
  EXPECT_EQ(position, 10);
  EXPECT_EQ(running, 3);

  position = 7;
  running = 0;
  EXPECT_FALSE(bitmap.FindPrior(position, 1, running));
  EXPECT_EQ(position, 7);
  EXPECT_EQ(running, 0);
  position = INT32_MAX;
  ASSERT_TRUE(bitmap.FindPrior(position, 4, running));
  EXPECT_EQ(position, 7);
  EXPECT_EQ(running, 4);

  position = 0;
  EXPECT_FALSE(bitmap.FindNext(position, 0, running));
  EXPECT_FALSE(bitmap.FindNext(position, -1, running));
  EXPECT_EQ(running, 4);
}

TEST(RecordsBitmapTest, CountAndFindMatchModelAroundWordBoundaries) {
  std::mt19937 random(1234);
  for (int32_t size : {1, 31, 32, 33, 63, 64, 65, 96, 100, 255, 256, 257, 1000, 2049}) {
    for (double density : {0.0, 0.03, 0.5, 0.97, 1.0}) {
      TRecordsBitmap bitmap;
      const TModel model = Fill(bitmap, size, density, random);
      ASSERT_EQ(bitmap.Count(), static_cast<int32_t>(model.records.size())) << size;
      for (int32_t record = -1; record <= size + 2; ++record) {
        ASSERT_EQ(bitmap.CountBefore(record), model.CountBefore(record)) << size << " " << record;
        ASSERT_EQ(bitmap.Test(record),
                  std::binary_search(model.records.begin(), model.records.end(), record));
      }
      std::uniform_int_distribution<int32_t> any_k(1, size + 2);
      const int32_t step = size > 300 ? 7 : 1;
      for (int32_t position = -1; position <= size + 2; position += step) {
        for (int32_t k : {1, 2, 3, 31, 32, 33, any_k(random)}) {
          ExpectFindNextAgrees(bitmap, model, position, k);
          ExpectFindPriorAgrees(bitmap, model, position, k);
        }
      }
    }
  }
}

TEST(RecordsBitmapTest, MillionRecordsSparseAndDenseMatchModel) {
  std::mt19937 random(99);
  constexpr int32_t kSize = 1000000;
  for (double density : {0.001, 0.999}) {
    TRecordsBitmap bitmap;
    const TModel model = Fill(bitmap, kSize, density, random);
    ASSERT_EQ(bitmap.Count(), static_cast<int32_t>(model.records.size()));

    // Walk every set record forwards and backwards.
    int32_t position = 0, running = 0;
    size_t visited = 0;
    while (bitmap.FindNext(position, 1, running)) {
      ASSERT_EQ(position, model.records[visited]);
      ++visited;
    }
    EXPECT_EQ(visited, model.records.size());
    EXPECT_EQ(running, static_cast<int32_t>(visited));
    position = kSize + 1;
    while (bitmap.FindPrior(position, 1, running)) {
      ASSERT_EQ(position, model.records[--visited]);
    }
    EXPECT_EQ(visited, 0u);

    std::uniform_int_distribution<int32_t> any_record(0, kSize + 1);
    for (int i = 0; i < 300; ++i) {
      const int32_t at = any_record(random);
      ASSERT_EQ(bitmap.CountBefore(at), model.CountBefore(at)) << at;
      for (int32_t k : {1, 5, 1000, 33333, 700000}) {
        ExpectFindNextAgrees(bitmap, model, at, k);
        ExpectFindPriorAgrees(bitmap, model, at, k);
      }
    }
  }
}

TEST(RecordsBitmapTest, WordOperationsMatchModel) {
  std::mt19937 random(7);
  for (int32_t size : {33, 100, 1000}) {
    TRecordsBitmap a, b;
    TModel ma = Fill(a, size, 0.5, random);
    TModel mb = Fill(b, size, 0.5, random);
    std::vector<bool> va(size + 1), vb(size + 1);
    for (int32_t r : ma.records) va[r] = true;
    for (int32_t r : mb.records) vb[r] = true;

    TRecordsBitmap c;
    c.Assign(a);
    EXPECT_EQ(c.Size(), size);
    EXPECT_EQ(c.Capacity(), a.Capacity());
    c.And(b);
    TRecordsBitmap d;
    d.Assign(a);
    d.Or(b);
    TRecordsBitmap e;
    e.Assign(a);
    e.Not();
    for (int32_t r = 1; r <= size; ++r) {
      ASSERT_EQ(c.Test(r), va[r] && vb[r]) << r;
      ASSERT_EQ(d.Test(r), va[r] || vb[r]) << r;
      ASSERT_EQ(e.Test(r), !va[r]) << r;
    }
    EXPECT_EQ(e.Count(), size - a.Count());
    a.Set(1);
    EXPECT_TRUE(a.Test(1));  // the copy is independent of its source
    c.Assign(TRecordsBitmap());
    EXPECT_EQ(c.Size(), 0);
    EXPECT_EQ(c.Capacity(), 0);
  }

  // Bits a smaller operand keeps beyond its size do not leak into the result.
  TRecordsBitmap wide, narrow;
  wide.SetSize(64);
  narrow.SetSize(35);
  narrow.SetAll();
  wide.Or(narrow);
  EXPECT_EQ(wide.Count(), 35);
  wide.SetAll();
  narrow.SetSize(20);
  wide.And(narrow);
  EXPECT_EQ(wide.Count(), 20);
}

}  // namespace
}  // namespace vevura
