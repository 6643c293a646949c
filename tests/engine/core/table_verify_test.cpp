// The whole-table check: sound tables written through the storage layer
// pass, shared and exclusive, with deferred writes and after closing; each
// kind of damage the storage layer can make is named; damaged files never
// make the check crash or raise.

#include "engine/core/table_verify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/core/data_cursor.h"
#include "engine/core/data_table.h"
#include "engine/core/table_create.h"
#include "engine/core/table_repair.h"
#include "engine/storage/blob/blob_buffer.h"
#include "engine/storage/data/record_storage.h"
#include "engine/storage/fields/record_layout.h"
#include "engine/storage/index/btree.h"
#include "engine/storage/keys/key_builder.h"
#include "engine/storage/keys/key_compare.h"
#include "engine/storage/keys/word_keys.h"
#include "tests/engine/core/core_test_support.h"
#include "tests/engine/core/table_create_support.h"

namespace vevura::test {
namespace {

constexpr const char* kTable = "PARTS";

//! ID (auto-increment, the primary index), NAME (string, the
//! case-insensitive index "NAME"), NOTES (memo), CODE (integer, the unique
//! index "CODE"); the word index covers NAME and NOTES.
TTableDefinition PartsDefinition() {
  TTableDefinition d = ComponentDefinition({
      FieldDef(1, "ID", fcInteger, fsAutoInc),
      FieldDef(2, "NAME", fcString, fsNone, 20),
      FieldDef(3, "NOTES", fcBlob, fsMemo),
      FieldDef(4, "CODE", fcInteger),
  });
  d.Indexes[0] = IndexDef("", {1}, true);
  d.Indexes[1] = IndexDef("NAME", {2}, false, true);
  d.Indexes[2] = IndexDef("CODE", {4}, true);
  d.SecondaryIndexCount = 2;
  d.Indexes[kTextIndex].FieldNumbers[0] = 2;
  d.Indexes[kTextIndex].FieldNumbers[1] = 3;
  return d;
}

//! Inserts and deletes records the way a cursor does, straight through the
//! storage layer: record slot, row id, BLOB, every index, the counts.
class TableWriter {
 public:
  explicit TableWriter(TDataTable& table) : table_(table) {
    for (uint8_t n : {uint8_t{0}, uint8_t{1}, uint8_t{2}, kSlotIndex, kTextIndex}) {
      contexts_[n] = std::make_unique<TKeyContext>(
          MakeKeyContext(Data().LanguageId(), Data().SortId(), n,
                         table.IndexFile().GetIndexDescriptor(n), Data().Fields(), kTable));
      comparers_[n] = std::make_unique<TIndexKeyComparer>(*contexts_[n]);
    }
    rules_ = std::make_unique<TTextIndexRules>(
        ReadTextIndexRules(table.IndexFile(), Data().LanguageId(), Data().SortId()));
  }

  TDataFile& Data() { return table_.DataFile(); }
  const TFieldDescriptor& Field(int n) { return Data().Fields()[static_cast<size_t>(n - 1)]; }
  const TKeyContext& Context(uint8_t n) { return *contexts_[n]; }
  TBTree Tree(uint8_t n) { return TBTree(table_.IndexFile(), n, *comparers_[n], path_); }

  //! A new record; returns its record number.
  int32_t Insert(const std::string& name, int32_t code, const std::string& notes) {
    table_.WriteLock();
    TRecordStorage& records = Data().Records();
    const int32_t number = records.NextInsertRecord();
    const bool reused = number < Data().Header().NextRecordNumber;
    const std::vector<uint8_t> old = reused ? Image(number) : std::vector<uint8_t>();
    TRecordRef record(records, records.AllocateRecord(nullptr));
    std::span<uint8_t> image = record->MutableData();
    std::fill(image.begin(), image.end(), 0);
    SetRecordLink(image, number);
    SetRecordRowId(image, Data().NextAutoIncValue());
    SetStringField(image, Field(2), name, 0);
    SetIntegerField(image, Field(4), code);
    if (!notes.empty()) {
      TBlobBuffer blob(table_.BlobFile(), nullptr);
      blob.SetBlobId(Data().NextBlobId());
      blob.SetLength(static_cast<int32_t>(notes.size()));
      std::copy(notes.begin(), notes.end(), blob.MutableData());
      blob.SaveBlob();
      SetBlobField(image, Field(3), {blob.FirstBlock(), blob.BlobId()}, true);
    }
    for (uint8_t n : {0, 1, 2}) Tree(n).InsertKey(BuildKey(Context(n), image).data(), number);
    uint8_t slot[kSlotKeyLength];
    if (reused) {
      BuildSlotKey(old, slot);
      Tree(kSlotIndex).DeleteKey(slot);
    }
    BuildSlotKey(image, slot);
    Tree(kSlotIndex).InsertKey(slot, number);
    TBTree words = Tree(kTextIndex);
    const int32_t row_id = RecordRowId(image);
    AddWordKeys(Context(kTextIndex), *rules_, words, 2, name, number, row_id);
    AddWordKeys(Context(kTextIndex), *rules_, words, 3, notes, number, row_id);
    table_.IndexFile().IncrementRecordCount();
    notes_[number] = notes;
    record.Release();
    table_.ChangesMade(true, true, !notes.empty());
    table_.WriteUnlock();
    return number;
  }

  //! Deletes record number.
  void Erase(int32_t number) {
    table_.WriteLock();
    TRecordStorage& records = Data().Records();
    TRecordRef record(records, records.GetRecord(nullptr, number, rdForward, false, false));
    std::vector<uint8_t> image(record->Data().begin(), record->Data().end());
    for (uint8_t n : {0, 1, 2}) Tree(n).DeleteKey(BuildKey(Context(n), image).data());
    const int32_t row_id = RecordRowId(image);
    for (const auto& key : WordKeys(image)) Tree(kTextIndex).DeleteKey(key.data());
    uint8_t slot[kSlotKeyLength];
    BuildSlotKey(image, slot);
    Tree(kSlotIndex).DeleteKey(slot);
    const TBlobReference blob = GetBlobField(image, Field(3));
    if (blob.FirstBlock != 0) {
      TBlobBuffer buffer(table_.BlobFile(), nullptr);
      buffer.SetFirstBlock(blob.FirstBlock);
      buffer.SetBlobId(blob.BlobId);
      buffer.DeleteBlob();
    }
    records.FreeRecord(record.get());
    SetRecordStatus(image, rsFree);
    SetRecordRowId(image, row_id);
    BuildSlotKey(image, slot);
    Tree(kSlotIndex).InsertKey(slot, number);
    table_.IndexFile().DecrementRecordCount();
    notes_.erase(number);
    record.Release();
    table_.ChangesMade(true, true, blob.FirstBlock != 0);
    table_.WriteUnlock();
  }

  //! The word keys of the record image as the record at its number holds it.
  std::vector<std::vector<uint8_t>> WordKeys(std::span<const uint8_t> image) {
    const int32_t number = RecordLink(image);
    auto keys = BuildWordKeys(Context(kTextIndex), *rules_, 2, GetStringField(image, Field(2)),
                              RecordRowId(image));
    auto memo = BuildWordKeys(Context(kTextIndex), *rules_, 3, notes_[number], RecordRowId(image));
    keys.insert(keys.end(), memo.begin(), memo.end());
    return keys;
  }

  //! A copy of record number as the buffers hold it.
  std::vector<uint8_t> Image(int32_t number) {
    TRecordStorage& records = Data().Records();
    TRecordRef record(records, records.GetRecord(nullptr, number, rdForward, false, false));
    return std::vector<uint8_t>(record->Data().begin(), record->Data().end());
  }
  //! Changes record number in the buffers only (no index follows).
  void Poke(int32_t number, const std::function<void(std::span<uint8_t>)>& change) {
    TRecordStorage& records = Data().Records();
    TRecordRef record(records, records.GetRecord(nullptr, number, rdForward, false, false));
    change(record->MutableData());
  }

 private:
  TDataTable& table_;
  std::map<uint8_t, std::unique_ptr<TKeyContext>> contexts_;
  std::map<uint8_t, std::unique_ptr<TIndexKeyComparer>> comparers_;
  std::unique_ptr<TTextIndexRules> rules_;
  std::map<int32_t, std::string> notes_;
  TBTreePath path_;
};

//! True when some problem line contains every one of the parts.
bool Reports(const TTableVerifyReport& report, std::initializer_list<std::string> parts) {
  return std::any_of(report.Problems.begin(), report.Problems.end(), [&](const std::string& p) {
    return std::all_of(parts.begin(), parts.end(),
                       [&](const std::string& part) { return p.find(part) != std::string::npos; });
  });
}

class TableCheckTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    TTableTarget target;
    target.TableName = kTable;
    target.Exclusive = true;
    CreateTable(*directory_, target, PartsDefinition());
  }
  void TearDown() override {
    writer_.reset();
    if (table_ != nullptr) Close(table_);
    EngineTest::TearDown();
  }

  //! Opens the table and fills it: 40 records, some deleted and their
  //! slots reused, most with notes.
  void OpenAndFill(bool exclusive) {
    table_ = Open(kTable, exclusive);
    ASSERT_NE(table_, nullptr);
    writer_ = std::make_unique<TableWriter>(*table_);
    for (int i = 0; i < 40; ++i) {
      std::string notes = i % 4 == 0 ? "" : "note " + std::to_string(i) + " about gears and bolts";
      if (i % 7 == 3) notes.assign(1500, 'x');  // a chain of several blocks
      numbers_.push_back(
          writer_->Insert(i % 3 == 0 ? "Gear" : "bolt " + std::to_string(i), 1000 + i, notes));
    }
    for (int i : {5, 17, 18, 33}) writer_->Erase(numbers_[static_cast<size_t>(i)]);
    numbers_.push_back(writer_->Insert("washer", 2000, "reuses a slot"));
    numbers_.push_back(writer_->Insert("nut", 2001, "reuses another"));
  }
  //! Closes the table object (writing what it deferred).
  void CloseTable() {
    writer_.reset();
    Close(table_);
    table_ = nullptr;
  }

  TDataTable* table_ = nullptr;
  std::unique_ptr<TableWriter> writer_;
  std::vector<int32_t> numbers_;
};

TEST_F(TableCheckTest, SoundTablePassesSharedExclusiveAndClosed) {
  for (bool exclusive : {false, true}) {
    SCOPED_TRACE(exclusive ? "exclusive" : "shared");
    OpenAndFill(exclusive);
    TTableVerifyReport open = VerifyTable(*table_);
    EXPECT_TRUE(open.Clean()) << open.Describe();
    EXPECT_EQ(open.LiveRecords, 38);
    EXPECT_EQ(open.FreeSlots, 2);
    // The object the directory holds is shared even when it is exclusive.
    TTableVerifyReport by_name = VerifyTable(*directory_, kTable);
    EXPECT_TRUE(by_name.Clean()) << by_name.Describe();
    EXPECT_EQ(by_name.LiveRecords, 38);
    CloseTable();
    TTableVerifyReport closed = VerifyTable(*directory_, kTable);
    EXPECT_TRUE(closed.Clean()) << closed.Describe();
    EXPECT_EQ(closed.LiveRecords, 38);
    EXPECT_EQ(closed.FreeSlots, 2);
    numbers_.clear();
    TTableTarget target;
    target.TableName = kTable;
    target.Exclusive = true;
    TTableDefinition definition = PartsDefinition();
    definition.Overwrite = true;
    CreateTable(*directory_, target, definition);
  }
}

TEST_F(TableCheckTest, EncryptedTableIsReadUnscrambled) {
  TTableTarget target;
  target.TableName = kTable;
  target.Exclusive = true;
  TTableDefinition definition = PartsDefinition();
  definition.Overwrite = true;
  definition.Encrypted = true;
  definition.Password = "gears";
  CreateTable(*directory_, target, definition);
  OpenAndFill(false);
  CloseTable();
  // Records, pages and blocks now come from the scrambled files.
  TTableVerifyReport report = VerifyTable(*directory_, kTable);
  EXPECT_TRUE(report.Clean()) << report.Describe();
  EXPECT_EQ(report.LiveRecords, 38);
  EXPECT_EQ(report.FreeSlots, 2);
}

TEST_F(TableCheckTest, MissingIndexEntryAndWrongCountAreNamed) {
  OpenAndFill(false);
  const int32_t victim = numbers_[10];
  std::vector<uint8_t> image = writer_->Image(victim);
  writer_->Tree(1).DeleteKey(BuildKey(writer_->Context(1), image).data());
  TTableVerifyReport report = VerifyTable(*table_);
  EXPECT_TRUE(Reports(report, {"index \"NAME\"", "no entry for record " + std::to_string(victim)}))
      << report.Describe();
  EXPECT_FALSE(Reports(report, {"primary index"})) << report.Describe();

  // Put it back under another record number: one entry missing, one extra.
  writer_->Tree(1).InsertKey(BuildKey(writer_->Context(1), image).data(), victim + 1);
  report = VerifyTable(*table_);
  EXPECT_TRUE(Reports(report, {"index \"NAME\"", "no entry for record " + std::to_string(victim)}));
  EXPECT_TRUE(Reports(
      report, {"index \"NAME\"", "record " + std::to_string(victim + 1), "does not call for"}))
      << report.Describe();
  writer_->Tree(1).DeleteKey(BuildKey(writer_->Context(1), image).data());
  writer_->Tree(1).InsertKey(BuildKey(writer_->Context(1), image).data(), victim);
  EXPECT_TRUE(VerifyTable(*table_).Clean());

  table_->IndexFile().IncrementRecordCount();
  report = VerifyTable(*table_);
  EXPECT_TRUE(Reports(report, {"active record count 39", "38 live records"})) << report.Describe();
  EXPECT_EQ(report.Problems.size(), 1u) << report.Describe();
  table_->IndexFile().DecrementRecordCount();

  // A slot without its entry in the record slot index.
  uint8_t slot[kSlotKeyLength];
  BuildSlotKey(writer_->Image(numbers_[3]), slot);
  writer_->Tree(kSlotIndex).DeleteKey(slot);
  report = VerifyTable(*table_);
  EXPECT_TRUE(Reports(report, {"record slot index", "record " + std::to_string(numbers_[3])}))
      << report.Describe();
}

TEST_F(TableCheckTest, DuplicatedRowIdIsNamed) {
  OpenAndFill(true);
  const int32_t first = numbers_[1];
  const int32_t second = numbers_[2];
  const int32_t row_id = RecordRowId(writer_->Image(first));
  const int32_t second_row = RecordRowId(writer_->Image(second));
  writer_->Poke(second, [&](std::span<uint8_t> image) { SetRecordRowId(image, row_id); });
  TTableVerifyReport report = VerifyTable(*table_);
  EXPECT_TRUE(Reports(
      report, {"row id " + std::to_string(row_id), std::to_string(first), std::to_string(second)}))
      << report.Describe();
  // The record's keys no longer match its indexes either.
  EXPECT_TRUE(Reports(report, {"primary index", std::to_string(second)})) << report.Describe();

  // A free slot that carries a live record's row id is a duplicate too.
  const int32_t own = RecordRowId(writer_->Image(numbers_[3]));
  writer_->Poke(second, [&](std::span<uint8_t> image) { SetRecordRowId(image, second_row); });
  const int32_t free_slot = numbers_[5];
  ASSERT_EQ(RecordStatus(writer_->Image(free_slot)), rsFree);
  writer_->Poke(free_slot, [&](std::span<uint8_t> image) { SetRecordRowId(image, own); });
  report = VerifyTable(*table_);
  EXPECT_TRUE(Reports(report, {"row id " + std::to_string(own), std::to_string(numbers_[3]),
                               std::to_string(free_slot)}))
      << report.Describe();
}

TEST_F(TableCheckTest, StaleWordKeyAndRenamedRecordAreNamed) {
  OpenAndFill(false);
  const int32_t victim = numbers_[4];
  const int32_t row_id = RecordRowId(writer_->Image(victim));
  uint8_t key[kTextKeyLength];
  BuildTextKey(writer_->Context(kTextIndex), 2, "GHOST", row_id, key);
  writer_->Tree(kTextIndex).InsertKey(key, victim);
  TTableVerifyReport report = VerifyTable(*table_);
  EXPECT_TRUE(Reports(report, {"word index", "record " + std::to_string(victim), "not call for"}))
      << report.Describe();
  EXPECT_EQ(report.Problems.size(), 1u) << report.Describe();
  writer_->Tree(kTextIndex).DeleteKey(key);
  ASSERT_TRUE(VerifyTable(*table_).Clean());

  // Renaming a record behind the indexes' back leaves its old word and
  // name keys stale and its new ones missing.
  writer_->Poke(victim, [&](std::span<uint8_t> image) {
    SetStringField(image, writer_->Field(2), "sprocket", 0);
  });
  report = VerifyTable(*table_);
  EXPECT_TRUE(Reports(report, {"word index", "no entry for record " + std::to_string(victim)}));
  EXPECT_TRUE(Reports(report, {"index \"NAME\"", "no entry for record " + std::to_string(victim)}))
      << report.Describe();
}

TEST_F(TableCheckTest, BrokenBlobReferenceIsNamed) {
  OpenAndFill(false);
  const int32_t victim = numbers_[2];  // notes of one block
  TBlobReference blob = GetBlobField(writer_->Image(victim), writer_->Field(3));
  ASSERT_NE(blob.FirstBlock, 0);
  writer_->Poke(victim, [&](std::span<uint8_t> image) {
    SetBlobField(image, writer_->Field(3), {blob.FirstBlock, blob.BlobId + 1000}, true);
  });
  TTableVerifyReport report = VerifyTable(*table_);
  EXPECT_TRUE(Reports(report, {"BLOB file", "identifier"})) << report.Describe();

  // A reference to a cursor's buffer is never stored.
  writer_->Poke(victim, [&](std::span<uint8_t> image) {
    SetBlobField(image, writer_->Field(3), {-1, blob.BlobId}, true);
  });
  report = VerifyTable(*table_);
  EXPECT_TRUE(Reports(report, {"record " + std::to_string(victim), "NOTES", "not a stored one"}))
      << report.Describe();

  // A reference outside the file.
  writer_->Poke(victim, [&](std::span<uint8_t> image) {
    SetBlobField(image, writer_->Field(3), {100000, blob.BlobId}, true);
  });
  report = VerifyTable(*table_);
  EXPECT_TRUE(Reports(report, {"BLOB file", "outside the file"})) << report.Describe();
}

TEST_F(TableCheckTest, SwappedSlotsAndHeaderCountsAreNamed) {
  OpenAndFill(true);
  // Two records that change slots: each index names the wrong record.
  const int32_t a = numbers_[1];
  const int32_t b = numbers_[2];
  const std::vector<uint8_t> first = writer_->Image(a);
  const std::vector<uint8_t> second = writer_->Image(b);
  auto put = [&](int32_t number, std::vector<uint8_t> image) {
    SetRecordLink(image, number);
    writer_->Poke(
        number, [&](std::span<uint8_t> to) { std::copy(image.begin(), image.end(), to.begin()); });
  };
  put(a, second);
  put(b, first);
  TTableVerifyReport report = VerifyTable(*table_);
  EXPECT_TRUE(Reports(report, {"primary index", "no entry for record " + std::to_string(a)}))
      << report.Describe();
  EXPECT_TRUE(Reports(report, {"index \"CODE\"", "no entry for record " + std::to_string(b)}))
      << report.Describe();
  put(a, first);
  put(b, second);
  CloseTable();

  const std::string data = PathOf(std::string(kTable) + ".DAT");
  const std::string sound = PathOf("sound.DAT");
  std::filesystem::copy_file(data, sound);
  auto patch = [&](int64_t offset, std::vector<char> bytes) {
    std::filesystem::copy_file(sound, data, std::filesystem::copy_options::overwrite_existing);
    std::fstream out(data, std::ios::in | std::ios::out | std::ios::binary);
    out.seekp(offset);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  };
  // A BLOB field count of 0 for the NOTES field: the check names it, and no
  // cursor opens the table to store a memo without its BLOB file.
  patch(25, {0, 0});
  report = VerifyTable(*directory_, kTable);
  EXPECT_TRUE(Reports(report, {"data file", "BLOB field count 0 for 1 BLOB fields"}))
      << report.Describe();
  TDataCursor cursor(*directory_);
  cursor.SetTableName(kTable);
  EXPECT_EQ(CodeRaisedBy([&] { cursor.OpenCursor(); }), VEVURA_HEADERCORRUPT);
  cursor.CloseCursor(false);
  // A next record number of INT_MIN is refused before any arithmetic.
  patch(13, {0, 0, 0, static_cast<char>(0x80)});
  EXPECT_FALSE(VerifyTable(*directory_, kTable).Clean());
  patch(0, {});
  EXPECT_TRUE(VerifyTable(*directory_, kTable).Clean());
}

TEST_F(TableCheckTest, RecordAreaDamageIsNamed) {
  OpenAndFill(true);
  // A free slot that drops off the free chain, a live record holding another
  // number, and an unknown status.
  writer_->Poke(numbers_[7], [](std::span<uint8_t> image) { SetRecordLink(image, 9999); });
  writer_->Poke(numbers_[8], [](std::span<uint8_t> image) { image[kStatusOffset] = 7; });
  TTableVerifyReport report = VerifyTable(*table_);
  EXPECT_TRUE(Reports(report, {"data file", "another number"})) << report.Describe();
  EXPECT_TRUE(Reports(report, {"data file", "unknown status"})) << report.Describe();
  // The record with the unknown status counts as neither live nor free.
  EXPECT_EQ(report.LiveRecords, 37);
}

TEST_F(TableCheckTest, UnopenableTablesAreReportedNotRaised) {
  TTableVerifyReport report = VerifyTable(*directory_, "NOSUCH");
  EXPECT_TRUE(Reports(report, {"does not exist"})) << report.Describe();
  TDataTable closed(*directory_);
  EXPECT_TRUE(Reports(VerifyTable(closed), {"not open"}));

  std::filesystem::remove(PathOf(std::string(kTable) + ".IDX"));
  report = VerifyTable(*directory_, kTable);
  EXPECT_TRUE(Reports(report, {"index file", "missing"})) << report.Describe();
  // Nothing was made in its place.
  EXPECT_FALSE(std::filesystem::exists(PathOf(std::string(kTable) + ".IDX")));

  // A data file whose header is torn.
  std::filesystem::resize_file(PathOf(std::string(kTable) + ".DAT"), 40);
  report = VerifyTable(*directory_, kTable);
  EXPECT_FALSE(report.Clean());
}

//! Overwrites count bytes at offset of file with random bytes.
void Scribble(const std::string& file, int64_t offset, int count, std::mt19937& random) {
  std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
  out.seekp(offset);
  for (int i = 0; i < count; ++i) out.put(static_cast<char>(random() & 0xFF));
}

//! The records a cursor reads in its first index's order (record order
//! without one): CODE -> NAME and NOTES.
std::map<int32_t, std::pair<std::string, std::string>> Contents(TDataDirectory& directory) {
  std::map<int32_t, std::pair<std::string, std::string>> contents;
  TDataCursor c(directory);
  c.SetTableName(kTable);
  c.OpenCursor();
  std::vector<uint8_t> record(c.RecordSize());
  c.First();
  while (c.Next(record) == kCursorOnRecord) {
    std::string notes;
    int32_t length = 0;
    if (c.OpenBlob(3, record, boRead, &length) == 0) {
      notes.resize(static_cast<size_t>(length));
      int32_t read = 0;
      c.ReadBlob(3, record, 0, length, reinterpret_cast<uint8_t*>(notes.data()), &read);
      c.CloseBlob(3, record);
    }
    contents[GetIntegerField(record, c.Fields()[3])] = {GetStringField(record, c.Fields()[1]),
                                                        notes};
  }
  c.CloseCursor(false);
  return contents;
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

//! Writes bytes at offset of file.
void WriteBytes(const std::string& file, int64_t offset, const void* bytes, size_t count) {
  std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
  out.seekp(offset);
  out.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(count));
}

// Each kind of damage alone, then all at once: the repair backs the files
// up, leaves a table the check finds sound and keeps every record (a record
// whose BLOB chain another record's reference crosses keeps its own; the
// crossing one loses the BLOB; a slot the file no longer holds whole is
// gone); a sound table is left byte for byte as it was.
TEST_F(TableCheckTest, RepairMendsEachKindOfDamage) {
  OpenAndFill(false);
  const int64_t record_size = table_->DataFile().RecordSize();
  const int64_t area = RecordAreaOffset(table_->DataFile().FieldCount());
  const TFieldDescriptor notes = writer_->Field(3);
  // Two live records with notes, the first free slot and the last slot.
  std::vector<int32_t> with_notes;
  int32_t free_slot = 0;
  const int32_t last = table_->DataFile().Header().NextRecordNumber - 1;
  for (int32_t n = 1; n <= last; ++n) {
    std::vector<uint8_t> image = writer_->Image(n);
    if (RecordStatus(image) == rsFree && free_slot == 0) free_slot = n;
    if (RecordStatus(image) == rsLive && GetBlobField(image, notes).FirstBlock > 0) {
      with_notes.push_back(n);
    }
  }
  ASSERT_GE(with_notes.size(), 2u);
  ASSERT_NE(free_slot, 0);
  // A reference into another record's chain, with its own identifier.
  std::vector<uint8_t> crossing = writer_->Image(with_notes[0]);
  SetBlobField(crossing, notes,
               {GetBlobField(writer_->Image(with_notes[1]), notes).FirstBlock,
                GetBlobField(crossing, notes).BlobId},
               true);
  const int32_t crossing_code = GetIntegerField(crossing, writer_->Field(4));
  const int32_t last_code = GetIntegerField(writer_->Image(last), writer_->Field(4));
  CloseTable();

  const std::string base = dir_.path();
  const std::vector<std::string> names = {"PARTS.DAT", "PARTS.IDX", "PARTS.BLB"};
  std::map<std::string, std::string> sound;
  for (const std::string& name : names) sound[name] = FileBytes(base + name);
  const auto held = Contents(*directory_);

  TTableRepairReport report = RepairTable(*directory_, kTable);
  EXPECT_FALSE(report.Changed);
  EXPECT_TRUE(report.BackupDirectory.empty());
  for (const std::string& name : names) EXPECT_EQ(FileBytes(base + name), sound[name]) << name;

  const std::string dat = base + "PARTS.DAT";
  const std::string idx = base + "PARTS.IDX";
  const std::string blb = base + "PARTS.BLB";
  std::mt19937 random(7);
  struct TDamageKind {
    const char* Name;
    std::function<void()> Apply;
  };
  const int32_t zero = 0;
  const std::vector<TDamageKind> kinds = {
      {"index file missing", [&] { std::filesystem::remove(idx); }},
      {"index file cut", [&] { std::filesystem::resize_file(idx, 4096 + 1500); }},
      {"index pages overwritten", [&] { Scribble(idx, 4096 + 40, 3000, random); }},
      {"active record count wrong",
       [&] {
         const int32_t count = 7;
         WriteBytes(idx, 3974, &count, 4);
       }},
      {"free chain cut", [&] { WriteBytes(dat, 9, &zero, 4); }},
      {"free chain looped",
       [&] { WriteBytes(dat, area + (free_slot - 1) * record_size + 1, &free_slot, 4); }},
      {"BLOB blocks leaked", [&] { WriteBytes(blb, 5, &zero, 4); }},
      {"BLOB chains crossed",
       [&] {
         WriteBytes(dat, area + (with_notes[0] - 1) * record_size, crossing.data(),
                    crossing.size());
       }},
      {"partial record at the end",
       [&] {
         std::filesystem::resize_file(
             dat, static_cast<uintmax_t>(area + (last - 1) * record_size + record_size / 2));
       }},
  };
  auto run = [&](const std::string& what, const std::vector<const TDamageKind*>& applied) {
    SCOPED_TRACE(what);
    for (const std::string& name : names) {
      std::ofstream(base + name, std::ios::binary | std::ios::trunc) << sound[name];
    }
    auto expected = held;
    for (const TDamageKind* kind : applied) {
      kind->Apply();
      if (std::string(kind->Name) == "BLOB chains crossed") expected[crossing_code].second.clear();
      if (std::string(kind->Name) == "partial record at the end") expected.erase(last_code);
    }
    const std::string damaged = FileBytes(dat);
    std::vector<std::string> log;
    TRepairOptions options;
    options.Log = [&log](const std::string& line) { log.push_back(line); };
    ASSERT_NO_THROW(report = RepairTable(*directory_, kTable, options));
    EXPECT_TRUE(report.Changed);
    EXPECT_FALSE(report.Before.Clean());
    EXPECT_TRUE(report.After.Clean()) << report.After.Describe();
    EXPECT_EQ(log, report.Changes);
    EXPECT_EQ(FileBytes(report.BackupDirectory + "PARTS.DAT"), damaged);
    EXPECT_TRUE(Contents(*directory_) == expected) << Contents(*directory_).size() << " records";
    std::filesystem::remove_all(report.BackupDirectory);
  };
  std::vector<const TDamageKind*> all;
  for (const TDamageKind& kind : kinds) {
    run(kind.Name, {&kind});
    if (std::string(kind.Name) != "index file missing") all.push_back(&kind);
  }
  run("every kind at once", all);
}

//! One way of damaging a table file: random bytes, a 32-bit number at a
//! header offset set to an extreme, or the file cut short.
void Damage(const std::string& file, int round, std::mt19937& random) {
  const auto size = static_cast<int64_t>(std::filesystem::file_size(file));
  switch (round % 4) {
    case 0:  // header bytes
      Scribble(file, static_cast<int64_t>(random() % 128), 1 + static_cast<int>(random() % 16),
               random);
      return;
    case 1: {  // a header number at an extreme
      static const int32_t kExtremes[] = {INT32_MIN, INT32_MAX, -1, 0, 1, 1 << 30};
      std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
      out.seekp(static_cast<std::streamoff>(random() % 32) * 4);
      const int32_t value = kExtremes[random() % 6];
      out.write(reinterpret_cast<const char*>(&value), sizeof value);
      return;
    }
    case 2:  // cut short
      std::filesystem::resize_file(file, static_cast<uintmax_t>(random() % size));
      return;
    default:  // the body
      Scribble(file, static_cast<int64_t>(random() % size), 1 + static_cast<int>(random() % 16),
               random);
  }
}

//! What a program does with a table: every index walked both ways, memos
//! read, a search, an insert, a modify and a delete. Walks stop with a
//! failure beyond the slots the data file can hold.
void Exercise(TDataDirectory& directory, const std::string& data_file) {
  TDataCursor c(directory);
  c.SetTableName(kTable);
  c.OpenCursor();
  const auto slots =
      static_cast<int64_t>(std::filesystem::file_size(data_file) / c.RecordSize()) + 2;
  std::vector<uint8_t> record(c.RecordSize());
  for (const char* index : {"", "NAME", "CODE"}) {
    c.SwitchToIndex(index);
    for (bool forward : {true, false}) {
      if (forward) {
        c.First();
      } else {
        c.Last();
      }
      int64_t steps = 0;
      while ((forward ? c.Next(record) : c.Prior(record)) == kCursorOnRecord) {
        ASSERT_LE(++steps, slots) << "an endless walk of index \"" << index << "\"";
        if (steps > 12) continue;
        int32_t length = 0;
        if (c.OpenBlob(3, record, boRead, &length) != 0) continue;
        std::vector<uint8_t> memo(static_cast<size_t>(std::clamp(length, 0, 1 << 20)));
        int32_t read = 0;
        c.ReadBlob(3, record, 0, static_cast<int32_t>(memo.size()), memo.data(), &read);
        c.CloseBlob(3, record);
      }
    }
  }
  SetIntegerField(record, c.Fields()[3], 1010);
  c.FindKey(record, false, 1, 0, true, {});
  c.SwitchToIndex("");
  c.InitRecord(record);
  SetStringField(record, c.Fields()[1], "spring", 0);
  SetIntegerField(record, c.Fields()[3], 3000);
  c.InsertRecord(record, true);
  c.First();
  if (c.Next(record) == kCursorOnRecord && c.GetCurrentRecord(record, true) == kCursorOnRecord) {
    SetStringField(record, c.Fields()[1], "cog", 0);
    c.ModifyRecord(record, true, true);
  }
  c.Last();
  if (c.Prior(record) == kCursorOnRecord) c.DeleteRecord(record, true);
  c.CloseCursor(false);
}

// Damaged files give the check's findings and engine errors, never a crash,
// an endless walk or another kind of exception, whatever a program then
// does with the table. VEVURA_TABLE_FUZZ=N runs N rounds.
TEST_F(TableCheckTest, DamagedFilesGiveEngineErrorsNeverCrashes) {
  OpenAndFill(false);
  CloseTable();
  const std::string base = dir_.path();
  const std::vector<std::string> names = {"PARTS.DAT", "PARTS.IDX", "PARTS.BLB"};
  std::filesystem::create_directory(base + "sound");
  for (const std::string& name : names) {
    std::filesystem::copy_file(base + name, base + "sound/" + name);
  }
  const char* env = std::getenv("VEVURA_TABLE_FUZZ");
  const int rounds = env != nullptr ? std::max(1, std::atoi(env)) : 240;
  // VEVURA_TABLE_FUZZ_SEED gives parallel long runs rounds of their own.
  const char* seed = std::getenv("VEVURA_TABLE_FUZZ_SEED");
  std::mt19937 random(seed != nullptr ? static_cast<uint32_t>(std::strtoul(seed, nullptr, 10))
                                      : 20240611u);
  int damaged = 0;
  int errors = 0;
  int repaired = 0;
  int unrepairable = 0;
  for (int round = 0; round < rounds; ++round) {
    for (const std::string& name : names) {
      std::filesystem::copy_file(base + "sound/" + name, base + name,
                                 std::filesystem::copy_options::overwrite_existing);
    }
    const std::string& victim = names[round % names.size()];
    Damage(base + victim, round / 3, random);
    TTableVerifyReport report;
    ASSERT_NO_THROW(report = VerifyTable(*directory_, kTable)) << "round " << round;
    if (!report.Clean()) ++damaged;
    // The check leaves no table object behind.
    EXPECT_EQ(directory_->FindTable(kTable, false), nullptr) << "round " << round;
    try {
      Exercise(*directory_, base + "PARTS.DAT");
    } catch (const EVEVURAEngineError&) {
      ++errors;
    } catch (const std::exception& e) {
      ADD_FAILURE() << "round " << round << ": " << e.what();
    }
    // A repair makes every table whose data header holds sound again.
    try {
      TRepairOptions options;
      options.BackupDirectory = base + "backup";
      const TTableRepairReport repair = RepairTable(*directory_, kTable, options);
      if (repair.Changed) ++repaired;
      EXPECT_TRUE(repair.Sound() || (!repair.Changed && !repair.Before.Clean()))
          << "round " << round << ":\n"
          << repair.After.Describe() << "after these changes:\n"
          << [&] {
               std::string text;
               for (const std::string& line : repair.Changes) text += line + "\n";
               return text;
             }();
      if (repair.Sound()) {
        // Definitions the damage changed yet left valid (an index's name, a
        // field's limits) may refuse what the program does; the table
        // stays sound whatever it does.
        try {
          Exercise(*directory_, base + "PARTS.DAT");
        } catch (const EVEVURAEngineError&) {
        }
        const TTableVerifyReport after = VerifyTable(*directory_, kTable);
        EXPECT_TRUE(after.Clean()) << "round " << round << ": used after the repair:\n"
                                   << after.Describe();
      }
    } catch (const EVEVURAEngineError&) {
      ++unrepairable;
    } catch (const std::exception& e) {
      ADD_FAILURE() << "round " << round << ": repair: " << e.what();
    }
    std::filesystem::remove_all(base + "backup");
    if (HasFailure()) {
      for (const std::string& name : names) {
        std::filesystem::copy_file(base + name, base + "failed_" + name,
                                   std::filesystem::copy_options::overwrite_existing);
      }
      FAIL() << "round " << round << ": the files are kept as " << base << "failed_*";
    }
  }
  // Many scribbles land on bytes nothing reads (unused descriptors, the
  // free part of a page, BLOB data); a good part must be found all the same.
  EXPECT_GE(damaged, rounds / 4);
  EXPECT_GE(errors, rounds / 8);
  EXPECT_GE(repaired, damaged / 2);
  std::printf(
      "%d damaged tables: %d found unsound by the check, %d engine errors in use, %d repaired, "
      "%d could not be opened for repair\n",
      rounds, damaged, errors, repaired, unrepairable);
}

}  // namespace
}  // namespace vevura::test
