// Record buffers, their pool and the cache lists: scrambling on the way to
// and from disk, the most-recently-used order, which buffers may be reused,
// and buffers dropped while pinned.

#include "engine/storage/data/record_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "engine/storage/data/record.h"
#include "engine/storage/data/record_stack.h"
#include "engine/storage/fields/record_layout.h"

namespace vevura {
namespace {

class TFakeOwner : public TRecordOwner {
 public:
  uint32_t RecordSize() const override { return size; }
  bool Encrypted() const override { return encrypted; }
  int32_t NextAutoIncValue() override { return ++last_auto_inc; }
  void RecordDirtied(int32_t) override {}

  uint32_t size = 100;
  bool encrypted = false;
  int32_t last_auto_inc = 0;
};

TEST(RecordBufferTest, ImagesTravelToAndFromDisk) {
  TFakeOwner owner;
  owner.encrypted = true;
  TRecord record(owner);
  EXPECT_EQ(record.Capacity(), 128u);
  record.SetRecordNumber(12);
  record.InitNew(true);
  EXPECT_EQ(record.IsFree(), rsLive);
  EXPECT_EQ(RecordLink(record.Data()), 12);
  EXPECT_EQ(record.AutoIncValue(), 1);
  EXPECT_FALSE(record.Dirty());
  record.MutableData()[50] = 0xAB;
  EXPECT_TRUE(record.Dirty());

  std::vector<uint8_t> disk(100);
  record.StoreTo(disk.data());
  EXPECT_FALSE(record.Dirty());
  EXPECT_FALSE(record.SameAs(disk.data()));  // scrambled on disk

  // A live image takes the buffer's number; a free one keeps its link.
  TRecord other(owner);
  other.SetRecordNumber(40);
  other.LoadFrom(disk.data());
  EXPECT_EQ(other.Data()[50], 0xAB);
  EXPECT_EQ(RecordLink(other.Data()), 40);
  EXPECT_EQ(other.NextFree(), 0);
  other.SetStatus(rsFree);
  other.SetNextFree(7);
  other.StoreTo(disk.data());
  TRecord third(owner);
  third.SetRecordNumber(40);
  third.LoadFrom(disk.data());
  EXPECT_EQ(third.NextFree(), 7);
  EXPECT_TRUE(third.SameAs(other.Data().data()));

  // Changing the size keeps the block a multiple of 64, never below the size.
  third.SetRecordSize(129);
  EXPECT_EQ(third.Capacity(), 192u);
  EXPECT_EQ(third.Data().size(), 129u);
  third.Unpin();
  EXPECT_EQ(third.PinCount(), 0);
}

TEST(RecordBufferTest, PoolKeepsAtMostSixtyFourSpares) {
  TFakeOwner owner;
  TRecordStack pool;
  for (int i = 0; i < 70; ++i) {
    auto record = std::make_unique<TRecord>(owner);
    record->Pin();
    record->MutableData()[20] = 1;
    pool.Push(std::move(record));
  }
  EXPECT_EQ(pool.Count(), kRecordPoolSize);
  owner.size = 300;
  std::unique_ptr<TRecord> spare = pool.Pop(owner);
  EXPECT_EQ(spare->RecordSize(), 300u);
  EXPECT_FALSE(spare->Pinned());
  EXPECT_FALSE(spare->Dirty());
  EXPECT_EQ(spare->Data()[20], 0);
  EXPECT_EQ(pool.Count(), kRecordPoolSize - 1);
}

//! The record numbers along the most-recently-used list, most recent first,
//! checked against the walk from the other end.
std::vector<int32_t> RecencyOrder(const TRecordCache& cache) {
  std::vector<int32_t> order, backward;
  for (TRecord* r = cache.MostRecent(); r != nullptr; r = r->Older())
    order.push_back(r->RecordNumber());
  for (TRecord* r = cache.LeastRecent(); r != nullptr; r = r->Newer()) {
    backward.insert(backward.begin(), r->RecordNumber());
  }
  EXPECT_EQ(order, backward);
  return order;
}

TEST(RecordCacheListsTest, RecencyAndReuse) {
  TFakeOwner owner;
  TRecordCache cache(owner);
  cache.SetCapacity(8);
  for (int32_t n : {5, 1, 9, 3, 7, 2}) cache.AddSpare(n);
  std::vector<int32_t> sorted;
  for (const auto& b : cache.Buffers()) sorted.push_back(b->RecordNumber());
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, (std::vector<int32_t>{1, 2, 3, 5, 7, 9}));
  EXPECT_EQ(RecencyOrder(cache), (std::vector<int32_t>{2, 7, 3, 9, 1, 5}));

  // Found deep in the list (not among the four most recent) and near the head.
  EXPECT_EQ(cache.Find(5)->RecordNumber(), 5);
  EXPECT_EQ(cache.Find(4), nullptr);
  EXPECT_EQ(cache.Find(7)->RecordNumber(), 7);
  EXPECT_EQ(RecencyOrder(cache), (std::vector<int32_t>{7, 5, 2, 3, 9, 1}));

  // Least recent first, skipping dirty and pinned buffers.
  cache.Find(1)->SetDirty(true);
  cache.Find(9)->Pin();
  cache.Find(3);
  cache.Find(2);
  EXPECT_EQ(RecencyOrder(cache), (std::vector<int32_t>{2, 3, 9, 1, 7, 5}));
  EXPECT_EQ(cache.Reusable()->RecordNumber(), 5);
  cache.Find(5)->Pin();
  cache.Find(7)->SetDirty(true);
  EXPECT_EQ(cache.Reusable()->RecordNumber(), 3);

  TRecord* reused = cache.Reuse(*cache.Reusable(), 8);
  ASSERT_NE(reused, nullptr);
  EXPECT_EQ(reused->RecordNumber(), 8);
  EXPECT_EQ(RecordLink(reused->Data()), 8);
  EXPECT_EQ(RecencyOrder(cache), (std::vector<int32_t>{8, 7, 5, 2, 9, 1}));
  sorted.clear();
  for (const auto& b : cache.Buffers()) sorted.push_back(b->RecordNumber());
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, (std::vector<int32_t>{1, 2, 5, 7, 8, 9}));

  // A buffer the list does not hold is refused.
  TRecord stranger(owner);
  stranger.SetRecordNumber(2);
  EXPECT_FALSE(cache.Evict(stranger));
  EXPECT_EQ(cache.Reuse(stranger, 4), nullptr);
  EXPECT_TRUE(cache.Evict(*cache.Find(2)));
  EXPECT_EQ(cache.Count(), 5);
  EXPECT_EQ(cache.Spares(), 1u);
  EXPECT_EQ(RecencyOrder(cache), (std::vector<int32_t>{8, 7, 5, 9, 1}));
}

TEST(RecordCacheListsTest, DroppedPinnedBuffersLiveUntilReleased) {
  TFakeOwner owner;
  TRecordCache cache(owner);
  cache.SetCapacity(4);
  TRecord* kept = cache.AddSpare(1);
  kept->Pin();
  kept->Pin();
  cache.AddSpare(2)->SetDirty(true);
  cache.DropAll();
  EXPECT_EQ(cache.Count(), 0);
  EXPECT_EQ(cache.MostRecent(), nullptr);
  EXPECT_EQ(cache.Find(1), nullptr);
  EXPECT_EQ(cache.DroppedPinned(), 1u);
  EXPECT_EQ(cache.Spares(), 1u);
  kept->MutableData()[10] = 3;  // still a valid object
  cache.Release(kept);
  EXPECT_EQ(cache.DroppedPinned(), 1u);
  cache.Release(kept);
  EXPECT_EQ(cache.DroppedPinned(), 0u);
  EXPECT_EQ(cache.Spares(), 2u);
  cache.Release(nullptr);
}

}  // namespace
}  // namespace vevura
