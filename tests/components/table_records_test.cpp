// Records through the table component: setting fields, navigating past the
// ends, Locate and Lookup, BLOB streams, CopyOnAppend, failed posts, edits,
// keys and ranges, and filters.

#include <cstring>

#include "tests/components/components_test_support.h"
#include "tests/support/raised.h"

namespace vevura {
namespace {

using test::MessageOf;

class TableRecordsTest : public test::ComponentsTest {
 protected:
  //! ITEMS with four records in ID order: pear C3 1, Apple C1 2, fig C2 3,
  //! banana C4 4; open on the primary index.
  void SetUp() override {
    table_.SetName("T");
    test::DefineItems(table_, dir_.path() + "ITEMS");
    table_.CreateTable();
    table_.Open();
    for (auto [name, code, qty] :
         {std::tuple{"pear", "C3", 1}, {"Apple", "C1", 2}, {"fig", "C2", 3}, {"banana", "C4", 4}}) {
      table_.AppendRecord({TValue{}, std::string(name), std::string(code), int64_t{qty}});
    }
    table_.First();
  }
  void TearDown() override {
    table_.Close();
    ComponentsTest::TearDown();
  }
  std::string Name() { return table_.FieldByName("NAME")->AsString(); }
  TField& Field(const std::string& name) { return *table_.FieldByName(name); }

  TVEVURATable table_;
};

TEST_F(TableRecordsTest, FieldsTakeValuesOnlyAsTheRulesAllow) {
  EXPECT_EQ(MessageOf([&] { Field("NAME").SetAsString("plum"); }),
            "Table is not in edit or insert mode.");
  EXPECT_EQ(Name(), "pear");
  EXPECT_EQ(MessageOf([&] { table_.FieldByName("Nope"); }), "T: Field 'Nope' not found");

  Field("NAME").SetReadOnly(true);
  Field("NAME").SetDisplayLabel("Item name");
  table_.Edit();
  EXPECT_EQ(MessageOf([&] { Field("NAME").SetAsString("plum"); }),
            "Field Item name cannot be modified.");
  table_.Cancel();
  Field("NAME").SetReadOnly(false);

  // Strings are cut to their size, lose trailing blanks, and blank is null.
  table_.Append();
  Field("CODE").SetAsString("ABCDEFGHIJKLMNOPQRSTUVWXY");
  Field("NAME").SetAsString("kiwi   ");
  table_.Post();
  EXPECT_EQ(Field("CODE").AsString(), "ABCDEFGHIJKLMNOPQR");
  EXPECT_EQ(Name(), "kiwi");
  for (const char* blank : {"    ", ""}) {
    table_.Edit();
    Field("NAME").SetAsString(blank);
    table_.Post();
    EXPECT_TRUE(Field("NAME").IsNull()) << '"' << blank << '"';
    table_.Edit();
    Field("NAME").SetAsString("kiwi");
    table_.Post();
  }
}

TEST_F(TableRecordsTest, NavigationStopsAtTheEndsOnTheLastRecord) {
  EXPECT_TRUE(table_.Bof());
  EXPECT_EQ(table_.RecordCount(), 4);
  EXPECT_EQ(table_.RecNo(), 1);
  EXPECT_EQ(table_.MoveBy(3), 3);
  EXPECT_EQ(Name(), "banana");
  EXPECT_FALSE(table_.Eof());
  table_.Next();
  EXPECT_TRUE(table_.Eof());
  EXPECT_EQ(Name(), "banana");
  EXPECT_EQ(table_.RecNo(), 4);
  table_.Prior();
  EXPECT_FALSE(table_.Eof());
  EXPECT_EQ(Name(), "fig");
  EXPECT_EQ(table_.RecNo(), 3);
  EXPECT_EQ(table_.MoveBy(-10), -2);
  EXPECT_TRUE(table_.Bof());
  EXPECT_EQ(Name(), "pear");
  table_.Last();
  EXPECT_TRUE(table_.Eof() && Name() == "banana");

  while (!table_.IsEmpty()) table_.Delete();
  EXPECT_TRUE(table_.Bof());
  EXPECT_TRUE(table_.Eof());
  EXPECT_EQ(table_.RecordCount(), 0);
  EXPECT_EQ(table_.RecNo(), 0);
}

TEST_F(TableRecordsTest, LocateAndLookupThroughIndexesAndByScanning) {
  const TLocateOptions loose{loCaseInsensitive, loPartialKey};
  // Another index than the current one (the lookup cursor).
  ASSERT_TRUE(table_.Locate("NAME", {std::string("APP")}, loose));
  EXPECT_EQ(Name(), "Apple");
  EXPECT_EQ(table_.RecNo(), 2);
  EXPECT_FALSE(table_.Locate("NAME", {std::string("grape")}, loose));
  EXPECT_EQ(Name(), "Apple");
  table_.Next();
  EXPECT_EQ(Name(), "fig");
  // Case-sensitive on a case-insensitive index: scanning.
  EXPECT_FALSE(table_.Locate("NAME", {std::string("APP")}, {loPartialKey}));
  EXPECT_EQ(Name(), "fig");
  EXPECT_TRUE(table_.Locate("NAME", {std::string("ban")}, {loPartialKey}));
  EXPECT_EQ(Name(), "banana");
  // Fields no index leads: scanning.
  EXPECT_TRUE(table_.Locate("QTY", {int64_t{1}}, {}));
  EXPECT_EQ(Name(), "pear");
  EXPECT_TRUE(table_.Locate("CODE", {std::string("c2")}, {loCaseInsensitive}));
  EXPECT_EQ(Name(), "fig");
  EXPECT_FALSE(table_.Locate("QTY", {int64_t{9}}, {}));
  EXPECT_EQ(Name(), "fig");

  // The current index.
  table_.SetIndexName("ByName");
  ASSERT_TRUE(table_.Locate("NAME", {std::string("PE")}, loose));
  EXPECT_EQ(Name(), "pear");
  EXPECT_FALSE(table_.Locate("NAME", {std::string("grape")}, loose));
  EXPECT_EQ(Name(), "pear");
  table_.Prior();
  EXPECT_EQ(Name(), "fig");

  EXPECT_EQ(table_.Lookup("CODE", {std::string("C4")}, "NAME;QTY"),
            (std::vector<TValue>{std::string("banana"), int64_t{4}}));
  EXPECT_EQ(table_.Lookup("QTY", {int64_t{2}}, "CODE"), (std::vector<TValue>{std::string("C1")}));
  EXPECT_TRUE(table_.Lookup("CODE", {std::string("C9")}, "NAME").empty());
  EXPECT_EQ(Name(), "fig");
  table_.Next();
  EXPECT_EQ(Name(), "pear");
}

TEST_F(TableRecordsTest, BlobStreamsWriteReadAndTruncate) {
  const std::string text = "hello blob world";
  table_.Append();
  Field("NAME").SetAsString("kiwi");
  Field("CODE").SetAsString("K1");
  {
    auto stream = table_.CreateBlobStream(Field("NOTES"), bmWrite);
    EXPECT_EQ(stream->Write(text.data(), static_cast<int64_t>(text.size())),
              static_cast<int64_t>(text.size()));
  }
  table_.Post();
  EXPECT_EQ(Field("NOTES").AsString(), text);
  {
    auto stream = table_.CreateBlobStream(Field("NOTES"), bmRead);
    EXPECT_EQ(stream->Size(), static_cast<int64_t>(text.size()));
    EXPECT_EQ(stream->Seek(6, soBeginning), 6);
    char part[5] = {};
    EXPECT_EQ(stream->Read(part, 4), 4);
    EXPECT_EQ(std::string(part), "blob");
    EXPECT_EQ(stream->Position(), 10);
  }
  EXPECT_EQ(MessageOf([&] { table_.CreateBlobStream(Field("NOTES"), bmWrite); }),
            "Table is not in edit or insert mode.");

  table_.Edit();
  {
    auto stream = table_.CreateBlobStream(Field("NOTES"), bmReadWrite);
    stream->Seek(5, soBeginning);
    stream->Truncate();
    EXPECT_EQ(stream->Size(), 5);
  }
  table_.Post();
  table_.Refresh();
  EXPECT_EQ(Field("NOTES").AsString(), "hello");

  // A cancelled insert leaves no record, no BLOB buffer and nothing for the
  // next insert.
  const size_t open_blobs = table_.Handle()->OpenBlobCount();
  table_.Append();
  Field("NAME").SetAsString("lime");
  table_.CreateBlobStream(Field("NOTES"), bmWrite)->Write(text.data(), 5);
  table_.Cancel();
  EXPECT_EQ(table_.Handle()->OpenBlobCount(), open_blobs);
  EXPECT_EQ(table_.RecordCount(), 5);
  EXPECT_EQ(Name(), "kiwi");
  table_.Append();
  EXPECT_TRUE(Field("NOTES").IsNull());
  Field("NAME").SetAsString("lime");
  Field("CODE").SetAsString("L1");
  table_.Post();
  EXPECT_EQ(table_.RecordCount(), 6);
  EXPECT_TRUE(Field("NOTES").IsNull());
}

TEST_F(TableRecordsTest, CopyOnAppendStartsFromTheCurrentRecord) {
  table_.SetCopyOnAppend(true);
  ASSERT_TRUE(table_.Locate("NAME", {std::string("fig")}, {}));
  table_.Append();
  EXPECT_EQ(Name(), "fig");
  EXPECT_EQ(Field("CODE").AsString(), "C2");
  EXPECT_EQ(Field("QTY").AsInteger(), 3);
  Field("CODE").SetAsString("C5");
  table_.Post();
  EXPECT_EQ(Field("ID").AsInteger(), 5);
  EXPECT_EQ(table_.RecordCount(), 5);
  ASSERT_TRUE(table_.Locate("ID", {int64_t{3}}, {}));
  EXPECT_EQ(Field("CODE").AsString(), "C2");
}

TEST_F(TableRecordsTest, FailedPostKeepsTheEditAndOnPostErrorCanAbort) {
  table_.Append();
  Field("NAME").SetAsString("plum");
  Field("CODE").SetAsString("C1");
  try {
    table_.Post();
    ADD_FAILURE() << "a duplicate key was posted";
  } catch (const EVEVURAEngineError& error) {
    EXPECT_EQ(error.ErrorCode, VEVURA_KEYVIOL) << error.what();
  }
  EXPECT_EQ(table_.State(), dsInsert);
  EXPECT_EQ(Name(), "plum");
  EXPECT_EQ(Field("CODE").AsString(), "C1");
  Field("CODE").SetAsString("C9");
  table_.Post();
  EXPECT_EQ(table_.State(), dsBrowse);
  EXPECT_EQ(table_.RecordCount(), 5);

  ASSERT_TRUE(table_.Locate("NAME", {std::string("fig")}, {}));
  table_.Edit();
  Field("CODE").SetAsString("C3");
  EXPECT_THROW(table_.Post(), EVEVURAEngineError);
  EXPECT_EQ(table_.State(), dsEdit);
  EXPECT_EQ(Field("CODE").AsString(), "C3");
  int calls = 0;
  table_.OnPostError = [&](TDataSet&, EDatabaseError& error, TDataAction& action) {
    ++calls;
    EXPECT_EQ(EngineErrorCodeOf(error), VEVURA_KEYVIOL);
    action = daAbort;
  };
  EXPECT_NO_THROW(table_.Post());
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(table_.State(), dsEdit);
  table_.Cancel();
  EXPECT_EQ(Field("CODE").AsString(), "C2");
}

TEST_F(TableRecordsTest, EditCancelDeleteKeysAndRanges) {
  table_.Next();
  table_.Edit();
  Field("NAME").SetAsString("Apricot");
  Field("QTY").SetAsInteger(9);
  EXPECT_TRUE(table_.Modified());
  table_.Cancel();
  EXPECT_EQ(Name(), "Apple");
  EXPECT_EQ(Field("QTY").AsInteger(), 2);

  table_.Delete();
  EXPECT_EQ(Name(), "fig");
  EXPECT_EQ(table_.RecordCount(), 3);
  EXPECT_FALSE(table_.Locate("NAME", {std::string("Apple")}, {}));

  EXPECT_TRUE(table_.FindKey({int64_t{4}}));
  EXPECT_EQ(Name(), "banana");
  EXPECT_FALSE(table_.FindKey({int64_t{2}}));
  EXPECT_EQ(Name(), "banana");

  table_.SetIndexName("ByCode");
  EXPECT_TRUE(table_.FindKey({std::string("C3")}));
  EXPECT_EQ(Name(), "pear");
  table_.SetRange({std::string("C2")}, {std::string("C3")});
  std::vector<std::string> names;
  for (table_.First(); !table_.Eof(); table_.Next()) names.push_back(Name());
  EXPECT_EQ(names, (std::vector<std::string>{"fig", "pear"}));
  table_.CancelRange();
  EXPECT_EQ(table_.RecordCount(), 3);
}

TEST_F(TableRecordsTest, PostsOnAnExclusiveTableStandOnTheirRecordInIndexOrder) {
  // Exclusive, on a non-unique index: the new keys wait in a batch.
  table_.Close();
  table_.SetExclusive(true);
  table_.SetIndexName("ByName");
  table_.Open();
  auto add = [&](const char* name, int64_t qty) {
    table_.Append();
    Field("NAME").SetAsString(name);
    Field("CODE").SetAsString(std::string("K") + name);
    Field("QTY").SetAsInteger(qty);
    table_.Post();
  };
  add("kiwi", 5);
  add("cherry", 6);
  EXPECT_EQ(Name(), "cherry");
  EXPECT_EQ(table_.RecNo(), 3);
  table_.Next();
  EXPECT_EQ(Name(), "fig");
  add("date", 7);
  table_.Append();
  Field("NAME").SetAsString("zucchini");
  table_.Cancel();
  EXPECT_EQ(Name(), "date");
  table_.Prior();
  EXPECT_EQ(Name(), "cherry");
  add("grape", 8);
  table_.Edit();
  Field("NAME").SetAsString("avocado");
  table_.Post();
  table_.Next();
  EXPECT_EQ(Name(), "banana");
  add("lime", 9);
  table_.Delete();
  EXPECT_EQ(Name(), "pear");
  EXPECT_TRUE(table_.Locate("NAME", {std::string("kiwi")}, {}));
  table_.Prior();
  EXPECT_EQ(Name(), "fig");
  std::vector<std::string> names;
  for (table_.First(); !table_.Eof(); table_.Next()) names.push_back(Name());
  EXPECT_EQ(names, (std::vector<std::string>{"Apple", "avocado", "banana", "cherry", "date", "fig",
                                             "kiwi", "pear"}));
}

TEST_F(TableRecordsTest, FilterTextsAndOnFilterRecordHideRecords) {
  auto walk = [&] {
    std::vector<std::string> seen;
    for (table_.First(); !table_.Eof(); table_.Next()) seen.push_back(Name());
    return seen;
  };
  table_.SetFilter("QTY > 1 AND NAME <> 'fig'");
  table_.SetFiltered(true);
  EXPECT_EQ(walk(), (std::vector<std::string>{"Apple", "banana"}));
  EXPECT_EQ(table_.RecordCount(), 2);
  // A text that does not compile changes nothing.
  EXPECT_EQ(test::CodeRaisedBy([&] { table_.SetFilter("QTY >"); }), VEVURA_INVALIDFILTER);
  EXPECT_EQ(table_.Filter(), "QTY > 1 AND NAME <> 'fig'");
  EXPECT_EQ(walk(), (std::vector<std::string>{"Apple", "banana"}));
  // Case-insensitive comparisons, and OnFilterRecord behind the text.
  table_.SetFilter("NAME >= 'b'");
  EXPECT_EQ(walk(), (std::vector<std::string>{"pear", "fig", "banana"}));
  table_.SetFilterOptions({foCaseInsensitive});
  EXPECT_EQ(walk(), (std::vector<std::string>{"pear", "fig", "banana"}));
  table_.SetFilter("NAME = 'APPLE' OR QTY = 3");
  EXPECT_EQ(walk(), (std::vector<std::string>{"Apple", "fig"}));
  std::vector<std::string> asked;
  table_.OnFilterRecord = [&](TDataSet& dataset, bool& accept) {
    asked.push_back(dataset.FieldByName("NAME")->AsString());
    accept = dataset.FieldByName("QTY")->AsInteger() != 2;
  };
  table_.SetFiltered(false);
  table_.SetFiltered(true);
  EXPECT_EQ(walk(), (std::vector<std::string>{"fig"}));
  EXPECT_EQ(asked, (std::vector<std::string>{"Apple", "fig"})) << "only what the text let through";
  // The Find methods apply the filters for their search alone.
  table_.SetFiltered(false);
  ASSERT_TRUE(table_.FindFirst());
  EXPECT_EQ(Name(), "fig");
  EXPECT_FALSE(table_.FindNext());
  EXPECT_EQ(table_.RecordCount(), 4);
  table_.OnFilterRecord = nullptr;
  table_.SetFilter("");
  table_.SetFilterOptions({});

  table_.AppendRecord({TValue{}, std::string("fig"), std::string("C5"), int64_t{6}});
  table_.OnFilterRecord = [](TDataSet& dataset, bool& accept) {
    accept = dataset.FieldByName("QTY")->AsInteger() % 2 == 0;
  };
  table_.SetFiltered(true);
  std::vector<std::string> names;
  for (table_.First(); !table_.Eof(); table_.Next()) names.push_back(Name());
  EXPECT_EQ(names, (std::vector<std::string>{"Apple", "banana", "fig"}));
  // Hidden records are not found, through an index or by scanning.
  EXPECT_FALSE(table_.Locate("ID", {int64_t{1}}, {}));
  EXPECT_FALSE(table_.Locate("QTY", {int64_t{3}}, {}));
  EXPECT_TRUE(table_.Lookup("ID", {int64_t{1}}, "NAME").empty());
  EXPECT_TRUE(table_.Lookup("QTY", {int64_t{3}}, "NAME").empty());
  EXPECT_EQ(table_.Lookup("ID", {int64_t{4}}, "NAME"),
            (std::vector<TValue>{std::string("banana")}));
  // A hidden record does not hide a later one of the same key.
  table_.First();
  ASSERT_TRUE(table_.Locate("NAME", {std::string("FIG")}, {loCaseInsensitive}));
  EXPECT_EQ(Field("QTY").AsInteger(), 6);
  table_.SetIndexName("ByName");
  table_.First();
  ASSERT_TRUE(table_.Locate("NAME", {std::string("fig")}, {loCaseInsensitive}));
  EXPECT_EQ(Field("QTY").AsInteger(), 6);
  table_.SetIndexName("");
  table_.Prior();
  EXPECT_EQ(Name(), "banana");
  table_.Prior();
  EXPECT_EQ(Name(), "Apple");
  table_.Prior();
  EXPECT_TRUE(table_.Bof());
  EXPECT_EQ(Name(), "Apple");
  table_.SetFiltered(false);
  table_.First();
  EXPECT_EQ(Name(), "pear");
}

}  // namespace
}  // namespace vevura
