// Positioning and reading through cursors: the ends, ranges, key searches,
// other indexes, bookmarks, clones, record-number order and refreshes after
// another user's change.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "engine/core/data_cursor.h"
#include "engine/core/table_create.h"
#include "engine/storage/data/record_storage.h"
#include "engine/storage/file/table_file_names.h"
#include "tests/engine/core/core_test_support.h"
#include "tests/engine/core/table_create_support.h"

namespace vevura::test {
namespace {

// ID (auto-increment, primary), N (integer, index "NUM"), CITY and NAME
// (index "CITYNAME" over both).
TTableDefinition PeopleDefinition() {
  TTableDefinition d = ComponentDefinition({
      FieldDef(1, "ID", fcInteger, fsAutoInc),
      FieldDef(2, "N", fcInteger),
      FieldDef(3, "CITY", fcString, fsNone, 10),
      FieldDef(4, "NAME", fcString, fsNone, 20),
  });
  d.Indexes[0] = IndexDef("", {1}, true);
  d.Indexes[1] = IndexDef("NUM", {2});
  d.Indexes[2] = IndexDef("CITYNAME", {3, 4});
  d.SecondaryIndexCount = 2;
  return d;
}

class CursorReadTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    TTableTarget target;
    target.TableName = "people";
    target.Exclusive = true;
    CreateTable(*directory_, target, PeopleDefinition());
  }

  std::unique_ptr<TDataCursor> OpenCursor(TDataDirectory& directory, bool record_order = false) {
    auto cursor = std::make_unique<TDataCursor>(directory);
    cursor->SetTableName("people");
    cursor->SetRecordNumberOrder(record_order);
    cursor->OpenCursor();
    return cursor;
  }

  const TFieldDescriptor& FieldOf(TDataCursor& cursor, int number) {
    return cursor.Fields()[static_cast<size_t>(number - 1)];
  }

  std::vector<uint8_t> Record(TDataCursor& cursor, int32_t n, const std::string& city,
                              const std::string& name) {
    std::vector<uint8_t> record(cursor.RecordSize());
    cursor.InitRecord(record);
    SetIntegerField(record, FieldOf(cursor, 2), n);
    SetStringField(record, FieldOf(cursor, 3), city, 0);
    SetStringField(record, FieldOf(cursor, 4), name, 0);
    return record;
  }

  void Insert(TDataCursor& cursor, int32_t n, const std::string& city, const std::string& name) {
    std::vector<uint8_t> record = Record(cursor, n, city, name);
    cursor.InsertRecord(record, true);
  }

  int32_t CurrentN(TDataCursor& cursor) {
    return GetIntegerField(cursor.CurrentRecord(), FieldOf(cursor, 2));
  }
  std::string CurrentName(TDataCursor& cursor) {
    return GetStringField(cursor.CurrentRecord(), FieldOf(cursor, 4));
  }

  //! N of every record in the cursor's order, walking forward.
  std::vector<int32_t> WalkN(TDataCursor& cursor) {
    std::vector<int32_t> seen;
    std::vector<uint8_t> buffer(cursor.RecordSize());
    cursor.First();
    while (cursor.Next(buffer) == kCursorOnRecord) {
      seen.push_back(GetIntegerField(buffer, FieldOf(cursor, 2)));
    }
    return seen;
  }
};

TEST_F(CursorReadTest, EndsOfAnEmptyAndOfAFilledTable) {
  auto cursor = OpenCursor(*directory_);
  std::vector<uint8_t> buffer(cursor->RecordSize(), 0xAA);
  EXPECT_TRUE(cursor->AtBeginning());
  EXPECT_TRUE(cursor->AtEnd());
  EXPECT_EQ(cursor->Next(buffer), VEVURA_EOF);
  EXPECT_EQ(buffer, std::vector<uint8_t>(cursor->RecordSize(), 0));
  EXPECT_EQ(cursor->GetCurrentRecord(buffer, false), VEVURA_NOCURRREC);
  EXPECT_EQ(cursor->GetRecordCount(), 0);

  for (int i = 1; i <= 3; ++i) Insert(*cursor, i * 10, "X", "n" + std::to_string(i));
  auto fresh = OpenCursor(*directory_);
  EXPECT_EQ(fresh->Prior(buffer), VEVURA_BOF);
  EXPECT_EQ(fresh->Next(buffer), kCursorOnRecord);
  EXPECT_EQ(GetIntegerField(buffer, FieldOf(*fresh, 2)), 10);
  fresh->Last();
  EXPECT_EQ(fresh->GetCurrentRecord(buffer, false), VEVURA_EOF);
  EXPECT_EQ(fresh->Prior(buffer), kCursorOnRecord);
  EXPECT_EQ(GetIntegerField(buffer, FieldOf(*fresh, 2)), 30);
  EXPECT_EQ(fresh->Next(buffer), VEVURA_EOF);
  EXPECT_EQ(fresh->Next(buffer), VEVURA_EOF);
  EXPECT_TRUE(fresh->AtEnd());
}

TEST_F(CursorReadTest, RangeCountsPlacesAndSetRecNo) {
  auto cursor = OpenCursor(*directory_);
  // Inserted out of order so that index order differs from record order.
  for (int i = 30; i >= 1; --i) Insert(*cursor, i, "C", "n");
  cursor->SwitchToIndex("num");
  EXPECT_EQ(cursor->ActiveIndexName(), "NUM");
  EXPECT_EQ(cursor->GetRecordCount(), 30);

  std::vector<uint8_t> low = Record(*cursor, 10, "", "");
  std::vector<uint8_t> high = Record(*cursor, 20, "", "");
  cursor->SetRange(false, low, 1, high, 1);
  EXPECT_TRUE(cursor->RangeActive());
  EXPECT_EQ(cursor->GetRecordCount(), 11);
  std::vector<int32_t> expected;
  for (int i = 10; i <= 20; ++i) expected.push_back(i);
  EXPECT_EQ(WalkN(*cursor), expected);
  cursor->First();
  std::vector<uint8_t> buffer(cursor->RecordSize());
  ASSERT_EQ(cursor->Next(buffer), kCursorOnRecord);
  EXPECT_EQ(cursor->GetRecNo(), 1);
  cursor->Last();
  ASSERT_EQ(cursor->Prior(buffer), kCursorOnRecord);
  EXPECT_EQ(CurrentN(*cursor), 20);
  EXPECT_EQ(cursor->GetRecNo(), 11);
  EXPECT_TRUE(cursor->SetRecNo(5));
  EXPECT_EQ(CurrentN(*cursor), 14);
  EXPECT_FALSE(cursor->SetRecNo(50));
  EXPECT_EQ(CurrentN(*cursor), 20);

  // A search outside the range lands inside it.
  std::vector<uint8_t> key = Record(*cursor, 25, "", "");
  EXPECT_FALSE(cursor->FindKey(key, false, 1, 0, true, {}));
  EXPECT_EQ(CurrentN(*cursor), 20);

  cursor->CancelRange();
  EXPECT_EQ(CurrentN(*cursor), 20);
  EXPECT_EQ(cursor->GetRecordCount(), 30);
  EXPECT_EQ(cursor->GetRecNo(), 20);
}

TEST_F(CursorReadTest, FindKeyFullPartialAndNearest) {
  auto cursor = OpenCursor(*directory_);
  Insert(*cursor, 5, "Berlin", "Ute");
  Insert(*cursor, 7, "Aachen", "Zoe");
  Insert(*cursor, 9, "Berlin", "Anna");
  Insert(*cursor, 3, "Bonn", "Karl");

  // Primary index: exact, and nearest above every key stands on the last.
  std::vector<uint8_t> buffer(cursor->RecordSize());
  std::vector<uint8_t> probe(cursor->RecordSize());
  SetIntegerField(probe, FieldOf(*cursor, 1), 3);
  EXPECT_TRUE(cursor->FindKey(probe, false, 0, 0, false, buffer));
  EXPECT_EQ(GetIntegerField(buffer, FieldOf(*cursor, 2)), 9);
  SetIntegerField(probe, FieldOf(*cursor, 1), 1000);
  EXPECT_FALSE(cursor->FindKey(probe, false, 0, 0, true, {}));
  EXPECT_EQ(CurrentN(*cursor), 3);

  // The first field of a two-field index finds the first entry of that city.
  cursor->SwitchToIndex("CITYNAME");
  std::vector<uint8_t> city = Record(*cursor, 0, "Berlin", "");
  EXPECT_TRUE(cursor->FindKey(city, false, 1, 0, false, buffer));
  EXPECT_EQ(GetStringField(buffer, FieldOf(*cursor, 4)), "Anna");
  // Leading characters of the second field.
  std::vector<uint8_t> partial = Record(*cursor, 0, "Berlin", "Uxx");
  EXPECT_TRUE(cursor->FindKey(partial, false, 1, 1, false, {}));
  EXPECT_EQ(CurrentName(*cursor), "Ute");
  std::vector<uint8_t> missing = Record(*cursor, 0, "Bremen", "");
  EXPECT_FALSE(cursor->FindKey(missing, false, 1, 0, false, {}));
  // Not available in record-number order.
  auto by_number = OpenCursor(*directory_, true);
  EXPECT_TRUE(by_number->RecordNumberOrder());
  EXPECT_FALSE(by_number->FindKey(city, false, 1, 0, false, {}));
}

TEST_F(CursorReadTest, SwitchingIndexesKeepsTheRecordAndRefusesUnknownNames) {
  auto cursor = OpenCursor(*directory_);
  Insert(*cursor, 2, "B", "b");
  Insert(*cursor, 1, "C", "c");
  Insert(*cursor, 3, "A", "a");
  std::vector<uint8_t> probe(cursor->RecordSize());
  SetIntegerField(probe, FieldOf(*cursor, 1), 2);
  ASSERT_TRUE(cursor->FindKey(probe, false, 0, 0, false, {}));
  ASSERT_EQ(CurrentN(*cursor), 1);

  cursor->SwitchToIndex("CITYNAME");
  EXPECT_EQ(CurrentN(*cursor), 1);
  EXPECT_EQ(cursor->GetRecNo(), 3);
  EXPECT_EQ(CodeRaisedBy([&] { cursor->SwitchToIndex("NOPE"); }), VEVURA_INVALIDINDEXNAME);
  EXPECT_EQ(cursor->ActiveIndexName(), "CITYNAME");
  EXPECT_EQ(cursor->ActiveIndex(), 2);
  EXPECT_EQ(CurrentN(*cursor), 1);
  cursor->SwitchToIndex("");
  EXPECT_EQ(cursor->ActiveIndex(), 0);
  EXPECT_EQ(cursor->GetRecNo(), 2);
}

TEST_F(CursorReadTest, BookmarksAndClones) {
  auto cursor = OpenCursor(*directory_);
  for (int i = 1; i <= 10; ++i) Insert(*cursor, 100 - i, "X", "n");
  cursor->SwitchToIndex("NUM");
  ASSERT_TRUE(cursor->SetRecNo(4));
  TBookmark fourth = cursor->GetBookmark();
  ASSERT_TRUE(cursor->SetRecNo(7));
  TBookmark seventh = cursor->GetBookmark();
  EXPECT_EQ(cursor->CompareBookmarks(fourth, seventh), -1);
  EXPECT_EQ(cursor->CompareBookmarks(seventh, fourth), 1);
  EXPECT_EQ(cursor->CompareBookmarks(fourth, fourth), 0);

  std::unique_ptr<TDataCursor> clone = cursor->CloneCursor();
  EXPECT_EQ(clone->ActiveIndexName(), "NUM");
  EXPECT_EQ(clone->RecordNumber(), cursor->RecordNumber());
  EXPECT_TRUE(clone->GotoBookmark(fourth, false));
  EXPECT_EQ(clone->GetRecNo(), 4);
  EXPECT_EQ(cursor->GetRecNo(), 7);

  // The bookmarked record deleted: exact fails, nearest lands on the next.
  std::vector<uint8_t> buffer(cursor->RecordSize());
  ASSERT_EQ(cursor->GetCurrentRecord(buffer, false), kCursorOnRecord);
  int32_t deleted_n = CurrentN(*cursor);
  cursor->DeleteRecord(buffer, true);
  EXPECT_FALSE(clone->GotoBookmark(seventh, false));
  EXPECT_EQ(CurrentN(*clone), deleted_n + 1);
  EXPECT_EQ(cursor->GetRecordCount(), 9);
}

TEST_F(CursorReadTest, RecordNumberOrderWalksActiveSlots) {
  auto cursor = OpenCursor(*directory_);
  for (int i = 1; i <= 6; ++i) Insert(*cursor, 60 - i, "X", "n");
  auto by_number = OpenCursor(*directory_, true);
  std::vector<uint8_t> buffer(cursor->RecordSize());
  ASSERT_TRUE(by_number->SetRecNo(3));
  ASSERT_EQ(by_number->GetCurrentRecord(buffer, false), kCursorOnRecord);
  by_number->DeleteRecord(buffer, true);
  EXPECT_EQ(WalkN(*by_number), (std::vector<int32_t>{59, 58, 56, 55, 54}));
  EXPECT_EQ(by_number->GetRecordCount(), 5);
  ASSERT_TRUE(by_number->SetRecNo(3));
  EXPECT_EQ(by_number->RecordNumber(), 4);
  TBookmark fourth = by_number->GetBookmark();
  by_number->First();
  EXPECT_TRUE(by_number->GotoBookmark(fourth, false));
  EXPECT_EQ(by_number->GetRecNo(), 3);
}

TEST_F(CursorReadTest, StepsReadAheadUnderOneLockYetShowAnotherUsersChanges) {
  // N in an order far from the record order, over more records than the
  // reader's cache holds.
  const int32_t kRecords = 2000;
  auto writer = OpenCursor(*directory_);
  for (int32_t i = 0; i < kRecords; ++i) Insert(*writer, (i * 997) % kRecords, "X", "n");
  writer->SwitchToIndex("NUM");

  // Another user, whose cache starts empty: a walk takes the read lock a
  // few times, not once per record or two.
  TDataSession reader_session;
  auto reader = OpenCursor(*reader_session.OpenDataDirectory("", dir_.path()));
  reader->SwitchToIndex("NUM");
  ASSERT_LT(reader->Table()->DataFile().Records().Cache().Capacity(), kRecords / 2);
  const int64_t calls = fs_.TotalCalls();
  EXPECT_EQ(WalkN(*reader), [&] {
    std::vector<int32_t> all(kRecords);
    for (int32_t n = 0; n < kRecords; ++n) all[n] = n;
    return all;
  }());
  EXPECT_LT(fs_.TotalCalls() - calls, kRecords / 20);

  // With strict change detection every step shows the records as they are,
  // also those read ahead before the writer changed them.
  reader_session.SetStrictChangeDetection(true);
  std::vector<uint8_t> buffer(reader->RecordSize());
  reader->First();
  for (int32_t n = 0; n < 200; ++n) {
    ASSERT_EQ(reader->Next(buffer), kCursorOnRecord);
    ASSERT_EQ(GetIntegerField(buffer, FieldOf(*reader, 2)), n);
    ASSERT_EQ(GetStringField(buffer, FieldOf(*reader, 4)), n == 0 ? "n" : "s" + std::to_string(n))
        << n;
    std::vector<uint8_t> next = Record(*writer, n + 1, "", "");
    ASSERT_TRUE(writer->FindKey(next, false, 1, 0, false, buffer));
    ASSERT_EQ(writer->GetCurrentRecord(buffer, true), kCursorOnRecord);
    SetStringField(buffer, FieldOf(*writer, 4), "s" + std::to_string(n + 1), 0);
    writer->ModifyRecord(buffer, true, true);
  }
}

TEST_F(CursorReadTest, RefreshAfterAnotherUsersDeleteStandsOnTheFollowingRecord) {
  auto cursor = OpenCursor(*directory_);
  for (int i = 1; i <= 5; ++i) Insert(*cursor, i, "X", "n");
  cursor->SwitchToIndex("NUM");
  ASSERT_TRUE(cursor->SetRecNo(3));

  // Another user: a session of its own, with its own files and locks.
  TDataSession other_session;
  TDataDirectory* other_directory = other_session.OpenDataDirectory("", dir_.path());
  {
    auto other = OpenCursor(*other_directory);
    other->SwitchToIndex("NUM");
    ASSERT_TRUE(other->SetRecNo(3));
    std::vector<uint8_t> buffer(other->RecordSize());
    ASSERT_EQ(other->GetCurrentRecord(buffer, false), kCursorOnRecord);
    other->DeleteRecord(buffer, true);
    Insert(*other, 0, "X", "new");
  }
  cursor->Refresh();
  EXPECT_EQ(CurrentN(*cursor), 4);
  EXPECT_EQ(WalkN(*cursor), (std::vector<int32_t>{0, 1, 2, 4, 5}));
  EXPECT_EQ(cursor->GetRecordCount(), 5);
}

TEST_F(CursorReadTest, ARecordOtherThanItsEntrysIsIndexDamage) {
  auto cursor = OpenCursor(*directory_);
  for (int i = 1; i <= 6; ++i) Insert(*cursor, i * 10, "C", "n" + std::to_string(i));
  // A cursor still standing on the record it deleted reads it as before.
  std::vector<uint8_t> buffer(cursor->RecordSize());
  Insert(*cursor, 70, "C", "gone");
  ASSERT_EQ(cursor->GetCurrentRecord(buffer, false), kCursorOnRecord);
  cursor->DeleteRecord(buffer, false);
  EXPECT_EQ(CodeRaisedBy([&] { cursor->GetCurrentRecord(buffer, false); }), 0);
  cursor->CloseCursor(false);

  // Records 2 and 3 change slots on disk behind the indexes' back.
  {
    const auto size = static_cast<std::streamsize>(buffer.size());
    const int64_t second = RecordAreaOffset(4) + size;
    std::fstream file(DataFileName(dir_.path(), "people"),
                      std::ios::in | std::ios::out | std::ios::binary);
    std::vector<char> a(buffer.size()), b(buffer.size());
    file.seekg(second);
    file.read(a.data(), size);
    file.read(b.data(), size);
    file.seekp(second);
    file.write(b.data(), size);
    file.write(a.data(), size);
    ASSERT_TRUE(file.good());
  }
  cursor = OpenCursor(*directory_);
  // The primary index (the auto-increment value) names record 2 first.
  EXPECT_EQ(cursor->Next(buffer), kCursorOnRecord);
  EXPECT_EQ(CodeRaisedBy([&] { cursor->Next(buffer); }), VEVURA_INDEXCORRUPT);
  cursor->Last();
  EXPECT_EQ(CodeRaisedBy([&] {
              while (cursor->Prior(buffer) == kCursorOnRecord) {
              }
            }),
            VEVURA_INDEXCORRUPT);
  // A key that is not unique ends with the row id: N 30 names record 3.
  cursor->First();
  cursor->SwitchToIndex("NUM");
  std::vector<uint8_t> probe = Record(*cursor, 30, "", "");
  EXPECT_EQ(CodeRaisedBy([&] { cursor->FindKey(probe, false, 1, 0, false, buffer); }),
            VEVURA_INDEXCORRUPT);
  // Record-number order has no entries to compare with.
  auto by_number = OpenCursor(*directory_, true);
  EXPECT_EQ(WalkN(*by_number), (std::vector<int32_t>{10, 30, 20, 40, 50, 60}));
}

}  // namespace
}  // namespace vevura::test
