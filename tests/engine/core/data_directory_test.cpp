// Data directories: sharing by path, table objects, existence, temporary
// names, deletion, and transactions over several tables.

#include <cctype>
#include <filesystem>

#include "tests/engine/core/core_test_support.h"

namespace vevura {
namespace {

using test::CodeRaisedBy;

class DataDirectoryTest : public test::EngineTest {};

TEST_F(DataDirectoryTest, DatabasesOfOnePathShareOneDirectory) {
  std::string path = dir_.path();
  std::string bare = path.substr(0, path.size() - 1);
  TDataDirectory* first = session_->OpenDataDirectory("FIRST", "  " + bare + "  ");
  TDataDirectory* second = session_->OpenDataDirectory("SECOND", path);
  EXPECT_EQ(first, directory_);
  EXPECT_EQ(second, directory_);
  EXPECT_EQ(directory_->UseCount(), 3);
  EXPECT_EQ(directory_->Path(), path);

  // A transaction started through one covers the tables opened through the
  // other.
  test::CreateTestTable(*first, "ONE");
  test::CreateTestTable(*second, "TWO");
  TDataTable* one = nullptr;
  TDataTable* two = nullptr;
  ASSERT_EQ(first->OpenTableObject("ONE", {}, &one), 0);
  ASSERT_EQ(second->OpenTableObject("TWO", {}, &two), 0);
  first->StartTransaction();
  EXPECT_TRUE(second->InTransaction());
  EXPECT_TRUE(one->InTransaction());
  EXPECT_TRUE(two->InTransaction());
  second->Rollback();
  EXPECT_FALSE(one->InTransaction());

  // Closed as often as opened: freed only at the last close.
  session_->CloseDataDirectory(second);
  session_->CloseDataDirectory(first);
  EXPECT_EQ(session_->DataDirectories().size(), 1u);
  session_->CloseDataDirectory(directory_);
  EXPECT_TRUE(session_->DataDirectories().empty());
  session_->CloseDataDirectory(directory_);  // no longer held: nothing happens
}

TEST_F(DataDirectoryTest, DirectoryPathsFollowTheDatabaseName) {
  TDataDirectory* memory = session_->OpenDataDirectory("memory", "");
  EXPECT_EQ(memory->Path(), "");
  EXPECT_EQ(memory->Name(), "memory");
  TDataDirectory* memory_dir = session_->OpenDataDirectory("Memory", "/tmp\\data ");
  EXPECT_EQ(memory_dir->Path(), "/tmp/data/");
  TDataDirectory* current = session_->OpenDataDirectory("LOCAL", "");
  EXPECT_EQ(current->Path(), session_->CurrentDir());
  EXPECT_EQ(current->Path().back(), '/');
  EXPECT_NE(current, memory);
}

TEST_F(DataDirectoryTest, TableExistsLooksForTheDataFileOnly) {
  EXPECT_FALSE(directory_->TableExists("CATX", false));
  test::CreateTestTable(*directory_, "CATX");
  EXPECT_TRUE(directory_->TableExists("CATX", false));
  EXPECT_TRUE(directory_->TableExists("CATX.dat", false));
  EXPECT_TRUE(directory_->TableExists("catx", false));
  EXPECT_FALSE(directory_->TableExists("CATX", true));
  std::filesystem::remove(PathOf("CATX.IDX"));
  EXPECT_TRUE(directory_->TableExists("CATX", false));
  std::filesystem::create_directory(PathOf("FOLDER.DAT"));
  EXPECT_FALSE(directory_->TableExists("FOLDER", false));

  // In-memory tables live in the in-memory store.
  test::CreateTestTable(*directory_, "MEMCAT", false, true);
  EXPECT_TRUE(directory_->TableExists("MEMCAT", true));
  EXPECT_FALSE(directory_->TableExists("MEMCAT", false));
  EXPECT_FALSE(std::filesystem::exists(PathOf("MEMCAT.DAT")));
}

TEST_F(DataDirectoryTest, TemporaryTableNamesSkipNamesInUse) {
  std::string name = directory_->TemporaryTableName(false);
  ASSERT_GE(name.size(), 6u);
  EXPECT_EQ(name.substr(name.size() - 5), "0.DAT");
  EXPECT_LE(name.size(), 5u + 1u + 4u);
  for (char c : name.substr(0, name.size() - 4)) EXPECT_TRUE(std::isdigit(c)) << name;
  test::CreateTestTable(*directory_, name);
  std::string next = directory_->TemporaryTableName(false);
  EXPECT_EQ(next, name.substr(0, name.size() - 5) + "1.DAT");
  // The in-memory store has its own names.
  EXPECT_EQ(directory_->TemporaryTableName(true), name);
}

TEST_F(DataDirectoryTest, TableObjectsAreSharedUnlessOneSideIsExclusive) {
  test::CreateTestTable(*directory_, "SHARE");
  TDataTable* a = nullptr;
  TDataTable* b = nullptr;
  ASSERT_EQ(directory_->OpenTableObject("SHARE", {}, &a), 0);
  ASSERT_EQ(directory_->OpenTableObject(" share.DAT ", {}, &b), 0);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a->UseCount(), 2);
  EXPECT_EQ(directory_->Tables().size(), 1u);

  TTableOpenRequest exclusive;
  exclusive.Exclusive = true;
  TDataTable* c = nullptr;
  EXPECT_EQ(directory_->OpenTableObject("SHARE", exclusive, &c), -VEVURA_OSEACCES);
  EXPECT_EQ(c, nullptr);
  exclusive.ShareAlways = true;
  EXPECT_EQ(directory_->OpenTableObject("SHARE", exclusive, &c), 0);
  EXPECT_EQ(c, a);
  EXPECT_EQ(a->UseCount(), 3);

  for (int i = 0; i < 3; ++i) EXPECT_EQ(directory_->CloseTableObject(a, false), 0);
  EXPECT_TRUE(directory_->Tables().empty());
  EXPECT_EQ(directory_->CloseTableObject(a, false), -VEVURA_OSENOENT);

  // An exclusive holder keeps every other opener out, and deletion too.
  ASSERT_EQ(directory_->OpenTableObject("SHARE", {.Exclusive = true}, &a), 0);
  TTableOpenRequest shared;
  EXPECT_EQ(directory_->OpenTableObject("SHARE", shared, &b), -VEVURA_OSEACCES);
  EXPECT_EQ(directory_->DeleteTable("SHARE", false), -VEVURA_OSEACCES);
  EXPECT_EQ(directory_->CreateTableObject(
                "SHARE", false, false, [](TDataTable&) {}, &b),
            -VEVURA_OSEACCES);
  // An in-memory table of the same name is another table (which does not
  // exist), not the one held exclusively.
  EXPECT_EQ(CodeRaisedBy([&] { directory_->OpenTableObject("SHARE", {.InMemory = true}, &b); }),
            VEVURA_OSENOENT);
  Close(a);
  EXPECT_TRUE(directory_->TableExists("SHARE", false));
}

TEST_F(DataDirectoryTest, OpeningAMissingTableLeavesNoObject) {
  TDataTable* table = nullptr;
  EXPECT_EQ(CodeRaisedBy([&] { directory_->OpenTableObject("ABSENT", {}, &table); }),
            VEVURA_OSENOENT);
  EXPECT_TRUE(directory_->Tables().empty());
  EXPECT_EQ(FileList()->Count(), 0);
}

TEST_F(DataDirectoryTest, DeleteTableRemovesItsFiles) {
  test::CreateTestTable(*directory_, "GONE", true);
  ASSERT_TRUE(std::filesystem::exists(PathOf("GONE.BLB")));
  EXPECT_EQ(directory_->DeleteTable("gone", false), 0);
  EXPECT_FALSE(directory_->TableExists("GONE", false));
  EXPECT_FALSE(std::filesystem::exists(PathOf("GONE.IDX")));
  EXPECT_FALSE(std::filesystem::exists(PathOf("GONE.BLB")));
  EXPECT_EQ(CodeRaisedBy([&] { directory_->DeleteTable("GONE", false); }), VEVURA_OSENOENT);

  // Without an index file the table is deleted all the same.
  test::CreateTestTable(*directory_, "HALF");
  std::filesystem::remove(PathOf("HALF.IDX"));
  EXPECT_EQ(directory_->DeleteTable("HALF", false), 0);
  EXPECT_FALSE(std::filesystem::exists(PathOf("HALF.DAT")));
}

TEST_F(DataDirectoryTest, CommitWritesAndRollbackDiscardsEveryTable) {
  test::CreateTestTable(*directory_, "ORDERS");
  test::CreateTestTable(*directory_, "ITEMS", true);
  TDataTable* orders = Open("ORDERS");
  TDataTable* items = Open("ITEMS");
  test::ChangeUnderWriteLock(*orders, [&] { test::AppendRecord(*orders, "first order"); });
  test::ChangeUnderWriteLock(*items, [&] { test::AppendRecord(*items, "first item"); });

  directory_->StartTransaction();
  fs_.Reset();
  test::ChangeUnderWriteLock(*orders, [&] { test::Rename(*orders, 1, "changed order"); });
  test::ChangeUnderWriteLock(*items, [&] { test::AppendRecord(*items, "second item"); });
  EXPECT_EQ(fs_.Writes(), 0) << "a transaction keeps its changes in memory";
  directory_->Commit(true, true);
  EXPECT_GT(fs_.Writes(), 0);
  EXPECT_FALSE(directory_->InTransaction());
  EXPECT_FALSE(orders->TransactionLockHeld());
  EXPECT_FALSE(items->WriteLocked());

  // A second table object (another session) reads what the commit wrote.
  TDataSession other;
  TDataDirectory* other_dir = other.OpenDataDirectory("", dir_.path());
  TDataTable* other_orders = nullptr;
  TDataTable* other_items = nullptr;
  ASSERT_EQ(other_dir->OpenTableObject("ORDERS", {}, &other_orders), 0);
  ASSERT_EQ(other_dir->OpenTableObject("ITEMS", {}, &other_items), 0);
  EXPECT_EQ(test::NameOf(*other_orders, 1), "changed order");
  EXPECT_EQ(test::NameOf(*other_items, 2), "second item");

  directory_->StartTransaction();
  test::ChangeUnderWriteLock(*orders, [&] { test::Rename(*orders, 1, "rolled back"); });
  test::ChangeUnderWriteLock(*items, [&] { test::AppendRecord(*items, "never"); });
  EXPECT_EQ(test::NameOf(*orders, 1), "rolled back");
  directory_->Rollback();
  EXPECT_FALSE(orders->InTransaction());
  EXPECT_EQ(test::NameOf(*orders, 1), "changed order");
  EXPECT_EQ(items->DataFile().Header().NextRecordNumber, 3);
  EXPECT_FALSE(other_orders->ReadLock());
  other_orders->ReadUnlock();
}

TEST_F(DataDirectoryTest, TableObjectsClosedInATransactionLiveUntilItEnds) {
  test::CreateTestTable(*directory_, "KEPT");
  TDataTable* table = Open("KEPT");
  directory_->StartTransaction();
  test::ChangeUnderWriteLock(*table, [&] { test::AppendRecord(*table, "pending"); });
  Close(table);
  ASSERT_EQ(directory_->Tables().size(), 1u);
  EXPECT_TRUE(table->IsOpen());
  EXPECT_EQ(table->UseCount(), 0);
  // Reopening within the transaction gets the same object and its changes.
  EXPECT_EQ(Open("KEPT"), table);
  EXPECT_EQ(test::NameOf(*table, 1), "pending");
  Close(table);

  // A commit that does not end keeps the transaction and the object.
  directory_->Commit(false, false);
  EXPECT_TRUE(directory_->InTransaction());
  EXPECT_TRUE(table->TransactionLockHeld());
  ASSERT_EQ(directory_->Tables().size(), 1u);
  EXPECT_EQ(ReadClosedTableHeader(PathOf("KEPT.DAT"), false).NextRecordNumber, 2);
  directory_->Commit(true, false);
  EXPECT_TRUE(directory_->Tables().empty());

  // A table opened while a transaction runs joins it.
  directory_->StartTransaction();
  table = Open("KEPT");
  EXPECT_TRUE(table->InTransaction());
  directory_->Rollback();
  Close(table);
  EXPECT_TRUE(directory_->Tables().empty());
}

}  // namespace
}  // namespace vevura
