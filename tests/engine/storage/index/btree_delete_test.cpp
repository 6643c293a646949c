// Deletion in trees that the insertion path never builds but older files can
// hold: a page that is the only child of its parent, an inner root with one
// entry; and deletion of keys that repeat or are missing.

#include <gtest/gtest.h>

#include "tests/engine/storage/index/btree_test_support.h"

namespace vevura::test {
namespace {

constexpr uint16_t kK = 100;

class BTreeDeleteTest : public IndexFileTest {
 protected:
  void SetUp() override {
    IndexFileTest::SetUp();
    host_.BufferSize = 1 << 20;
    file_ = NewIndexFile();
    index_ = file_->AddSecondaryIndex(IndexDescriptor("THIN", kK, true, lcNone), {});
  }
  void TearDown() override {
    file_.reset();
    IndexFileTest::TearDown();
  }

  //! A page of the index holding the keys (leaf) or the children (inner).
  int32_t MakePage(uint8_t type, const std::vector<TKey>& keys,
                   const std::vector<int32_t>& children = {}) {
    TPage* page = file_->AllocatePage(index_);
    page->SetPageType(type);
    for (size_t i = 0; i < keys.size(); ++i) {
      bool inner = !children.empty();
      uint32_t reference = inner ? static_cast<uint32_t>(children[i]) : 1000 + Ordinal(keys[i]);
      uint32_t count = inner ? static_cast<uint32_t>(LeavesBelow(children[i])) : 0;
      page->InsertEntry(static_cast<int>(i) + 1, keys[i].data(), reference, count);
    }
    int32_t n = page->PageNumber;
    file_->ReleasePage(page);
    return n;
  }
  int32_t Inner(uint8_t type, const std::vector<int32_t>& children) {
    std::vector<TKey> keys;
    for (int32_t child : children) keys.push_back(FirstKey(child));
    return MakePage(type, keys, children);
  }
  //! Links the pages of one level in the order given.
  void Link(const std::vector<int32_t>& level) {
    for (size_t i = 0; i < level.size(); ++i) {
      TPage* page = file_->FetchPage(index_, level[i], false);
      page->SetPrevious(i == 0 ? 0 : level[i - 1]);
      page->SetNext(i + 1 == level.size() ? 0 : level[i + 1]);
      file_->ReleasePage(page);
    }
  }
  TKey FirstKey(int32_t n) {
    TPage* page = file_->FetchPage(index_, n, false);
    TKey key(page->Key(1), page->Key(1) + kK);
    file_->ReleasePage(page);
    return key;
  }
  uint64_t LeavesBelow(int32_t n) {
    TPage* page = file_->FetchPage(index_, n, false);
    uint64_t count = page->LeafEntriesBelow();
    file_->ReleasePage(page);
    return count;
  }
  static uint32_t Ordinal(const TKey& key) { return key[1] * 100u + key[2]; }
  static TKey Key(char group, int i) {
    return TextKey(std::string(1, group) + static_cast<char>(i / 100) + static_cast<char>(i % 100),
                   kK);
  }
  static std::vector<TKey> Keys(char group, int count) {
    std::vector<TKey> keys;
    for (int i = 0; i < count; ++i) keys.push_back(Key(group, i));
    return keys;
  }
  TBTree Tree() { return TBTree(*file_, index_, comparer_, path_); }

  //! Deletes the keys one by one from an index of count keys, checking the
  //! whole tree after each.
  void DeleteAndCheck(const std::vector<TKey>& keys, int64_t count) {
    int64_t remaining = count;
    for (const TKey& key : keys) {
      ASSERT_TRUE(Tree().LocateKey(key.data()));
      Tree().DeleteKey(key.data());
      --remaining;
      ASSERT_FALSE(Tree().LocateKey(key.data()));
      TIndexVerifyReport report = Verify(*file_);
      ASSERT_EQ(report.Keys[index_], remaining);
      ASSERT_EQ(Tree().KeyTotal(), remaining);
      // A single-entry inner root is what these trees start with; it must
      // be gone after the first change that reaches the root.
      for (const TIndexProblem& p : report.Problems) {
        ASSERT_EQ(p.Text, "inner root with a single entry") << report.Describe();
      }
    }
  }

  std::unique_ptr<TIndexFile> file_;
  uint8_t index_ = 0;
  TByteKeyComparer comparer_;
  TBTreePath path_;
};

TEST_F(BTreeDeleteTest, OnlyChildOfItsParentIsNeverJoinedAcrossParents) {
  // root -> P1 (one entry: L1) and P2 (L2, L3); every page thin.
  int32_t l1 = MakePage(ptLeaf, Keys('a', 3));
  int32_t l2 = MakePage(ptLeaf, Keys('b', 10));
  int32_t l3 = MakePage(ptLeaf, Keys('c', 10));
  Link({l1, l2, l3});
  int32_t p1 = Inner(ptInner, {l1});
  int32_t p2 = Inner(ptInner, {l2, l3});
  Link({p1, p2});
  const int32_t root = Inner(ptInnerRoot, {p1, p2});
  file_->SetRootPage(index_, root);
  TIndexVerifyReport start = Verify(*file_);
  ASSERT_TRUE(start.Ok()) << start.Describe();

  // L1 underflows with no neighbour under P1: not L2, which hangs from P2,
  // but P1 itself is joined with P2 under the root, and the root, left with
  // one entry, takes over P2's entries in its own page.
  ASSERT_NO_FATAL_FAILURE(DeleteAndCheck({Key('a', 1)}, 23));
  EXPECT_EQ(file_->RootPage(index_), root);
  EXPECT_EQ(Verify(*file_).TreePages, 4);
  ASSERT_NO_FATAL_FAILURE(DeleteAndCheck({Key('a', 0), Key('a', 2)}, 22));
  ASSERT_NO_FATAL_FAILURE(DeleteAndCheck(Keys('b', 10), 20));
  ASSERT_NO_FATAL_FAILURE(DeleteAndCheck(Keys('c', 10), 10));
  TIndexVerifyReport end = Verify(*file_);
  EXPECT_TRUE(end.Ok()) << end.Describe();
  EXPECT_EQ(file_->RootPage(index_), 0);
  EXPECT_EQ(end.UnreachedPages, 0);
  EXPECT_EQ(end.FreePages, 6);
}

TEST_F(BTreeDeleteTest, SiblingsJoinThroughTheirOwnParentOnly) {
  // root -> P1 (one entry: L1) and P2 (L2, L3). Emptying L2 joins it with L3
  // under P2; P2, down to one entry, then joins P1 under the root, and the
  // root, left with one entry, gives way.
  int32_t l1 = MakePage(ptLeaf, Keys('a', 3));
  int32_t l2 = MakePage(ptLeaf, Keys('b', 10));
  int32_t l3 = MakePage(ptLeaf, Keys('c', 10));
  Link({l1, l2, l3});
  int32_t p1 = Inner(ptInner, {l1});
  int32_t p2 = Inner(ptInner, {l2, l3});
  Link({p1, p2});
  const int32_t root = Inner(ptInnerRoot, {p1, p2});
  file_->SetRootPage(index_, root);
  ASSERT_NO_FATAL_FAILURE(DeleteAndCheck({Key('b', 4)}, 23));
  TIndexVerifyReport report = Verify(*file_);
  EXPECT_TRUE(report.Ok()) << report.Describe();
  EXPECT_EQ(file_->RootPage(index_), root);
  EXPECT_EQ(report.TreePages, 3);
  ASSERT_NO_FATAL_FAILURE(DeleteAndCheck(Keys('a', 3), 22));
  TIndexPosition pos;
  ASSERT_TRUE(Tree().First(&pos));
  EXPECT_EQ(pos.Key, Key('b', 0));
  EXPECT_EQ(pos.Ordinal, 0);
}

TEST_F(BTreeDeleteTest, InnerRootWithOneEntryGivesWayToItsChild) {
  // Two single-entry inner pages stacked above P1: the first join below them
  // climbs through both, and each root left with one entry gives way.
  int32_t l1 = MakePage(ptLeaf, Keys('a', 10));
  int32_t l2 = MakePage(ptLeaf, Keys('b', 10));
  Link({l1, l2});
  int32_t p1 = Inner(ptInner, {l1, l2});
  int32_t middle = Inner(ptInner, {p1});
  const int32_t root = Inner(ptInnerRoot, {middle});
  file_->SetRootPage(index_, root);
  ASSERT_NO_FATAL_FAILURE(DeleteAndCheck({Key('a', 9)}, 20));
  // The root keeps its page, which now holds what was the last leaf.
  EXPECT_EQ(file_->RootPage(index_), root);
  TIndexVerifyReport report = Verify(*file_);
  EXPECT_TRUE(report.Ok()) << report.Describe();
  EXPECT_EQ(report.FreePages, 4);
  EXPECT_EQ(report.TreePages, 1);
}

TEST_F(BTreeDeleteTest, RepeatedKeysComeAndGoOneAtATime) {
  // Keys that are wholly equal, as a search over leading fields sees them.
  index_ = file_->AddSecondaryIndex(IndexDescriptor("REPEATS", kK, false, lcNone), {});
  TKeyMaker maker(5, kK, true);
  TKey same = TextKey("SAME", kK);
  for (int i = 0; i < 150; ++i) {
    Tree().InsertKey(same.data(), 7);
    Tree().InsertKey(maker.Next().data(), 8);
  }
  TIndexPosition pos;
  ASSERT_TRUE(Tree().SeekNotBelow(same.data(), kK, &pos));
  int64_t first = pos.Ordinal;
  ASSERT_TRUE(Tree().SeekNotAbove(same.data(), kK, &pos));
  EXPECT_EQ(pos.Ordinal - first + 1, 150);
  EXPECT_EQ(Tree().CountRange(same.data(), same.data(), kK), 150);
  for (int i = 150; i > 0; --i) {
    Tree().DeleteKey(same.data());
    if (i % 10 == 0) {
      TIndexVerifyReport report = Verify(*file_);
      ASSERT_TRUE(report.Ok()) << report.Describe();
      ASSERT_EQ(report.Keys[index_], 150 + i - 1);
    }
  }
  EXPECT_FALSE(Tree().LocateKey(same.data()));
  EXPECT_EQ(Tree().KeyTotal(), 150);
}

TEST_F(BTreeDeleteTest, MissingKeyIsRefusedWithoutChangingCounts) {
  TKey key = TextKey("ONLY", kK);
  EXPECT_EQ(CodeRaisedBy([&] { Tree().DeleteKey(key.data()); }), VEVURA_INDEXCORRUPT)
      << "empty index";
  for (int i = 0; i < 200; ++i) Tree().InsertKey(Key('m', i).data(), 1);
  EXPECT_EQ(CodeRaisedBy([&] { Tree().DeleteKey(key.data()); }), VEVURA_INDEXCORRUPT);
  EXPECT_EQ(CodeRaisedBy([&] { Tree().DeleteKey(Key('a', 0).data()); }), VEVURA_INDEXCORRUPT)
      << "below every key";
  TIndexVerifyReport report = Verify(*file_);
  EXPECT_TRUE(report.Ok()) << report.Describe();
  EXPECT_EQ(report.Keys[index_], 200);
}

}  // namespace
}  // namespace vevura::test
