// The shared table object on its own: opening with a missing index file,
// read-only files, deferred and immediate writes, and closing.

#include <filesystem>
#include <fstream>

#include "engine/core/lock_protocol.h"
#include "engine/storage/index/btree.h"
#include "engine/storage/index/key_comparer.h"
#include "tests/engine/core/core_test_support.h"

namespace vevura {
namespace {

using test::CodeRaisedBy;

class DataTableTest : public test::EngineTest {
 protected:
  //! A table of count records; with freed, record 2 is freed afterwards.
  void MakeTable(const std::string& name, int count, bool with_blob = false) {
    test::CreateTestTable(*directory_, name, with_blob);
    TDataTable* table = Open(name, true);
    for (int i = 1; i <= count; ++i) test::AppendRecord(*table, "row" + std::to_string(i));
    table->ChangesMade(true, true, false);
    Close(table);
  }

  //! Entries of index 31 of the open table.
  int64_t SlotKeys(TDataTable& table) {
    TByteKeyComparer comparer;
    TBTreePath path;
    return TBTree(table.IndexFile(), kSlotIndex, comparer, path).KeyTotal();
  }
};

TEST_F(DataTableTest, MissingIndexFileIsRecreatedAndTheSlotIndexRebuilt) {
  MakeTable("NOIDX", 5);
  {
    TDataTable* table = Open("NOIDX", true);
    TRecordStorage& records = table->DataFile().Records();
    TRecordRef freed(records, records.GetRecord(nullptr, 2, rdForward, false, false));
    records.FreeRecord(freed.get());
    freed.Release();
    table->ChangesMade(true, false, false);
    Close(table);
  }
  ASSERT_TRUE(std::filesystem::remove(PathOf("NOIDX.IDX")));

  TDataTable* table = Open("NOIDX");
  ASSERT_NE(table, nullptr);
  EXPECT_TRUE(table->IndexFileRecreated());
  EXPECT_TRUE(std::filesystem::exists(PathOf("NOIDX.IDX")));
  table->VerifyHeaders();
  const TIndexHeader& header = table->IndexFile().Header();
  EXPECT_EQ(header.Descriptors[kSlotIndex].Name, "Sys Deleted");
  EXPECT_EQ(header.Descriptors[kTextIndex].Name, "Sys Text");
  EXPECT_EQ(header.Descriptors[0].KeyLength, 0);
  EXPECT_EQ(SlotKeys(*table), 0);

  table->RebuildSlotIndex();
  EXPECT_FALSE(table->IndexFileRecreated());
  EXPECT_FALSE(table->WriteLocked());
  EXPECT_TRUE(table->IndexFile().GetNoPrimary());
  EXPECT_EQ(table->IndexFile().GetActiveRecordCount(), 4);
  EXPECT_EQ(SlotKeys(*table), 5);
  // The freed slot is the one key with status 1.
  TByteKeyComparer comparer;
  TBTreePath path;
  TBTree tree(table->IndexFile(), kSlotIndex, comparer, path);
  TIndexPosition last;
  ASSERT_TRUE(tree.Last(&last));
  EXPECT_EQ(last.Key[0], 1);
  EXPECT_EQ(last.Reference, 2u);
  Close(table);

  // Written to disk by the shared table: a new open finds it complete.
  table = Open("NOIDX");
  EXPECT_FALSE(table->IndexFileRecreated());
  table->VerifyHeaders();
  EXPECT_EQ(table->IndexFile().GetActiveRecordCount(), 4);
  EXPECT_EQ(SlotKeys(*table), 5);
  EXPECT_EQ(test::NameOf(*table, 5), "row5");
  Close(table);
}

TEST_F(DataTableTest, ReadOnlyFilesPlaceNoLocksAndRefuseChanges) {
  MakeTable("FIXED", 3, true);
  for (const char* file : {"FIXED.DAT", "FIXED.IDX", "FIXED.BLB"}) {
    std::filesystem::permissions(PathOf(file), std::filesystem::perms::owner_read |
                                                   std::filesystem::perms::group_read |
                                                   std::filesystem::perms::others_read);
  }
  fs_.Reset();
  TDataTable* table = Open("FIXED");
  ASSERT_NE(table, nullptr);
  EXPECT_TRUE(table->ReadOnly());
  EXPECT_TRUE(table->ReadOnlyAttribute());
  table->VerifyHeaders();
  EXPECT_FALSE(table->ReadLock());
  EXPECT_FALSE(table->WriteLock());
  EXPECT_FALSE(table->LockRecord(2));
  table->UnlockRecord(2);
  table->WriteUnlock();
  table->ReadUnlock();
  directory_->StartTransaction();
  EXPECT_FALSE(table->InTransaction());
  directory_->Commit(true, false);
  EXPECT_EQ(fs_.TotalCalls(), 0);
  EXPECT_EQ(test::NameOf(*table, 3), "row3");

  try {
    table->RequireWritable();
    ADD_FAILURE() << "a read-only table accepted a change";
  } catch (const EVEVURAEngineError& e) {
    EXPECT_EQ(e.ErrorCode, VEVURA_OSEACCES);
    EXPECT_EQ(e.ErrorTable, "FIXED");
  }
  // Nothing is ever written, even when a change is forced at it.
  test::Rename(*table, 1, "not stored");
  table->FlushBuffers(true, true, true, true, true);
  EXPECT_EQ(fs_.Writes(), 0);
  Close(table);
  EXPECT_EQ(fs_.Writes(), 0);
}

TEST_F(DataTableTest, ExclusiveTableDefersEveryWriteUntilClose) {
  MakeTable("DEFER", 2, true);
  TDataTable* table = Open("DEFER", true);
  TChangeCounters before = table->ChangeCounters();
  fs_.Reset();
  test::Rename(*table, 1, "renamed");
  test::AppendRecord(*table, "added");
  table->ChangesMade(true, true, true);
  test::Rename(*table, 2, "again");
  table->ChangesMade(true, true, false);
  EXPECT_EQ(fs_.Writes(), 0);
  EXPECT_EQ(fs_.TotalCalls(), 0);
  EXPECT_TRUE(table->Modified());
  TChangeCounters marked = table->ChangeCounters();
  EXPECT_EQ(marked.Data, before.Data + 2);
  EXPECT_EQ(marked.Index, before.Index + 2);
  EXPECT_EQ(marked.Blob, before.Blob + 1);

  Close(table);
  EXPECT_GT(fs_.Writes(), 0);
  TDataHeader on_disk = ReadClosedTableHeader(PathOf("DEFER.DAT"), false);
  EXPECT_EQ(on_disk.ChangeCounter, marked.Data + 1);
  EXPECT_EQ(on_disk.NextRecordNumber, 4);
  table = Open("DEFER");
  EXPECT_EQ(test::NameOf(*table, 1), "renamed");
  EXPECT_EQ(test::NameOf(*table, 2), "again");
  EXPECT_EQ(test::NameOf(*table, 3), "added");
  Close(table);
}

TEST_F(DataTableTest, SharedTableHasWrittenEverythingBeforeItsWriteLockGoes) {
  MakeTable("SHARED", 2);
  TDataTable* table = Open("SHARED");
  fs_.Reset();
  table->WriteLock();
  test::Rename(*table, 2, "written");
  table->ChangesMade(true, true, false);
  EXPECT_GT(fs_.Writes(), 0);
  TChangeCounters counters = table->ChangeCounters();
  EXPECT_EQ(ReadClosedTableHeader(PathOf("SHARED.DAT"), false).ChangeCounter, counters.Data);
  table->WriteUnlock();
  // Closing a shared table has nothing left to write.
  fs_.Reset();
  Close(table);
  EXPECT_EQ(fs_.Writes(), 0);
  table = Open("SHARED");
  EXPECT_EQ(test::NameOf(*table, 2), "written");
  Close(table);
}

TEST_F(DataTableTest, TemporaryTableIsDiscardedAtCloseAndLocksGoWithTheFiles) {
  MakeTable("TEMP", 1);
  TDataTable* table = nullptr;
  TTableOpenRequest request;
  request.Exclusive = true;
  request.Temporary = true;
  ASSERT_EQ(directory_->OpenTableObject("TEMP", request, &table), 0);
  test::Rename(*table, 1, "dropped");
  table->ChangesMade(true, true, false);
  fs_.Reset();
  ASSERT_EQ(directory_->CloseTableObject(table, true), 0);
  EXPECT_EQ(fs_.Writes(), 0);
  // Temporary files do not outlive their last close.
  EXPECT_FALSE(directory_->TableExists("TEMP", false));

  MakeTable("KEEP", 1);
  table = Open("KEEP");
  // Every lock a table object still holds is released when it closes, so
  // the table object of another session, which keeps the files open, can
  // take them.
  TDataSession other;
  other.SetLockRetryCount(0);
  other.SetTableLockTiming({5, 1});
  TDataTable* others = nullptr;
  ASSERT_EQ(other.OpenDataDirectory("", dir_.path())->OpenTableObject("KEEP", {}, &others), 0);
  table->LockRecord(1);
  EXPECT_EQ(CodeRaisedBy([&] { others->LockRecord(1); }), VEVURA_RECLOCKFAILED);
  table->WriteLock();
  EXPECT_EQ(CodeRaisedBy([&] { others->ReadLock(); }), VEVURA_LOCKTIMEOUT);
  Close(table);
  EXPECT_FALSE(others->LockRecord(1));
  EXPECT_FALSE(others->WriteLock());
  others->WriteUnlock();
  others->UnlockRecord(1);
}

}  // namespace
}  // namespace vevura

namespace vevura {
namespace {

//! Overwrites bytes of a closed file at offset.
void Patch(const std::string& path, int64_t offset, std::vector<uint8_t> bytes) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(offset);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

class TableVerifyTest : public test::EngineTest {};

TEST_F(TableVerifyTest, FirstCursorFindsDamagedHeaders) {
  test::CreateTestTable(*directory_, "LANG");
  // Language id 0x7FFF names no installed language.
  Patch(PathOf("LANG.DAT"), 103, {0xFF, 0x7F});
  TDataTable* table = Open("LANG");
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(CodeRaisedBy([&] { table->VerifyHeaders(); }), VEVURA_CANNOTLOADLDDRV);
  EXPECT_FALSE(table->ReadLocked()) << "the read lock of the check stayed held";
  Close(table);

  test::CreateTestTable(*directory_, "SECONDARY");
  // Five secondary indexes that have no descriptors.
  Patch(PathOf("SECONDARY.IDX"), 13, {5});
  table = Open("SECONDARY");
  EXPECT_EQ(CodeRaisedBy([&] { table->VerifyHeaders(); }), VEVURA_HEADERCORRUPT);
  Close(table);

  test::CreateTestTable(*directory_, "VERSION");
  Patch(PathOf("VERSION.DAT"), 8, {4});
  TDataTable* none = nullptr;
  EXPECT_EQ(CodeRaisedBy([&] { directory_->OpenTableObject("VERSION", {}, &none); }),
            VEVURA_OLDVERSION);
  EXPECT_TRUE(directory_->Tables().empty());
  EXPECT_EQ(FileList()->Count(), 0);
}

TEST_F(TableVerifyTest, FailedCreationLeavesNoTableObject) {
  TDataTable* table = nullptr;
  auto failing = [](TDataTable& t) {
    test::WriteTestTable(t, false);
    RaiseTableError(VEVURA_WRITEERR, t.TableName());
  };
  EXPECT_EQ(
      CodeRaisedBy([&] { directory_->CreateTableObject("BROKEN", false, false, failing, &table); }),
      VEVURA_WRITEERR);
  EXPECT_TRUE(directory_->Tables().empty());
  EXPECT_EQ(FileList()->Count(), 0);
  test::CreateTestTable(*directory_, "BROKEN");
  table = Open("BROKEN");
  table->VerifyHeaders();
  Close(table);
}

}  // namespace
}  // namespace vevura
