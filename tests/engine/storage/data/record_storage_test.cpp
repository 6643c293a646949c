// Record storage: fetching with read-ahead, appending and its limits, the
// free chain and its damage, write-back in runs, pinning, trimming and
// dropping, on disk and in memory.

#include "engine/storage/data/record_storage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <vector>

#include "engine/storage/data/data_verify.h"
#include "platform/file_system.h"
#include "tests/engine/storage/data/record_storage_support.h"
#include "tests/support/fault_file_system.h"

namespace vevura::test {
namespace {

class RecordStorageTest : public FileLayerTest {
 protected:
  std::unique_ptr<TTestDataFile> MakeFile(uint16_t record_size, bool in_memory = false,
                                          bool encrypted = false,
                                          const std::string& name = "RECORDS") {
    return std::make_unique<TTestDataFile>(in_memory ? name : PathOf(name + ".DAT"), in_memory,
                                           record_size, 1, encrypted);
  }
};

//! Fetches record number forward with plain read-ahead and releases it.
std::vector<uint8_t> Fetch(TTestDataFile& data, int32_t number,
                           TRecordDirection direction = rdForward) {
  TRecordRef record(data.storage, data.storage.GetRecord(nullptr, number, direction, false, true));
  return ImageOf(*record);
}

TEST_F(RecordStorageTest, SequentialScansReadEachStretchOnce) {
  for (bool in_memory : {false, true}) {
    SCOPED_TRACE(in_memory ? "in memory" : "on disk");
    auto data = MakeFile(100, in_memory);
    EXPECT_EQ(data->storage.ReadAheadCount(), 81);
    EXPECT_EQ(data->storage.Cache().Capacity(), 163);
    data->FillRecords(1000);

    for (int32_t n = 1; n <= 1000; ++n) ASSERT_EQ(Fetch(*data, n), data->LiveImage(n, n));
    ASSERT_EQ(data->file.Reads.size(), 13u);
    EXPECT_EQ(data->file.Reads.back().Length, 28 * 100);
    EXPECT_EQ(data->file.Reads.back().Position, data->storage.RecordOffset(973));
    EXPECT_LE(data->storage.Cache().Count(), 163);

    // Backward from the end: runs stop at record 1 instead of reading before it.
    data->storage.DropAllRecords();
    data->file.ClearCounts();
    for (int32_t n = 1000; n >= 1; --n) {
      ASSERT_EQ(Fetch(*data, n, rdBackward), data->LiveImage(n, n));
    }
    ASSERT_EQ(data->file.Reads.size(), 13u);
    EXPECT_EQ(data->file.Reads.back().Position, data->storage.RecordOffset(1));
    EXPECT_EQ(data->file.Reads.back().Length, 28 * 100);
    EXPECT_TRUE(data->file.Writes.empty());
  }
}

TEST_F(RecordStorageTest, ReadAheadReadsTheCursorsRecordsInRuns) {
  // 1000-byte records: a cache of 16, so at most 8 named records, and runs
  // at most 4 records apart read as one.
  auto data = MakeFile(1000);
  data->FillRecords(100);
  TTestCursor cursor;
  auto get = [&](int32_t n, bool read_ahead = true) {
    return TRecordRef(data->storage,
                      data->storage.GetRecord(&cursor, n, rdForward, true, read_ahead));
  };
  auto read = [&](size_t i) {
    return std::pair(data->file.Reads[i].Position, data->file.Reads[i].Length);
  };
  auto at = [&](int32_t n) { return data->storage.RecordOffset(n); };

  // Out of order, with numbers outside the slots (the append slot 101 too);
  // the ninth is beyond the limit.
  cursor.Ahead = {12, 40, 0, 11, 95, 101, 17, 90, -3};
  TRecordRef a = get(10);
  EXPECT_EQ(cursor.Checks, 1);
  EXPECT_EQ(cursor.LastLimit, 8);
  ASSERT_EQ(data->file.Reads.size(), 3u);
  EXPECT_EQ(read(0), std::pair(at(40), int64_t{1000}));
  EXPECT_EQ(read(1), std::pair(at(90), int64_t{6000}));
  EXPECT_EQ(read(2), std::pair(at(10), int64_t{8000}));
  EXPECT_EQ(data->storage.Cache().LeastRecent(), a.get()) << "reached by a step: reused first";
  EXPECT_EQ(data->header.NextRecordNumber, 101);
  for (int32_t n : {11, 12, 17, 40, 90, 95}) {
    EXPECT_EQ(ImageOf(*get(n)), data->LiveImage(n, n)) << n;
  }
  EXPECT_EQ(data->file.Reads.size(), 3u);
  // The records between the named ones were read but not kept.
  EXPECT_EQ(data->storage.Cache().Peek(13), nullptr);
  EXPECT_EQ(data->storage.Cache().Peek(91), nullptr);

  // Beyond the limit the first names count; none: the record alone.
  cursor.Ahead.clear();
  for (int32_t n = 70; n >= 50; --n) cursor.Ahead.push_back(n);
  get(49);
  EXPECT_EQ(read(3), std::pair(at(63), int64_t{8000}));
  EXPECT_EQ(read(4), std::pair(at(49), int64_t{1000}));
  cursor.Ahead.clear();
  get(30);
  EXPECT_EQ(read(5), std::pair(at(30), int64_t{1000}));

  // A changed buffer in the middle of a run keeps its change.
  {
    TRecordRef changed = get(80, false);
    changed->MutableData()[20] = 0xEE;
  }
  cursor.Ahead = {80, 81};
  get(79);
  EXPECT_EQ(read(7), std::pair(at(79), int64_t{3000}));
  EXPECT_EQ(get(80)->Data()[20], 0xEE);
  EXPECT_EQ(ImageOf(*get(81)), data->LiveImage(81, 81));

  // Steps through more records than the cache holds keep what was read
  // otherwise: each record a step reaches is the next buffer reused.
  data->storage.DropAllRecords();
  cursor.Ahead.clear();
  get(5);
  for (int32_t n = 20; n <= 100; ++n) {
    cursor.Ahead.clear();
    for (int32_t k = n + 1; k <= std::min(n + 8, 100); ++k) cursor.Ahead.push_back(k);
    get(n);
  }
  EXPECT_NE(data->storage.Cache().Peek(5), nullptr);

  // A cursor that finds the table changed gets no record, and nothing is read.
  cursor.ReportChange = true;
  const size_t reads = data->file.Reads.size();
  EXPECT_EQ(data->storage.GetRecord(&cursor, 60, rdForward, true, true), nullptr);
  EXPECT_EQ(data->file.Reads.size(), reads);
}

TEST_F(RecordStorageTest, BadRecordNumbersAndLimits) {
  auto data = MakeFile(100);
  data->FillRecords(3);
  EXPECT_EQ(CodeRaisedBy([&] { data->storage.GetRecord(nullptr, 0, rdForward, false, true); }),
            VEVURA_FILECORRUPT);
  EXPECT_EQ(CodeRaisedBy([&] { data->storage.GetRecord(nullptr, -7, rdForward, false, true); }),
            VEVURA_FILECORRUPT);
  EXPECT_EQ(CodeRaisedBy([&] { data->storage.GetRecord(nullptr, 5, rdForward, false, true); }),
            VEVURA_FILECORRUPT);
  // A header that counts more records than the file holds.
  data->header.NextRecordNumber = 10;
  EXPECT_EQ(CodeRaisedBy([&] { data->storage.GetRecord(nullptr, 7, rdForward, false, false); }),
            VEVURA_READERR);
  data->table.ShortReads = true;
  EXPECT_EQ(CodeRaisedBy([&] { data->storage.GetRecord(nullptr, 7, rdForward, false, false); }),
            VEVURA_FILECORRUPT);
  // A short read that still covers the record asked for is fine.
  EXPECT_EQ(Fetch(*data, 2), data->LiveImage(2, 2));

  data->header.NextRecordNumber = 1000000001;
  data->header_changed = false;
  EXPECT_EQ(CodeRaisedBy([&] { data->storage.AllocateRecord(nullptr); }), VEVURA_TABLEFULL);
  EXPECT_EQ(data->header.NextRecordNumber, 1000000001);
  EXPECT_FALSE(data->header_changed);

  // 127 + 768 + n * 65535 > 128,000,000,000 from n = 1,953,155 on.
  auto wide = MakeFile(65535, true, false, "wide");
  wide->header.NextRecordNumber = 1953154;
  TRecordRef last(wide->storage, wide->storage.AllocateRecord(nullptr));
  EXPECT_EQ(last->RecordNumber(), 1953154);
  EXPECT_EQ(CodeRaisedBy([&] { wide->storage.AllocateRecord(nullptr); }), VEVURA_TABLEFULL);
}

TEST_F(RecordStorageTest, AppendedSlotsStartZeroedAndReachTheFile) {
  auto data = MakeFile(40);
  TRecordRef first(data->storage, data->storage.AllocateRecord(nullptr));
  EXPECT_EQ(first->RecordNumber(), 1);
  EXPECT_EQ(data->header.NextRecordNumber, 2);
  EXPECT_TRUE(data->header_changed);
  std::vector<uint8_t> expected(40, 0);
  SetRecordLink(expected, 1);
  EXPECT_EQ(ImageOf(*first), expected);
  EXPECT_TRUE(first->Dirty());
  EXPECT_TRUE(data->file.Reads.empty());
  first.Release();
  // Even untouched, the slot the header counts is written.
  EXPECT_TRUE(data->storage.FlushRecords());
  EXPECT_EQ(data->file.GetSize(), data->storage.RecordOffset(2));
  EXPECT_EQ(data->FileImage(1), expected);
  EXPECT_FALSE(data->storage.FlushRecords());
}

//! Appends a live record of row id row through the storage and returns its number.
int32_t AppendLive(TTestDataFile& data, int32_t row) {
  TRecordRef r(data.storage, data.storage.AllocateRecord(nullptr));
  r->SetFieldsFrom(data.LiveImage(r->RecordNumber(), row).data());
  r->SetAutoIncValue(row);
  return r->RecordNumber();
}

TEST_F(RecordStorageTest, AppendedRecordsAreStagedAndWrittenFromTheStage) {
  for (bool encrypted : {false, true}) {
    SCOPED_TRACE(encrypted ? "encrypted" : "plain");
    auto data = MakeFile(100, false, encrypted);  // capacity 163: a stage of 81
    data->table.PrimaryIndex = false;             // a freed slot is not taken again
    data->table.ShortReads = true;
    ASSERT_EQ(data->storage.StageCapacity(), 81);
    data->FillRecords(4);
    std::vector<std::vector<uint8_t>> expected(200);
    for (int32_t n = 1; n <= 4; ++n) expected[n] = data->LiveImage(n, n);
    for (int32_t n = 5; n <= 85; ++n) {
      ASSERT_EQ(AppendLive(*data, n), n);
      expected[n] = data->LiveImage(n, n);
    }
    EXPECT_TRUE(data->file.Writes.empty());
    EXPECT_EQ(data->storage.StagedCount(), 81);
    EXPECT_EQ(data->storage.Cache().Count(), 0);

    // Another user of the table reads, edits and deletes staged records.
    EXPECT_EQ(Fetch(*data, 10), expected[10]);
    {
      TRecordRef r(data->storage, data->storage.GetRecord(nullptr, 11, rdForward, false, true));
      r->SetAutoIncValue(1011);
      SetRecordRowId(expected[11], 1011);
      TRecordRef gone(data->storage, data->storage.GetRecord(nullptr, 12, rdForward, false, true));
      data->storage.FreeRecord(gone.get());
      SetRecordStatus(expected[12], rsFree);
      SetRecordLink(expected[12], 0);
    }
    EXPECT_TRUE(data->file.Reads.empty());

    // The full stage goes out in one write when the next append needs it.
    ASSERT_EQ(AppendLive(*data, 86), 86);
    expected[86] = data->LiveImage(86, 86);
    ASSERT_EQ(data->file.Writes.size(), 1u);
    EXPECT_EQ(data->file.Writes[0].Position, data->storage.RecordOffset(5));
    EXPECT_EQ(data->file.Writes[0].Length, 81 * 100);
    for (int32_t n = 5; n <= 85; ++n) ASSERT_EQ(data->FileImage(n), expected[n]) << n;
    if (encrypted) {
      std::vector<uint8_t> raw(100);
      data->file.ReadAt(data->storage.RecordOffset(5), raw.data(), 100);
      EXPECT_NE(raw, expected[5]);
    }

    // A flush writes only the dirty staged records; they stay staged and
    // plain, and a read over them from the file does not replace them.
    ASSERT_EQ(AppendLive(*data, 87), 87);
    ASSERT_EQ(AppendLive(*data, 88), 88);
    expected[87] = data->LiveImage(87, 87);
    expected[88] = data->LiveImage(88, 88);
    data->file.ClearCounts();
    EXPECT_TRUE(data->storage.FlushRecords());
    ASSERT_EQ(data->file.Writes.size(), 1u);
    EXPECT_EQ(data->file.Writes[0].Length, 3 * 100);
    {
      TRecordRef r(data->storage, data->storage.GetRecord(nullptr, 87, rdForward, false, true));
      r->SetAutoIncValue(1087);
      SetRecordRowId(expected[87], 1087);
    }
    data->storage.DropAllRecords();
    EXPECT_EQ(data->storage.StagedCount(), 0);  // the edit of 87 is lost
    SetRecordRowId(expected[87], 87);
    ASSERT_EQ(AppendLive(*data, 89), 89);
    expected[89] = data->LiveImage(89, 89);
    {
      TRecordRef r(data->storage, data->storage.GetRecord(nullptr, 89, rdForward, false, true));
      r->SetAutoIncValue(1089);
      SetRecordRowId(expected[89], 1089);
    }
    data->file.ClearCounts();
    EXPECT_TRUE(data->storage.FlushRecords());
    ASSERT_EQ(data->file.Writes.size(), 1u);
    EXPECT_EQ(data->file.Writes[0].Length, 100);
    EXPECT_EQ(data->FileImage(89), expected[89]);
    {
      TRecordRef r(data->storage, data->storage.GetRecord(nullptr, 89, rdForward, false, true));
      r->SetAutoIncValue(2089);
      SetRecordRowId(expected[89], 2089);
    }
    Fetch(*data, 80);  // reads 80 to 89 from the file
    EXPECT_EQ(data->file.Reads.back().Length, 10 * 100);
    EXPECT_EQ(Fetch(*data, 89), expected[89]);
    EXPECT_EQ(data->storage.Cache().Peek(89), nullptr);
    EXPECT_FALSE(data->FileImage(89) == expected[89]);

    // A record pinned when the stage is written keeps its image, moves into
    // the cache and is written later.
    TRecordRef held(data->storage, data->storage.GetRecord(nullptr, 89, rdForward, false, true));
    int32_t n = 90;
    for (; data->storage.StagedCount() < 81; ++n) {
      ASSERT_EQ(AppendLive(*data, n), n);
      expected[n] = data->LiveImage(n, n);
    }
    data->file.ClearCounts();
    ASSERT_EQ(AppendLive(*data, n), n);
    expected[n] = data->LiveImage(n, n);
    ASSERT_EQ(data->file.Writes.size(), 1u);  // 90 to n - 1
    EXPECT_EQ(data->file.Writes[0].Position, data->storage.RecordOffset(90));
    EXPECT_EQ(data->storage.Cache().Peek(89), held.get());
    EXPECT_EQ(ImageOf(*held), expected[89]);
    held->SetAutoIncValue(3089);
    SetRecordRowId(expected[89], 3089);
    held.Release();

    // A slot taken back by a failed insert is appended again, zeroed, and
    // nothing past the header's count is written.
    const int32_t last = AppendLive(*data, 5000);
    {
      TRecordRef r(data->storage, data->storage.GetRecord(nullptr, last, rdForward, false, true));
      std::fill(r->MutableData().begin(), r->MutableData().end(), 0);
      r->SetDirty(false);
    }
    data->header.NextRecordNumber = last;
    {
      TRecordRef again(data->storage, data->storage.AllocateRecord(nullptr));
      ASSERT_EQ(again->RecordNumber(), last);
      std::vector<uint8_t> zero(100, 0);
      SetRecordLink(zero, last);
      EXPECT_EQ(ImageOf(*again), zero);
      expected[last] = zero;
    }
    EXPECT_TRUE(data->storage.FlushRecords());
    EXPECT_EQ(data->file.GetSize(), data->storage.RecordOffset(last + 1));
    for (int32_t k = 1; k <= last; ++k) ASSERT_EQ(data->FileImage(k), expected[k]) << k;
    EXPECT_FALSE(data->storage.FlushRecords());
  }
}

TEST_F(RecordStorageTest, StagedAppendsWaitForATransactionAndSurviveAFailedWrite) {
  platform::FaultFileSystem fault(platform::PosixFileSystem());
  platform::SetFileSystem(&fault);
  {
    auto data = MakeFile(1000);  // capacity 16: a stage of 8
    data->table.ShortReads = true;
    ASSERT_EQ(data->storage.StageCapacity(), 8);
    data->table.TransactionLock = true;
    for (int32_t n = 1; n <= 20; ++n) ASSERT_EQ(AppendLive(*data, 100 + n), n);
    EXPECT_TRUE(data->file.Writes.empty());
    for (int32_t n = 1; n <= 20; ++n) ASSERT_EQ(Fetch(*data, n), data->LiveImage(n, 100 + n));
    EXPECT_TRUE(data->file.Reads.empty());
    data->table.TransactionLock = false;
    EXPECT_TRUE(data->storage.FlushRecords());
    for (int32_t n = 1; n <= 20; ++n) ASSERT_EQ(data->FileImage(n), data->LiveImage(n, 100 + n));

    // The stage is full: the append that would write it fails, and keeps
    // the staged records it did not write dirty.
    for (int32_t n = 21; n <= 24; ++n) ASSERT_EQ(AppendLive(*data, 0), n);
    ASSERT_EQ(data->storage.StagedCount(), 8);
    const int32_t next = data->header.NextRecordNumber;
    fault.FailNth(platform::FaultFileSystem::Operation::Write, 1);
    EXPECT_EQ(CodeRaisedBy([&] { AppendLive(*data, 0); }), VEVURA_WRITEERR);
    EXPECT_EQ(data->header.NextRecordNumber, next);
    for (int32_t n = 21; n <= 24; ++n) ASSERT_TRUE(data->storage.Peek(n)->Dirty()) << n;
    fault.Disarm();
    EXPECT_EQ(AppendLive(*data, 777), next);
    EXPECT_TRUE(data->storage.FlushRecords());
    for (int32_t n = 21; n <= 24; ++n) EXPECT_EQ(data->FileImage(n), data->LiveImage(n, 0));
    EXPECT_EQ(data->FileImage(next), data->LiveImage(next, 777));
  }
  platform::SetFileSystem(nullptr);
}

TEST_F(RecordStorageTest, FreeChainIsReusedLastFreedFirst) {
  auto data = MakeFile(30);
  data->FillRecords(10);
  for (int32_t n : {5, 9}) {
    TRecordRef record(data->storage, data->storage.GetRecord(nullptr, n, rdForward, false, true));
    data->storage.FreeRecord(record.get());
  }
  EXPECT_EQ(data->header.FirstFreeRecord, 9);
  data->storage.FlushRecords();
  EXPECT_EQ(data->FileImage(9)[0], rsFree);
  EXPECT_EQ(RecordLink(data->FileImage(9)), 5);
  EXPECT_EQ(RecordLink(data->FileImage(5)), 0);
  EXPECT_TRUE(VerifyRecordArea(data->file, data->header, true).Sound());

  EXPECT_EQ(data->storage.NextInsertRecord(), 9);
  std::vector<int32_t> taken;
  for (int i = 0; i < 3; ++i) {
    TRecordRef record(data->storage, data->storage.AllocateRecord(nullptr));
    taken.push_back(record->RecordNumber());
    EXPECT_EQ(record->IsFree(), rsLive);
  }
  EXPECT_EQ(taken, (std::vector<int32_t>{9, 5, 11}));
  EXPECT_EQ(data->header.FirstFreeRecord, 0);
  data->storage.FlushRecords();
  TRecordAreaReport report = VerifyRecordArea(data->file, data->header, true);
  EXPECT_TRUE(report.Sound()) << (report.Problems.empty() ? "" : report.Problems[0]);
  EXPECT_EQ(report.LiveRecords, 11);

  // Freeing a record twice leaves the chain as it was.
  TRecordRef again(data->storage, data->storage.GetRecord(nullptr, 3, rdForward, false, true));
  data->storage.FreeRecord(again.get());
  data->storage.FreeRecord(again.get());
  EXPECT_EQ(again->NextFree(), 0);
  EXPECT_EQ(data->header.FirstFreeRecord, 3);
}

TEST_F(RecordStorageTest, TableWithoutPrimaryIndexAlwaysAppends) {
  auto data = MakeFile(30, true);
  data->table.PrimaryIndex = false;
  data->FillRecords(4);
  for (int32_t n : {2, 3}) {
    TRecordRef record(data->storage, data->storage.GetRecord(nullptr, n, rdForward, false, true));
    data->storage.FreeRecord(record.get());
    EXPECT_EQ(record->NextFree(), 0);
  }
  EXPECT_EQ(data->header.FirstFreeRecord, 3);
  EXPECT_EQ(data->storage.NextInsertRecord(), 5);
  TRecordRef added(data->storage, data->storage.AllocateRecord(nullptr));
  EXPECT_EQ(added->RecordNumber(), 5);
  added.Release();
  data->storage.FlushRecords();
  EXPECT_TRUE(VerifyRecordArea(data->file, data->header, false).Sound());
  // The same file read as one that reuses slots has a free record off the chain.
  EXPECT_FALSE(VerifyRecordArea(data->file, data->header, true).Sound());
}

TEST_F(RecordStorageTest, DamagedFreeChainsAreRefusedCleanly) {
  auto data = MakeFile(30);
  data->FillRecords(6);
  auto free_on_disk = [&](int32_t n, int32_t link) {
    std::vector<uint8_t> image = data->LiveImage(n, n);
    SetRecordStatus(image, rsFree);
    SetRecordLink(image, link);
    data->PutFileImage(n, image);
  };
  auto allocate = [&] {
    return CodeRaisedBy(
        [&] { TRecordRef r(data->storage, data->storage.AllocateRecord(nullptr)); });
  };

  for (int32_t head : {7, 8, 1000, -3}) {
    data->header.FirstFreeRecord = head;
    EXPECT_EQ(allocate(), VEVURA_FILECORRUPT) << head;
  }
  data->header.FirstFreeRecord = 2;  // a live record
  EXPECT_EQ(allocate(), VEVURA_FILECORRUPT);

  for (int32_t link : {4, 7, 99, -1}) {
    data->storage.DropAllRecords();
    free_on_disk(4, link);
    data->header.FirstFreeRecord = 4;
    EXPECT_EQ(allocate(), VEVURA_FILECORRUPT) << link;
    EXPECT_EQ(data->header.FirstFreeRecord, 4);
  }

  // A loop 2 -> 3 -> 2 hands out 2 and 3, then meets 2 taken.
  data->storage.DropAllRecords();
  free_on_disk(2, 3);
  free_on_disk(3, 2);
  data->header.FirstFreeRecord = 2;
  TRecordAreaReport report = VerifyRecordArea(data->file, data->header, true);
  EXPECT_FALSE(report.Sound());
  EXPECT_EQ(allocate(), 0);
  EXPECT_EQ(allocate(), 0);
  EXPECT_EQ(data->header.FirstFreeRecord, 2);
  EXPECT_EQ(allocate(), VEVURA_FILECORRUPT);
  // Nothing was pinned and left behind.
  for (const auto& buffer : data->storage.Cache().Buffers()) EXPECT_FALSE(buffer->Pinned());
}

TEST_F(RecordStorageTest, DirtyBuffersAreWrittenInRunsOfConsecutiveNumbers) {
  for (bool encrypted : {false, true}) {
    SCOPED_TRACE(encrypted ? "encrypted" : "plain");
    auto data = MakeFile(50, false, encrypted);
    data->FillRecords(20);
    std::set<int32_t> changed = {3, 4, 5, 8, 10, 11, 20};
    for (int32_t n : changed) {
      TRecordRef record(data->storage, data->storage.GetRecord(nullptr, n, rdForward, false, true));
      record->SetAutoIncValue(1000 + n);
    }
    data->file.ClearCounts();
    EXPECT_TRUE(data->storage.FlushRecords());
    ASSERT_EQ(data->file.Writes.size(), 4u);
    const int64_t first = data->storage.RecordOffset(1);
    std::vector<std::pair<int64_t, int64_t>> writes;
    for (const auto& w : data->file.Writes)
      writes.emplace_back((w.Position - first) / 50, w.Length / 50);
    EXPECT_EQ(writes, (std::vector<std::pair<int64_t, int64_t>>{{2, 3}, {7, 1}, {9, 2}, {19, 1}}));
    EXPECT_EQ(data->table.WrittenNotes, 4);
    for (int32_t n = 1; n <= 20; ++n) {
      EXPECT_EQ(data->FileImage(n), data->LiveImage(n, changed.count(n) ? 1000 + n : n)) << n;
    }
    if (encrypted) {
      std::vector<uint8_t> raw(50);
      data->file.ReadAt(data->storage.RecordOffset(4), raw.data(), 50);
      EXPECT_NE(raw, data->LiveImage(4, 1004));
    }
    EXPECT_FALSE(data->storage.FlushRecords());

    // Reading back through a cold cache unscrambles.
    data->storage.DropAllRecords();
    EXPECT_EQ(Fetch(*data, 10), data->LiveImage(10, 1010));
  }
}

TEST_F(RecordStorageTest, PinnedBuffersAreNeitherWrittenNorEvicted) {
  auto data = MakeFile(1000);  // capacity 16, read-ahead 8
  ASSERT_EQ(data->storage.Cache().Capacity(), 16);
  data->FillRecords(200);
  TRecordRef dirty(data->storage, data->storage.GetRecord(nullptr, 7, rdForward, false, true));
  TRecordRef clean(data->storage, data->storage.GetRecord(nullptr, 100, rdForward, false, true));
  dirty->SetAutoIncValue(77);
  EXPECT_FALSE(data->storage.FlushRecords());
  EXPECT_TRUE(dirty->Dirty());

  for (int32_t n = 1; n <= 200; ++n) Fetch(*data, n);
  for (int32_t n = 200; n >= 1; n -= 3) Fetch(*data, n, rdBackward);
  EXPECT_LE(data->storage.Cache().Count(), 16);
  EXPECT_EQ(dirty->RecordNumber(), 7);
  EXPECT_EQ(dirty->AutoIncValue(), 77);
  EXPECT_EQ(clean->RecordNumber(), 100);
  EXPECT_EQ(ImageOf(*clean), data->LiveImage(100, 100));
  EXPECT_EQ(data->FileImage(7), data->LiveImage(7, 7));

  dirty.Release();
  EXPECT_TRUE(data->storage.FlushRecords());
  EXPECT_EQ(data->FileImage(7), data->LiveImage(7, 77));

  // A run read over a pinned buffer does not refresh it.
  data->PutFileImage(100, data->LiveImage(100, 555));
  for (int32_t n = 150; n <= 200; ++n) Fetch(*data, n);  // pushes 97 to 104 out
  Fetch(*data, 97);                                      // reads 97 to 104
  EXPECT_EQ(data->file.Reads.back().Length, 8 * 1000);
  EXPECT_EQ(clean->AutoIncValue(), 100);
  clean.Release();
  data->storage.DropAllRecords();
  EXPECT_EQ(Fetch(*data, 100), data->LiveImage(100, 555));
}

TEST_F(RecordStorageTest, FullCacheMakesRoomByWritingOrGrowing) {
  auto data = MakeFile(20000, true);  // read-ahead 1, capacity 0
  EXPECT_EQ(data->storage.ReadAheadCount(), 1);
  EXPECT_EQ(data->storage.Cache().Capacity(), 0);
  data->FillRecords(3);
  Fetch(*data, 1);
  EXPECT_EQ(data->storage.Cache().Room(), 64);

  auto small = MakeFile(4000, true, false, "SMALL");  // capacity 4
  small->FillRecords(20);
  for (int32_t n = 1; n <= 4; ++n) {
    TRecordRef r(small->storage, small->storage.GetRecord(nullptr, n, rdForward, false, true));
    r->SetAutoIncValue(-n);
  }
  // Every buffer is dirty: the next miss writes them (one run) and reuses one.
  Fetch(*small, 10);
  ASSERT_EQ(small->file.Writes.size(), 1u);
  EXPECT_EQ(small->file.Writes[0].Length, 4 * 4000);
  EXPECT_EQ(small->storage.Cache().Room(), 4);

  // In a transaction the cache grows instead of writing, and trimming brings
  // it back, writing what it must.
  small->table.TransactionLock = true;
  small->file.ClearCounts();
  for (int32_t n = 11; n <= 16; ++n) {
    TRecordRef r(small->storage, small->storage.GetRecord(nullptr, n, rdForward, false, true));
    r->SetAutoIncValue(-n);
  }
  EXPECT_TRUE(small->file.Writes.empty());
  EXPECT_EQ(small->storage.Cache().Room(), 68);
  EXPECT_GT(small->storage.Cache().Count(), 4);
  small->storage.TrimCache();
  EXPECT_EQ(small->storage.Cache().Count(), 4);
  EXPECT_EQ(small->storage.Cache().Room(), 4);
  small->storage.FlushRecords();
  for (int32_t n : {1, 4, 11, 16}) EXPECT_EQ(small->FileImage(n), small->LiveImage(n, -n)) << n;

  // Trimming stops at pinned buffers.
  std::vector<TRecordRef> pins;
  for (int32_t n = 1; n <= 6; ++n) {
    pins.emplace_back(small->storage,
                      small->storage.GetRecord(nullptr, n, rdForward, false, false));
  }
  small->storage.TrimCache();
  EXPECT_EQ(small->storage.Cache().Count(), 6);
  EXPECT_EQ(small->storage.Cache().Room(), 6);
}

TEST_F(RecordStorageTest, DroppingForgetsChangesButKeepsPinnedBuffersAlive) {
  auto data = MakeFile(64, true);
  data->FillRecords(10);
  TRecordRef held(data->storage, data->storage.GetRecord(nullptr, 2, rdForward, false, true));
  {
    TRecordRef other(data->storage, data->storage.GetRecord(nullptr, 3, rdForward, false, true));
    other->SetAutoIncValue(9);
  }
  held->SetAutoIncValue(8);
  data->storage.DropAllRecords();
  EXPECT_EQ(data->storage.Cache().Count(), 0);
  EXPECT_EQ(data->storage.Cache().DroppedPinned(), 1u);
  EXPECT_FALSE(data->storage.FlushRecords());
  EXPECT_EQ(held->AutoIncValue(), 8);  // still a live object
  EXPECT_EQ(Fetch(*data, 2), data->LiveImage(2, 2));
  EXPECT_EQ(Fetch(*data, 3), data->LiveImage(3, 3));
  held.Release();
  EXPECT_EQ(data->storage.Cache().DroppedPinned(), 0u);
}

TEST_F(RecordStorageTest, FailedWriteKeepsTheDirtyBuffers) {
  platform::FaultFileSystem fault(platform::PosixFileSystem());
  platform::SetFileSystem(&fault);
  {
    auto data = MakeFile(32);
    data->FillRecords(8);
    for (int32_t n : {2, 3, 6}) {
      TRecordRef r(data->storage, data->storage.GetRecord(nullptr, n, rdForward, false, true));
      r->SetAutoIncValue(100 + n);
    }
    fault.FailNth(platform::FaultFileSystem::Operation::Write, 2);
    EXPECT_EQ(CodeRaisedBy([&] { data->storage.FlushRecords(); }), VEVURA_WRITEERR);
    int dirty = 0;
    for (const auto& buffer : data->storage.Cache().Buffers()) dirty += buffer->Dirty() ? 1 : 0;
    EXPECT_EQ(dirty, 1);  // the first run was written, the second kept
    EXPECT_EQ(data->FileImage(6), data->LiveImage(6, 6));
    fault.Disarm();
    EXPECT_TRUE(data->storage.FlushRecords());
    for (int32_t n = 1; n <= 8; ++n) {
      int32_t row = (n == 2 || n == 3 || n == 6) ? 100 + n : n;
      EXPECT_EQ(data->FileImage(n), data->LiveImage(n, row)) << n;
    }
    // A failed read leaves the cache as it was.
    data->storage.DropAllRecords();
    fault.FailNth(platform::FaultFileSystem::Operation::Read, 1);
    EXPECT_EQ(CodeRaisedBy([&] { Fetch(*data, 5); }), VEVURA_READERR);
    EXPECT_EQ(data->storage.Cache().Count(), 0);
    fault.Disarm();
    EXPECT_EQ(Fetch(*data, 5), data->LiveImage(5, 5));
  }
  platform::SetFileSystem(nullptr);
}

}  // namespace
}  // namespace vevura::test
