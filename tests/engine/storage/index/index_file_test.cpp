// The index file: its header on disk, the first pages of an index, splits,
// free-page reuse, page caches and write-back, temporary indexes, limits,
// scrambling and the restart of a descent.

#include "engine/storage/index/index_file.h"

#include <gtest/gtest.h>

#include "engine/storage/common/byte_order.h"
#include "engine/storage/common/scramble.h"
#include "tests/engine/storage/index/btree_test_support.h"

namespace vevura::test {
namespace {

constexpr uint8_t kFirst = 1;

class IndexFileBehaviourTest : public IndexFileTest {
 protected:
  // Pages looked at by a test stay cached unless a test asks for the
  // default two pages per index.
  void SetUp() override {
    IndexFileTest::SetUp();
    host_.BufferSize = 1 << 20;
  }

  //! Adds an uncompressed unique index with keys of length k.
  uint8_t AddIndex(TIndexFile& file, const std::string& name, uint16_t k = 100,
                   uint8_t compression = lcNone, bool temporary = false) {
    return file.AddSecondaryIndex(
        IndexDescriptor(name, k, /*unique=*/true, compression, false, false, temporary), {});
  }
  void Insert(TIndexFile& file, uint8_t index, const TKey& key, uint32_t reference = 1) {
    TBTree(file, index, comparer_, path_).InsertKey(key.data(), reference);
  }
  void Delete(TIndexFile& file, uint8_t index, const TKey& key) {
    TBTree(file, index, comparer_, path_).DeleteKey(key.data());
  }
  //! The page, fetched and released again.
  TPage& Page(TIndexFile& file, uint8_t index, int32_t n) {
    TPage* page = file.FetchPage(index, n, false);
    file.ReleasePage(page);
    return *page;
  }
  //! Marks page n changed, as the B-tree does: while it holds it pinned.
  static void Touch(TIndexFile& file, uint8_t index, int32_t n) {
    TPage* page = file.FetchPage(index, n, false);
    page->Touch();
    file.ReleasePage(page);
  }
  static TKey KeyNumber(int i, uint16_t k = 100) {
    char text[16];
    std::snprintf(text, sizeof text, "K%06d", i);
    return TextKey(text, k);
  }

  TByteKeyComparer comparer_;
  TBTreePath path_;
};

TEST_F(IndexFileBehaviourTest, NewFileIsOneHeaderWrittenOnceUnlessForced) {
  auto file = NewIndexFile(/*in_memory=*/false);
  EXPECT_TRUE(file->Modified());
  EXPECT_TRUE(file->WriteIndexHeader(false));
  EXPECT_FALSE(file->WriteIndexHeader(false));
  EXPECT_EQ(file->GetChangeCounter(), 1);
  EXPECT_TRUE(file->WriteIndexHeader(true));
  EXPECT_EQ(file->GetChangeCounter(), 2);
  EXPECT_EQ(host_.HeaderWritten, 2);
  file->Close();
  std::vector<uint8_t> bytes = ContentsOf(PathOf("T.IDX"));
  ASSERT_EQ(bytes.size(), 4096u);
  EXPECT_EQ(GetInt32(bytes.data()), 2);
  EXPECT_EQ(bytes[8], 5);
  EXPECT_EQ(GetInt32(bytes.data() + 9), 1);
  EXPECT_EQ(bytes[3979], 0) << "the marker as it was when the forced write happened";
  file = OpenIndexFile(false);
  EXPECT_EQ(file->GetIndexDescriptor(kTextIndex).Name, "Sys Text");
  EXPECT_EQ(file->GetIndexDescriptor(255), TIndexDescriptor{});
}

TEST_F(IndexFileBehaviourTest, FirstKeyMakesTheFirstPageALeafRoot) {
  auto file = NewIndexFile(false);
  uint8_t index = AddIndex(*file, "FIRST");
  Insert(*file, index, KeyNumber(1), 42);
  EXPECT_EQ(file->RootPage(index), 1);
  EXPECT_EQ(file->Header().NextPage, 2);
  FlushAndClose(*file);
  std::vector<uint8_t> bytes = ContentsOf(PathOf("T.IDX"));
  ASSERT_EQ(bytes.size(), 8192u);
  EXPECT_EQ(bytes[4096], ptLeafRoot);
  EXPECT_EQ(GetUInt16(bytes.data() + 4097), 1);
  EXPECT_EQ(GetUInt32(bytes.data() + 4096 + 13 + 100), 42u);
}

TEST_F(IndexFileBehaviourTest, SplitsKeepHalvesLinksAndParentCounts) {
  auto file = NewIndexFile();
  uint8_t index = AddIndex(*file, "SPLIT");
  const int c = 4083 / 104;  // leaf capacity for 100-byte keys
  for (int i = 1; i <= c; ++i) Insert(*file, index, KeyNumber(i * 10));
  EXPECT_EQ(Page(*file, index, 1).PageType(), ptLeafRoot);
  Insert(*file, index, KeyNumber(c * 10 + 10));
  // The root keeps its page; both halves move to new pages.
  int32_t root = file->RootPage(index);
  EXPECT_EQ(root, 1);
  TPage& top = Page(*file, index, root);
  ASSERT_EQ(top.PageType(), ptInnerRoot);
  ASSERT_EQ(top.EntryCount(), 2);
  TPage& left = Page(*file, index, static_cast<int32_t>(top.Reference(1)));
  TPage& right = Page(*file, index, static_cast<int32_t>(top.Reference(2)));
  const int32_t left_number = left.PageNumber;
  EXPECT_NE(left_number, 1);
  EXPECT_NE(right.PageNumber, 1);
  EXPECT_EQ(left.PageType(), ptLeaf);
  EXPECT_EQ(right.PageType(), ptLeaf);
  EXPECT_EQ(left.EntryCount(), (c + 2) / 2);
  EXPECT_EQ(right.EntryCount(), (c + 1) / 2);
  EXPECT_EQ(left.Next(), right.PageNumber);
  EXPECT_EQ(right.Previous(), left.PageNumber);
  EXPECT_EQ(top.KeyCount(1), static_cast<uint32_t>(left.EntryCount()));
  EXPECT_EQ(top.KeyCount(2), static_cast<uint32_t>(right.EntryCount()));

  // Filling the left leaf again splits it below the root: its parent entry
  // gets its new count and the new leaf's entry follows it.
  int added = 0;
  for (int i = 1; Page(*file, index, root).EntryCount() == 2; ++i, ++added) {
    Insert(*file, index, KeyNumber(i * 10 + 5));
  }
  TPage& grown = Page(*file, index, root);
  ASSERT_EQ(grown.EntryCount(), 3);
  TPage& middle = Page(*file, index, static_cast<int32_t>(grown.Reference(2)));
  EXPECT_EQ(Page(*file, index, left_number).Next(), middle.PageNumber);
  EXPECT_EQ(grown.KeyCount(1) + grown.KeyCount(2) + grown.KeyCount(3),
            static_cast<uint32_t>(c + 1 + added));
  EXPECT_EQ(std::vector<uint8_t>(grown.Key(2), grown.Key(2) + 100),
            std::vector<uint8_t>(middle.Key(1), middle.Key(1) + 100));
  EXPECT_TRUE(Verify(*file).Ok());
}

TEST_F(IndexFileBehaviourTest, SmallestKeyBecomesFirstKeyAllTheWayUp) {
  auto file = NewIndexFile();
  uint8_t index = AddIndex(*file, "SMALL", 400);
  for (int i = 100; i < 400; ++i) Insert(*file, index, KeyNumber(i, 400));
  TKey smallest = KeyNumber(1, 400);
  Insert(*file, index, smallest);
  int levels = 0;
  for (int32_t n = file->RootPage(index);; ++levels) {
    TPage& page = Page(*file, index, n);
    EXPECT_EQ(TKey(page.Key(1), page.Key(1) + 400), smallest) << "level " << levels;
    if (page.IsLeaf()) break;
    n = static_cast<int32_t>(page.Reference(1));
  }
  EXPECT_GE(levels, 2);
  EXPECT_TRUE(Verify(*file).Ok());
}

TEST_F(IndexFileBehaviourTest, FreedPagesGoBackToTheirOwnIndexOnly) {
  auto file = NewIndexFile(false);
  uint8_t a = AddIndex(*file, "A");
  uint8_t b = AddIndex(*file, "B");
  Insert(*file, a, KeyNumber(1));
  Delete(*file, a, KeyNumber(1));
  EXPECT_EQ(file->RootPage(a), 0);
  EXPECT_EQ(file->FreeListHead(a), 1);
  file->WriteDirtyPages(false);
  std::vector<uint8_t> page1(4096);
  file->ReadAt(4096, page1.data(), 4096);
  EXPECT_EQ(GetUInt16(page1.data() + 1), 0);
  EXPECT_EQ(GetInt32(page1.data() + 7), 0) << "the end of the free list";

  Insert(*file, b, KeyNumber(2));
  EXPECT_EQ(file->RootPage(b), 2) << "another index does not take A's free page";
  Insert(*file, a, KeyNumber(3));
  EXPECT_EQ(file->RootPage(a), 1) << "A reuses its freed page";
  EXPECT_EQ(file->FreeListHead(a), 0);
  EXPECT_EQ(file->Header().NextPage, 3);
  TIndexVerifyReport report = Verify(*file);
  EXPECT_TRUE(report.Ok()) << report.Describe();
  EXPECT_EQ(report.UnreachedPages, 0);
}

TEST_F(IndexFileBehaviourTest, CompressedLeavesAreRemovedOnlyWhenEmpty) {
  auto file = NewIndexFile();
  uint8_t index = AddIndex(*file, "PACKED", 100, lcFull);
  for (int i = 0; i < 3000; ++i) Insert(*file, index, KeyNumber(i));
  TIndexVerifyReport before = Verify(*file);
  ASSERT_TRUE(before.Ok());
  ASSERT_GT(before.TreePages, 3);
  // Leave one key of every ten: leaves thin out but none is merged.
  for (int i = 0; i < 3000; ++i) {
    if (i % 10 != 0) Delete(*file, index, KeyNumber(i));
  }
  TIndexVerifyReport thin = Verify(*file);
  ASSERT_TRUE(thin.Ok()) << thin.Describe();
  EXPECT_EQ(thin.FreePages, 0);
  // Emptying the first leaf removes it, and only it.
  TBTree tree(*file, index, comparer_, path_);
  TIndexPosition pos;
  ASSERT_TRUE(tree.First(&pos));
  int32_t first_leaf = pos.Page;
  while (pos.Page == first_leaf) {
    TKey key = pos.Key;
    bool more = tree.Next(&pos);
    tree.DeleteKey(key.data());
    if (!more) break;
  }
  TIndexVerifyReport after = Verify(*file);
  ASSERT_TRUE(after.Ok()) << after.Describe();
  EXPECT_EQ(after.FreePages, 1);
  EXPECT_EQ(file->FreeListHead(index), first_leaf);
}

TEST_F(IndexFileBehaviourTest, ThirdPageEvictsTheLeastRecentlyUsedCleanPage) {
  host_.BufferSize = 16384;
  auto file = NewIndexFile();
  uint8_t index = AddIndex(*file, "CACHE", 400);
  for (int i = 0; i < 60; ++i) Insert(*file, index, KeyNumber(i, 400));
  file->WriteDirtyPages(false);
  file->DropPageBuffers(false);
  file->TrimPageBuffers();
  ASSERT_GE(file->Header().NextPage, 5);
  const TPageCache& cache = file->Cache(index);
  EXPECT_EQ(cache.Capacity(), 2) << "16384 bytes of index buffer";
  const uint64_t recent = cache.RecentHits();
  Page(*file, index, 1);
  Page(*file, index, 2);
  Page(*file, index, 1);  // page 2 is now the least recently used
  Page(*file, index, 3);
  ASSERT_EQ(cache.Size(), 2);
  std::vector<int32_t> cached;
  for (const auto& page : cache.Pages()) cached.push_back(page->PageNumber);
  std::sort(cached.begin(), cached.end());
  EXPECT_EQ(cached, (std::vector<int32_t>{1, 3}));
  uint64_t reads = file->Stats().PageReads;
  Page(*file, index, 3);
  Page(*file, index, 1);
  EXPECT_EQ(file->Stats().PageReads, reads) << "both found among the two most recent";
  EXPECT_EQ(cache.RecentHits() - recent, 3u);
}

TEST_F(IndexFileBehaviourTest, FullCacheWritesDirtyPagesOrGrowsUnderTransactionLock) {
  host_.BufferSize = 16384;
  auto file = NewIndexFile();
  uint8_t index = AddIndex(*file, "BUSY", 400);
  for (int i = 0; i < 60; ++i) Insert(*file, index, KeyNumber(i, 400));
  file->WriteDirtyPages(false);
  file->DropPageBuffers(false);
  file->TrimPageBuffers();
  const TPageCache& cache = file->Cache(index);
  Touch(*file, index, 1);
  Touch(*file, index, 2);
  host_.TransactionLock = true;
  uint64_t writes = file->Stats().PageWrites;
  Page(*file, index, 3);
  EXPECT_EQ(cache.Capacity(), 6);
  EXPECT_EQ(cache.Size(), 3);
  EXPECT_EQ(file->Stats().PageWrites, writes) << "nothing written under the transaction lock";
  Touch(*file, index, 3);
  host_.TransactionLock = false;
  file->TrimPageBuffers();
  EXPECT_EQ(cache.Size(), 2) << "trimming writes the dirty pages to evict one";
  EXPECT_EQ(cache.Capacity(), 2);
  EXPECT_GT(file->Stats().PageWrites, writes);
}

TEST_F(IndexFileBehaviourTest, DirtyPagesAreWrittenInRunsOfConsecutiveNumbers) {
  auto file = NewIndexFile();
  uint8_t index = AddIndex(*file, "RUNS", 400);
  for (int i = 0; i < 60; ++i) Insert(*file, index, KeyNumber(i, 400));
  ASSERT_GE(file->Header().NextPage, 8);
  file->WriteDirtyPages(false);
  for (int32_t n : {5, 1, 2, 7, 3}) Touch(*file, index, n);
  const uint64_t calls = file->Stats().WriteCalls;
  const uint64_t pages = file->Stats().PageWrites;
  EXPECT_TRUE(file->WriteDirtyPages(false));
  EXPECT_EQ(file->Stats().WriteCalls - calls, 3u) << "pages 1-3, 5 and 7";
  EXPECT_EQ(file->Stats().PageWrites - pages, 5u);
  EXPECT_FALSE(file->WriteDirtyPages(false));

  // Pages that are not journaled (an exclusive table's) go in writes of at
  // most 256 pages, and each of them reaches the file.
  host_.BufferSize = 8 << 20;
  TIndexFile exclusive(host_);
  exclusive.SetFileName("X.IDX");
  exclusive.SetInMemory(true);
  exclusive.SetExclusive(true);
  exclusive.CreateFile();
  index = AddIndex(exclusive, "LONG", 400);
  for (int i = 0; i < 3000; ++i) Insert(exclusive, index, KeyNumber(i, 400));
  const int32_t written = exclusive.Header().NextPage - 1;
  ASSERT_GT(written, 300);
  ASSERT_EQ(exclusive.Stats().PageWrites, 0u) << "every page still cached";
  EXPECT_TRUE(exclusive.WriteDirtyPages(false));
  EXPECT_EQ(exclusive.Stats().PageWrites, static_cast<uint64_t>(written));
  EXPECT_EQ(exclusive.Stats().WriteCalls, static_cast<uint64_t>((written + 255) / 256));
  exclusive.DropPageBuffers(false);
  TIndexVerifyReport report = Verify(exclusive);
  EXPECT_TRUE(report.Ok()) << report.Describe();
  EXPECT_EQ(report.Keys[index], 3000);
}

TEST_F(IndexFileBehaviourTest, TemporaryIndexesStayOutOfTheFileAndItsHeader) {
  auto file = NewIndexFile(false);
  uint8_t kept = AddIndex(*file, "KEPT");
  uint8_t scratch = AddIndex(*file, "SCRATCH", 100, lcNone, /*temporary=*/true);
  EXPECT_TRUE(file->HasMemoryFile());
  for (int i = 0; i < 200; ++i) Insert(*file, scratch, KeyNumber(i));
  Insert(*file, kept, KeyNumber(1));
  EXPECT_EQ(file->Header().NextPage, 2) << "temporary pages are numbered apart";
  EXPECT_GT(file->PageLimit(scratch), 5);
  file->WriteDirtyPages(true);
  file->WriteDirtyPages(false);
  file->WriteIndexHeader(false);
  TIndexVerifyReport report = Verify(*file);
  EXPECT_TRUE(report.Ok()) << report.Describe();
  EXPECT_EQ(report.Keys[scratch], 200);
  // No other program sees the memory file: reading it needs no check.
  file->DropPageBuffers(true);
  const int checks = host_.PageReadChecks;
  EXPECT_TRUE(TBTree(*file, scratch, comparer_, path_).LocateKey(KeyNumber(150).data()));
  EXPECT_EQ(host_.PageReadChecks, checks);

  std::vector<uint8_t> bytes = ContentsOf(*file);
  EXPECT_EQ(bytes.size(), 8192u);
  TIndexHeader disk = DecodeIndexHeader(bytes.data());
  EXPECT_EQ(disk.SecondaryCount, 1);
  EXPECT_EQ(disk.Descriptors[scratch], TIndexDescriptor{});
  EXPECT_EQ(disk.Descriptors[kept].Name, "KEPT");

  file->Close();
  EXPECT_FALSE(file->HasMemoryFile());
  EXPECT_FALSE(FileList()->FileExists(host_.Name + "_TMP0.IDX", true));
  EXPECT_EQ(file->Header().SecondaryCount, 1);
}

TEST_F(IndexFileBehaviourTest, PagesBeyondTheLimitsAreRefusedBeforeAnythingIsWritten) {
  for (int32_t next : {31250000, 2000000001}) {
    TIndexHeader h = NewIndexHeader();
    h.NextPage = next;
    std::vector<uint8_t> image(4096);
    EncodeIndexHeader(h, image.data());
    MakeFile("FULL.IDX", image, /*in_memory=*/true);
    auto file = OpenIndexFile(true, "FULL.IDX");
    uint8_t index = AddIndex(*file, "TOOMANY");
    EXPECT_EQ(CodeRaisedBy([&] { Insert(*file, index, KeyNumber(1)); }), VEVURA_TABLEFULL);
    EXPECT_EQ(file->Header().NextPage, next);
    EXPECT_EQ(file->RootPage(index), 0);
    EXPECT_EQ(file->Cache(index).Size(), 0);
    file->Close();
    FileList()->DeleteFile("FULL.IDX", true);
  }
  // The last page that fits is allowed (and not written here).
  TIndexHeader h = NewIndexHeader();
  h.NextPage = 31249999;
  std::vector<uint8_t> image(4096);
  EncodeIndexHeader(h, image.data());
  MakeFile("EDGE.IDX", image, true);
  auto file = OpenIndexFile(true, "EDGE.IDX");
  uint8_t index = AddIndex(*file, "LAST");
  Insert(*file, index, KeyNumber(1));
  EXPECT_EQ(file->RootPage(index), 31249999);
}

TEST_F(IndexFileBehaviourTest, OpenRefusesUnknownVersionsAndTooManyIndexes) {
  for (auto [version, count, code] :
       {std::tuple{4, 0, VEVURA_OLDVERSION}, std::tuple{5, 33, VEVURA_HEADERCORRUPT}}) {
    TIndexHeader h = NewIndexHeader();
    h.Version = static_cast<uint8_t>(version);
    h.SecondaryCount = static_cast<uint8_t>(count);
    std::vector<uint8_t> image(4096);
    EncodeIndexHeader(h, image.data());
    MakeFile("BAD.IDX", image, true);
    auto file = std::make_unique<TIndexFile>(host_);
    file->SetFileName("BAD.IDX");
    file->SetInMemory(true);
    EXPECT_EQ(CodeRaisedBy([&] { file->Open(); }), code);
    EXPECT_FALSE(file->IsOpen());
  }
}

TEST_F(IndexFileBehaviourTest, EncryptedTableScramblesHeaderAndPagesOnDisk) {
  host_.Encrypt = true;
  auto file = NewIndexFile(false);
  uint8_t index = AddIndex(*file, "SECRET");
  for (int i = 0; i < 50; ++i) Insert(*file, index, KeyNumber(i), static_cast<uint32_t>(i));
  FlushAndClose(*file);
  std::vector<uint8_t> bytes = ContentsOf(PathOf("T.IDX"));
  std::string raw(bytes.begin(), bytes.end());
  EXPECT_EQ(raw.find("K000010"), std::string::npos);
  EXPECT_NE(bytes[8], 5);
  std::vector<uint8_t> page1(bytes.begin() + 4096, bytes.begin() + 8192);
  UnscrambleRun(page1.data(), page1.size(), kTableDataSeeds);
  EXPECT_EQ(std::string(page1.begin() + 13, page1.begin() + 20), "K000000");

  file = OpenIndexFile(false);
  EXPECT_TRUE(TBTree(*file, index, comparer_, path_).LocateKey(KeyNumber(49).data()));
  EXPECT_TRUE(Verify(*file).Ok());
}

TEST_F(IndexFileBehaviourTest, AnotherWriterIsNoticedByTheChangeCounter) {
  auto writer = NewIndexFile(false);
  uint8_t index = AddIndex(*writer, "SHARED");
  FlushAndClose(*writer);
  writer = OpenIndexFile(false);
  auto reader = OpenIndexFile(false);
  EXPECT_FALSE(reader->IndexHeaderChanged());
  uint8_t mine = AddIndex(*reader, "MINE", 100, lcNone, /*temporary=*/true);
  Insert(*writer, index, KeyNumber(7));
  writer->WriteDirtyPages(false);
  writer->WriteIndexHeader(false);
  EXPECT_TRUE(reader->IndexHeaderChanged());
  EXPECT_EQ(reader->RootPage(index), 1);
  // The reader's temporary index never was on disk and outlives the re-read.
  EXPECT_EQ(reader->GetIndexDescriptor(mine).Name, "MINE");
  EXPECT_EQ(reader->Header().SecondaryCount, 2);
  EXPECT_EQ(reader->GetChangeCounter(), writer->GetChangeCounter());
  EXPECT_FALSE(reader->IndexHeaderChanged());
  EXPECT_TRUE(TBTree(*reader, index, comparer_, path_).LocateKey(KeyNumber(7).data()));
}

TEST_F(IndexFileBehaviourTest, WriteRegionCoversEveryReadSlot) {
  auto file = NewIndexFile(false);
  FlushAndClose(*file);
  auto writer = OpenIndexFile(false);
  auto reader = OpenIndexFile(false);
  EXPECT_TRUE(reader->LockReadSlot(true, 1));
  EXPECT_TRUE(reader->LockReadSlot(true, 65535));
  EXPECT_FALSE(writer->LockWriteRegion(true)) << "readers hold slots";
  EXPECT_TRUE(reader->LockReadSlot(false, 1));
  EXPECT_TRUE(reader->LockReadSlot(false, 65535));
  EXPECT_TRUE(writer->LockWriteRegion(true));
  EXPECT_FALSE(reader->LockReadSlot(true, 300)) << "a writer holds the region";
  EXPECT_TRUE(writer->LockWriteRegion(false));
  EXPECT_TRUE(reader->LockReadSlot(true, 300));
  EXPECT_TRUE(reader->LockReadSlot(false, 300));
}

TEST_F(IndexFileBehaviourTest, DescentStartsAgainWhenAReadFindsTheTableChanged) {
  auto file = NewIndexFile();
  uint8_t index = AddIndex(*file, "RESTART", 400);
  for (int i = 0; i < 100; ++i) Insert(*file, index, KeyNumber(i, 400));
  file->WriteDirtyPages(false);
  file->DropPageBuffers(false);
  int refusals = 1;
  host_.OnPageRead = [&] {
    if (refusals == 0) return true;
    --refusals;
    file->DropPageBuffers(false);
    return false;
  };
  int checks = host_.PageReadChecks;
  EXPECT_TRUE(TBTree(*file, index, comparer_, path_).LocateKey(KeyNumber(77, 400).data()));
  EXPECT_GT(host_.PageReadChecks - checks, 2);
  // A page dropped while pinned stays usable until it is released.
  TPage* pinned = file->FetchPage(index, 1, false);
  file->DropPageBuffers(false);
  EXPECT_EQ(pinned->PageNumber, 1);
  file->ReleasePage(pinned);
  EXPECT_TRUE(Verify(*file).Ok());
}

TEST_F(IndexFileBehaviourTest, RecordCountAndNoPrimaryFlagMarkTheHeader) {
  auto file = NewIndexFile();
  file->WriteIndexHeader(false);
  file->IncrementRecordCount();
  file->IncrementRecordCount();
  file->DecrementRecordCount();
  EXPECT_EQ(file->GetActiveRecordCount(), 1);
  EXPECT_TRUE(file->Modified());
  file->WriteIndexHeader(false);
  file->DefinePrimaryIndex(IndexDescriptor("", 8, true, lcNone), {});
  EXPECT_EQ(file->GetIndexDescriptor(0).KeyLength, 8);
  file->SetNoPrimary(true);
  EXPECT_TRUE(file->GetNoPrimary());
  EXPECT_EQ(file->GetIndexDescriptor(0), TIndexDescriptor{});
  EXPECT_TRUE(file->Modified());
}

}  // namespace
}  // namespace vevura::test
