// The table component's table operations: naming, Exists, creating and
// deleting, reading the definitions back, choosing the index, in-memory
// tables, ReadOnly and Exclusive, and the link to its database.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "engine/core/data_cursor.h"
#include "tests/components/components_test_support.h"
#include "tests/engine/core/cursor_process_support.h"

namespace vevura {
namespace {

using test::MessageOf;

//! The names of the files in dir.
std::set<std::string> FilesIn(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

//! The NAME values in the table's current order.
std::vector<std::string> Names(TVEVURATable& table) {
  std::vector<std::string> names;
  for (table.First(); !table.Eof(); table.Next()) {
    names.push_back(table.FieldByName("NAME")->AsString());
  }
  return names;
}

class TableOperationsTest : public test::ComponentsTest {
 protected:
  //! Creates ITEMS with records (NAME, CODE, QTY) appended in this order.
  void MakeItems(TVEVURATable& table) {
    test::DefineItems(table, dir_.path() + "ITEMS");
    table.CreateTable();
    table.Open();
    for (auto [name, code, qty] :
         {std::tuple{"pear", "C3", 1}, {"Apple", "C1", 2}, {"fig", "C2", 3}}) {
      table.AppendRecord({TValue{}, std::string(name), std::string(code), int64_t{qty}});
    }
    table.Close();
  }
};

TEST_F(TableOperationsTest, TableNameSplitsOffItsDirectoryAndIsFixedWhileOpen) {
  TVEVURATable table;
  table.SetTableName("/data/x/CATX");
  EXPECT_EQ(table.DatabaseName(), "/data/x/");
  EXPECT_EQ(table.TableName(), "CATX");
  table.SetTableName("C:\\Data\\CATX");
  EXPECT_EQ(table.DatabaseName(), "C:/Data/");
  EXPECT_EQ(table.TableName(), "CATX");

  TVEVURATable memory;
  memory.SetDatabaseName("mEmOrY");
  memory.SetTableName("/data/x/CATX");
  EXPECT_EQ(memory.DatabaseName(), "mEmOrY");
  EXPECT_EQ(memory.TableName(), "/data/x/CATX");

  TVEVURATable open;
  MakeItems(open);
  open.Open();
  const std::string refused = "Cannot perform this operation on an open dataset";
  EXPECT_EQ(MessageOf([&] { open.SetTableName("OTHER"); }), refused);
  EXPECT_EQ(MessageOf([&] { open.SetExclusive(true); }), refused);
  EXPECT_EQ(MessageOf([&] { open.SetReadOnly(true); }), refused);
  EXPECT_EQ(open.TableName(), "ITEMS");
}

TEST_F(TableOperationsTest, ExistsCreateTableAndDeleteTable) {
  TVEVURATable table;
  table.SetDatabaseName(dir_.path());
  const size_t databases = Sessions().DefaultSession().Databases().size();
  EXPECT_FALSE(table.Exists());
  EXPECT_EQ(table.Database(), nullptr);
  EXPECT_EQ(Sessions().DefaultSession().Databases().size(), databases);
  EXPECT_EQ(MessageOf([&] { table.Open(); }), "Missing table name.");
  EXPECT_FALSE(table.Active());

  test::DefineItems(table, dir_.path() + "ITEMS");
  EXPECT_FALSE(table.Exists());
  EXPECT_TRUE(FilesIn(dir_.path()).empty());
  table.CreateTable();
  EXPECT_TRUE(table.Exists());
  EXPECT_FALSE(FilesIn(dir_.path()).empty());
  EXPECT_EQ(table.Database(), nullptr);
  table.Open();
  EXPECT_TRUE(table.Exists());
  table.Close();

  table.DeleteTable();
  EXPECT_FALSE(table.Exists());
  EXPECT_TRUE(FilesIn(dir_.path()).empty());
}

TEST_F(TableOperationsTest, VerifyAndRepairFireTheirEvents) {
  TVEVURATable table;
  MakeItems(table);
  std::vector<int> progress;
  std::vector<std::string> log;
  auto on_progress = [&](TVEVURATable&, int percent, bool&) { progress.push_back(percent); };
  auto on_log = [&](TVEVURATable&, const std::string& line) { log.push_back(line); };
  table.OnVerifyProgress = table.OnRepairProgress = on_progress;
  table.OnVerifyLog = table.OnRepairLog = on_log;
  EXPECT_TRUE(table.VerifyTable());
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(progress.back(), 100);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));

  // An active record count one short, as a killed append leaves it.
  {
    std::fstream index(dir_.path() + "ITEMS.IDX", std::ios::in | std::ios::out | std::ios::binary);
    const int32_t count = 2;
    index.seekp(3974);
    index.write(reinterpret_cast<const char*>(&count), sizeof count);
  }
  EXPECT_FALSE(table.VerifyTable());
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("active record count 2 for 3 live records"), std::string::npos) << log[0];

  log.clear();
  progress.clear();
  const std::string backup = dir_.path() + "backup";
  EXPECT_TRUE(table.RepairTable(backup));
  EXPECT_FALSE(log.empty());
  EXPECT_EQ(progress.back(), 100);
  EXPECT_TRUE(std::filesystem::exists(backup + "/ITEMS.IDX"));
  EXPECT_TRUE(table.VerifyTable());
  table.Open();
  EXPECT_EQ(table.RecordCount(), 3);
  table.Close();
  EXPECT_EQ(MessageOf([&] {
              table.Open();
              table.RepairTable();
            }),
            "Cannot perform this operation on an open dataset");
}

TEST_F(TableOperationsTest, IndexIsChosenByFieldsOrByName) {
  TVEVURATable table;
  table.SetName("Items");
  MakeItems(table);
  table.SetIndexFieldNames("QTY");
  EXPECT_EQ(MessageOf([&] { table.Open(); }), "Items: No index for fields 'QTY'");
  EXPECT_FALSE(table.Active());

  table.SetIndexFieldNames("name;qty");  // exact list, ignoring case
  table.Open();
  EXPECT_EQ(table.Handle()->ActiveIndexName(), "ByName");
  EXPECT_EQ(Names(table), (std::vector<std::string>{"Apple", "fig", "pear"}));
  table.SetIndexFieldNames("CODE");
  EXPECT_EQ(table.Handle()->ActiveIndexName(), "ByCode");
  table.SetIndexFieldNames("NAME");  // the leading field of ByName
  EXPECT_EQ(table.Handle()->ActiveIndexName(), "ByName");
  EXPECT_EQ(MessageOf([&] { table.SetIndexFieldNames("NOTES"); }),
            "Items: No index for fields 'NOTES'");
  EXPECT_EQ(table.IndexFieldNames(), "NAME");

  // Switching by name keeps the current record and changes the order.
  table.SetIndexName("");
  EXPECT_EQ(Names(table), (std::vector<std::string>{"pear", "Apple", "fig"}));
  ASSERT_TRUE(table.Locate("NAME", {std::string("Apple")}, {}));
  table.SetIndexName("ByCode");
  EXPECT_EQ(table.IndexName(), "ByCode");
  EXPECT_EQ(table.FieldByName("NAME")->AsString(), "Apple");
  table.Next();
  EXPECT_EQ(table.FieldByName("NAME")->AsString(), "fig");
  EXPECT_EQ(Names(table), (std::vector<std::string>{"Apple", "fig", "pear"}));
}

TEST_F(TableOperationsTest, CreateTablePlacesThePrimaryIndexFirstAndChecksFieldLists) {
  // Only a secondary index: no primary, records in record-number order.
  TVEVURATable plain;
  plain.SetTableName(dir_.path() + "PLAIN");
  plain.FieldDefs().Add("NAME", ftString, 10);
  plain.IndexDefs().Add("ByName", "NAME", {});
  plain.CreateTable();
  plain.Open();
  EXPECT_FALSE(plain.Handle()->HasPrimaryIndex());
  for (const char* name : {"b", "c", "a"}) plain.AppendRecord({std::string(name)});
  EXPECT_EQ(Names(plain), (std::vector<std::string>{"b", "c", "a"}));
  plain.Close();

  // The primary definition listed second moves to slot 0 and to the front.
  TVEVURATable keyed;
  keyed.SetTableName(dir_.path() + "KEYED");
  keyed.FieldDefs().Add("ID", ftInteger);
  keyed.FieldDefs().Add("NAME", ftString, 506);
  keyed.IndexDefs().Add("ByName", "NAME", {});
  keyed.IndexDefs().Add("Key", "ID", {ixPrimary, ixUnique});
  keyed.CreateTable();
  ASSERT_EQ(keyed.IndexDefs().Count(), 2);
  EXPECT_EQ(keyed.IndexDefs()[0].Name(), "Key");
  EXPECT_EQ(keyed.IndexDefs()[1].Name(), "ByName");
  keyed.Open();
  TDataCursor& cursor = *keyed.Handle();
  ASSERT_TRUE(cursor.HasPrimaryIndex());
  EXPECT_EQ(cursor.SecondaryIndexCount(), 1);
  EXPECT_EQ(cursor.IndexDescriptor(0).FieldNumbers[0], 1);
  EXPECT_EQ(cursor.IndexDescriptor(1).Name, "ByName");
  EXPECT_EQ(cursor.Fields()[1].Size, 250);  // the size travels as 8 bits
  keyed.Close();

  TVEVURATable broken;
  broken.SetName("Broken");
  broken.SetTableName(dir_.path() + "BROKEN");
  broken.FieldDefs().Add("ID", ftInteger);
  broken.IndexDefs().Add("ByNope", "ID;Nope", {});
  EXPECT_EQ(MessageOf([&] { broken.CreateTable(); }), "Broken: Field 'Nope' not found");
  EXPECT_FALSE(broken.Exists());
}

TEST_F(TableOperationsTest, DefinitionsOfAClosedTableAreReadBack) {
  TVEVURATable writer;
  writer.SetTableName(dir_.path() + "TYPES");
  TFieldDefs& defs = writer.FieldDefs();
  defs.Add("ID", ftAutoInc);
  defs.Add("NAME", ftString, 24, true);
  defs.Add("RATE", ftFloat);
  defs.Add("PRICE", ftCurrency);
  defs.Add("NOTES", ftMemo);
  defs.Add("AMOUNT", ftBCD, 4);
  writer.IndexDefs().Add("", "ID", {ixPrimary, ixUnique});
  writer.IndexDefs().Add("ByName", "NAME", {ixCaseInsensitive, ixDescending});
  writer.CreateTable();

  TVEVURATable reader;
  reader.SetTableName(dir_.path() + "TYPES");
  reader.FieldDefs().Update();
  const TFieldDefs& read = reader.FieldDefs();
  std::vector<std::string> seen;
  for (const auto& def : read) {
    seen.push_back(def->Name() + " " + FieldTypeName(def->DataType()) + " " +
                   std::to_string(def->Size()) + " " + std::to_string(def->FieldNo()));
  }
  EXPECT_EQ(seen,
            (std::vector<std::string>{"ID AutoInc 0 1", "NAME String 24 2", "RATE Float 0 3",
                                      "PRICE Currency 0 4", "NOTES Memo 0 5", "AMOUNT BCD 4 6"}));
  EXPECT_TRUE(read[1].Required());
  EXPECT_EQ(read[5].Precision(), 32);

  reader.IndexDefs().Update();
  const TIndexDefs& indexes = reader.IndexDefs();
  ASSERT_EQ(indexes.Count(), 2);
  EXPECT_EQ(indexes[0].Fields(), "ID");
  EXPECT_TRUE(indexes[0].Options().Contains(ixPrimary));
  EXPECT_EQ(indexes[1].Name(), "ByName");
  EXPECT_EQ(indexes[1].Fields(), "NAME");
  EXPECT_TRUE(indexes[1].Options().Contains(ixCaseInsensitive));
  EXPECT_TRUE(indexes[1].Options().Contains(ixDescending));
  EXPECT_FALSE(indexes[1].Options().Contains(ixUnique));
  EXPECT_FALSE(reader.Active());
  EXPECT_EQ(reader.Database(), nullptr);
}

TEST_F(TableOperationsTest, InMemoryTableLeavesNoFiles) {
  const std::string cwd = std::filesystem::current_path().string();
  const std::set<std::string> before = FilesIn(cwd);
  TVEVURATable table;
  table.SetDatabaseName("Memory");
  test::DefineItems(table, "MEMITEMS");
  EXPECT_EQ(table.TableName(), "MEMITEMS");
  EXPECT_TRUE(table.InMemory());
  table.CreateTable();
  EXPECT_TRUE(table.Exists());
  table.Open();
  table.AppendRecord({TValue{}, std::string("kiwi"), std::string("K1"), int64_t{4}});
  table.Close();
  table.Open();
  EXPECT_EQ(table.RecordCount(), 1);
  EXPECT_EQ(table.FieldByName("NAME")->AsString(), "kiwi");
  table.Close();
  EXPECT_EQ(FilesIn(cwd), before);
}

TEST_F(TableOperationsTest, ReadOnlyAndExclusiveOpens) {
  TVEVURATable table;
  MakeItems(table);
  table.SetReadOnly(true);
  table.Open();
  EXPECT_EQ(table.RecordCount(), 3);
  EXPECT_EQ(table.FieldByName("NAME")->AsString(), "pear");
  EXPECT_EQ(MessageOf([&] { table.Append(); }), "Cannot modify a read-only dataset");
  EXPECT_EQ(MessageOf([&] { table.Edit(); }), "Cannot modify a read-only dataset");
  EXPECT_EQ(table.State(), dsBrowse);
  table.Close();
  table.SetReadOnly(false);

  // Another engine session cannot open a table held exclusively.
  table.SetExclusive(true);
  table.Open();
  TVEVURASession session;
  session.SetSessionName("Second");
  TVEVURATable other;
  other.SetSessionName("Second");
  other.SetTableName(dir_.path() + "ITEMS");
  try {
    other.Open();
    ADD_FAILURE() << "opened a table held exclusively";
  } catch (const EVEVURAEngineError& error) {
    EXPECT_EQ(error.ErrorCode, VEVURA_OSEACCES) << error.what();
  }
  EXPECT_FALSE(other.Active());
  table.Close();
  other.Open();
  EXPECT_EQ(other.RecordCount(), 3);
}

TEST_F(TableOperationsTest, ExclusiveTableAndRepairAreRefusedToAnotherProgram) {
  TVEVURATable table;
  MakeItems(table);
  Sessions().CloseAll();  // the child starts with no engine of ours
  const std::string path = dir_.path() + "ITEMS";
  // On each 'o' the child tries to open the table, on each 'r' to repair
  // it, and reports the code.
  test::ChildProgram child([&](int report, int control) {
    for (char command; (command = test::AwaitCommand(control)) == 'o' || command == 'r';) {
      uint16_t code = 0;
      try {
        TVEVURATable other;
        other.SetTableName(path);
        if (command == 'o') {
          other.Open();
        } else {
          other.RepairTable();
        }
      } catch (const EVEVURAEngineError& error) {
        code = error.ErrorCode;
      }
      Sessions().CloseAll();
      if (::write(report, &code, sizeof code) != sizeof code) return test::csLostControl;
    }
    return test::csOk;
  });
  ASSERT_TRUE(child.started());
  table.SetExclusive(true);
  table.Open();
  uint16_t code = 0;
  ASSERT_TRUE(child.Send('o'));
  ASSERT_TRUE(child.Receive(&code, sizeof code, test::NowMs() + 30000));
  EXPECT_EQ(code, VEVURA_OSEACCES);
  table.Close();
  ASSERT_TRUE(child.Send('o'));
  ASSERT_TRUE(child.Receive(&code, sizeof code, test::NowMs() + 30000));
  EXPECT_EQ(code, 0);
  // A repair needs the table to itself.
  table.SetExclusive(false);
  table.Open();
  ASSERT_TRUE(child.Send('r'));
  ASSERT_TRUE(child.Receive(&code, sizeof code, test::NowMs() + 30000));
  EXPECT_EQ(code, VEVURA_OSEACCES);
  table.Close();
  ASSERT_TRUE(child.Send('q'));
  EXPECT_EQ(child.Wait(test::NowMs() + 30000), test::csOk);
}

TEST_F(TableOperationsTest, DatabaseDisconnectClosesTheTableAndTemporaryDatabasesGo) {
  TVEVURASession& session = Sessions().DefaultSession();
  session.SetKeepConnections(false);
  TVEVURADatabase database;
  database.SetDatabaseName("Items");
  database.SetDirectory(dir_.path());
  {
    TVEVURATable maker;
    MakeItems(maker);
  }
  TVEVURATable table;
  table.SetDatabaseName("Items");
  table.SetTableName("ITEMS");
  table.Open();
  EXPECT_EQ(table.Database(), &database);
  database.SetConnected(false);
  EXPECT_FALSE(table.Active());
  EXPECT_EQ(table.Database(), nullptr);

  // A table on a directory uses a temporary database, gone with the table.
  const size_t databases = session.Databases().size();
  {
    TVEVURATable temporary;
    temporary.SetTableName(dir_.path() + "ITEMS");
    temporary.Open();
    ASSERT_NE(temporary.Database(), nullptr);
    EXPECT_EQ(session.Databases().size(), databases + 1);
  }
  EXPECT_EQ(session.Databases().size(), databases);
  EXPECT_EQ(session.FindDatabase(dir_.path(), nullptr), nullptr);
  session.SetKeepConnections(true);
}

}  // namespace
}  // namespace vevura
