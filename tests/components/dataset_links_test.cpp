// The dataset framework around a table: master-detail through a data
// source, calculated fields, validation, the events' order and the error
// events' retry and abort.

#include <string>
#include <vector>

#include "components/framework/data_source.h"
#include "components/vevura_table.h"
#include "tests/components/components_test_support.h"

namespace vevura {
namespace {

using test::MessageOf;

class DatasetLinksTest : public test::ComponentsTest {
 protected:
  //! A table of dir_ with an auto-increment key, a text and a number field
  //! and a secondary index over the text.
  void Make(TVEVURATable& table, const std::string& name) {
    table.SetTableName(dir_.path() + name);
    table.FieldDefs().Add("ID", ftAutoInc, 0, true);
    table.FieldDefs().Add("Well", ftString, 12);
    table.FieldDefs().Add("Depth", ftFloat);
    table.IndexDefs().Add("", "ID", {ixPrimary, ixUnique});
    table.IndexDefs().Add("ByWell", "Well", {ixCaseInsensitive});
    table.CreateTable();
  }
  static void Add(TVEVURATable& table, const std::string& well, double depth) {
    table.Append();
    table.FieldByName("Well")->SetAsString(well);
    table.FieldByName("Depth")->SetAsFloat(depth);
    table.Post();
  }
  static std::vector<std::string> Column(TVEVURATable& table, const std::string& field) {
    std::vector<std::string> values;
    for (table.First(); !table.Eof(); table.Next()) {
      values.push_back(table.FieldByName(field)->AsString());
    }
    return values;
  }
};

TEST_F(DatasetLinksTest, DetailFollowsTheMasterRecordAndNewDetailsTakeItsKey) {
  TVEVURATable wells, logs;
  wells.SetName("Wells");
  logs.SetName("Logs");
  Make(wells, "WELLS");
  Make(logs, "LOGS");
  wells.Open();
  Add(wells, "A", 1);
  Add(wells, "B", 2);
  logs.Open();
  for (const char* well : {"A", "B", "b", "A", "C"}) Add(logs, well, 10);

  TDataSource source;
  source.SetDataSet(&wells);
  logs.SetIndexName("ByWell");
  logs.SetMasterFields("Well");
  logs.SetMasterSource(&source);
  wells.First();
  EXPECT_EQ(Column(logs, "Well"), (std::vector<std::string>{"A", "A"}));
  wells.Next();
  EXPECT_EQ(Column(logs, "Well"), (std::vector<std::string>{"B", "b"}));
  EXPECT_EQ(logs.RecordCount(), 2);

  // A new detail record starts with the master's key.
  logs.Append();
  EXPECT_EQ(logs.FieldByName("Well")->AsString(), "B");
  logs.Post();
  EXPECT_EQ(logs.RecordCount(), 3);

  // A link back to itself, directly or through the master, is refused.
  TDataSource own;
  own.SetDataSet(&logs);
  EXPECT_EQ(MessageOf([&] { logs.SetMasterSource(&own); }),
            "Logs: Circular data links are not allowed.");
  EXPECT_EQ(MessageOf([&] { wells.SetMasterSource(&own); }),
            "Wells: Circular data links are not allowed.");

  // Closing the master lifts the range; dropping the link too.
  wells.Close();
  EXPECT_EQ(logs.RecordCount(), 6);
  logs.SetMasterSource(nullptr);
  EXPECT_EQ(Column(logs, "Well").size(), 6u);
}

TEST_F(DatasetLinksTest, CalculatedFieldsValidationAndChangeEvents) {
  TVEVURATable table;
  Make(table, "CALC");
  table.AddField(ftInteger, "ID");
  table.AddField(ftString, "Well", 12);
  table.AddField(ftFloat, "Depth");
  TField& feet = table.AddField(ftFloat, "Feet", 0, fkCalculated);
  int calculations = 0;
  table.OnCalcFields = [&](TDataSet& ds) {
    ++calculations;
    ds.FieldByName("Feet")->SetAsFloat(ds.FieldByName("Depth")->AsFloat() * 3.28084);
  };
  std::vector<std::string> seen;
  table.FieldByName("Well")->OnValidate = [&](TField& field) {
    // The field reads as the value being set.
    seen.push_back(field.AsString());
    if (field.AsString() == "BAD") throw EDatabaseError("no BAD wells");
  };
  int changes = 0;
  table.FieldByName("Depth")->OnChange = [&](TField&) { ++changes; };
  table.Open();
  EXPECT_EQ(table.Fields().Count(), 4);
  table.Append();
  table.FieldByName("Well")->SetAsString("GOOD");
  EXPECT_EQ(MessageOf([&] { table.FieldByName("Well")->SetAsString("BAD"); }), "no BAD wells");
  EXPECT_EQ(table.FieldByName("Well")->AsString(), "GOOD");
  table.FieldByName("Depth")->SetAsFloat(100);
  table.Post();
  EXPECT_EQ(seen, (std::vector<std::string>{"GOOD", "BAD"}));
  EXPECT_EQ(changes, 1);
  EXPECT_GT(calculations, 0);
  EXPECT_DOUBLE_EQ(feet.AsFloat(), 328.084);
  // Calculated fields take values only while calculating.
  EXPECT_EQ(MessageOf([&] { feet.SetAsFloat(1); }), "Table is not in edit or insert mode.");
  table.Close();
  // Persistent fields stay, default ones would go.
  EXPECT_EQ(table.Fields().Count(), 4);
}

TEST_F(DatasetLinksTest, EventsRunInOrderAndErrorEventsRetryOrAbort) {
  TVEVURATable table;
  Make(table, "EVENTS");
  table.IndexDefs().Clear();
  std::vector<std::string> log;
  auto note = [&](const char* what) { return [&log, what](TDataSet&) { log.push_back(what); }; };
  table.BeforeOpen = note("BeforeOpen");
  table.AfterOpen = note("AfterOpen");
  table.BeforeInsert = note("BeforeInsert");
  table.OnNewRecord = note("OnNewRecord");
  table.AfterInsert = note("AfterInsert");
  table.BeforePost = note("BeforePost");
  table.AfterPost = note("AfterPost");
  table.BeforeClose = note("BeforeClose");
  table.AfterClose = note("AfterClose");
  table.Open();
  table.Append();
  table.Post();
  table.Close();
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeOpen", "AfterOpen", "BeforeInsert", "OnNewRecord",
                                           "AfterInsert", "BeforePost", "AfterPost", "BeforeClose",
                                           "AfterClose"}));

  // A post that fails until its handler fixes the record, then one aborted.
  TVEVURATable unique;
  unique.SetTableName(dir_.path() + "UNIQUE");
  unique.FieldDefs().Add("Code", ftInteger, 0, true);
  unique.IndexDefs().Add("", "Code", {ixPrimary, ixUnique});
  unique.CreateTable();
  unique.Open();
  unique.AppendRecord({int64_t{1}});
  int failures = 0;
  unique.OnPostError = [&](TDataSet& ds, EDatabaseError&, TDataAction& action) {
    ++failures;
    ds.FieldByName("Code")->SetAsInteger(2);
    action = daRetry;
  };
  unique.AppendRecord({int64_t{1}});
  EXPECT_EQ(failures, 1);
  EXPECT_EQ(unique.State(), dsBrowse);
  EXPECT_EQ(unique.FieldByName("Code")->AsInteger(), 2);
  unique.OnPostError = [&](TDataSet&, EDatabaseError&, TDataAction& action) { action = daAbort; };
  unique.Append();
  unique.FieldByName("Code")->SetAsInteger(1);
  unique.Post();
  EXPECT_EQ(unique.State(), dsInsert);
  unique.Cancel();
  EXPECT_EQ(unique.RecordCount(), 2);
}

TEST_F(DatasetLinksTest, BookmarksAndBlockReadingKeepTheirPlace) {
  TVEVURATable table;
  Make(table, "MARKS");
  table.SetIndexName("ByWell");
  table.Open();
  for (const char* well : {"E", "A", "D", "B", "C", "F", "G"}) Add(table, well, 1);
  const std::vector<std::string> all = Column(table, "Well");
  EXPECT_EQ(all, (std::vector<std::string>{"A", "B", "C", "D", "E", "F", "G"}));

  table.First();
  table.MoveBy(2);
  const TBookmark c = table.GetBookmark();
  table.Last();
  const TBookmark g = table.GetBookmark();
  EXPECT_EQ(table.CompareBookmarks(c, g), -1);
  EXPECT_EQ(table.CompareBookmarks(g, c), 1);
  EXPECT_EQ(table.CompareBookmarks({}, c), 1);
  EXPECT_EQ(table.CompareBookmarks({}, {}), 0);
  EXPECT_TRUE(table.BookmarkValid(c));
  table.GotoBookmark(c);
  EXPECT_EQ(table.FieldByName("Well")->AsString(), "C");
  EXPECT_EQ(table.RecNo(), 3);
  table.Next();
  EXPECT_EQ(table.FieldByName("Well")->AsString(), "D");
  table.Delete();
  EXPECT_EQ(table.FieldByName("Well")->AsString(), "E");
  table.GotoBookmark(c);
  table.Next();
  EXPECT_EQ(table.FieldByName("Well")->AsString(), "E");

  // Reading ahead in blocks gives the same records, and stepping back
  // afterwards starts from the record handed out last.
  table.SetBlockReadSize(3);
  table.First();
  std::vector<std::string> seen;
  for (int i = 0; i < 4; ++i, table.Next()) seen.push_back(table.FieldByName("Well")->AsString());
  EXPECT_EQ(seen, (std::vector<std::string>{"A", "B", "C", "E"}));
  table.SetBlockReadSize(0);
  EXPECT_EQ(table.FieldByName("Well")->AsString(), "F");
  table.Prior();
  EXPECT_EQ(table.FieldByName("Well")->AsString(), "E");
  table.SetBlockReadSize(2);
  EXPECT_EQ(Column(table, "Well"), (std::vector<std::string>{"A", "B", "C", "E", "F", "G"}));
}

}  // namespace
}  // namespace vevura
