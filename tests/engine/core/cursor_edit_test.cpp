// Changing tables through cursors: row ids and record slots, unique keys,
// both lock protocols, value rules and defaults, BLOB fields with the word
// index, failed changes that must leave the table as it was, transactions
// over several tables, encrypted, read-only, shared in-memory and full
// tables.

#include "engine/core/data_cursor.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/core/table_create.h"
#include "engine/core/table_verify.h"
#include "engine/storage/fields/date_encoding.h"
#include "engine/storage/fields/record_layout.h"
#include "engine/storage/index/btree.h"
#include "engine/storage/keys/key_builder.h"
#include "engine/storage/keys/key_compare.h"
#include "platform/system.h"
#include "tests/engine/core/core_test_support.h"
#include "tests/engine/core/table_create_support.h"
#include "tests/support/fault_file_system.h"

namespace vevura {
namespace {

using test::CodeRaisedBy;
using test::FieldDef;
using test::IndexDef;

constexpr uint16_t kName = 2;
constexpr uint16_t kCode = 3;
constexpr uint16_t kNotes = 4;

//! ID (auto-increment; the primary index when asked), NAME (string 20, the
//! case-insensitive index "ByName"), CODE (string 10, the unique index
//! "ByCode"), NOTES (memo); the word index over NAME and NOTES.
TTableDefinition PeopleDefinition(bool primary = true) {
  TTableDefinition d = test::ComponentDefinition({
      FieldDef(1, "ID", fcInteger, fsAutoInc),
      FieldDef(kName, "NAME", fcString, fsNone, 20),
      FieldDef(kCode, "CODE", fcString, fsNone, 10),
      FieldDef(kNotes, "NOTES", fcBlob, fsMemo),
  });
  if (primary) d.Indexes[0] = IndexDef("", {1}, true);
  d.Indexes[1] = IndexDef("ByName", {kName}, false, true);
  d.Indexes[2] = IndexDef("ByCode", {kCode}, true);
  d.SecondaryIndexCount = 2;
  d.Indexes[kTextIndex].FieldNumbers[0] = kName;
  d.Indexes[kTextIndex].FieldNumbers[1] = kNotes;
  return d;
}

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

class CursorEditTest : public test::EngineTest {
 protected:
  void TearDown() override {
    session_->SetLockProtocol(lpPessimistic);
    test::EngineTest::TearDown();
  }

  void Create(const std::string& name, const TTableDefinition& definition) {
    TTableTarget target;
    target.TableName = name;
    target.Exclusive = true;
    CreateTable(*directory_, target, definition);
  }
  std::unique_ptr<TDataCursor> OpenOn(const std::string& name, bool exclusive = false) {
    auto cursor = std::make_unique<TDataCursor>(*directory_);
    cursor->SetTableName(name);
    cursor->SetExclusive(exclusive);
    cursor->OpenCursor();
    return cursor;
  }
  static const TFieldDescriptor& F(const TDataCursor& c, uint16_t number) {
    return c.Fields()[number - 1];
  }
  static std::vector<uint8_t> Person(TDataCursor& c, const std::string& name,
                                     const std::string& code) {
    std::vector<uint8_t> record(c.RecordSize());
    c.InitRecord(record);
    SetStringField(record, F(c, kName), name, 0);
    SetStringField(record, F(c, kCode), code, 0);
    return record;
  }
  static std::vector<uint8_t> Add(TDataCursor& c, const std::string& name,
                                  const std::string& code) {
    std::vector<uint8_t> record = Person(c, name, code);
    c.InsertRecord(record, true);
    return record;
  }
  //! Stands on record number n and returns its image.
  static std::vector<uint8_t> GoTo(TDataCursor& c, int32_t n) {
    std::vector<uint8_t> record(c.RecordSize());
    c.First();
    while (c.Next(record) == kCursorOnRecord) {
      if (c.RecordNumber() == n) return record;
    }
    ADD_FAILURE() << "no record " << n;
    return record;
  }
  static std::string NameOf(const TDataCursor& c, std::span<const uint8_t> record) {
    return GetStringField(record, F(c, kName));
  }
  //! The whole memo of the current record, read through the cursor.
  static std::string MemoOf(TDataCursor& c) {
    std::vector<uint8_t> record(c.RecordSize());
    EXPECT_EQ(c.GetCurrentRecord(record, false), kCursorOnRecord);
    int32_t length = -1;
    EXPECT_EQ(c.OpenBlob(kNotes, record, boRead, &length), 0);
    std::string text(static_cast<size_t>(std::max(length, 0)), '\0');
    int32_t read = -1;
    EXPECT_EQ(c.ReadBlob(kNotes, record, 0, length, reinterpret_cast<uint8_t*>(text.data()), &read),
              0);
    EXPECT_EQ(read, length);
    EXPECT_EQ(c.CloseBlob(kNotes, record), 0);
    return text;
  }
  //! Writes text as the whole memo of record through the cursor.
  static void SetMemo(TDataCursor& c, std::vector<uint8_t>& record, const std::string& text) {
    int32_t length = -1;
    ASSERT_EQ(c.OpenBlob(kNotes, record, boWrite, &length), 0);
    ASSERT_EQ(c.TruncateBlob(kNotes, record, 0), 0);
    ASSERT_EQ(c.WriteBlob(kNotes, record, 0, static_cast<int32_t>(text.size()), Bytes(text).data()),
              0);
  }
  //! The word index holds word for the field of the record with row_id.
  static bool HasWord(TDataCursor& c, uint16_t field, const std::string& word, int32_t row_id) {
    TDataTable& table = *c.Table();
    TKeyContext context =
        MakeKeyContext(table.DataFile().LanguageId(), table.DataFile().SortId(), kTextIndex,
                       table.IndexFile().GetIndexDescriptor(kTextIndex), c.Fields(), c.TableName());
    std::vector<uint8_t> key(kTextKeyLength);
    BuildTextKey(context, field, word, row_id, key.data());
    TIndexKeyComparer comparer(context);
    TBTreePath path;
    return TBTree(table.IndexFile(), kTextIndex, comparer, path).LocateKey(key.data());
  }
  static void ExpectSound(TDataCursor& c) {
    TTableVerifyReport report = VerifyTable(*c.Table());
    EXPECT_TRUE(report.Clean()) << report.Describe();
  }
  //! Every record of the table as "NAME:memo", in primary-index order.
  static std::vector<std::string> Contents(TDataCursor& c) {
    std::vector<std::string> rows;
    std::vector<uint8_t> record(c.RecordSize());
    c.First();
    while (c.Next(record) == kCursorOnRecord) rows.push_back(NameOf(c, record) + ":" + MemoOf(c));
    return rows;
  }
  //! Adds a person with a memo.
  static void AddWithMemo(TDataCursor& c, const std::string& name, const std::string& memo) {
    std::vector<uint8_t> record = Person(c, name, name);
    SetMemo(c, record, memo);
    c.InsertRecord(record, true);
  }
  //! Seeds three tables' cursors to kBefore (below).
  static void SeedThree(std::vector<std::unique_ptr<TDataCursor>>& c) {
    AddWithMemo(*c[0], "Ann", "ann memo");
    AddWithMemo(*c[0], "Bob", "bob memo");
    AddWithMemo(*c[1], "Cid", "cid memo");
  }
  //! Changes three tables from kBefore to kAfter: an insert, a modify of
  //! name and memo, and a delete on the first, an insert on each other.
  static void ChangeThree(std::vector<std::unique_ptr<TDataCursor>>& c) {
    std::vector<uint8_t> ann = GoTo(*c[0], 1);
    ASSERT_EQ(c[0]->GetCurrentRecord(ann, true), kCursorOnRecord);
    SetStringField(ann, F(*c[0], kName), "Ada", 0);
    SetMemo(*c[0], ann, "ada memo");
    c[0]->ModifyRecord(ann, true, true);
    c[0]->DeleteRecord(GoTo(*c[0], 2), true);
    AddWithMemo(*c[0], "Dan", "dan memo");
    AddWithMemo(*c[1], "Eve", "eve memo");
    AddWithMemo(*c[2], "Fay", "fay memo");
  }
};

TEST_F(CursorEditTest, RowIdsCountUpAndSlotsAreReusedOnlyWithAPrimaryIndex) {
  Create("PEOPLE", PeopleDefinition());
  auto c = OpenOn("PEOPLE");
  std::vector<int32_t> ids;
  for (const char* name : {"Ann", "Bob", "Cid"}) {
    std::vector<uint8_t> record = Add(*c, name, name);
    ids.push_back(GetIntegerField(record, F(*c, 1)));
    EXPECT_EQ(c->RecordNumber(), static_cast<int32_t>(ids.size())) << "stands on the new record";
    EXPECT_TRUE(std::equal(record.begin(), record.end(), c->CurrentRecord().begin()));
  }
  EXPECT_EQ(ids, (std::vector<int32_t>{1, 2, 3}));

  // Deleting the last record does not give its row id back; the new record
  // takes its slot.
  c->DeleteRecord(GoTo(*c, 3), true);
  std::vector<uint8_t> dan = Add(*c, "Dan", "D");
  EXPECT_EQ(RecordRowId(dan), 4);
  EXPECT_EQ(c->RecordNumber(), 3);

  // In name order a delete moves the cursor on to the record that followed.
  c->SwitchToIndex("ByName");
  c->DeleteRecord(GoTo(*c, 2), true);
  EXPECT_EQ(NameOf(*c, c->CurrentRecord()), "Dan");
  EXPECT_EQ(RecordLink(Add(*c, "Eve", "E")), 2) << "the freed slot 2 is taken again";
  EXPECT_EQ(c->GetRecordCount(), 3);
  EXPECT_EQ(c->Table()->DataFile().Header().NextRecordNumber, 4);
  ExpectSound(*c);

  // Without a primary index every insert appends.
  Create("LOG", PeopleDefinition(false));
  auto log = OpenOn("LOG");
  for (const char* name : {"a", "b", "c"}) Add(*log, name, name);
  log->DeleteRecord(GoTo(*log, 2), true);
  EXPECT_EQ(log->RecordNumber(), 3) << "record-number order: on the record that followed";
  std::vector<uint8_t> d = Add(*log, "d", "d");
  EXPECT_EQ(log->RecordNumber(), 4);
  EXPECT_EQ(RecordRowId(d), 4);
  EXPECT_EQ(log->GetRecordCount(), 3);
  ExpectSound(*log);
}

TEST_F(CursorEditTest, DuplicateKeyChangesNothing) {
  Create("PEOPLE", PeopleDefinition());
  auto c = OpenOn("PEOPLE");
  Add(*c, "Ann", "A");
  Add(*c, "Bob", "B");
  TDataTable& table = *c->Table();
  const TDataHeader before = table.DataFile().Header();

  std::vector<uint8_t> cat = Person(*c, "Cat", "A");
  try {
    c->InsertRecord(cat, true);
    ADD_FAILURE() << "a duplicate code was accepted";
  } catch (const EVEVURAEngineError& e) {
    EXPECT_EQ(e.ErrorCode, VEVURA_KEYVIOL);
    EXPECT_EQ(e.ErrorIndex, "ByCode");
  }
  EXPECT_EQ(RecordRowId(cat), 0) << "the caller's buffer is left alone";
  EXPECT_EQ(c->GetRecordCount(), 2);
  EXPECT_EQ(table.IndexFile().GetActiveRecordCount(), 2);
  EXPECT_EQ(table.DataFile().Header().NextRecordNumber, before.NextRecordNumber);
  EXPECT_EQ(table.DataFile().LastAutoIncValue(), before.LastAutoIncValue);
  EXPECT_FALSE(table.WriteLocked());
  EXPECT_EQ(table.CursorRecordLocks().Count(), 0);

  // A modify that would duplicate a code is refused the same way.
  std::vector<uint8_t> bob = GoTo(*c, 2);
  ASSERT_EQ(c->GetCurrentRecord(bob, true), kCursorOnRecord);
  SetStringField(bob, F(*c, kCode), "A", 0);
  EXPECT_EQ(CodeRaisedBy([&] { c->ModifyRecord(bob, true, true); }), VEVURA_KEYVIOL);
  EXPECT_EQ(GetStringField(c->CurrentRecord(), F(*c, kCode)), "B");
  EXPECT_EQ(c->LockedRecord(), 2) << "the edit keeps its lock after a refused post";
  c->CancelEdit();
  EXPECT_EQ(table.CursorRecordLocks().Count(), 0);
  ExpectSound(*c);

  // The row id was not spent, and the files on disk agree.
  EXPECT_EQ(RecordRowId(Add(*c, "Cat", "C")), 3);
  c->CloseCursor(false);
  TTableVerifyReport report = VerifyTable(*directory_, "PEOPLE");
  EXPECT_TRUE(report.Clean()) << report.Describe();
  EXPECT_EQ(report.LiveRecords, 3);
}

TEST_F(CursorEditTest, DamagedFreeChainIsFoundBeforeAnyIndexChanges) {
  Create("PEOPLE", PeopleDefinition());
  // Exclusive: the changes so far are only in the buffers, which a failure
  // after the first change of the insert would have to discard.
  auto c = OpenOn("PEOPLE", true);
  for (const char* name : {"Ann", "Bob", "Cid"}) Add(*c, name, name);
  c->DeleteRecord(GoTo(*c, 2), true);
  TDataTable& table = *c->Table();
  auto set_first_free = [&](int32_t n) {
    table.WriteLock();
    table.DataFile().Records().SetFirstFree(n);
    table.ChangesMade(true, false, false);
    table.WriteUnlock();
  };

  set_first_free(3);  // a live record
  EXPECT_EQ(CodeRaisedBy([&] { Add(*c, "Dan", "D"); }), VEVURA_FILECORRUPT);
  EXPECT_EQ(c->GetRecordCount(), 2);
  c->SwitchToIndex("ByName");
  EXPECT_EQ(c->GetRecordCount(), 2);
  EXPECT_EQ(table.IndexFile().GetActiveRecordCount(), 2);
  EXPECT_FALSE(table.WriteLocked());

  set_first_free(2);
  Add(*c, "Dan", "D");
  EXPECT_EQ(c->RecordNumber(), 2);
  ExpectSound(*c);
}

TEST_F(CursorEditTest, EachChangeIsOnDiskWhenItReturns) {
  Create("PEOPLE", PeopleDefinition());
  auto c = OpenOn("PEOPLE");
  // Another session has a table object of its own, which reads the disk.
  TDataSession other_session;
  TDataDirectory* other_directory = other_session.OpenDataDirectory("", dir_.path());
  TDataCursor other(*other_directory);
  other.SetTableName("PEOPLE");
  other.OpenCursor();
  auto names_seen = [&] {
    std::vector<std::string> names;
    std::vector<uint8_t> record(other.RecordSize());
    other.Refresh();  // re-reads the headers under the read lock
    other.First();
    while (other.Next(record) == kCursorOnRecord) names.push_back(NameOf(other, record));
    return names;
  };

  Add(*c, "Ann", "A");
  Add(*c, "Bob", "B");
  EXPECT_EQ(names_seen(), (std::vector<std::string>{"Ann", "Bob"}));
  std::vector<uint8_t> ann = GoTo(*c, 1);
  ASSERT_EQ(c->GetCurrentRecord(ann, true), kCursorOnRecord);
  SetStringField(ann, F(*c, kName), "Amy", 0);
  c->ModifyRecord(ann, true, true);
  EXPECT_EQ(names_seen(), (std::vector<std::string>{"Amy", "Bob"}));
  c->DeleteRecord(GoTo(*c, 2), true);
  EXPECT_EQ(names_seen(), (std::vector<std::string>{"Amy"}));
  other.CloseCursor(false);
}

TEST_F(CursorEditTest, PessimisticEditKeepsOtherCursorsOfTheTableOff) {
  Create("PEOPLE", PeopleDefinition());
  auto a = OpenOn("PEOPLE");
  auto b = OpenOn("PEOPLE");
  ASSERT_EQ(a->Table(), b->Table());
  Add(*a, "Ann", "A");
  Add(*a, "Bob", "B");

  std::vector<uint8_t> by_a = GoTo(*a, 1);
  ASSERT_EQ(a->GetCurrentRecord(by_a, true), kCursorOnRecord);
  EXPECT_EQ(a->LockedRecord(), 1);
  std::vector<uint8_t> by_b = GoTo(*b, 1);
  EXPECT_EQ(CodeRaisedBy([&] { b->DeleteRecord(by_b, true); }), VEVURA_RECLOCKFAILED);
  EXPECT_EQ(CodeRaisedBy([&] { b->GetCurrentRecord(by_b, true); }), VEVURA_RECLOCKFAILED);
  EXPECT_FALSE(b->Table()->WriteLocked());
  EXPECT_EQ(b->GetRecordCount(), 2);

  // The editing cursor posts and releases; then the other one may delete.
  SetStringField(by_a, F(*a, kName), "Amy", 0);
  a->ModifyRecord(by_a, true, true);
  EXPECT_EQ(a->LockedRecord(), 0);
  by_b = GoTo(*b, 1);
  EXPECT_EQ(NameOf(*b, by_b), "Amy");
  b->DeleteRecord(by_b, true);
  EXPECT_EQ(a->GetRecordCount(), 1);

  // A cursor may delete the record it is editing itself.
  std::vector<uint8_t> bob = GoTo(*a, 2);
  ASSERT_EQ(a->GetCurrentRecord(bob, true), kCursorOnRecord);
  a->DeleteRecord(bob, true);
  EXPECT_EQ(a->LockedRecord(), 0);
  EXPECT_EQ(a->GetRecordCount(), 0);
  ExpectSound(*a);
}

TEST_F(CursorEditTest, OptimisticPostOfAChangedRecordFailsUntilCancelled) {
  session_->SetLockProtocol(lpOptimistic);
  Create("PEOPLE", PeopleDefinition());
  auto a = OpenOn("PEOPLE");
  auto b = OpenOn("PEOPLE");
  Add(*a, "Ann", "A");

  std::vector<uint8_t> by_a = GoTo(*a, 1);
  ASSERT_EQ(a->GetCurrentRecord(by_a, true), kCursorOnRecord);
  EXPECT_EQ(a->LockedRecord(), 0) << "lpOptimistic locks only inside a post";
  std::vector<uint8_t> by_b = GoTo(*b, 1);
  ASSERT_EQ(b->GetCurrentRecord(by_b, true), kCursorOnRecord);
  SetStringField(by_b, F(*b, kName), "Bea", 0);
  b->ModifyRecord(by_b, true, true);

  // A read between edit and post takes in the other cursor's change; the
  // post must still see that the record is no longer the one edited.
  std::vector<uint8_t> read(a->RecordSize());
  ASSERT_EQ(a->GetCurrentRecord(read, false), kCursorOnRecord);
  EXPECT_EQ(NameOf(*a, read), "Bea");
  SetStringField(by_a, F(*a, kName), "Amy", 0);
  EXPECT_EQ(CodeRaisedBy([&] { a->ModifyRecord(by_a, true, true); }), VEVURA_KEYORRECDELETED);
  EXPECT_TRUE(a->EditChanged());
  // The cursor now holds the changed record, yet the edit stays refused.
  EXPECT_EQ(NameOf(*a, a->CurrentRecord()), "Bea");
  EXPECT_EQ(CodeRaisedBy([&] { a->ModifyRecord(by_a, true, true); }), VEVURA_KEYORRECDELETED);
  EXPECT_EQ(a->Table()->CursorRecordLocks().Count(), 0);

  a->CancelEdit();
  EXPECT_FALSE(a->EditChanged());
  ASSERT_EQ(a->GetCurrentRecord(by_a, false), kCursorOnRecord);
  ASSERT_EQ(a->GetCurrentRecord(by_a, true), kCursorOnRecord);
  SetStringField(by_a, F(*a, kName), "Amy", 0);
  a->ModifyRecord(by_a, true, true);
  by_b = GoTo(*b, 1);
  EXPECT_EQ(NameOf(*b, by_b), "Amy");
  ExpectSound(*a);
}

TEST_F(CursorEditTest, ValueRulesRefuseAPostBeforeAnyLock) {
  TTableDefinition d = test::ComponentDefinition({
      FieldDef(1, "N", fcString, fsNone, 10, true),
      FieldDef(2, "AGE", fcInteger),
  });
  d.Fields[1].MinValue = "18";
  d.Fields[1].MaxValue = "65";
  Create("RULES", d);
  auto c = OpenOn("RULES");
  TDataTable& table = *c->Table();
  std::vector<uint8_t> record(c->RecordSize());
  c->InitRecord(record);
  auto post = [&] {
    return test::RaisedBy([&] { c->InsertRecord(record, true); }).value_or(EVEVURAEngineError(0));
  };

  // A refused post takes no lock at all.
  const int64_t lock_calls = fs_.TotalCalls();
  EVEVURAEngineError missing = post();
  EXPECT_EQ(missing.ErrorCode, VEVURA_REQDERR);
  EXPECT_EQ(missing.ErrorField, "N");
  EXPECT_EQ(missing.ErrorTable, "RULES");
  SetStringField(record, F(*c, 1), "x", 0);
  EXPECT_EQ(post().ErrorCode, VEVURA_MINVALERR) << "a null value compares as 0";
  SetIntegerField(record, F(*c, 2), 17);
  EXPECT_EQ(post().ErrorField, "AGE");
  EXPECT_EQ(post().ErrorCode, VEVURA_MINVALERR);
  SetIntegerField(record, F(*c, 2), 66);
  EXPECT_EQ(post().ErrorCode, VEVURA_MAXVALERR);
  EXPECT_EQ(fs_.TotalCalls(), lock_calls);
  EXPECT_EQ(c->GetRecordCount(), 0);
  EXPECT_EQ(table.DataFile().Header().NextRecordNumber, 1);
  for (int32_t age : {18, 65}) {
    SetIntegerField(record, F(*c, 2), age);
    EXPECT_EQ(post().ErrorCode, 0) << age;
  }

  std::vector<uint8_t> first = GoTo(*c, 1);
  ASSERT_EQ(c->GetCurrentRecord(first, true), kCursorOnRecord);
  SetIntegerField(first, F(*c, 2), 70);
  EXPECT_EQ(CodeRaisedBy([&] { c->ModifyRecord(first, true, true); }), VEVURA_MAXVALERR);
  EXPECT_EQ(GetIntegerField(c->CurrentRecord(), F(*c, 2)), 18);
  c->CancelEdit();
  ExpectSound(*c);
}

TEST_F(CursorEditTest, DefaultsAreTakenWhenTheRecordIsInitialised) {
  TTableDefinition d = test::ComponentDefinition({
      FieldDef(1, "TS", fcTimeStamp),
      FieldDef(2, "D", fcDate),
      FieldDef(3, "I", fcInteger),
      FieldDef(4, "S", fcString, fsNone, 10),
      FieldDef(5, "X", fcInteger),
  });
  d.Fields[0].DefaultValue = "CURRENT_TIMESTAMP";
  d.Fields[1].DefaultValue = "current_date";
  d.Fields[2].DefaultValue = "42";
  d.Fields[3].DefaultValue = "none";
  Create("STAMPS", d);
  auto c = OpenOn("STAMPS");
  std::vector<uint8_t> record(c->RecordSize(), 0xAB);

  const double before = platform::Now();
  c->InitRecord(record);
  const double after = platform::Now();
  const double stamp = GetTimeStampField(record, F(*c, 1));
  EXPECT_GE(stamp, TimeStampFromDayCount(before));
  EXPECT_LE(stamp, TimeStampFromDayCount(after));
  const int32_t day = GetDateField(record, F(*c, 2));
  EXPECT_TRUE(day == DayNumberFromDayCount(before) || day == DayNumberFromDayCount(after));
  EXPECT_EQ(GetIntegerField(record, F(*c, 3)), 42);
  EXPECT_EQ(GetStringField(record, F(*c, 4)), "none");
  EXPECT_TRUE(FieldIsNull(record, F(*c, 5)));
  EXPECT_EQ(RecordRowId(record), 0);

  // Posted later, the record keeps the moment it was initialised at.
  platform::SleepMs(30);
  c->InsertRecord(record, true);
  EXPECT_EQ(GetTimeStampField(c->CurrentRecord(), F(*c, 1)), stamp);
}

TEST_F(CursorEditTest, RowIdsAfterTheWrapSkipValuesThatSlotsStillCarry) {
  // Sets the table's last auto-increment value as another program would.
  auto set_last = [](TDataTable& table, int32_t value) {
    table.WriteLock();
    table.DataFile().SetLastAutoIncValue(value);
    table.ChangesMade(true, false, false);
    table.WriteUnlock();
  };
  auto row_ids = [&](TDataCursor& c) {
    std::set<int32_t> ids;
    std::vector<uint8_t> record(c.RecordSize());
    c.First();
    while (c.Next(record) == kCursorOnRecord) ids.insert(RecordRowId(record));
    return ids;
  };

  Create("PEOPLE", PeopleDefinition());
  auto c = OpenOn("PEOPLE");
  for (const char* name : {"r1", "r2", "r3", "r4"}) Add(*c, name, name);
  c->DeleteRecord(GoTo(*c, 2), true);  // slot 2 stays free with row id 2
  c->DeleteRecord(GoTo(*c, 4), true);  // slot 4 is taken again first
  set_last(*c->Table(), 2147483646);
  EXPECT_EQ(RecordRowId(Add(*c, "max", "max")), 2147483647);
  EXPECT_EQ(c->RecordNumber(), 4);
  // 1 and 3 are live, 2 is carried by the free slot 2; 4 has gone with the
  // reuse of slot 4.
  EXPECT_EQ(RecordRowId(Add(*c, "wrapped", "w")), 4);
  EXPECT_EQ(c->RecordNumber(), 2);
  EXPECT_EQ(c->Table()->DataFile().LastAutoIncValue(), 4);
  EXPECT_EQ(row_ids(*c), (std::set<int32_t>{1, 3, 4, 2147483647}));
  ExpectSound(*c);

  // Without a primary index free slots keep their row ids for good.
  Create("LOG", PeopleDefinition(false));
  auto log = OpenOn("LOG");
  for (const char* name : {"r1", "r2", "r3"}) Add(*log, name, name);
  log->DeleteRecord(GoTo(*log, 2), true);
  set_last(*log->Table(), 2147483646);
  EXPECT_EQ(RecordRowId(Add(*log, "max", "max")), 2147483647);
  EXPECT_EQ(RecordRowId(Add(*log, "wrapped", "w")), 4);
  EXPECT_EQ(RecordRowId(Add(*log, "next", "n")), 5);
  EXPECT_EQ(row_ids(*log), (std::set<int32_t>{1, 3, 4, 5, 2147483647}));
  ExpectSound(*log);
}

TEST_F(CursorEditTest, BlobBuffersAreReadWrittenAndPostedWithTheirWords) {
  Create("PEOPLE", PeopleDefinition());
  auto c = OpenOn("PEOPLE");
  std::vector<uint8_t> ann = Person(*c, "Ann", "A");
  int32_t length = -1;
  ASSERT_EQ(c->OpenBlob(kNotes, ann, boWrite, &length), 0);
  EXPECT_EQ(length, 0);
  EXPECT_LT(GetBlobField(ann, F(*c, kNotes)).FirstBlock, 0) << "refers to the cursor's buffer";
  EXPECT_TRUE(FieldIsNull(ann, F(*c, kNotes)));
  const std::string text = "the quick brown fox";
  ASSERT_EQ(c->WriteBlob(kNotes, ann, 0, 19, Bytes(text).data()), 0);
  EXPECT_FALSE(FieldIsNull(ann, F(*c, kNotes)));
  ASSERT_EQ(c->GetBlobSize(kNotes, ann, &length), 0);
  EXPECT_EQ(length, 19);

  std::string out(10, '.');
  auto* bytes = reinterpret_cast<uint8_t*>(out.data());
  int32_t read = -1;
  EXPECT_EQ(c->ReadBlob(kNotes, ann, 4, 5, bytes, &read), 0);
  EXPECT_EQ(out.substr(0, static_cast<size_t>(read)), "quick");
  EXPECT_EQ(c->ReadBlob(kNotes, ann, 16, 10, bytes, &read), VEVURA_ENDOFBLOB);
  EXPECT_EQ(out.substr(0, static_cast<size_t>(read)), "fox");
  EXPECT_EQ(c->ReadBlob(kNotes, ann, 30, 1, bytes, &read), VEVURA_ENDOFBLOB);
  EXPECT_EQ(read, 0);
  ASSERT_EQ(c->TruncateBlob(kNotes, ann, 15), 0);
  ASSERT_EQ(c->GetBlobSize(kNotes, ann, &length), 0);
  EXPECT_EQ(length, 15);

  // Fields that are no BLOB, fields without a buffer, references to none.
  EXPECT_EQ(c->OpenBlob(kName, ann, boRead, &length), VEVURA_NOTABLOB);
  EXPECT_EQ(c->OpenBlob(99, ann, boRead, &length), VEVURA_NOTABLOB);
  EXPECT_EQ(c->ReadBlob(kCode, ann, 0, 1, bytes, &read), VEVURA_NOTABLOB);
  std::vector<uint8_t> bob = Person(*c, "Bob", "B");
  EXPECT_EQ(c->ReadBlob(kNotes, bob, 0, 1, bytes, &read), VEVURA_INVALIDBLOBHANDLE);
  EXPECT_EQ(c->WriteBlob(kNotes, bob, 0, 1, bytes), VEVURA_INVALIDBLOBHANDLE);
  EXPECT_EQ(c->TruncateBlob(kNotes, bob, 0), VEVURA_INVALIDBLOBHANDLE);
  EXPECT_EQ(c->GetBlobSize(kNotes, bob, &length), VEVURA_INVALIDBLOBHANDLE);
  EXPECT_EQ(c->CloseBlob(kNotes, bob), VEVURA_INVALIDBLOBHANDLE);
  SetBlobField(bob, F(*c, kNotes), TBlobReference{-777, 0}, true);
  EXPECT_EQ(c->OpenBlob(kNotes, bob, boRead, &length), VEVURA_INVALIDBLOBOFFSET);
  EXPECT_EQ(c->OpenBlobCount(), 1u);

  c->InsertRecord(ann, true);
  const TBlobReference stored = GetBlobField(c->CurrentRecord(), F(*c, kNotes));
  EXPECT_GT(stored.FirstBlock, 0);
  EXPECT_EQ(GetBlobField(ann, F(*c, kNotes)).FirstBlock, stored.FirstBlock);
  const int32_t row_id = RecordRowId(ann);
  EXPECT_TRUE(HasWord(*c, kNotes, "quick", row_id));
  EXPECT_TRUE(HasWord(*c, kNotes, "brown", row_id));
  EXPECT_FALSE(HasWord(*c, kNotes, "fox", row_id)) << "cut off before the post";
  EXPECT_FALSE(HasWord(*c, kNotes, "the", row_id)) << "a stop word";
  EXPECT_TRUE(HasWord(*c, kName, "ann", row_id));
  ExpectSound(*c);

  auto reader = OpenOn("PEOPLE");
  GoTo(*reader, 1);
  EXPECT_EQ(MemoOf(*reader), "the quick brown");
  EXPECT_EQ(reader->OpenBlobCount(), 0u);

  // Bytes written inside the old length are saved too.
  std::vector<uint8_t> edit = GoTo(*c, 1);
  ASSERT_EQ(c->GetCurrentRecord(edit, true), kCursorOnRecord);
  ASSERT_EQ(c->OpenBlob(kNotes, edit, boReadWrite, &length), 0);
  EXPECT_EQ(length, 15);
  ASSERT_EQ(c->WriteBlob(kNotes, edit, 4, 5, Bytes("QUACK").data()), 0);
  c->ModifyRecord(edit, true, true);
  GoTo(*reader, 1);
  EXPECT_EQ(MemoOf(*reader), "the QUACK brown");
  EXPECT_FALSE(HasWord(*c, kNotes, "quick", row_id));
  EXPECT_TRUE(HasWord(*c, kNotes, "quack", row_id));
  EXPECT_TRUE(HasWord(*c, kNotes, "brown", row_id));
  ExpectSound(*c);

  // A delete frees the BLOB's blocks and the record's words.
  c->DeleteRecord(GoTo(*c, 1), true);
  EXPECT_NE(c->Table()->BlobFile().Header().FirstFreeBlock, 0);
  EXPECT_FALSE(HasWord(*c, kNotes, "quack", row_id));
  EXPECT_FALSE(HasWord(*c, kName, "ann", row_id));
  ExpectSound(*c);
}

TEST_F(CursorEditTest, AtMost128BlobBuffersAreOpen) {
  Create("PEOPLE", PeopleDefinition());
  auto c = OpenOn("PEOPLE");
  std::vector<std::vector<uint8_t>> records(kMaxOpenBlobs + 1, Person(*c, "x", "x"));
  int32_t length = -1;
  for (int i = 0; i < kMaxOpenBlobs; ++i) {
    ASSERT_EQ(c->OpenBlob(kNotes, records[static_cast<size_t>(i)], boRead, &length), 0) << i;
  }
  EXPECT_EQ(c->OpenBlobCount(), 128u);
  EXPECT_EQ(c->OpenBlob(kNotes, records[128], boRead, &length), VEVURA_OPENBLOBLIMIT);
  // Another open of a buffer the field already refers to makes none.
  EXPECT_EQ(c->OpenBlob(kNotes, records[0], boRead, &length), 0);
  EXPECT_EQ(c->CloseBlob(kNotes, records[0]), 0);
  EXPECT_EQ(c->OpenBlobCount(), 128u);
  EXPECT_EQ(c->CloseBlob(kNotes, records[0]), 0);
  EXPECT_EQ(c->OpenBlobCount(), 127u);
  EXPECT_EQ(GetBlobField(records[0], F(*c, kNotes)).FirstBlock, 0) << "the stored reference back";
  EXPECT_EQ(c->OpenBlob(kNotes, records[128], boRead, &length), 0);
}

TEST_F(CursorEditTest, CopiedRecordsGetBlobsOfTheirOwn) {
  Create("PEOPLE", PeopleDefinition());
  auto c = OpenOn("PEOPLE");
  std::vector<uint8_t> ann = Person(*c, "Ann", "A");
  SetMemo(*c, ann, "alpha beta");
  c->InsertRecord(ann, true);

  // A new record copied from a stored one, and one copied with its BLOB open.
  std::vector<uint8_t> bob(c->CurrentRecord().begin(), c->CurrentRecord().end());
  SetStringField(bob, F(*c, kName), "Bob", 0);
  SetStringField(bob, F(*c, kCode), "B", 0);
  c->InsertRecord(bob, true);
  std::vector<uint8_t> cid = GoTo(*c, 1);
  int32_t length = -1;
  ASSERT_EQ(c->OpenBlob(kNotes, cid, boRead, &length), 0);
  SetStringField(cid, F(*c, kName), "Cid", 0);
  SetStringField(cid, F(*c, kCode), "C", 0);
  c->InsertRecord(cid, true);
  std::set<int32_t> chains;
  for (int32_t n : {1, 2, 3}) chains.insert(GetBlobField(GoTo(*c, n), F(*c, kNotes)).FirstBlock);
  EXPECT_EQ(chains.size(), 3u);
  ExpectSound(*c);

  c->DeleteRecord(GoTo(*c, 1), true);
  for (int32_t n : {2, 3}) {
    GoTo(*c, n);
    EXPECT_EQ(MemoOf(*c), "alpha beta") << n;
    EXPECT_TRUE(HasWord(*c, kNotes, "beta", RecordRowId(c->CurrentRecord()))) << n;
  }
  ExpectSound(*c);
}

TEST_F(CursorEditTest, ChangedBlobsOfACancelledEditOrAnotherRecordAreNotPosted) {
  Create("PEOPLE", PeopleDefinition());
  auto c = OpenOn("PEOPLE");
  std::vector<uint8_t> ann = Person(*c, "Ann", "A");
  SetMemo(*c, ann, "kept");
  c->InsertRecord(ann, true);
  Add(*c, "Bob", "B");

  std::vector<uint8_t> edit = GoTo(*c, 1);
  ASSERT_EQ(c->GetCurrentRecord(edit, true), kCursorOnRecord);
  SetMemo(*c, edit, "dropped");
  c->CancelEdit();
  EXPECT_EQ(c->OpenBlobCount(), 0u);
  EXPECT_EQ(MemoOf(*c), "kept");

  // A changed buffer of record 1 handed to a post of record 2.
  std::vector<uint8_t> first = GoTo(*c, 1);
  std::vector<uint8_t> second = GoTo(*c, 2);
  ASSERT_EQ(c->GetCurrentRecord(second, true), kCursorOnRecord);
  SetMemo(*c, first, "stray");
  const uint16_t at = F(*c, kNotes).Offset;
  std::copy_n(first.begin() + at, 9, second.begin() + at);
  EXPECT_EQ(CodeRaisedBy([&] { c->ModifyRecord(second, true, true); }), VEVURA_MEMOCORRUPT);
  c->CancelEdit();
  GoTo(*c, 2);
  EXPECT_EQ(MemoOf(*c), "");
  ExpectSound(*c);
}

TEST_F(CursorEditTest, AMemoModifyThatFailsAtAnyWriteLosesNeitherValue) {
  Create("PEOPLE", PeopleDefinition());
  platform::FaultFileSystem fault(fs_);
  platform::SetFileSystem(&fault);
  // Several blocks each, so that the new text would cover the old chain.
  const std::string old_text(2500, 'o');
  const std::string new_text(4000, 'n');
  {
    auto c = OpenOn("PEOPLE");
    std::vector<uint8_t> ann = Person(*c, "Ann", "A");
    SetMemo(*c, ann, old_text);
    c->InsertRecord(ann, true);
    bool posted = false;
    for (int64_t n = 1; !posted && n < 50; ++n) {
      std::vector<uint8_t> record = GoTo(*c, 1);
      ASSERT_EQ(c->GetCurrentRecord(record, true), kCursorOnRecord);
      SetMemo(*c, record, new_text);
      fault.FailNth(platform::FaultFileSystem::Operation::Write, n);
      posted = CodeRaisedBy([&] { c->ModifyRecord(record, true, true); }) == 0;
      fault.Disarm();
      if (!posted) c->CancelEdit();
      GoTo(*c, 1);
      // The old value stays whole until the record names the new one. (A
      // post that fails after its record was written is not yet taken back,
      // so a failed one may show either value.)
      const std::string memo = MemoOf(*c);
      if (posted) {
        EXPECT_EQ(memo, new_text);
      } else {
        EXPECT_TRUE(memo == old_text || memo == new_text) << "write " << n << " failed";
      }
    }
    EXPECT_TRUE(posted);
  }
  platform::SetFileSystem(&fs_);
}

TEST_F(CursorEditTest, FailedWriteLeavesTheTableAsItWas) {
  Create("PEOPLE", PeopleDefinition());
  platform::FaultFileSystem fault(fs_);
  platform::SetFileSystem(&fault);
  {
    auto c = OpenOn("PEOPLE");
    std::vector<uint8_t> ann = Person(*c, "Ann", "A");
    SetMemo(*c, ann, "some notes");
    c->InsertRecord(ann, true);
    Add(*c, "Bob", "B");
    TDataTable& table = *c->Table();
    auto files = [&] {
      return std::vector<std::vector<uint8_t>>{test::FileBytes(PathOf("PEOPLE.DAT")),
                                               test::FileBytes(PathOf("PEOPLE.IDX")),
                                               test::FileBytes(PathOf("PEOPLE.BLB"))};
    };
    const auto before = files();
    auto expect_unchanged = [&](const char* what) {
      EXPECT_EQ(files(), before) << what;
      EXPECT_FALSE(table.WriteLocked()) << what;
      EXPECT_EQ(table.CursorRecordLocks().Count(), 0) << what;
      EXPECT_EQ(c->GetRecordCount(), 2) << what;
      EXPECT_EQ(table.IndexFile().GetActiveRecordCount(), 2) << what;
      EXPECT_EQ(table.DataFile().Header().NextRecordNumber, 3) << what;
      EXPECT_EQ(table.DataFile().LastAutoIncValue(), 2) << what;
      ExpectSound(*c);
    };

    std::vector<uint8_t> cat = Person(*c, "Cat", "C");
    SetMemo(*c, cat, "more notes");
    fault.FailNth(platform::FaultFileSystem::Operation::Write, 1);
    EXPECT_EQ(CodeRaisedBy([&] { c->InsertRecord(cat, true); }), VEVURA_WRITEERR);
    fault.Disarm();
    expect_unchanged("insert");
    EXPECT_LT(GetBlobField(cat, F(*c, kNotes)).FirstBlock, 0) << "the buffer is still the cat's";

    std::vector<uint8_t> bob = GoTo(*c, 2);
    ASSERT_EQ(c->GetCurrentRecord(bob, true), kCursorOnRecord);
    SetStringField(bob, F(*c, kName), "Bea", 0);
    fault.FailNth(platform::FaultFileSystem::Operation::Write, 1);
    EXPECT_EQ(CodeRaisedBy([&] { c->ModifyRecord(bob, true, true); }), VEVURA_WRITEERR);
    fault.Disarm();
    c->CancelEdit();
    expect_unchanged("modify");
    EXPECT_EQ(NameOf(*c, c->CurrentRecord()), "Bob");

    fault.FailNth(platform::FaultFileSystem::Operation::Write, 1);
    EXPECT_EQ(CodeRaisedBy([&] { c->DeleteRecord(GoTo(*c, 1), true); }), VEVURA_WRITEERR);
    fault.Disarm();
    expect_unchanged("delete");
    GoTo(*c, 1);
    EXPECT_EQ(MemoOf(*c), "some notes");

    // The table works on, and the failed posts spent no row id.
    c->InsertRecord(cat, true);
    EXPECT_EQ(RecordRowId(cat), 3);
    EXPECT_EQ(c->RecordNumber(), 3);
    EXPECT_EQ(MemoOf(*c), "more notes");
  }
  platform::SetFileSystem(&fs_);
  TTableVerifyReport report = VerifyTable(*directory_, "PEOPLE");
  EXPECT_TRUE(report.Clean()) << report.Describe();
  EXPECT_EQ(report.LiveRecords, 3);
}

TEST_F(CursorEditTest, AFailedPostTakesBackNothingAnotherUserWroteBeforeIt) {
  // Another session has a table object of its own, as another program has.
  TDataSession other_session;
  TDataDirectory* other_directory = other_session.OpenDataDirectory("", dir_.path());
  for (const bool encrypted : {false, true}) {
    const std::string table = encrypted ? "VAULT" : "PEOPLE";
    TTableDefinition definition = PeopleDefinition();
    definition.Encrypted = encrypted;
    definition.Password = encrypted ? "Open Sesame" : "";
    Create(table, definition);
    session_->AddPassword("Open Sesame");
    other_session.AddPassword("Open Sesame");
    platform::FaultFileSystem fault(fs_);
    platform::SetFileSystem(&fault);
    std::vector<std::string> expected;
    {
      auto c = OpenOn(table);
      TDataCursor other(*other_directory);
      other.SetTableName(table);
      other.OpenCursor();
      Add(*c, "Ann", "A");
      expected.push_back("Ann");
      for (int n = 1; n <= 8; ++n) {
        // The other user's appends grow both files and change pages this
        // table object has cached since its last post.
        for (int k = 0; k < 3; ++k) {
          expected.push_back("O" + std::to_string(n) + std::to_string(k));
          Add(other, expected.back(), expected.back());
        }
        fault.FailNth(platform::FaultFileSystem::Operation::Write, n);
        const std::string mine = "M" + std::to_string(n);
        const uint16_t code = CodeRaisedBy([&] { Add(*c, mine, mine); });
        fault.Disarm();
        if (code == 0) {
          expected.push_back(mine);
        } else {
          EXPECT_EQ(code, VEVURA_WRITEERR) << table << " " << n;
          // The files as the failure left them, before the other user
          // writes its pages again.
          ExpectSound(*c);
        }
      }
      std::vector<std::string> names;
      std::vector<uint8_t> record(c->RecordSize());
      c->First();
      while (c->Next(record) == kCursorOnRecord) names.push_back(NameOf(*c, record));
      EXPECT_EQ(names, expected) << table;
      other.CloseCursor(false);
    }
    platform::SetFileSystem(&fs_);
    TTableVerifyReport report = VerifyTable(*directory_, table);
    EXPECT_TRUE(report.Clean()) << table << ": " << report.Describe();
    EXPECT_EQ(report.LiveRecords, static_cast<int64_t>(expected.size())) << table;
  }
}

TEST_F(CursorEditTest, FailedInsertIntoAnExclusiveTableKeepsTheEarlierOnes) {
  Create("PEOPLE", PeopleDefinition());
  // One record buffer: each new record pushes the deferred one before it out.
  session_->SetDataBufferCount(1);
  platform::FaultFileSystem fault(fs_);
  platform::SetFileSystem(&fault);
  {
    auto c = OpenOn("PEOPLE", true);
    for (const char* name : {"Ann", "Bob", "Cid"}) Add(*c, name, name);
    TDataTable& table = *c->Table();
    fault.FailNth(platform::FaultFileSystem::Operation::Write, 1);
    EXPECT_EQ(CodeRaisedBy([&] { Add(*c, "Dan", "D"); }), VEVURA_WRITEERR);
    fault.Disarm();
    EXPECT_EQ(c->GetRecordCount(), 3);
    EXPECT_EQ(table.IndexFile().GetActiveRecordCount(), 3);
    EXPECT_EQ(table.DataFile().Header().NextRecordNumber, 4);
    EXPECT_EQ(table.DataFile().LastAutoIncValue(), 3);
    ExpectSound(*c);
    EXPECT_EQ(RecordRowId(Add(*c, "Dan", "D")), 4);
  }
  platform::SetFileSystem(&fs_);
  TTableVerifyReport report = VerifyTable(*directory_, "PEOPLE");
  EXPECT_TRUE(report.Clean()) << report.Describe();
  EXPECT_EQ(report.LiveRecords, 4);
}

TEST_F(CursorEditTest, APostOnAQueuedIndexFindsItsEntryOnlyWhenAMoveNeedsIt) {
  Create("PEOPLE", PeopleDefinition());
  // Enough names for "ByName" to span leaves that a fresh cache has not read.
  std::vector<std::string> names;
  {
    auto c = OpenOn("PEOPLE", true);
    for (int i = 0; i < 1500; ++i) {
      names.push_back("Name " + std::to_string(100000 + i * 7919 % 1500));
      Add(*c, names.back(), "C" + std::to_string(i));
    }
  }
  std::sort(names.begin(), names.end());
  platform::FaultFileSystem fault(fs_);
  platform::SetFileSystem(&fault);
  {
    auto c = OpenOn("PEOPLE", true);
    c->SwitchToIndex("ByName");
    // The new key waits in the table's batch: the post stands on the record
    // without putting it into the index, and the step puts it there.
    const std::vector<uint8_t> mid = Add(*c, "Name 100700x", "M");
    TDataTable& table = *c->Table();
    TKeyContext by_name =
        MakeKeyContext(0, 0, 1, table.IndexFile().GetIndexDescriptor(1), c->Fields(), "PEOPLE");
    const std::vector<uint8_t> key = BuildKey(by_name, mid);
    TIndexKeyComparer comparer(by_name);
    TBTreePath path;
    EXPECT_FALSE(TBTree(table.IndexFile(), 1, comparer, path).LocateKey(key.data()));
    EXPECT_EQ(c->RecordNumber(), 1501);
    EXPECT_EQ(c->GetBookmark(), key);
    std::vector<uint8_t> record(c->RecordSize());
    ASSERT_EQ(c->Prior(record), kCursorOnRecord);
    EXPECT_EQ(NameOf(*c, record), "Name 100700");
    EXPECT_TRUE(TBTree(table.IndexFile(), 1, comparer, path).LocateKey(key.data()));
    ASSERT_EQ(c->Next(record), kCursorOnRecord);
    EXPECT_EQ(NameOf(*c, record), "Name 100700x");
  }
  {
    // Finding the entry fails (a read of a leaf the batch goes into): the
    // post stands and the cursor is at the beginning, as when the placing
    // after a post fails, so the step reaches the first record.
    auto c = OpenOn("PEOPLE", true);
    c->SwitchToIndex("ByName");
    Add(*c, "Zed", "Z");
    fault.FailNth(platform::FaultFileSystem::Operation::Read, 1);
    std::vector<uint8_t> record(c->RecordSize());
    EXPECT_EQ(c->Next(record), kCursorOnRecord);
    EXPECT_GE(fault.Count(platform::FaultFileSystem::Operation::Read), 1) << "no read failed";
    fault.Disarm();
    EXPECT_EQ(NameOf(*c, record), names.front());
    EXPECT_EQ(c->GetRecordCount(), 1502);
    c->Last();
    ASSERT_EQ(c->Prior(record), kCursorOnRecord);
    EXPECT_EQ(NameOf(*c, record), "Zed");
    ExpectSound(*c);
  }
  platform::SetFileSystem(&fs_);
  TTableVerifyReport report = VerifyTable(*directory_, "PEOPLE");
  EXPECT_TRUE(report.Clean()) << report.Describe();
  EXPECT_EQ(report.LiveRecords, 1502);
}

TEST_F(CursorEditTest, NewRecordsAreReadChangedAndTakenBackBeforeTheyAreWritten) {
  Create("PEOPLE", PeopleDefinition());
  // Eight record buffers: new records are staged four at a time.
  session_->SetDataBufferCount(8);
  auto a = OpenOn("PEOPLE");
  auto b = OpenOn("PEOPLE");
  std::vector<std::string> names;
  for (int i = 1; i <= 30; ++i) {
    names.push_back("P" + std::to_string(100 + i));
    Add(*a, names.back(), names.back());
  }
  // The other cursor reads, changes and deletes the newest records.
  std::vector<uint8_t> last = GoTo(*b, 29);
  EXPECT_EQ(NameOf(*b, last), "P129");
  ASSERT_EQ(b->GetCurrentRecord(last, true), kCursorOnRecord);
  SetStringField(last, F(*b, kName), "Q129", 0);
  b->ModifyRecord(last, true, true);
  names[28] = "Q129";
  b->DeleteRecord(GoTo(*b, 30), true);
  names.pop_back();
  EXPECT_EQ(NameOf(*a, GoTo(*a, 29)), "Q129");

  // A transaction's new records stay in memory, readable, until it ends.
  for (bool commit : {false, true}) {
    directory_->StartTransaction();
    for (int i = 1; i <= 6; ++i) Add(*a, "T" + std::to_string(i), "T" + std::to_string(i));
    EXPECT_EQ(NameOf(*b, GoTo(*b, 35)), "T6");  // T1 took the freed slot 30
    if (commit) {
      directory_->Commit(true, false);
      for (int i = 1; i <= 6; ++i) names.push_back("T" + std::to_string(i));
    } else {
      directory_->Rollback();
    }
    std::vector<std::string> seen;
    for (const std::string& row : Contents(*b)) seen.push_back(row.substr(0, row.find(':')));
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, sorted) << (commit ? "commit" : "rollback");
    ExpectSound(*a);
  }
  a->CloseCursor(false);
  b->CloseCursor(false);
  TTableVerifyReport report = VerifyTable(*directory_, "PEOPLE");
  EXPECT_TRUE(report.Clean()) << report.Describe();
  EXPECT_EQ(report.LiveRecords, 35);
}

TEST_F(CursorEditTest, DeleteFailingPartWayThroughTheIndexesIsTakenBack) {
  Create("PEOPLE", PeopleDefinition());
  auto c = OpenOn("PEOPLE", true);
  for (const char* name : {"Ann", "Bob", "Cid"}) Add(*c, name, name);
  TDataTable& table = *c->Table();
  const std::vector<uint8_t> bob = GoTo(*c, 2);
  // Damage: index "ByCode" (the last one a delete visits) loses Bob's entry.
  TKeyContext by_code =
      MakeKeyContext(0, 0, 2, table.IndexFile().GetIndexDescriptor(2), c->Fields(), "PEOPLE");
  TIndexKeyComparer comparer(by_code);
  TBTreePath path;
  TBTree tree(table.IndexFile(), 2, comparer, path);
  const std::vector<uint8_t> key = BuildKey(by_code, bob);
  tree.DeleteKey(key.data());

  EXPECT_EQ(CodeRaisedBy([&] { c->DeleteRecord(bob, true); }), VEVURA_INDEXCORRUPT);
  // The primary index and "ByName" have their entries back; the record stays.
  EXPECT_EQ(c->GetRecordCount(), 3);
  c->SwitchToIndex("ByName");
  EXPECT_EQ(c->GetRecordCount(), 3);
  EXPECT_EQ(table.IndexFile().GetActiveRecordCount(), 3);
  tree.InsertKey(key.data(), 2);
  ExpectSound(*c);
  c->DeleteRecord(GoTo(*c, 2), true);
  EXPECT_EQ(c->GetRecordCount(), 2);
  ExpectSound(*c);
}

//! How the fault scenario holds its table: shared (each post written at
//! once), exclusive (posts kept in the buffers), shared inside a
//! transaction that is committed at the end, or shared with the machine
//! losing power at the end: from the nth sync on nothing reaches the disk,
//! and what was not synced is lost.
enum class TFaultMode { Shared, Exclusive, Transaction, PowerLoss };

//! The scenario's outcome when a failure could not be taken back.
constexpr const char* kNeedsRepair = "needs repair";

//! One run of the fault scenario: a table gets inserts with memos, modifies
//! and deletes while the nth operation of a kind fails (once, or from then
//! on), going on after each error as an application would. The table must
//! then hold exactly the posts that returned. An exclusive table or a
//! transaction writes at its end, after the faults stop. Returns a word on
//! what went wrong, "" when nothing did.
std::string RunFaultScenario(TDataDirectory& directory, platform::FaultFileSystem& fault,
                             platform::FaultFileSystem::Operation op, int64_t n, bool sticky,
                             TFaultMode mode, const std::string& table_name) {
  TTableTarget target;
  target.TableName = table_name;
  target.Exclusive = true;
  CreateTable(directory, target, PeopleDefinition());
  struct TRow {
    std::string Name;
    std::string Memo;
  };
  std::map<int32_t, TRow> posted;  // by row id
  // A failure that could not be taken back leaves the table refusing changes
  // until it is repaired; no change may return after that.
  bool damaged = false;
  auto note = [&](const EVEVURAEngineError& e) {
    if (e.ErrorCode == VEVURA_FILECORRUPT) damaged = true;
  };
  auto memo_for = [](int i) {
    return std::string(static_cast<size_t>((i * 97) % 700), 'a' + i % 26);
  };
  fault.KeepUnsyncedWrites(mode == TFaultMode::PowerLoss);
  try {
    auto c = std::make_unique<TDataCursor>(directory);
    c->SetTableName(table_name);
    c->SetExclusive(mode == TFaultMode::Exclusive);
    c->OpenCursor();
    if (mode == TFaultMode::Transaction) directory.StartTransaction();
    fault.FailNth(op, n, sticky);
    for (int i = 0; i < 30; ++i) {
      try {
        std::vector<uint8_t> record(c->RecordSize());
        c->InitRecord(record);
        SetStringField(record, c->Fields()[kName - 1], "N" + std::to_string(i), 0);
        SetStringField(record, c->Fields()[kCode - 1], "C" + std::to_string(i), 0);
        const std::string memo = memo_for(i);
        int32_t length = -1;
        if (c->OpenBlob(kNotes, record, boWrite, &length) != 0) continue;
        if (c->WriteBlob(kNotes, record, 0, static_cast<int32_t>(memo.size()),
                         Bytes(memo).data()) != 0) {
          c->CloseBlob(kNotes, record);
          continue;
        }
        try {
          c->InsertRecord(record, true);
        } catch (const EVEVURAEngineError& e) {
          note(e);
          c->CloseBlob(kNotes, record);
          continue;
        }
        if (damaged) return "an insert returned on a damaged table";
        posted[RecordRowId(record)] = {"N" + std::to_string(i), memo};
      } catch (const EVEVURAEngineError& e) {
        note(e);
      }
    }
    for (int i = 0; i < 16; ++i) {
      if (posted.empty()) break;
      auto victim = posted.begin();
      std::advance(victim, (i * 7) % static_cast<int>(posted.size()));
      const int32_t row_id = victim->first;
      try {
        std::vector<uint8_t> record(c->RecordSize());
        SetIntegerField(record, c->Fields()[0], row_id);
        if (!c->FindKey(record, false, 1, 0, true, {})) {
          if (c->Table()->NeedsRepair()) continue;
          return "a posted record was not found";
        }
        c->GetCurrentRecord(record, true);
        if (i % 2 == 0) {
          c->DeleteRecord(record, true);
          if (damaged) return "a delete returned on a damaged table";
          posted.erase(victim);
        } else {
          const std::string name = "M" + std::to_string(i);
          const std::string memo = memo_for(i + 50);
          SetStringField(record, c->Fields()[kName - 1], name, 0);
          int32_t length = -1;
          if (c->OpenBlob(kNotes, record, boWrite, &length) != 0 ||
              c->TruncateBlob(kNotes, record, 0) != 0 ||
              c->WriteBlob(kNotes, record, 0, static_cast<int32_t>(memo.size()),
                           Bytes(memo).data()) != 0) {
            c->CancelEdit();
            continue;
          }
          c->ModifyRecord(record, true, true);
          if (damaged) return "a modify returned on a damaged table";
          victim->second = {name, memo};
        }
      } catch (const EVEVURAEngineError& e) {
        note(e);
        try {
          c->CancelEdit();
        } catch (const EVEVURAEngineError&) {
        }
      }
    }
    if (mode == TFaultMode::Exclusive || mode == TFaultMode::Transaction) fault.Disarm();
    // One more post tells a damaged table (refused) from a sound one.
    try {
      std::vector<uint8_t> record(c->RecordSize());
      c->InitRecord(record);
      SetStringField(record, c->Fields()[kCode - 1], "LAST", 0);
      c->InsertRecord(record, true);
      if (damaged) return "an insert returned on a damaged table";
      posted[RecordRowId(record)] = {"", ""};
    } catch (const EVEVURAEngineError& e) {
      note(e);
    }
    damaged = damaged || c->Table()->NeedsRepair();
    if (mode == TFaultMode::Transaction) directory.Commit(true, false);
    c->CloseCursor(false);
  } catch (const EVEVURAEngineError& e) {
    note(e);
  }
  fault.Disarm();
  // A post cut by the power loss may be there in part, for a repair: one
  // record more than returned, or one whose values are not those returned.
  int cut_posts = 0;
  if (mode == TFaultMode::PowerLoss) {
    fault.DropUnsyncedWrites();
    fault.KeepUnsyncedWrites(false);
    cut_posts = 1;
  }
  // Every handle of the table is closed; what is on disk is what counts.
  TTableVerifyReport report = VerifyTable(directory, table_name);
  if (damaged) return kNeedsRepair;  // as the session was told
  if (report.LiveRecords > static_cast<int64_t>(posted.size()) + cut_posts) {
    return "more records than posts: " + report.Describe();
  }
  if (cut_posts == 0 && !report.Clean()) return "unsound: " + report.Describe();
  auto c = std::make_unique<TDataCursor>(directory);
  c->SetTableName(table_name);
  c->OpenCursor();
  std::vector<uint8_t> record(c->RecordSize());
  std::set<int32_t> seen;
  c->First();
  while (c->Next(record) == kCursorOnRecord) {
    seen.insert(RecordRowId(record));
    auto row = posted.find(RecordRowId(record));
    if (row == posted.end()) {
      if (cut_posts-- > 0) continue;
      return "a failed post was applied";
    }
    if (GetStringField(record, c->Fields()[kName - 1]) != row->second.Name) {
      if (cut_posts-- > 0) continue;
      return "a returned modify was lost";
    }
    int32_t length = -1;
    if (c->OpenBlob(kNotes, record, boRead, &length) != 0) return "a memo cannot be opened";
    std::string text(static_cast<size_t>(std::max(length, 0)), '\0');
    int32_t read = -1;
    c->ReadBlob(kNotes, record, 0, length, reinterpret_cast<uint8_t*>(text.data()), &read);
    c->CloseBlob(kNotes, record);
    if (text != row->second.Memo && cut_posts-- <= 0) return "a memo differs";
  }
  for (const auto& [row_id, row] : posted) {
    if (seen.count(row_id) == 0) return "a returned post was lost: row " + std::to_string(row_id);
  }
  c->CloseCursor(false);
  return "";
}

TEST_F(CursorEditTest, AFaultAtAnyCallKeepsExactlyThePostsThatReturned) {
  using Op = platform::FaultFileSystem::Operation;
  // VEVURA_FAULT_STEP=1 tries every call; the default samples them.
  const char* step_text = std::getenv("VEVURA_FAULT_STEP");
  const int64_t step = step_text != nullptr ? std::max(1L, std::atol(step_text)) : 7;
  platform::FaultFileSystem fault(fs_);
  platform::SetFileSystem(&fault);
  // Small caches, so that exclusive tables and transactions write in the
  // middle of their posts.
  session_->SetDataBufferCount(2);
  session_->SetBlobBufferCount(2);
  int runs = 0;
  int repairs = 0;
  std::map<std::string, int> problems;
  for (TFaultMode mode : {TFaultMode::Shared, TFaultMode::Exclusive, TFaultMode::Transaction,
                          TFaultMode::PowerLoss}) {
    for (Op op : {Op::Write, Op::Read, Op::Sync}) {
      if (mode == TFaultMode::PowerLoss && op != Op::Sync) continue;
      // Syncs happen with ForceBufferFlush on.
      session_->SetForceBufferFlush(op == Op::Sync);
      // How many calls of the kind a clean run makes.
      const std::string probe = "P" + std::to_string(runs++);
      EXPECT_EQ(RunFaultScenario(*directory_, fault, op, 1'000'000'000, false, mode, probe), "");
      const int64_t calls = fault.Count(op);
      for (bool sticky : {false, true}) {
        // The power goes for good.
        if (mode == TFaultMode::PowerLoss && !sticky) continue;
        for (int64_t n = 1; n <= calls; n += step) {
          const std::string name = "F" + std::to_string(runs++);
          const std::string problem =
              RunFaultScenario(*directory_, fault, op, n, sticky, mode, name);
          if (problem.empty()) continue;
          // Only a failure that lasts can keep the table from being restored.
          if (problem == kNeedsRepair && sticky) {
            ++repairs;
            continue;
          }
          const std::string kind = problem.substr(0, 40);
          if (++problems[kind] == 1) {
            ADD_FAILURE() << "mode " << static_cast<int>(mode) << " op " << static_cast<int>(op)
                          << " n " << n << " sticky " << sticky << ": " << problem;
          }
        }
      }
    }
  }
  platform::SetFileSystem(&fs_);
  session_->SetForceBufferFlush(false);
  for (const auto& [problem, count] : problems) ADD_FAILURE() << count << "x " << problem;
  EXPECT_GT(runs, 100);
  EXPECT_LT(repairs * 4, runs) << "most failures are taken back";
}

//! Three tables of one directory with memos, before and after ChangeThree.
const std::vector<std::string> kTables = {"ORDERS", "ITEMS", "NOTES"};
const std::vector<std::vector<std::string>> kBefore = {
    {"Ann:ann memo", "Bob:bob memo"}, {"Cid:cid memo"}, {}};
const std::vector<std::vector<std::string>> kAfter = {
    {"Ada:ada memo", "Dan:dan memo"}, {"Cid:cid memo", "Eve:eve memo"}, {"Fay:fay memo"}};

TEST_F(CursorEditTest, TransactionsOverSeveralTablesCommitOrRollBackWhole) {
  std::vector<std::unique_ptr<TDataCursor>> c;
  for (const std::string& name : kTables) {
    Create(name, PeopleDefinition());
    c.push_back(OpenOn(name));
  }
  SeedThree(c);
  auto contents = [&] {
    std::vector<std::vector<std::string>> all;
    for (auto& cursor : c) all.push_back(Contents(*cursor));
    return all;
  };

  directory_->StartTransaction();
  ChangeThree(c);
  EXPECT_EQ(contents(), kAfter);
  EXPECT_EQ(c[2]->GetRecordCount(), 1);
  directory_->Rollback();
  EXPECT_FALSE(directory_->InTransaction());
  EXPECT_EQ(contents(), kBefore);
  EXPECT_EQ(c[0]->GetRecordCount(), 2);
  EXPECT_EQ(c[2]->GetRecordCount(), 0);
  for (auto& cursor : c) ExpectSound(*cursor);

  directory_->StartTransaction();
  ChangeThree(c);
  directory_->Commit(true, false);
  EXPECT_FALSE(directory_->InTransaction());
  for (auto& cursor : c) cursor->CloseCursor(false);
  for (const std::string& name : kTables) {
    TTableVerifyReport report = VerifyTable(*directory_, name);
    EXPECT_TRUE(report.Clean()) << name << ": " << report.Describe();
  }
  for (size_t i = 0; i < kTables.size(); ++i) c[i] = OpenOn(kTables[i]);
  EXPECT_EQ(contents(), kAfter);
  EXPECT_EQ(c[0]->GetRecordCount(), 2);
}

TEST_F(CursorEditTest, FailedTransactionStartsAndCommitsAreAllOrNothing) {
  using Op = platform::FaultFileSystem::Operation;
  platform::FaultFileSystem fault(fs_);
  platform::SetFileSystem(&fault);
  // One run: three tables seeded, changed in a transaction whose commit meets
  // the nth failing call of op (none for a huge n). Returns the calls of op the
  // commit made, and whether it raised.
  int run = 0;
  auto commit_run = [&](Op op, int64_t n, bool* raised) {
    std::vector<std::string> names;
    std::vector<std::unique_ptr<TDataCursor>> c;
    for (const std::string& table : kTables) {
      names.push_back(table + std::to_string(run));
      Create(names.back(), PeopleDefinition());
      c.push_back(OpenOn(names.back()));
    }
    ++run;
    SeedThree(c);
    directory_->StartTransaction();
    ChangeThree(c);
    fault.FailNth(op, n);
    *raised = CodeRaisedBy([&] { directory_->Commit(true, op == Op::Sync); }) != 0;
    const int64_t calls = fault.Count(op);
    fault.Disarm();
    EXPECT_FALSE(directory_->InTransaction());
    for (auto& cursor : c) {
      EXPECT_FALSE(cursor->Table()->InTransaction());
      EXPECT_FALSE(cursor->Table()->TransactionLockHeld());
      EXPECT_FALSE(cursor->Table()->WriteLocked());
    }
    // Closing flushes whatever the buffers still hold: nothing of the
    // transaction may reach the disk that way.
    for (auto& cursor : c) cursor->CloseCursor(false);
    std::vector<std::vector<std::string>> disk;
    for (const std::string& name : names) {
      TTableVerifyReport report = VerifyTable(*directory_, name);
      EXPECT_TRUE(report.Clean()) << static_cast<int>(op) << " " << n << " " << name << ": "
                                  << report.Describe();
      disk.push_back(Contents(*OpenOn(name)));
    }
    EXPECT_EQ(disk, *raised ? kBefore : kAfter) << "op " << static_cast<int>(op) << " n " << n;
    return calls;
  };
  int failed = 0;
  for (Op op : {Op::Write, Op::Sync}) {
    bool raised = true;
    const int64_t calls = commit_run(op, 1'000'000'000, &raised);
    EXPECT_FALSE(raised);
    EXPECT_GT(calls, 3);
    for (int64_t n = 1; n <= calls; ++n) {
      commit_run(op, n, &raised);
      failed += raised ? 1 : 0;
    }
  }
  EXPECT_GT(failed, 0);

  // A start that fails part-way leaves no table in a transaction.
  std::vector<std::unique_ptr<TDataCursor>> c;
  for (const std::string& name : kTables) {
    Create(name, PeopleDefinition());
    c.push_back(OpenOn(name));
  }
  fault.FailNth(Op::Read, 1'000'000'000);
  directory_->StartTransaction();
  const int64_t reads = fault.Count(Op::Read);
  directory_->Rollback();
  EXPECT_GT(reads, 0);
  int failed_starts = 0;
  for (int64_t n = 1; n <= reads; ++n) {
    fault.FailNth(Op::Read, n);
    if (CodeRaisedBy([&] { directory_->StartTransaction(); }) == 0) {
      fault.Disarm();
      directory_->Rollback();
      continue;
    }
    ++failed_starts;
    EXPECT_FALSE(directory_->InTransaction());
    for (auto& cursor : c) {
      EXPECT_FALSE(cursor->Table()->InTransaction()) << n;
      EXPECT_FALSE(cursor->Table()->TransactionLockHeld()) << n;
    }
  }
  fault.Disarm();
  EXPECT_GT(failed_starts, 0);
  AddWithMemo(*c[0], "Ann", "after the failures");
  EXPECT_EQ(Contents(*c[0]), std::vector<std::string>{"Ann:after the failures"});

  // A commit whose write lock cannot be had on one table (another program
  // reads it) releases the locks it took and keeps the transaction.
  test::PeerProgram peer(dir_.path(), kTables[0]);
  ASSERT_TRUE(peer.ready());
  session_->SetTableLockTiming({20, 1});
  directory_->StartTransaction();
  AddWithMemo(*c[0], "Bea", "pending");
  AddWithMemo(*c[2], "Cal", "pending");
  ASSERT_EQ(peer.Do(test::PeerProgram::kReadLock), 0);
  EXPECT_EQ(CodeRaisedBy([&] { directory_->Commit(true, false); }), VEVURA_LOCKTIMEOUT);
  EXPECT_TRUE(directory_->InTransaction());
  for (auto& cursor : c) {
    EXPECT_TRUE(cursor->Table()->InTransaction());
    EXPECT_FALSE(cursor->Table()->WriteLocked());
  }
  ASSERT_EQ(peer.Do(test::PeerProgram::kReadUnlock), 0);
  directory_->Commit(true, false);
  EXPECT_GE(peer.Do(test::PeerProgram::kWriteLock), 0);  // 1: it saw the commit
  EXPECT_EQ(peer.Do(test::PeerProgram::kWriteUnlock), 0);
  session_->SetTableLockTiming(TBoundedLockTiming{});
  for (auto& cursor : c) cursor->CloseCursor(false);
  EXPECT_EQ(Contents(*OpenOn(kTables[0])),
            (std::vector<std::string>{"Ann:after the failures", "Bea:pending"}));
  EXPECT_EQ(Contents(*OpenOn(kTables[2])), std::vector<std::string>{"Cal:pending"});
  platform::SetFileSystem(&fs_);
}

TEST_F(CursorEditTest, EncryptedTableNeedsItsPassword) {
  TTableDefinition definition = PeopleDefinition();
  definition.Encrypted = true;
  definition.Password = "Open Sesame";
  Create("VAULT", definition);
  session_->AddPassword("Open Sesame");
  {
    auto c = OpenOn("VAULT");
    AddWithMemo(*c, "Zebediah", "classified memo text");
    AddWithMemo(*c, "Quentin", "second secret memo");
    AddWithMemo(*c, "Xavier", "third memo");
    std::vector<uint8_t> first = GoTo(*c, 1);
    ASSERT_EQ(c->GetCurrentRecord(first, true), kCursorOnRecord);
    SetStringField(first, F(*c, kName), "Zachariah", 0);
    SetMemo(*c, first, "changed classified memo");
    c->ModifyRecord(first, true, true);
    c->DeleteRecord(GoTo(*c, 3), true);
    ExpectSound(*c);
  }
  for (const char* file : {"VAULT.DAT", "VAULT.IDX", "VAULT.BLB"}) {
    std::ifstream in(PathOf(file), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_FALSE(bytes.empty()) << file;
    // Keys and words may be stored in either case.
    for (char& ch : bytes) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    for (const char* plain : {"ZACHARIAH", "QUENTIN", "CLASSIFIED", "SECRET", "XAVIER"}) {
      EXPECT_EQ(bytes.find(plain), std::string::npos) << plain << " in " << file;
    }
  }
  auto c = OpenOn("VAULT");
  EXPECT_EQ(Contents(*c), (std::vector<std::string>{"Zachariah:changed classified memo",
                                                    "Quentin:second secret memo"}));
  c->CloseCursor(false);

  // Without the password, or with a wrong one, the open is refused; the
  // request is asked until it gives up or the session knows the password.
  session_->RemoveAllPasswords();
  EXPECT_EQ(CodeRaisedBy([&] { OpenOn("VAULT"); }), VEVURA_NOTSUFFTABLERIGHTS);
  session_->AddPassword("open sesame");
  EXPECT_EQ(CodeRaisedBy([&] { OpenOn("VAULT"); }), VEVURA_NOTSUFFTABLERIGHTS);
  c = std::make_unique<TDataCursor>(*directory_);
  c->SetTableName("VAULT");
  int asked = 0;
  c->SetPasswordRequest([&] { return ++asked < 3; });
  EXPECT_EQ(CodeRaisedBy([&] { c->OpenCursor(); }), VEVURA_NOTSUFFTABLERIGHTS);
  EXPECT_EQ(asked, 3);
  EXPECT_FALSE(c->IsOpen());
  asked = 0;
  c->SetPasswordRequest([&] {
    if (++asked == 2) session_->AddPassword("Open Sesame");
    return true;
  });
  c->OpenCursor();
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(c->GetRecordCount(), 2);
}

TEST_F(CursorEditTest, ReadOnlyCursorAndOpenCursorSettersRefuseChanges) {
  Create("PEOPLE", PeopleDefinition());
  AddWithMemo(*OpenOn("PEOPLE"), "Ann", "ann memo");
  TDataCursor c(*directory_);
  c.SetTableName("PEOPLE");
  c.SetReadOnly(true);
  c.OpenCursor();
  std::vector<uint8_t> ann = GoTo(c, 1);
  std::vector<uint8_t> other = Person(c, "Bob", "B");
  EXPECT_EQ(CodeRaisedBy([&] { c.InsertRecord(other, true); }), VEVURA_OSEACCES);
  SetStringField(ann, F(c, kName), "Changed", 0);
  SetMemo(c, ann, "a memo");
  EXPECT_EQ(CodeRaisedBy([&] { c.ModifyRecord(ann, true, true); }), VEVURA_OSEACCES);
  c.CancelEdit();
  EXPECT_EQ(CodeRaisedBy([&] { c.DeleteRecord(GoTo(c, 1), true); }), VEVURA_OSEACCES);
  EXPECT_EQ(Contents(c), std::vector<std::string>{"Ann:ann memo"});

  // The table's properties are fixed while the cursor is open.
  EXPECT_EQ(CodeRaisedBy([&] { c.SetTableName("OTHER"); }), VEVURA_TABLEOPEN);
  EXPECT_EQ(CodeRaisedBy([&] { c.SetExclusive(true); }), VEVURA_TABLEOPEN);
  EXPECT_EQ(CodeRaisedBy([&] { c.SetReadOnly(false); }), VEVURA_TABLEOPEN);
  EXPECT_EQ(CodeRaisedBy([&] { c.SetInMemory(true); }), VEVURA_TABLEOPEN);
  EXPECT_EQ(CodeRaisedBy([&] { c.SetRecordNumberOrder(true); }), VEVURA_TABLEOPEN);
  EXPECT_EQ(c.TableName(), "PEOPLE");
  EXPECT_FALSE(c.Exclusive());
  EXPECT_TRUE(c.ReadOnly());
  EXPECT_FALSE(c.InMemory());
  EXPECT_FALSE(c.RecordNumberOrder());
  EXPECT_EQ(CodeRaisedBy([&] { c.InsertRecord(other, true); }), VEVURA_OSEACCES);
  c.CloseCursor(false);
  c.SetReadOnly(false);
  c.OpenCursor();
  c.InsertRecord(other, true);
  EXPECT_EQ(c.GetRecordCount(), 2);
}

TEST_F(CursorEditTest, InMemoryTableIsSharedBySessions) {
  TDataDirectory* memory = session_->OpenDataDirectory(kMemoryDatabaseName, "");
  TDataSession other_session;
  TDataDirectory* other_memory = other_session.OpenDataDirectory(kMemoryDatabaseName, "");
  TTableTarget target;
  target.TableName = "SHARED";
  target.InMemory = true;
  target.Exclusive = true;
  CreateTable(*memory, target, PeopleDefinition());
  auto open = [](TDataDirectory& directory) {
    auto c = std::make_unique<TDataCursor>(directory);
    c->SetTableName("SHARED");
    c->SetInMemory(true);
    c->OpenCursor();
    return c;
  };
  auto mine = open(*memory);
  auto theirs = open(*other_memory);
  // A refresh shows the other session's post; with strict change detection
  // every navigation does.
  AddWithMemo(*mine, "Ann", "posted here");
  theirs->Refresh();
  EXPECT_EQ(Contents(*theirs), std::vector<std::string>{"Ann:posted here"});
  session_->SetStrictChangeDetection(true);
  AddWithMemo(*theirs, "Bob", "posted there");
  EXPECT_EQ(mine->GetRecordCount(), 2);
  session_->SetStrictChangeDetection(false);
  EXPECT_EQ(Contents(*mine), (std::vector<std::string>{"Ann:posted here", "Bob:posted there"}));
  EXPECT_FALSE(std::filesystem::exists(PathOf("SHARED.DAT")));
  mine.reset();
  theirs.reset();
  EXPECT_TRUE(VerifyTable(*memory, "SHARED", true).Clean());
  EXPECT_EQ(memory->DeleteTable("SHARED", true), 0);
}

TEST_F(CursorEditTest, ReadOnlyDataFileWithoutIndexFileOpensReadOnly) {
  Create("FIXED", PeopleDefinition());
  {
    auto c = OpenOn("FIXED");
    AddWithMemo(*c, "Ann", "ann memo");
    AddWithMemo(*c, "Bob", "bob memo");
  }
  for (const char* file : {"FIXED.DAT", "FIXED.BLB"}) {
    std::filesystem::permissions(PathOf(file), std::filesystem::perms::owner_read);
  }
  std::filesystem::remove(PathOf("FIXED.IDX"));
  auto c = OpenOn("FIXED");
  EXPECT_TRUE(c->Table()->ReadOnly());
  EXPECT_EQ(c->GetRecordCount(), 2);
  EXPECT_EQ(Contents(*c), (std::vector<std::string>{"Ann:ann memo", "Bob:bob memo"}));
  std::vector<uint8_t> record = Person(*c, "Cid", "C");
  EXPECT_EQ(CodeRaisedBy([&] { c->InsertRecord(record, true); }), VEVURA_OSEACCES);
  EXPECT_EQ(CodeRaisedBy([&] { c->DeleteRecord(GoTo(*c, 1), true); }), VEVURA_OSEACCES);
  c.reset();
  // The new index file is complete: a second open reads the same.
  c = OpenOn("FIXED");
  EXPECT_EQ(Contents(*c), (std::vector<std::string>{"Ann:ann memo", "Bob:bob memo"}));
  c.reset();
  for (const char* file : {"FIXED.DAT", "FIXED.BLB"}) {
    std::filesystem::permissions(PathOf(file), std::filesystem::perms::owner_all);
  }
}

TEST_F(CursorEditTest, InsertBeyondTheRecordLimitRaisesTableFull) {
  Create("PEOPLE", PeopleDefinition());
  auto c = OpenOn("PEOPLE", true);
  AddWithMemo(*c, "Ann", "ann memo");
  TDataFile& data = c->Table()->DataFile();
  const int32_t next = data.Header().NextRecordNumber;
  const int32_t last_row_id = data.LastAutoIncValue();
  // The table as if it held kMaxRecordNumber slots: the next one is too many.
  data.MutableHeader().NextRecordNumber = kMaxRecordNumber + 1;
  std::vector<uint8_t> record = Person(*c, "Bob", "B");
  SetMemo(*c, record, "bob memo");
  EXPECT_EQ(CodeRaisedBy([&] { c->InsertRecord(record, true); }), VEVURA_TABLEFULL);
  EXPECT_EQ(data.Header().NextRecordNumber, kMaxRecordNumber + 1);
  EXPECT_EQ(data.LastAutoIncValue(), last_row_id);
  data.MutableHeader().NextRecordNumber = next;
  c->CloseBlob(kNotes, record);
  EXPECT_EQ(Contents(*c), std::vector<std::string>{"Ann:ann memo"});
  c.reset();
  EXPECT_TRUE(VerifyTable(*directory_, "PEOPLE").Clean());
  c = OpenOn("PEOPLE");
  AddWithMemo(*c, "Bob", "bob memo");
  EXPECT_EQ(Contents(*c), (std::vector<std::string>{"Ann:ann memo", "Bob:bob memo"}));
}
}  // namespace
}  // namespace vevura
