// Randomized comparison of the B-tree with an ordered map: inserts, deletes
// and searches in batches, and after every batch the structural check and a
// comparison of the whole index, its ordinals and its ranges with the model.
//
// Scale: VEVURA_BTREE_OPS operations per configuration (default 100000).

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "tests/engine/storage/index/btree_test_support.h"

namespace vevura::test {
namespace {

struct TModelConfig {
  const char* Name;
  uint16_t KeyLength;
  uint8_t Compression;
  bool Unique;
  bool Descending;
  bool NoCounts;
  bool Temporary;
  int32_t BufferSize;  //!< index buffer size: 16384 caches two pages per index
  int MaxKeys;         //!< the index grows to about this many keys, then shrinks
  int MinDepth;        //!< the tree must reach this depth at least once
};

void PrintTo(const TModelConfig& c, std::ostream* os) {
  *os << c.Name;
}

std::string ConfigName(const ::testing::TestParamInfo<TModelConfig>& info) {
  return info.param.Name;
}

//! Orders model keys as the index does.
struct TModelOrder {
  bool Descending = false;
  bool operator()(const TKey& a, const TKey& b) const {
    return TByteKeyComparer(Descending).CompareKeys(a.data(), b.data(), a.size()) < 0;
  }
};

using TModel = std::map<TKey, uint32_t, TModelOrder>;

constexpr uint8_t kIndex = 1;

class BTreeModelTest : public IndexFileTest, public ::testing::WithParamInterface<TModelConfig> {
 protected:
  void SetUp() override {
    IndexFileTest::SetUp();
    const TModelConfig& c = GetParam();
    host_.BufferSize = c.BufferSize;
    file_ = NewIndexFile(/*in_memory=*/true);
    file_->AddSecondaryIndex(IndexDescriptor("BYKEY", c.KeyLength, c.Unique, c.Compression,
                                             c.Descending, c.NoCounts, c.Temporary),
                             {});
    comparer_ = TByteKeyComparer(c.Descending);
    model_ = TModel(TModelOrder{c.Descending});
  }
  void TearDown() override {
    file_.reset();
    IndexFileTest::TearDown();
  }

  TBTree Tree() { return TBTree(*file_, kIndex, comparer_, path_); }
  int Compare(const TKey& a, const TKey& b, size_t n) const {
    return comparer_.CompareKeys(a.data(), b.data(), n);
  }

  void Insert(TKeyMaker& keys);
  void Delete(std::mt19937& rng);
  ::testing::AssertionResult MatchesModel(std::mt19937& rng);
  ::testing::AssertionResult WalkMatches(bool forward);
  ::testing::AssertionResult SearchesMatch(std::mt19937& rng, const std::vector<TKey>& sorted);
  ::testing::AssertionResult RangeMatches(const std::vector<TKey>& sorted, const TKey& low,
                                          const TKey& high, size_t n);

  std::unique_ptr<TIndexFile> file_;
  TByteKeyComparer comparer_;
  TBTreePath path_;
  TModel model_;
  std::vector<TKey> live_;  //!< the model's keys, for picking one at random
  uint32_t next_reference_ = 1;
};

void BTreeModelTest::Insert(TKeyMaker& keys) {
  // Half the keys of an index that is not unique repeat an earlier leading
  // part, so that long runs of keys differ only in their tie-break.
  TKey body;
  bool repeat = !GetParam().Unique && !live_.empty() && keys.Rng()() % 2 == 0;
  if (repeat) body = live_[keys.Rng()() % live_.size()];
  TKey key = keys.Next(repeat ? &body : nullptr);
  TBTree tree = Tree();
  bool present = model_.count(key) != 0;
  ASSERT_EQ(tree.LocateKey(key.data()), present);
  if (present) return;  // a unique index refuses the key before inserting it
  uint32_t reference = next_reference_++;
  tree.InsertKey(key.data(), reference);
  model_.emplace(key, reference);
  live_.push_back(key);
}

void BTreeModelTest::Delete(std::mt19937& rng) {
  if (live_.empty()) return;
  size_t at = rng() % live_.size();
  TKey key = live_[at];
  live_[at] = live_.back();
  live_.pop_back();
  Tree().DeleteKey(key.data());
  model_.erase(key);
  ASSERT_FALSE(Tree().LocateKey(key.data()));
}

::testing::AssertionResult BTreeModelTest::WalkMatches(bool forward) {
  TBTree tree = Tree();
  TIndexPosition pos;
  bool on = forward ? tree.First(&pos) : tree.Last(&pos);
  int64_t i = forward ? 0 : static_cast<int64_t>(model_.size()) - 1;
  auto expect = forward ? model_.begin() : model_.end();
  while (on) {
    if (!forward) {
      if (expect == model_.begin()) return ::testing::AssertionFailure() << "walk too long";
      --expect;
    } else if (expect == model_.end()) {
      return ::testing::AssertionFailure() << "walk too long";
    }
    if (pos.Key != expect->first || pos.Reference != expect->second) {
      return ::testing::AssertionFailure() << "entry " << i << " differs from the model";
    }
    if (!GetParam().NoCounts && pos.Ordinal != i) {
      return ::testing::AssertionFailure() << "ordinal " << pos.Ordinal << " at entry " << i;
    }
    if (forward) ++expect;
    i += forward ? 1 : -1;
    on = forward ? tree.Next(&pos) : tree.Prior(&pos);
  }
  bool complete = forward ? expect == model_.end() : expect == model_.begin();
  if (!complete) return ::testing::AssertionFailure() << "walk ended early at " << i;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult BTreeModelTest::RangeMatches(const std::vector<TKey>& sorted,
                                                        const TKey& low, const TKey& high,
                                                        size_t n) {
  std::vector<uint32_t> expected;
  for (const TKey& k : sorted) {
    if (Compare(k, low, n) >= 0 && Compare(k, high, n) <= 0) expected.push_back(model_.at(k));
  }
  TBTree tree = Tree();
  int64_t counted = tree.CountRange(low.data(), high.data(), n);
  std::vector<uint32_t> collected;
  tree.CollectReferences(low.data(), high.data(), n, [&](uint32_t r) { collected.push_back(r); });
  if (counted != static_cast<int64_t>(expected.size()) || collected != expected) {
    return ::testing::AssertionFailure()
           << "range over " << n << " bytes: " << counted << " counted, " << collected.size()
           << " collected, " << expected.size() << " expected";
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult BTreeModelTest::SearchesMatch(std::mt19937& rng,
                                                         const std::vector<TKey>& sorted) {
  TKeyMaker probes(rng(), GetParam().KeyLength, GetParam().Unique);
  const size_t k = GetParam().KeyLength;
  for (int t = 0; t < 24; ++t) {
    TKey probe = (!sorted.empty() && t % 2 == 0) ? sorted[rng() % sorted.size()] : probes.Next();
    // Full keys, and leading parts as searches on the first fields use them.
    size_t n = t % 3 == 0 ? k : rng() % k + 1;
    auto first_not_below = std::partition_point(
        sorted.begin(), sorted.end(), [&](const TKey& e) { return Compare(e, probe, n) < 0; });
    auto first_above = std::partition_point(
        sorted.begin(), sorted.end(), [&](const TKey& e) { return Compare(e, probe, n) <= 0; });
    TBTree tree = Tree();
    TIndexPosition pos;
    bool found = tree.SeekNotBelow(probe.data(), n, &pos);
    if (found != (first_not_below != sorted.end()) ||
        (found && (pos.Key != *first_not_below ||
                   tree.OrdinalOf(&pos) != first_not_below - sorted.begin()))) {
      return ::testing::AssertionFailure() << "SeekNotBelow over " << n << " bytes";
    }
    found = tree.SeekNotAbove(probe.data(), n, &pos);
    if (found != (first_above != sorted.begin()) ||
        (found && (pos.Key != *(first_above - 1) ||
                   tree.OrdinalOf(&pos) != first_above - 1 - sorted.begin()))) {
      return ::testing::AssertionFailure() << "SeekNotAbove over " << n << " bytes";
    }
    int64_t ordinal = static_cast<int64_t>(rng() % (sorted.size() + 1));
    found = tree.SeekOrdinal(ordinal, &pos);
    bool inside = ordinal < static_cast<int64_t>(sorted.size());
    if (found != inside || (found && pos.Key != sorted[static_cast<size_t>(ordinal)])) {
      return ::testing::AssertionFailure() << "SeekOrdinal " << ordinal;
    }
    TKey other = sorted.empty() ? probes.Next() : sorted[rng() % sorted.size()];
    const TKey& low = Compare(probe, other, n) <= 0 ? probe : other;
    const TKey& high = &low == &probe ? other : probe;
    auto range = RangeMatches(sorted, low, high, n);
    if (!range) return range;
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult BTreeModelTest::MatchesModel(std::mt19937& rng) {
  TIndexVerifyReport report = Verify(*file_);
  if (!report.Ok()) return ::testing::AssertionFailure() << report.Describe();
  if (report.Keys[kIndex] != static_cast<int64_t>(model_.size())) {
    return ::testing::AssertionFailure()
           << report.Keys[kIndex] << " keys in the tree, " << model_.size() << " in the model";
  }
  if (report.UnreachedPages != 0) {
    return ::testing::AssertionFailure() << report.UnreachedPages << " pages lost";
  }
  if (Tree().KeyTotal() != static_cast<int64_t>(model_.size())) {
    return ::testing::AssertionFailure() << "KeyTotal " << Tree().KeyTotal();
  }
  auto forward = WalkMatches(true);
  if (!forward) return forward;
  auto backward = WalkMatches(false);
  if (!backward) return backward;
  std::vector<TKey> sorted;
  for (const auto& [key, reference] : model_) sorted.push_back(key);
  return SearchesMatch(rng, sorted);
}

TEST_P(BTreeModelTest, AgreesWithOrderedMapThroughGrowthAndShrinking) {
  const TModelConfig& c = GetParam();
  const long operations = EnvNumber("VEVURA_BTREE_OPS", 100000);
  const int batch = 400;
  TKeyMaker keys(0x5eed + c.Compression * 7 + c.KeyLength, c.KeyLength, c.Unique);
  std::mt19937 rng(1234 + c.Compression);
  bool growing = true;
  int max_depth_seen = 0;
  for (long done = 0; done < operations; done += batch) {
    for (int i = 0; i < batch; ++i) {
      if (growing && static_cast<int>(model_.size()) >= c.MaxKeys) growing = false;
      if (!growing && model_.empty()) growing = true;
      bool insert = rng() % 100 < (growing ? 75u : 25u);
      if (insert) {
        ASSERT_NO_FATAL_FAILURE(Insert(keys));
      } else {
        ASSERT_NO_FATAL_FAILURE(Delete(rng));
      }
      max_depth_seen = std::max(max_depth_seen, path_.Depth);
    }
    ASSERT_TRUE(MatchesModel(rng)) << "after " << done + batch << " operations";
    // Every third batch goes through the file: written, forgotten, read again.
    if ((done / batch) % 3 == 2) {
      file_->WriteDirtyPages(c.Temporary);
      file_->DropPageBuffers(c.Temporary);
    }
  }
  EXPECT_GE(max_depth_seen, c.MinDepth) << "keys too short to make a deep tree";
  if (!c.Temporary) {
    FlushAndClose(*file_);
    file_ = OpenIndexFile(/*in_memory=*/true);
    ASSERT_TRUE(MatchesModel(rng)) << "after reopening";
  }
}

const TModelConfig kConfigs[] = {
    {"UniqueUncompressed", 300, lcNone, true, false, false, false, 16384, 900, 3},
    {"TieBreakUncompressed", 300, lcNone, false, true, false, false, 262144, 900, 3},
    {"UniqueDuplicateByte", 300, lcDuplicateByte, true, true, false, false, 262144, 1500, 3},
    {"TieBreakDuplicateByte", 300, lcDuplicateByte, false, false, false, false, 16384, 1500, 3},
    {"UniqueTrailingByte", 400, lcTrailingByte, true, false, false, false, 262144, 1500, 3},
    {"TieBreakTrailingByte", 400, lcTrailingByte, false, true, false, false, 262144, 1500, 3},
    {"UniqueFull", 300, lcFull, true, false, false, false, 262144, 1500, 3},
    {"TieBreakFull", 300, lcFull, false, false, false, false, 16384, 1500, 3},
    {"NoCountsUncompressed", 300, lcNone, true, false, true, false, 262144, 900, 3},
    {"NoCountsFullTieBreak", 68, lcFull, false, false, true, false, 262144, 3000, 2},
    {"TemporaryIndex", 300, lcNone, false, false, false, true, 16384, 900, 3},
    {"ShortKeysWidePages", 12, lcNone, true, false, false, false, 262144, 6000, 2},
};

INSTANTIATE_TEST_SUITE_P(Kinds, BTreeModelTest, ::testing::ValuesIn(kConfigs), ConfigName);

}  // namespace
}  // namespace vevura::test
