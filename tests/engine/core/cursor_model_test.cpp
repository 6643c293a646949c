// Randomized model-based tests of cursors: long random sequences of inserts,
// modifies and deletes through cursors, on tables with unique and
// non-unique, case-insensitive, descending, multi-field and nullable
// indexes, with and without a language, with and without a primary index,
// with a memo, a word index and BLOBs, opened shared (under both lock
// protocols) and exclusively. After every batch the table must agree with
// the model in every order, walked both ways, and through record counts,
// record numbers, key searches, ranges, bookmarks and clones, and the
// whole-table check must find nothing.
//
// Each configuration has a fixed seed (shown with any failure). The
// environment variable VEVURA_MODEL_OPS sets the number of operations per
// configuration (1000 by default); VEVURA_MODEL_SEED, when set, is added to
// every configuration's seed to explore other sequences.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/core/data_cursor.h"
#include "engine/core/table_create.h"
#include "engine/core/table_verify.h"
#include "engine/expr/expression_evaluator.h"
#include "engine/storage/common/byte_order.h"
#include "tests/engine/core/core_test_support.h"
#include "tests/engine/core/cursor_model_support.h"
#include "tests/engine/core/table_create_support.h"

namespace vevura::test {
namespace {

constexpr const char* kTable = "STOCK";

enum : uint16_t { kId = 1, kName, kCode, kPrice, kCat, kDay, kFlag, kNotes, kData };
//! Secondary index numbers, as the definition lists them.
enum : uint8_t { kNameIndex = 1, kCodeIndex, kPriceIndex, kCatNameIndex, kDayIndex };
const char* const kIndexNames[] = {"", "NAME", "CODE", "PRICE", "CAT_NAME", "DAY"};

//! Operations between two checks.
constexpr int kBatch = 40;
//! CODE values lie from -20 to below this; each is drawn from five times as
//! many values as the table has records, so that about one insert in five
//! meets a duplicate.
constexpr int32_t kCodeLimit = 1000000;

struct TModelConfig {
  const char* Name = "";
  uint32_t Seed = 0;
  uint16_t LanguageId = 0;
  uint16_t SortId = 0;
  bool Primary = true;                 //!< ID is the primary index
  bool Blobs = false;                  //!< NOTES (memo, in the word index) and DATA
  bool Exclusive = false;              //!< one cursor with the table to itself
  bool InMemory = false;               //!< in-memory files
  bool WrapRowIds = false;             //!< halfway, the last row id jumps to just below 2147483647
  bool StrictChangeDetection = false;  //!< every read holds the read lock
  bool Encrypted = false;              //!< scrambled files, opened with the session's password
  bool Transactions = false;           //!< runs of operations in transactions, kept or rolled back
  bool PostsAmongMoves = false;        //!< PostsAmongMoves takes part in the operations
  TLockProtocol Protocol = lpPessimistic;
};

int OperationCount() {
  const char* text = std::getenv("VEVURA_MODEL_OPS");
  const int count = text != nullptr ? std::atoi(text) : 0;
  return count > 0 ? count : 1000;
}

uint32_t SeedOffset() {
  const char* text = std::getenv("VEVURA_MODEL_SEED");
  return text != nullptr ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10)) : 0;
}

//! ID, NAME (string), CODE (integer), PRICE (float), CAT (small integer),
//! DAY (date), and with BLOBs NOTES (memo) and DATA (binary). Indexes: the
//! primary index over ID; NAME, case-insensitive; CODE, unique; PRICE,
//! descending; CAT_NAME over CAT and NAME, NAME descending within it; DAY.
constexpr const char* kModelPassword = "model key";

TTableDefinition ModelDefinition(const TModelConfig& config) {
  std::vector<TFieldDescriptor> fields = {
      FieldDef(kId, "ID", fcInteger, fsAutoInc), FieldDef(kName, "NAME", fcString, fsNone, 12),
      FieldDef(kCode, "CODE", fcInteger),        FieldDef(kPrice, "PRICE", fcFloat),
      FieldDef(kCat, "CAT", fcSmallInt),         FieldDef(kDay, "DAY", fcDate),
      FieldDef(kFlag, "FLAG", fcBoolean),
  };
  if (config.Blobs) {
    fields.push_back(FieldDef(kNotes, "NOTES", fcBlob, fsMemo));
    fields.push_back(FieldDef(kData, "DATA", fcBlob, fsBinary));
  }
  TTableDefinition d = ComponentDefinition(fields);
  d.LanguageId = config.LanguageId;
  d.SortId = config.SortId;
  d.Encrypted = config.Encrypted;
  if (config.Encrypted) d.Password = kModelPassword;
  if (config.Primary) d.Indexes[0] = IndexDef("", {kId}, true);
  d.Indexes[kNameIndex] = IndexDef("NAME", {kName}, false, true);
  d.Indexes[kCodeIndex] = IndexDef("CODE", {kCode}, true);
  d.Indexes[kPriceIndex] = IndexDef("PRICE", {kPrice});
  d.Indexes[kPriceIndex].Descending = 1;
  d.Indexes[kCatNameIndex] = IndexDef("CAT_NAME", {kCat, kName});
  d.Indexes[kCatNameIndex].FieldDescending[1] = 1;
  d.Indexes[kDayIndex] = IndexDef("DAY", {kDay});
  d.SecondaryIndexCount = 5;
  if (config.Blobs) {
    d.Indexes[kTextIndex].FieldNumbers[0] = kName;
    d.Indexes[kTextIndex].FieldNumbers[1] = kNotes;
  }
  return d;
}

//! One order a cursor walks: an index, or record-number order.
struct TOrder {
  std::string Name;         //!< index name; "" the primary index or record numbers
  const TKeyContext* Keys;  //!< nullptr in record-number order
  bool RecordNumbers() const { return Keys == nullptr; }
};

int Sign(int64_t v) {
  return (v > 0) - (v < 0);
}

//! Failed assertions of the running test so far.
int FailureCount() {
  const ::testing::TestResult* result =
      ::testing::UnitTest::GetInstance()->current_test_info()->result();
  int count = 0;
  for (int i = 0; i < result->total_part_count(); ++i) {
    if (result->GetTestPartResult(i).failed()) ++count;
  }
  return count;
}

class CursorModelTest : public EngineTest {
 protected:
  void TearDown() override {
    reader_.reset();
    watcher_.reset();
    writers_.clear();
    EngineTest::TearDown();
  }
  void Run(const TModelConfig& config);

  // ----- Set-up -----
  std::unique_ptr<TDataCursor> NewCursor(bool record_numbers);
  void LoadOrders();
  const TFieldDescriptor& F(uint16_t n) const { return fields_[n - 1u]; }

  // ----- Random values -----
  int Random(int n) { return static_cast<int>(random_() % static_cast<uint32_t>(n)); }
  bool Chance(int percent) { return Random(100) < percent; }
  std::string RandomName();
  std::string RandomNotes();
  std::vector<uint8_t> RandomData();
  //! Gives field n of buffer a random value (or none).
  void RandomField(std::vector<uint8_t>& buffer, uint16_t n);

  // ----- BLOBs through a cursor -----
  void WriteBlob(TDataCursor& c, std::vector<uint8_t>& buffer, uint16_t field,
                 const std::vector<uint8_t>& bytes);
  //! Overwrites bytes inside the BLOB's length (no change of length).
  void OverwriteBlob(TDataCursor& c, std::vector<uint8_t>& buffer, uint16_t field,
                     std::vector<uint8_t>& bytes);
  //! Closes the buffer the field of opened (an image taken while the BLOB
  //! was open, before its post) names, as often as it is open.
  void ReleaseBlob(TDataCursor& c, std::vector<uint8_t>& opened, uint16_t field);
  std::vector<uint8_t> ReadBlob(TDataCursor& c, std::vector<uint8_t> record, uint16_t field);
  //! The image as the model keeps it: BLOB references zero, flags kept.
  std::vector<uint8_t> Masked(std::span<const uint8_t> image) const;

  // ----- Operations -----
  void Insert(TDataCursor& c);
  void Modify(TDataCursor& c);
  void Delete(TDataCursor& c);
  void JumpRowIds(TDataCursor& c);
  //! On a non-unique secondary index (now and then within a range or
  //! through a filter): a few inserts and edits of the current record, then
  //! one move (a step, a record number, a bookmark, a key search, a cancelled
  //! edit, a delete, a range, a clone), each checked against the model's
  //! order. The posts leave the cursor on the first shown row not below the
  //! last posted key (the last row when there is none).
  void PostsAmongMoves(TDataCursor& c);
  //! c stands on rows[i] (none when i is past the end), and a step forward
  //! or back reaches its neighbour or the end.
  void ExpectStep(TDataCursor& c, const std::vector<const TModelRow*>& rows, size_t i,
                  bool forward);
  //! Two cursors edit one record at once: under lpPessimistic the second
  //! is refused the record, under lpOptimistic the first one's post is.
  void ConflictingEdits();
  //! Makes the order active and stands on row.
  void StandOn(TDataCursor& c, const TOrder& order, const TModelRow& row);
  void SwitchTo(TDataCursor& c, const TOrder& order);
  const TOrder& RandomOrder() {
    return orders_[static_cast<size_t>(Random(static_cast<int>(orders_.size())))];
  }
  const TModelRow& RandomRow() {
    return model_->RowAt(static_cast<size_t>(Random(static_cast<int>(model_->Size()))));
  }
  std::vector<const TModelRow*> Expected(const TOrder& order) const {
    return order.RecordNumbers() ? model_->InRecordOrder() : model_->InIndexOrder(*order.Keys);
  }

  // ----- Checks -----
  void CheckAll();
  //! Now and then starts a transaction, or ends the one running with a
  //! commit or a rollback (the model goes back with it); ends it when last.
  void StepTransaction(bool last);
  void CheckRefresh(TDataCursor& c);
  void CheckOrder(TDataCursor& c, const TOrder& order);
  void CheckWalk(TDataCursor& c, const TOrder& order, const std::vector<const TModelRow*>& rows);
  void CheckRecordNumbers(TDataCursor& c, const std::vector<const TModelRow*>& rows);
  void CheckFindKey(TDataCursor& c, const TOrder& order, const std::vector<const TModelRow*>& rows);
  //! FindKey with search (a record image) over prefix bytes n must stand on
  //! the first row not below it (the last row when none) and find it when
  //! it matches.
  void ExpectFound(TDataCursor& c, const TOrder& order, const std::vector<const TModelRow*>& rows,
                   const std::vector<uint8_t>& search, int field_count, int partial, bool nearest,
                   size_t n);
  void CheckRange(TDataCursor& c, const TOrder& order, const std::vector<const TModelRow*>& rows);
  void CheckRecordOrderCursor();
  //! Reports a fault of one kind once per run, the first time it is seen,
  //! so that the run goes on and shows faults of other kinds.
  void ReportOnce(const std::string& kind, const std::string& detail) {
    if (!reported_.insert(kind).second) return;
    ++known_failures_;
    ADD_FAILURE() << kind << ": " << detail;
  }
  void CheckBlobs(TDataCursor& c);

  // ----- Filters -----
  //! A filter text over the table's fields: conditions indexes answer,
  //! conditions they cannot, arithmetic, and ANDs, ORs and NOTs of them.
  std::string RandomFilterText(int depth = 0);
  std::string RandomCondition();
  //! The rows of the order that pass the filter's tree (as the evaluator
  //! sees them) and, with odd_row_ids, have an odd row id.
  std::vector<const TModelRow*> Passing(const std::vector<const TModelRow*>& rows,
                                        const TFilter& filter, bool odd_row_ids) const;
  bool Passes(const TModelRow& row, const TFilter& filter, bool odd_row_ids) const;
  //! A random expression filter (with a callback filter behind it now and
  //! then) on the first cursor: every order walked, numbered, searched and
  //! ranged through it, then an insert and a delete through the filtered
  //! cursor; and a second cursor's filter kept over the whole run, which
  //! other cursors' changes must reach.
  void CheckFilters();
  void CheckFilteredOrder(TDataCursor& c, const TOrder& order, const TFilter& filter, bool odd);

  TModelConfig config_;
  std::mt19937 random_;
  std::unique_ptr<TTableModel> model_;
  std::unique_ptr<TTableModel> before_transaction_;    //!< the model when the transaction began
  std::vector<std::unique_ptr<TDataCursor>> writers_;  //!< cursors that change the table
  std::unique_ptr<TDataCursor> reader_;                //!< record-number order (shared tables)
  std::unique_ptr<TDataCursor> watcher_;  //!< keeps one filter over the run (shared tables)
  TFilter* watched_ = nullptr;            //!< the watcher's filter
  std::vector<TFieldDescriptor> fields_;
  std::vector<std::unique_ptr<TKeyContext>> contexts_;  //!< by index number 0 to 5
  std::vector<TOrder> orders_;
  int price_changes_ = 0;           //!< prices the second cursor gave
  std::set<std::string> reported_;  //!< kinds of faults reported once
  int known_failures_ = 0;          //!< failures reported once, which do not stop the run
};

// ---------------------------------------------------------------------------
// Set-up

std::unique_ptr<TDataCursor> CursorModelTest::NewCursor(bool record_numbers) {
  auto c = std::make_unique<TDataCursor>(*directory_);
  c->SetTableName(kTable);
  c->SetExclusive(config_.Exclusive);
  c->SetInMemory(config_.InMemory);
  c->SetRecordNumberOrder(record_numbers);
  c->OpenCursor();
  return c;
}

void CursorModelTest::LoadOrders() {
  TDataTable& table = *writers_[0]->Table();
  fields_ = writers_[0]->Fields();
  contexts_.clear();
  orders_.clear();
  for (uint8_t n = 0; n <= kDayIndex; ++n) {
    if (n == 0 && !config_.Primary) {
      contexts_.push_back(nullptr);
      orders_.push_back(TOrder{"", nullptr});
      continue;
    }
    contexts_.push_back(std::make_unique<TKeyContext>(
        MakeKeyContext(table.DataFile().LanguageId(), table.DataFile().SortId(), n,
                       table.IndexFile().GetIndexDescriptor(n), fields_, kTable)));
    orders_.push_back(TOrder{kIndexNames[n], contexts_.back().get()});
  }
}

// ---------------------------------------------------------------------------
// Random values

std::string CursorModelTest::RandomName() {
  static const char* const kPlain[] = {"ab", "Ab", "AB", "ba", "c", "Co",
                                       "de", "e",  "Fa", "mo", "Zu"};
  // Umlauts and sharp s in the table's code page, and their spelled-out forms.
  static const char* const kGerman[] = {"\xE4", "\xC4", "\xF6", "\xD6", "\xFC", "\xDC",
                                        "\xDF", "ae",   "oe",   "ue",   "ss",   "A",
                                        "o",    "Stra", "sse",  "Mu",   "z"};
  if (Chance(12)) return "";
  std::string name;
  const int parts = 1 + Random(4);
  for (int i = 0; i < parts; ++i) {
    if (config_.LanguageId != 0) {
      name += kGerman[Random(static_cast<int>(std::size(kGerman)))];
    } else {
      name += kPlain[Random(static_cast<int>(std::size(kPlain)))];
    }
  }
  return name;
}

std::string CursorModelTest::RandomNotes() {
  static const char* const kWords[] = {"the",    "gear", "Bolt",  "and",   "washer", "nut",
                                       "spring", "of",   "Gears", "steel", "brass",  "x-ray",
                                       "fox's",  "a",    "valve", "PUMP",  "pump",   "seal"};
  if (Chance(30)) return "";
  std::string text;
  const int words = 1 + Random(Chance(15) ? 160 : 12);
  for (int i = 0; i < words; ++i) {
    if (i > 0) text += Chance(80) ? " " : ", ";
    text += kWords[Random(static_cast<int>(std::size(kWords)))];
  }
  return text;
}

std::vector<uint8_t> CursorModelTest::RandomData() {
  if (Chance(40)) return {};
  std::vector<uint8_t> bytes(static_cast<size_t>(1 + Random(Chance(20) ? 1500 : 100)));
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random_());
  return bytes;
}

void CursorModelTest::RandomField(std::vector<uint8_t>& buffer, uint16_t n) {
  switch (n) {
    case kName:
      SetStringField(buffer, F(kName), RandomName(), 0);
      break;
    case kCode:
      if (Chance(6)) {
        SetFieldNull(buffer, F(kCode));
      } else {
        SetIntegerField(buffer, F(kCode), Random(5 * static_cast<int>(model_->Size()) + 50) - 20);
      }
      break;
    case kPrice:
      if (Chance(10)) {
        SetFieldNull(buffer, F(kPrice));
      } else {
        SetFloatField(buffer, F(kPrice), Random(60) * 0.25 - 5);
      }
      break;
    case kCat:
      if (Chance(10)) {
        SetFieldNull(buffer, F(kCat));
      } else {
        SetSmallIntField(buffer, F(kCat), static_cast<int16_t>(Random(9) - 3));
      }
      break;
    case kFlag:
      if (Chance(20)) {
        SetFieldNull(buffer, F(kFlag));
      } else {
        SetBooleanField(buffer, F(kFlag), static_cast<uint8_t>(Random(2)));
      }
      break;
    case kDay:
      if (Chance(25)) {
        SetFieldNull(buffer, F(kDay));
      } else {
        SetDateField(buffer, F(kDay), 738000 + Random(30));
      }
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------
// BLOBs through a cursor

void CursorModelTest::WriteBlob(TDataCursor& c, std::vector<uint8_t>& buffer, uint16_t field,
                                const std::vector<uint8_t>& bytes) {
  int32_t length = -1;
  ASSERT_EQ(c.OpenBlob(field, buffer, boWrite, &length), 0);
  if (length == 0 && bytes.empty()) {
    // Nothing changes: the stream closes the BLOB again.
    ASSERT_EQ(c.CloseBlob(field, buffer), 0);
    return;
  }
  ASSERT_EQ(c.TruncateBlob(field, buffer, 0), 0);
  const auto size = static_cast<int32_t>(bytes.size());
  // The second half first, then the first: writes past the end grow it.
  const int32_t half = size / 2;
  if (size > half) {
    ASSERT_EQ(c.WriteBlob(field, buffer, half, size - half, bytes.data() + half), 0);
  }
  if (half > 0) {
    ASSERT_EQ(c.WriteBlob(field, buffer, 0, half, bytes.data()), 0);
  }
  ASSERT_EQ(c.GetBlobSize(field, buffer, &length), 0);
  EXPECT_EQ(length, size);
  EXPECT_EQ(FieldIsNull(buffer, F(field)), size == 0);
}

void CursorModelTest::OverwriteBlob(TDataCursor& c, std::vector<uint8_t>& buffer, uint16_t field,
                                    std::vector<uint8_t>& bytes) {
  int32_t length = -1;
  ASSERT_EQ(c.OpenBlob(field, buffer, boReadWrite, &length), 0);
  ASSERT_EQ(length, static_cast<int32_t>(bytes.size()));
  if (bytes.empty()) {
    ASSERT_EQ(c.CloseBlob(field, buffer), 0);
    return;
  }
  const int32_t at = Random(length);
  const int32_t count = 1 + Random(length - at);
  for (int32_t i = at; i < at + count; ++i) bytes[static_cast<size_t>(i)] ^= 0x5A;
  ASSERT_EQ(c.WriteBlob(field, buffer, at, count, bytes.data() + at), 0);
}

void CursorModelTest::ReleaseBlob(TDataCursor& c, std::vector<uint8_t>& opened, uint16_t field) {
  for (int i = 0; i < 3 && GetBlobField(opened, F(field)).FirstBlock < 0; ++i) {
    ASSERT_EQ(c.CloseBlob(field, opened), 0);
  }
  EXPECT_GE(GetBlobField(opened, F(field)).FirstBlock, 0) << "still open";
}

std::vector<uint8_t> CursorModelTest::ReadBlob(TDataCursor& c, std::vector<uint8_t> record,
                                               uint16_t field) {
  int32_t length = -1;
  EXPECT_EQ(c.OpenBlob(field, record, boRead, &length), 0);
  std::vector<uint8_t> bytes(static_cast<size_t>(std::max(length, 0)));
  int32_t read = -1;
  if (length > 0) {
    EXPECT_EQ(c.ReadBlob(field, record, 0, length, bytes.data(), &read), 0);
    EXPECT_EQ(read, length);
    // Past the end: what is left, and the end-of-BLOB result.
    uint8_t tail[8];
    EXPECT_EQ(c.ReadBlob(field, record, length - 1, 8, tail, &read), VEVURA_ENDOFBLOB);
    EXPECT_EQ(read, 1);
    EXPECT_EQ(tail[0], bytes.back());
  }
  EXPECT_EQ(c.CloseBlob(field, record), 0);
  return bytes;
}

std::vector<uint8_t> CursorModelTest::Masked(std::span<const uint8_t> image) const {
  std::vector<uint8_t> copy(image.begin(), image.end());
  if (config_.Blobs) {
    for (uint16_t n : {kNotes, kData}) {
      SetBlobField(copy, F(n), TBlobReference{}, !FieldIsNull(copy, F(n)));
    }
  }
  return copy;
}

// ---------------------------------------------------------------------------
// Operations

void CursorModelTest::SwitchTo(TDataCursor& c, const TOrder& order) {
  if (order.RecordNumbers() && c.RecordNumberOrder()) return;
  c.SwitchToIndex(order.Name);
  EXPECT_EQ(c.RecordNumberOrder(), order.RecordNumbers());
}

void CursorModelTest::StandOn(TDataCursor& c, const TOrder& order, const TModelRow& row) {
  SwitchTo(c, order);
  TBookmark mark(kRecordBookmarkSize);
  if (order.RecordNumbers()) {
    PutInt32(mark.data(), row.Record);
  } else {
    mark = BuildKey(*order.Keys, row.Image);
  }
  ASSERT_TRUE(c.GotoBookmark(mark, false)) << "order " << order.Name << ", row " << row.RowId;
  ASSERT_EQ(c.RecordNumber(), row.Record) << "order " << order.Name << ", row " << row.RowId;
}

void CursorModelTest::Insert(TDataCursor& c) {
  std::vector<uint8_t> buffer(c.RecordSize());
  c.InitRecord(buffer);
  for (uint16_t n = kName; n <= kFlag; ++n) RandomField(buffer, n);
  TModelRow row;
  if (config_.Blobs) {
    row.Notes = RandomNotes();
    row.Data = RandomData();
    WriteBlob(c, buffer, kNotes, std::vector<uint8_t>(row.Notes.begin(), row.Notes.end()));
    WriteBlob(c, buffer, kData, row.Data);
    if (HasFatalFailure()) return;
  }
  const TModelRow* clash = model_->Clash(*contexts_[kCodeIndex], buffer, 0);
  const int32_t row_id = model_->NextRowId();
  const int32_t slot = model_->NextSlot();
  std::vector<uint8_t> opened = buffer;
  const EVEVURAEngineError error =
      RaisedBy([&] { c.InsertRecord(buffer, true); }).value_or(EVEVURAEngineError(0));
  if (clash != nullptr) {
    EXPECT_EQ(error.ErrorCode, VEVURA_KEYVIOL) << "CODE of row " << clash->RowId;
    EXPECT_EQ(error.ErrorIndex, "CODE");
  } else {
    ASSERT_EQ(error.ErrorCode, 0) << error.what();
    EXPECT_EQ(RecordRowId(buffer), row_id);
    EXPECT_EQ(RecordLink(buffer), slot) << "the record slot taken";
    EXPECT_EQ(c.RecordNumber(), slot) << "the cursor stands on the new record";
    row.RowId = RecordRowId(buffer);
    row.Image = Masked(buffer);
    model_->Insert(row);
    EXPECT_EQ(Masked(c.CurrentRecord()), row.Image);
  }
  if (config_.Blobs) {
    ReleaseBlob(c, opened, kNotes);
    ReleaseBlob(c, opened, kData);
  }
  EXPECT_EQ(c.LockedRecord(), 0);
}

void CursorModelTest::Modify(TDataCursor& c) {
  if (model_->Size() == 0) return;
  const size_t open_blobs = c.OpenBlobCount();
  TModelRow row = RandomRow();
  StandOn(c, RandomOrder(), row);
  if (HasFatalFailure()) return;
  std::vector<uint8_t> buffer(c.RecordSize());
  ASSERT_EQ(c.GetCurrentRecord(buffer, false), kCursorOnRecord);
  ASSERT_EQ(Masked(buffer), row.Image);
  ASSERT_EQ(c.GetCurrentRecord(buffer, true), kCursorOnRecord);
  const int changes = 1 + Random(3);
  for (int i = 0; i < changes; ++i) RandomField(buffer, static_cast<uint16_t>(kName + Random(5)));
  if (config_.Blobs && Chance(40)) {
    row.Notes = RandomNotes();
    WriteBlob(c, buffer, kNotes, std::vector<uint8_t>(row.Notes.begin(), row.Notes.end()));
  }
  if (config_.Blobs && Chance(30)) {
    if (Chance(50)) {
      OverwriteBlob(c, buffer, kData, row.Data);
    } else {
      row.Data = RandomData();
      WriteBlob(c, buffer, kData, row.Data);
    }
  }
  if (HasFatalFailure()) return;
  const TModelRow* clash = model_->Clash(*contexts_[kCodeIndex], buffer, row.RowId);
  std::vector<uint8_t> opened = buffer;
  const EVEVURAEngineError error =
      RaisedBy([&] { c.ModifyRecord(buffer, true, true); }).value_or(EVEVURAEngineError(0));
  if (clash != nullptr) {
    EXPECT_EQ(error.ErrorCode, VEVURA_KEYVIOL) << "CODE of row " << clash->RowId;
    c.CancelEdit();
    EXPECT_EQ(c.OpenBlobCount(), open_blobs) << "a cancel drops the edit's changed BLOBs";
  } else {
    ASSERT_EQ(error.ErrorCode, 0) << error.what();
    EXPECT_EQ(RecordRowId(buffer), row.RowId);
    EXPECT_EQ(c.RecordNumber(), row.Record);
    row.Image = Masked(buffer);
    model_->Replace(row);
    if (config_.Blobs) {
      ReleaseBlob(c, opened, kNotes);
      ReleaseBlob(c, opened, kData);
    }
  }
  EXPECT_EQ(c.LockedRecord(), 0);
}

void CursorModelTest::Delete(TDataCursor& c) {
  if (model_->Size() == 0) return;
  const TModelRow row = RandomRow();
  const TOrder& order = RandomOrder();
  StandOn(c, order, row);
  if (HasFatalFailure()) return;
  const std::vector<const TModelRow*> before = Expected(order);
  const auto at = std::find(before.begin(), before.end(), model_->Find(row.RowId));
  const int32_t follower = at + 1 == before.end() ? 0 : (*(at + 1))->Record;
  std::vector<uint8_t> buffer(c.RecordSize());
  ASSERT_EQ(c.GetCurrentRecord(buffer, false), kCursorOnRecord);
  c.DeleteRecord(buffer, true);
  model_->Delete(row.RowId);
  if (follower != 0) {
    EXPECT_EQ(c.RecordNumber(), follower) << "the record that followed";
  }
  EXPECT_EQ(c.LockedRecord(), 0);
  if (order.RecordNumbers() || model_->Size() == 0) return;
  // The deleted record's bookmark is gone; nearest finds its neighbour.
  const TBookmark mark = BuildKey(*order.Keys, row.Image);
  EXPECT_FALSE(c.GotoBookmark(mark, false));
  EXPECT_TRUE(c.GotoBookmark(mark, true));
  const std::vector<const TModelRow*> after = Expected(order);
  EXPECT_EQ(c.RecordNumber(), follower != 0 ? follower : after.back()->Record);
}

void CursorModelTest::ConflictingEdits() {
  if (writers_.size() < 2 || model_->Size() == 0) return;
  TDataCursor& first = *writers_[0];
  TDataCursor& second = *writers_[1];
  TModelRow row = RandomRow();
  StandOn(first, RandomOrder(), row);
  StandOn(second, RandomOrder(), row);
  if (HasFatalFailure()) return;
  std::vector<uint8_t> mine(first.RecordSize());
  std::vector<uint8_t> theirs(second.RecordSize());
  ASSERT_EQ(first.GetCurrentRecord(mine, false), kCursorOnRecord);
  ASSERT_EQ(second.GetCurrentRecord(theirs, false), kCursorOnRecord);
  ASSERT_EQ(first.GetCurrentRecord(mine, true), kCursorOnRecord);
  RandomField(mine, kPrice);
  if (config_.Protocol == lpPessimistic) {
    EXPECT_EQ(CodeRaisedBy([&] { second.GetCurrentRecord(theirs, true); }), VEVURA_RECLOCKFAILED);
    EXPECT_EQ(CodeRaisedBy([&] { second.DeleteRecord(theirs, true); }), VEVURA_RECLOCKFAILED);
    EXPECT_EQ(second.LockedRecord(), 0);
    first.ModifyRecord(mine, true, true);
    row.Image = Masked(mine);
    model_->Replace(row);
  } else {
    ASSERT_EQ(second.GetCurrentRecord(theirs, true), kCursorOnRecord);
    // A price no record had before: the stored record surely changes.
    SetFloatField(theirs, F(kPrice), 1000 + (++price_changes_));
    second.ModifyRecord(theirs, true, true);
    row.Image = Masked(theirs);
    model_->Replace(row);
    // The record changed since the first edit began: that post and every
    // retry fail until the edit is cancelled.
    EXPECT_EQ(CodeRaisedBy([&] { first.ModifyRecord(mine, true, true); }), VEVURA_KEYORRECDELETED);
    EXPECT_TRUE(first.EditChanged());
    EXPECT_EQ(CodeRaisedBy([&] { first.ModifyRecord(mine, true, true); }), VEVURA_KEYORRECDELETED);
    first.CancelEdit();
    EXPECT_FALSE(first.EditChanged());
  }
  EXPECT_EQ(first.LockedRecord(), 0);
}

void CursorModelTest::JumpRowIds(TDataCursor& c) {
  // As another program that changed the header would leave it.
  TDataTable& table = *c.Table();
  table.WriteLock();
  table.DataFile().SetLastAutoIncValue(INT32_MAX - 3);
  table.ChangesMade(true, false, false);
  table.WriteUnlock();
  model_->SetLastRowId(INT32_MAX - 3);
}

void CursorModelTest::ExpectStep(TDataCursor& c, const std::vector<const TModelRow*>& rows,
                                 size_t i, bool forward) {
  ASSERT_EQ(c.RecordNumber(), i < rows.size() ? rows[i]->Record : 0) << "place " << i;
  std::vector<uint8_t> buffer(c.RecordSize());
  const size_t next = forward ? i + 1 : i - 1;  // i - 1 wraps past the end at 0
  const int code = forward ? c.Next(buffer) : c.Prior(buffer);
  if (next < rows.size()) {
    ASSERT_EQ(code, kCursorOnRecord) << (forward ? "Next" : "Prior") << " from place " << i;
    EXPECT_EQ(c.RecordNumber(), rows[next]->Record) << (forward ? "Next" : "Prior");
    EXPECT_EQ(Masked(buffer), rows[next]->Image);
  } else {
    EXPECT_EQ(code, forward ? VEVURA_EOF : VEVURA_BOF) << "from place " << i;
  }
}

void CursorModelTest::PostsAmongMoves(TDataCursor& c) {
  static constexpr uint8_t kNonUnique[] = {kNameIndex, kPriceIndex, kCatNameIndex, kDayIndex};
  const TOrder& order = orders_[kNonUnique[Random(4)]];
  const TKeyContext& keys = *order.Keys;
  SwitchTo(c, order);
  std::vector<uint8_t> low, high;
  TFilter* filter = nullptr;
  if (model_->Size() > 0 && Chance(25)) {
    low = RandomRow().Image;
    high = RandomRow().Image;
    if (CompareKeys(keys, BuildKey(keys, low).data(), BuildKey(keys, high).data(),
                    keys.SlotsLength) > 0) {
      std::swap(low, high);
    }
    c.SetRange(false, low, 0, high, 0);
  }
  if (Chance(20)) {
    filter = c.AddFilter(RandomFilterText(), {});
    c.ActivateFilter(filter);
  }
  // The rows the cursor shows, in its order.
  auto shown = [&] {
    std::vector<const TModelRow*> rows;
    for (const TModelRow* row : Expected(order)) {
      const std::vector<uint8_t> key = BuildKey(keys, row->Image);
      if (!low.empty() &&
          (CompareKeys(keys, key.data(), BuildKey(keys, low).data(), keys.SlotsLength) < 0 ||
           CompareKeys(keys, key.data(), BuildKey(keys, high).data(), keys.SlotsLength) > 0)) {
        continue;
      }
      if (filter == nullptr || Passes(*row, *filter, false)) rows.push_back(row);
    }
    return rows;
  };
  // The place of the first row not below key; the last row when none.
  auto place = [&](const std::vector<const TModelRow*>& rows, const std::vector<uint8_t>& key) {
    size_t i = 0;
    while (i < rows.size() &&
           CompareKeys(keys, BuildKey(keys, rows[i]->Image).data(), key.data(), keys.KeyLength) < 0)
      ++i;
    return i == rows.size() && i > 0 ? i - 1 : i;
  };
  std::vector<uint8_t> buffer(c.RecordSize());
  std::vector<uint8_t> posted;
  for (int p = 1 + Random(3); p > 0; --p) {
    const bool edit = c.RecordNumber() != 0 && Chance(35);
    TModelRow row;
    if (edit) {
      ASSERT_EQ(c.GetCurrentRecord(buffer, true), kCursorOnRecord);
      row = *model_->Find(RecordRowId(buffer));
      RandomField(buffer, static_cast<uint16_t>(kName + Random(5)));
    } else {
      c.InitRecord(buffer);
      for (uint16_t n = kName; n <= kFlag; ++n) RandomField(buffer, n);
    }
    if (model_->Clash(*contexts_[kCodeIndex], buffer, edit ? row.RowId : 0) != nullptr) {
      if (edit) c.CancelEdit();
      continue;
    }
    if (edit) {
      c.ModifyRecord(buffer, true, true);
      row.Image = Masked(buffer);
      model_->Replace(row);
    } else {
      c.InsertRecord(buffer, true);
      row.RowId = RecordRowId(buffer);
      row.Image = Masked(buffer);
      model_->Insert(row);
    }
    posted = BuildKey(keys, buffer);
    const std::vector<const TModelRow*> rows = shown();
    const size_t at = place(rows, posted);
    ASSERT_EQ(c.RecordNumber(), at < rows.size() ? rows[at]->Record : 0) << "after a post";
    if (at < rows.size()) {
      EXPECT_EQ(c.GetBookmark(), BuildKey(keys, rows[at]->Image));
      EXPECT_EQ(Masked(c.CurrentRecord()), rows[at]->Image);
    }
  }
  std::vector<const TModelRow*> rows = shown();
  size_t at = posted.empty() ? rows.size() : place(rows, posted);
  if (at >= rows.size()) {
    // No post, or no rows shown: from the beginning.
    c.First();
    ExpectStep(c, rows, static_cast<size_t>(-1), true);
    at = 0;
  }
  if (rows.empty()) {
    EXPECT_EQ(c.GetRecordCount(), 0);
  } else {
    switch (Random(10)) {
      case 0:
      case 1:
        ExpectStep(c, rows, at, Chance(50));
        break;
      case 2:
        EXPECT_EQ(c.GetRecNo(), static_cast<int64_t>(at + 1));
        ExpectStep(c, rows, at, true);
        break;
      case 3: {
        const TBookmark mark = c.GetBookmark();
        c.Last();
        EXPECT_TRUE(c.GotoBookmark(mark, false));
        ExpectStep(c, rows, at, false);
        break;
      }
      case 4: {
        // A search for the fields of a shown row finds the first row with them.
        const TModelRow& target = *rows[static_cast<size_t>(Random(static_cast<int>(rows.size())))];
        const std::vector<uint8_t> key = BuildKey(keys, target.Image);
        EXPECT_TRUE(c.FindKey(target.Image, false, 0, 0, false, buffer));
        size_t first = 0;
        while (CompareKeys(keys, BuildKey(keys, rows[first]->Image).data(), key.data(),
                           keys.SlotsLength) < 0) {
          ++first;
        }
        ExpectStep(c, rows, first, Chance(50));
        break;
      }
      case 5:
        ASSERT_EQ(c.GetCurrentRecord(buffer, true), kCursorOnRecord);
        c.CancelEdit();
        ExpectStep(c, rows, at, Chance(50));
        break;
      case 6: {
        // Deleted with a move to the next row, or staying on the gone entry.
        const bool reposition = Chance(50);
        ASSERT_EQ(c.GetCurrentRecord(buffer, false), kCursorOnRecord);
        c.DeleteRecord(buffer, reposition);
        model_->Delete(rows[at]->RowId);
        rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(at));
        if (reposition) {
          if (at == rows.size()) at = rows.empty() ? 0 : at - 1;
          ExpectStep(c, rows, at, Chance(50));
        } else {
          // The step from the gone entry reaches the row after it.
          const int code = c.Next(buffer);
          EXPECT_EQ(code, at < rows.size() ? kCursorOnRecord : VEVURA_EOF);
          EXPECT_EQ(c.RecordNumber(), at < rows.size() ? rows[at]->Record : 0);
        }
        break;
      }
      case 7: {
        // A range around some rows: the cursor stays on its row when inside.
        const TBookmark mark = c.GetBookmark();
        low = rows[static_cast<size_t>(Random(static_cast<int>(rows.size())))]->Image;
        high = rows[static_cast<size_t>(Random(static_cast<int>(rows.size())))]->Image;
        if (CompareKeys(keys, BuildKey(keys, low).data(), BuildKey(keys, high).data(),
                        keys.SlotsLength) > 0) {
          std::swap(low, high);
        }
        c.SetRange(false, low, 0, high, 0);
        rows = shown();
        EXPECT_EQ(c.GetRecordCount(), static_cast<int64_t>(rows.size()));
        ExpectStep(c, rows, place(rows, mark), Chance(50));
        break;
      }
      case 8: {
        std::unique_ptr<TDataCursor> clone = c.CloneCursor();
        ExpectStep(*clone, rows, at, true);
        ExpectStep(c, rows, at, false);
        break;
      }
      default:
        c.Last();
        ExpectStep(c, rows, rows.size(), false);
        break;
    }
  }
  if (filter != nullptr) c.RemoveFilter(filter);
  c.CancelRange();
}

// ---------------------------------------------------------------------------
// Checks

void CursorModelTest::CheckAll() {
  for (auto& c : writers_) {
    EXPECT_EQ(c->LockedRecord(), 0);
    EXPECT_EQ(c->OpenBlobCount(), 0u);
  }
  TDataCursor& c = *writers_[0];
  CheckRefresh(c);
  for (const TOrder& order : orders_) {
    SCOPED_TRACE("order \"" + order.Name + "\"");
    CheckOrder(c, order);
    if (HasFatalFailure()) return;
  }
  const std::string active = c.ActiveIndexName();
  EXPECT_EQ(CodeRaisedBy([&] { c.SwitchToIndex("NO_SUCH"); }), VEVURA_INVALIDINDEXNAME);
  EXPECT_EQ(c.ActiveIndexName(), active);
  std::unique_ptr<TDataCursor> clone = c.CloneCursor();
  EXPECT_EQ(clone->ActiveIndexName(), c.ActiveIndexName());
  EXPECT_EQ(clone->RecordNumber(), c.RecordNumber());
  EXPECT_EQ(clone->GetRecordCount(), static_cast<int64_t>(model_->Size()));
  clone.reset();
  CheckFilters();
  if (HasFatalFailure()) return;
  if (config_.Blobs) CheckBlobs(c);
  if (config_.Primary) CheckRecordOrderCursor();
  // The files hold a transaction's changes only once it is committed.
  if (before_transaction_ != nullptr) return;
  TTableVerifyReport report = VerifyTable(*directory_, kTable, config_.InMemory);
  EXPECT_TRUE(report.Clean()) << report.Describe();
  EXPECT_EQ(report.LiveRecords, static_cast<int64_t>(model_->Size()));
}

void CursorModelTest::CheckRefresh(TDataCursor& c) {
  // The cursor comes back to its bookmark: its own record while that keeps
  // its key (another cursor may have changed it), else its neighbour.
  const TBookmark mark = c.GetBookmark();
  const int32_t standing = c.RecordNumber();
  c.Refresh();
  if (mark.empty()) return;
  const TModelRow* expected = nullptr;
  if (c.RecordNumberOrder()) {
    for (const auto& [id, row] : model_->Rows()) {
      if (row.Record == standing) expected = &row;
    }
  } else {
    const auto order = std::find_if(orders_.begin(), orders_.end(), [&](const TOrder& o) {
      return o.Keys != nullptr && o.Keys->IndexNumber == c.ActiveIndex();
    });
    ASSERT_NE(order, orders_.end());
    const std::vector<const TModelRow*> rows = Expected(*order);
    auto at = std::find_if(rows.begin(), rows.end(), [&](const TModelRow* row) {
      return CompareKeys(*order->Keys, BuildKey(*order->Keys, row->Image).data(), mark.data(),
                         order->Keys->KeyLength) >= 0;
    });
    if (at != rows.end()) {
      expected = *at;
    } else if (!rows.empty()) {
      expected = rows.back();
    }
  }
  if (expected != nullptr) {
    EXPECT_EQ(c.RecordNumber(), expected->Record)
        << "refresh from record " << standing << " in order \"" << c.ActiveIndexName() << "\"";
  }
}

void CursorModelTest::CheckOrder(TDataCursor& c, const TOrder& order) {
  SwitchTo(c, order);
  const std::vector<const TModelRow*> rows = Expected(order);
  EXPECT_EQ(c.GetRecordCount(), static_cast<int64_t>(rows.size()));
  CheckWalk(c, order, rows);
  if (HasFatalFailure()) return;
  CheckRecordNumbers(c, rows);
  if (order.RecordNumbers()) {
    if (!rows.empty()) {
      EXPECT_FALSE(c.FindKey(rows[0]->Image, false, 0, 0, true, {})) << "no keys";
    }
    return;
  }
  CheckFindKey(c, order, rows);
  CheckRange(c, order, rows);
}

void CursorModelTest::CheckWalk(TDataCursor& c, const TOrder& order,
                                const std::vector<const TModelRow*>& rows) {
  std::vector<uint8_t> buffer(c.RecordSize());
  std::vector<TBookmark> marks;
  c.First();
  EXPECT_TRUE(c.AtBeginning());
  for (size_t i = 0; i < rows.size(); ++i) {
    ASSERT_EQ(c.Next(buffer), kCursorOnRecord) << "entry " << i;
    ASSERT_EQ(c.RecordNumber(), rows[i]->Record) << "entry " << i << ", row " << rows[i]->RowId;
    EXPECT_EQ(Masked(buffer), rows[i]->Image) << "entry " << i;
    EXPECT_EQ(c.GetRecNo(), static_cast<int64_t>(i + 1));
    marks.push_back(c.GetBookmark());
    if (!order.RecordNumbers()) {
      EXPECT_EQ(marks.back(), BuildKey(*order.Keys, rows[i]->Image));
    }
  }
  EXPECT_EQ(c.Next(buffer), VEVURA_EOF);
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0; }))
      << "a failed move clears the buffer";
  c.Last();
  EXPECT_TRUE(c.AtEnd());
  for (size_t i = rows.size(); i-- > 0;) {
    ASSERT_EQ(c.Prior(buffer), kCursorOnRecord) << "entry " << i << " backwards";
    ASSERT_EQ(c.RecordNumber(), rows[i]->Record) << "entry " << i << " backwards";
  }
  EXPECT_EQ(c.Prior(buffer), VEVURA_BOF);
  for (int k = 0; k < 6 && !rows.empty(); ++k) {
    const auto i = static_cast<size_t>(Random(static_cast<int>(rows.size())));
    const auto j = static_cast<size_t>(Random(static_cast<int>(rows.size())));
    EXPECT_EQ(c.CompareBookmarks(marks[i], marks[j]),
              Sign(static_cast<int64_t>(i) - static_cast<int64_t>(j)));
    EXPECT_TRUE(c.GotoBookmark(marks[j], false));
    EXPECT_EQ(c.RecordNumber(), rows[j]->Record) << "bookmark of entry " << j;
  }
}

void CursorModelTest::CheckRecordNumbers(TDataCursor& c,
                                         const std::vector<const TModelRow*>& rows) {
  for (int k = 0; k < 5 && !rows.empty(); ++k) {
    const int64_t n = 1 + Random(static_cast<int>(rows.size()));
    EXPECT_TRUE(c.SetRecNo(n));
    EXPECT_EQ(c.RecordNumber(), rows[static_cast<size_t>(n - 1)]->Record) << "record no. " << n;
    EXPECT_EQ(c.GetRecNo(), n);
  }
  EXPECT_FALSE(c.SetRecNo(static_cast<int64_t>(rows.size()) + 1));
}

void CursorModelTest::ExpectFound(TDataCursor& c, const TOrder& order,
                                  const std::vector<const TModelRow*>& rows,
                                  const std::vector<uint8_t>& search, int field_count, int partial,
                                  bool nearest, size_t n) {
  const TKeyContext& keys = *order.Keys;
  const std::vector<uint8_t> key = BuildKey(keys, search);
  // The cursor stands on the first entry not below the lowest key with the
  // prefix (the last entry when there is none) and has found the key when
  // that entry begins with it.
  const std::vector<uint8_t> lowest = n < keys.KeyLength ? LowestWithPrefix(keys, key, n) : key;
  auto not_below = std::find_if(rows.begin(), rows.end(), [&](const TModelRow* row) {
    return CompareKeys(keys, BuildKey(keys, row->Image).data(), lowest.data(), keys.KeyLength) >= 0;
  });
  const bool match =
      not_below != rows.end() &&
      CompareKeys(keys, BuildKey(keys, (*not_below)->Image).data(), key.data(), n) == 0;
  const TModelRow* expected = not_below != rows.end() ? *not_below : rows.back();
  std::vector<uint8_t> buffer(c.RecordSize());
  const bool stood_on_record = !c.GetBookmark().empty();
  const int32_t stood_on = c.RecordNumber();
  const bool found = c.FindKey(search, false, field_count, partial, nearest, buffer);
  const std::string kind =
      "FindKey in order \"" + order.Name + "\" with " + std::to_string(field_count) + " fields" +
      (partial > 0 ? " and a partial length" : "") + (nearest ? ", nearest" : "");
  if (found != match) {
    ReportOnce(kind, std::string(found ? "found" : "did not find") + " the key of row " +
                         std::to_string(expected->RowId) + ", which it " +
                         (match ? "matches" : "does not match"));
  }
  if (!match && !nearest && n == keys.KeyLength) {
    if (stood_on_record && c.RecordNumber() != stood_on)
      ReportOnce(kind, "a key that is not there moved the cursor without nearest");
    return;
  }
  if (c.RecordNumber() != expected->Record) {
    ReportOnce(kind, "stands on record " + std::to_string(c.RecordNumber()) + " instead of " +
                         std::to_string(expected->Record) + " (row " +
                         std::to_string(expected->RowId) + ")");
  } else if (Masked(buffer) != expected->Image) {
    ReportOnce(found ? kind : "FindKey without a match",
               "the buffer does not hold the record the cursor stands on");
  }
}

void CursorModelTest::CheckFindKey(TDataCursor& c, const TOrder& order,
                                   const std::vector<const TModelRow*>& rows) {
  if (rows.empty()) return;
  const TKeyContext& keys = *order.Keys;
  const TModelRow& row = *rows[static_cast<size_t>(Random(static_cast<int>(rows.size())))];
  // The whole key: a unique index finds the record itself, any other the
  // first record with the same field values.
  const size_t all = keys.Unique ? keys.KeyLength : keys.SlotsLength;
  ExpectFound(c, order, rows, row.Image, 0, 0, false, all);
  // A raw key of a unique index.
  if (keys.Unique) {
    std::vector<uint8_t> buffer(c.RecordSize());
    EXPECT_TRUE(c.FindKey(BuildKey(keys, row.Image), true, 0, 0, false, buffer));
    EXPECT_EQ(c.RecordNumber(), row.Record);
  }
  // The leading field of the two-field index.
  if (keys.Slots.size() == 2)
    ExpectFound(c, order, rows, row.Image, 1, 0, false, keys.Slots[0].End());
  // The leading characters of a name.
  const size_t name_slot = keys.Slots.size() == 2 ? 1 : 0;
  if (keys.Slots[name_slot].Field.FieldNumber == kName) {
    const std::string name = GetStringField(row.Image, F(kName));
    if (!name.empty()) {
      const int length = 1 + Random(static_cast<int>(name.size()));
      std::vector<uint8_t> search = row.Image;
      SetStringField(search, F(kName), name.substr(0, static_cast<size_t>(length)), 0);
      const int fields = static_cast<int>(name_slot);
      const size_t n = (name_slot == 0 ? 0 : keys.Slots[0].End()) + static_cast<size_t>(length) + 1;
      ExpectFound(c, order, rows, search, fields, length, false, n);
    }
  }
  // A value nobody has, with and without nearest.
  if (keys.Unique) {
    std::vector<uint8_t> search = row.Image;
    if (order.Name == "CODE") {
      SetIntegerField(search, F(kCode), Chance(50) ? kCodeLimit : -1000 - Random(100));
    } else {
      SetRecordRowId(search, Chance(50) ? INT32_MAX : -5);
    }
    ExpectFound(c, order, rows, search, 0, 0, true, keys.KeyLength);
    ExpectFound(c, order, rows, row.Image, 0, 0, false, keys.KeyLength);
    ExpectFound(c, order, rows, search, 0, 0, false, keys.KeyLength);
  }
}

void CursorModelTest::CheckRange(TDataCursor& c, const TOrder& order,
                                 const std::vector<const TModelRow*>& rows) {
  if (rows.empty()) return;
  const TKeyContext& keys = *order.Keys;
  size_t i = static_cast<size_t>(Random(static_cast<int>(rows.size())));
  size_t j = static_cast<size_t>(Random(static_cast<int>(rows.size())));
  if (i > j) std::swap(i, j);
  const int fields = keys.Slots.size() == 2 && Chance(50) ? 1 : 0;
  const size_t n = fields == 1 ? keys.Slots[0].End() : keys.SlotsLength;
  const std::vector<uint8_t> low = BuildKey(keys, rows[i]->Image);
  const std::vector<uint8_t> high = BuildKey(keys, rows[j]->Image);
  std::vector<const TModelRow*> inside;
  for (const TModelRow* row : rows) {
    const std::vector<uint8_t> key = BuildKey(keys, row->Image);
    if (CompareKeys(keys, key.data(), low.data(), n) >= 0 &&
        CompareKeys(keys, key.data(), high.data(), n) <= 0) {
      inside.push_back(row);
    }
  }
  c.SetRange(false, rows[i]->Image, fields, rows[j]->Image, fields);
  EXPECT_TRUE(c.RangeActive());
  const int64_t count = c.GetRecordCount();
  std::vector<uint8_t> buffer(c.RecordSize());
  std::vector<int32_t> walked;
  bool numbered = true;
  c.First();
  while (walked.size() <= rows.size() && c.Next(buffer) == kCursorOnRecord) {
    walked.push_back(c.RecordNumber());
    numbered = numbered && c.GetRecNo() == static_cast<int64_t>(walked.size());
  }
  std::vector<int32_t> wanted;
  for (const TModelRow* row : inside) wanted.push_back(row->Record);
  if (walked != wanted || count != static_cast<int64_t>(wanted.size()) || !numbered) {
    ReportOnce(
        "SetRange in order \"" + order.Name + "\" with " + std::to_string(fields) + " fields",
        "rows " + std::to_string(i) + " to " + std::to_string(j) + " of the order hold " +
            std::to_string(wanted.size()) + " records; the cursor counts " + std::to_string(count) +
            " and walks " + std::to_string(walked.size()) + (numbered ? "" : ", numbered wrongly"));
  } else {
    c.Last();
    ASSERT_EQ(c.Prior(buffer), kCursorOnRecord);
    EXPECT_EQ(c.RecordNumber(), inside.back()->Record);
  }
  // Reversed bounds: a range without records.
  if (CompareKeys(keys, low.data(), high.data(), n) < 0) {
    c.SetRange(false, rows[j]->Image, fields, rows[i]->Image, fields);
    EXPECT_EQ(c.GetRecordCount(), 0);
    c.First();
    EXPECT_TRUE(c.AtBeginning() && c.AtEnd());
    EXPECT_EQ(c.Next(buffer), VEVURA_EOF);
    EXPECT_EQ(c.GetCurrentRecord(buffer, false), VEVURA_NOCURRREC);
  }
  c.CancelRange();
  EXPECT_FALSE(c.RangeActive());
  EXPECT_EQ(c.GetRecordCount(), static_cast<int64_t>(rows.size()));
}

void CursorModelTest::CheckRecordOrderCursor() {
  if (config_.Exclusive) {
    // Nobody else may open an exclusive table: the writer makes way.
    writers_.clear();
    std::unique_ptr<TDataCursor> reader = NewCursor(true);
    CheckOrder(*reader, TOrder{"", nullptr});
    reader.reset();
    writers_.push_back(NewCursor(false));
    return;
  }
  if (reader_ == nullptr) reader_ = NewCursor(true);
  CheckOrder(*reader_, TOrder{"", nullptr});
}

void CursorModelTest::CheckBlobs(TDataCursor& c) {
  for (int k = 0; k < 8 && model_->Size() > 0; ++k) {
    const TModelRow& row = RandomRow();
    StandOn(c, orders_[0], row);
    if (HasFatalFailure()) return;
    std::vector<uint8_t> buffer(c.RecordSize());
    ASSERT_EQ(c.GetCurrentRecord(buffer, false), kCursorOnRecord);
    const std::vector<uint8_t> notes = ReadBlob(c, buffer, kNotes);
    EXPECT_EQ(std::string(notes.begin(), notes.end()), row.Notes) << "row " << row.RowId;
    EXPECT_EQ(ReadBlob(c, buffer, kData), row.Data) << "row " << row.RowId;
  }
  EXPECT_EQ(c.OpenBlobCount(), 0u);
}

void CursorModelTest::StepTransaction(bool last) {
  if (before_transaction_ == nullptr) {
    if (last || !Chance(3)) return;
    ASSERT_NO_THROW(directory_->StartTransaction());
    before_transaction_ = std::make_unique<TTableModel>(*model_);
    return;
  }
  if (!last && !Chance(6)) return;
  if (Chance(50)) {
    ASSERT_NO_THROW(directory_->Commit(true, false));
  } else {
    ASSERT_NO_THROW(directory_->Rollback());
    *model_ = *before_transaction_;
  }
  before_transaction_.reset();
}

// ---------------------------------------------------------------------------
// Filters

std::string CursorModelTest::RandomCondition() {
  static const char* const kComparisons[] = {"=", "<>", "<", "<=", ">", ">="};
  const std::string op = kComparisons[Random(6)];
  const int codes = 5 * static_cast<int>(model_->Size()) + 50;
  auto code = [&] { return std::to_string(Random(codes) - 25); };
  auto name = [&] { return "'" + RandomName() + "'"; };
  auto day = [&] {
    TExpToken t;
    t.SetDate(738000 + Random(32) - 1);
    return "'" + ValueText(t) + "'";
  };
  switch (Random(20)) {
    case 0:
      return "CODE " + op + " " + code();
    case 1:
      return code() + " " + op + " CODE";  // the field on the right
    case 2:
      return std::string("CODE ") + (Chance(50) ? "NOT " : "") + "BETWEEN " + code() + " AND " +
             code();
    case 3:
      return std::string("CODE ") + (Chance(50) ? "NOT " : "") + "IN (" + code() + ", " + code() +
             ", " + code() + ")";
    case 4:
      return std::string("CODE IS ") + (Chance(50) ? "NOT " : "") + "NULL";
    case 5:
    case 6:
      return "NAME " + op + " " + name();
    case 7:
      return std::string("NAME ") + (Chance(50) ? "NOT " : "") + "IN (" + name() + ", " + name() +
             ")";
    case 8:
      return "PRICE " + op + " " + std::to_string(Random(60) * 0.25 - 5).substr(0, 5);
    case 9:
      return "CAT " + op + " " + std::to_string(Random(9) - 3);
    case 10:
      return "DAY " + op + " " + day();
    case 11:
      return std::string("DAY IS ") + (Chance(50) ? "NOT " : "") + "NULL";
    case 12:
      return "ID " + op + " " + std::to_string(Random(static_cast<int>(model_->Size()) + 10));
    case 13:
      return "CODE + CAT " + op + " " + code();  // evaluated record by record
    case 14:
      return std::string("NAME LIKE '") + (Chance(50) ? "%" : "") + RandomName() + "%'";
    case 15:
      return std::string(Chance(50) ? "UPPER" : "LOWER") + "(NAME) " + op + " " + name();
    case 16:
      return "NAME " + std::string(Chance(50) ? "=" : "<>") + " '" + RandomName() + "*'";
    case 17: {
      // Words of NAME, from the word index where the table has one.
      std::string words = RandomName();
      if (Chance(40)) words += " " + RandomName();
      if (Chance(40)) words = words.substr(0, 1) + "*";
      return "TEXTSEARCH('" + words + "' IN NAME)";
    }
    case 18:
      return std::string(Chance(50) ? "FLAG" : "NOT FLAG") +
             (Chance(30) ? std::string(" OR FLAG IS NULL") : "");
    default:
      return "PRICE * 2 " + op + " CODE";
  }
}

std::string CursorModelTest::RandomFilterText(int depth) {
  const int pick = depth < 2 ? Random(10) : 9;
  if (pick < 3)
    return "(" + RandomFilterText(depth + 1) + ") AND (" + RandomFilterText(depth + 1) + ")";
  if (pick < 5)
    return "(" + RandomFilterText(depth + 1) + ") OR (" + RandomFilterText(depth + 1) + ")";
  if (pick < 6) return "NOT (" + RandomFilterText(depth + 1) + ")";
  return RandomCondition();
}

bool CursorModelTest::Passes(const TModelRow& row, const TFilter& filter, bool odd_row_ids) const {
  TEvaluationContext context;
  context.Fields = &fields_;
  context.LanguageId = config_.LanguageId;
  context.SortId = config_.SortId;
  context.TableName = kTable;
  if (odd_row_ids && row.RowId % 2 == 0) return false;
  return RecordPasses(*filter.Expression(), row.Image, context);
}

std::vector<const TModelRow*> CursorModelTest::Passing(const std::vector<const TModelRow*>& rows,
                                                       const TFilter& filter,
                                                       bool odd_row_ids) const {
  std::vector<const TModelRow*> passing;
  for (const TModelRow* row : rows) {
    if (Passes(*row, filter, odd_row_ids)) passing.push_back(row);
  }
  return passing;
}

void CursorModelTest::CheckFilteredOrder(TDataCursor& c, const TOrder& order, const TFilter& filter,
                                         bool odd) {
  SwitchTo(c, order);
  const std::vector<const TModelRow*> rows = Passing(Expected(order), filter, odd);
  EXPECT_EQ(c.GetRecordCount(), static_cast<int64_t>(rows.size()));
  CheckWalk(c, order, rows);
  if (HasFatalFailure()) return;
  CheckRecordNumbers(c, rows);
  if (order.RecordNumbers()) return;
  CheckFindKey(c, order, rows);
  CheckRange(c, order, rows);
}

void CursorModelTest::CheckFilters() {
  TDataCursor& c = *writers_[0];
  const std::string text = RandomFilterText();
  SCOPED_TRACE("filter " + text);
  TFilterSettings settings;
  settings.IgnoreCase = Chance(30);
  settings.NoPartialCompare = Chance(30);
  settings.ComplementRule = Chance(50);
  settings.CostRule = Chance(20);
  TFilter* filter = nullptr;
  ASSERT_NO_THROW(filter = c.AddFilter(text, settings));
  const bool odd = Chance(30);
  if (odd) {
    // Sees only what the expression let through.
    c.AddCallbackFilter([this, filter](TDataCursor&, std::span<const uint8_t> record, int32_t) {
      // (A record being inserted is not in the model yet.)
      const TModelRow* row = model_->Find(RecordRowId(record));
      EXPECT_TRUE(row == nullptr || Passes(*row, *filter, false)) << "a callback saw a hidden row";
      return RecordRowId(record) % 2 == 1;
    });
  }
  c.ActivateFilter(nullptr);
  for (const TOrder& order : {orders_[Random(static_cast<int>(orders_.size()))],
                              orders_[Random(static_cast<int>(orders_.size()))]}) {
    SCOPED_TRACE("filtered order \"" + order.Name + "\"");
    CheckFilteredOrder(c, order, *filter, odd);
    if (HasFatalFailure()) return;
  }
  // An insert through the filtered cursor is visible at once when it passes.
  std::vector<uint8_t> buffer(c.RecordSize());
  c.InitRecord(buffer);
  for (uint16_t n = kName; n <= kFlag; ++n) RandomField(buffer, n);
  if (!config_.Blobs && model_->Clash(*contexts_[kCodeIndex], buffer, 0) == nullptr) {
    const int32_t slot = model_->NextSlot();
    c.InsertRecord(buffer, true);
    TModelRow row;
    row.RowId = RecordRowId(buffer);
    row.Image = Masked(buffer);
    model_->Insert(row);
    const bool passes = Passes(*model_->Find(row.RowId), *filter, odd);
    EXPECT_EQ(c.RecordNumber() == slot, passes) << "the new record passes: " << passes;
  }
  const std::vector<const TModelRow*> visible = Passing(model_->InRecordOrder(), *filter, odd);
  EXPECT_EQ(c.GetRecordCount(), static_cast<int64_t>(visible.size()));
  // A delete through it.
  if (!visible.empty() && !config_.Blobs) {
    const TModelRow& row = *visible[static_cast<size_t>(Random(static_cast<int>(visible.size())))];
    StandOn(c, orders_[0], row);
    if (HasFatalFailure()) return;
    ASSERT_EQ(c.GetCurrentRecord(buffer, false), kCursorOnRecord);
    c.DeleteRecord(buffer, true);
    model_->Delete(row.RowId);
    EXPECT_EQ(c.GetRecordCount(), static_cast<int64_t>(visible.size()) - 1);
  }
  // A change through it: the record stays visible only while it passes.
  const std::vector<const TModelRow*> left = Passing(model_->InRecordOrder(), *filter, odd);
  if (!left.empty() && !config_.Blobs) {
    TModelRow row = *left[static_cast<size_t>(Random(static_cast<int>(left.size())))];
    StandOn(c, orders_[0], row);
    if (HasFatalFailure()) return;
    ASSERT_EQ(c.GetCurrentRecord(buffer, false), kCursorOnRecord);
    ASSERT_EQ(c.GetCurrentRecord(buffer, true), kCursorOnRecord);
    for (uint16_t n = kName; n <= kFlag; ++n) {
      if (Chance(50)) RandomField(buffer, n);
    }
    if (model_->Clash(*contexts_[kCodeIndex], buffer, row.RowId) == nullptr) {
      c.ModifyRecord(buffer, true, true);
      row.Image = Masked(buffer);
      model_->Replace(row);
    } else {
      c.CancelEdit();
    }
    const size_t now = Passing(model_->InRecordOrder(), *filter, odd).size();
    EXPECT_EQ(c.GetRecordCount(), static_cast<int64_t>(now));
  }
  c.RemoveFilter(nullptr);
  EXPECT_EQ(c.FilterCount(), 0u);
  EXPECT_EQ(c.GetRecordCount(), static_cast<int64_t>(model_->Size()));
  // Another cursor's filter, kept while the others change the table.
  if (config_.Exclusive) return;
  if (watcher_ == nullptr) {
    watcher_ = NewCursor(false);
    watched_ = watcher_->AddFilter("(CODE >= 10 AND CAT <> 0) OR NAME < 'c'", {});
    watcher_->ActivateFilter(watched_);
  }
  SCOPED_TRACE("the watcher's filter");
  const TOrder& order = orders_[Random(static_cast<int>(orders_.size()))];
  SwitchTo(*watcher_, order);
  CheckWalk(*watcher_, order, Passing(Expected(order), *watched_, false));
}

// ---------------------------------------------------------------------------
// The run

void CursorModelTest::Run(const TModelConfig& config) {
  config_ = config;
  const int operations = OperationCount();
  const uint32_t seed = config.Seed + SeedOffset();
  SCOPED_TRACE(std::string(config.Name) + ", seed " + std::to_string(seed) + ", " +
               std::to_string(operations) + " operations");
  random_.seed(seed);
  session_->SetLockProtocol(config.Protocol);
  session_->SetStrictChangeDetection(config.StrictChangeDetection);
  if (config.Encrypted) session_->AddPassword(kModelPassword);
  TTableTarget target;
  target.TableName = kTable;
  target.Exclusive = true;
  target.InMemory = config.InMemory;
  CreateTable(*directory_, target, ModelDefinition(config));
  model_ = std::make_unique<TTableModel>(config.Primary);
  writers_.push_back(NewCursor(false));
  if (!config.Exclusive) writers_.push_back(NewCursor(false));
  LoadOrders();
  for (int op = 0; op < operations; ++op) {
    TDataCursor& c = *writers_[static_cast<size_t>(Random(static_cast<int>(writers_.size())))];
    if (config.Transactions) {
      StepTransaction(op + 1 == operations || (config.WrapRowIds && op == operations / 2));
      if (HasFatalFailure()) return;
    }
    if (config.WrapRowIds && op == operations / 2) JumpRowIds(c);
    const int pick = Random(100);
    if (config.PostsAmongMoves && Random(100) < 60) {
      PostsAmongMoves(c);
    } else if (pick < 50) {
      Insert(c);
    } else if (pick < 75) {
      Modify(c);
    } else if (pick < 78) {
      ConflictingEdits();
    } else {
      Delete(c);
    }
    if (HasFatalFailure()) return;
    if ((op + 1) % kBatch == 0 || op + 1 == operations) {
      SCOPED_TRACE("after operation " + std::to_string(op + 1));
      CheckAll();
      if (FailureCount() > known_failures_) return;
    }
  }
}

// ---------------------------------------------------------------------------
// Configurations

TEST_F(CursorModelTest, PlainTableSharedPessimistic) {
  TModelConfig config;
  config.Name = "plain, shared, pessimistic, transactions";
  config.Seed = 1101;
  config.WrapRowIds = true;
  config.Transactions = true;
  Run(config);
}

TEST_F(CursorModelTest, GermanTableSharedOptimistic) {
  TModelConfig config;
  config.Name = "German, shared, optimistic, strict change detection";
  config.Seed = 2202;
  config.LanguageId = 1031;
  config.Protocol = lpOptimistic;
  config.StrictChangeDetection = true;
  Run(config);
}

TEST_F(CursorModelTest, NoPrimaryIndexExclusiveInMemory) {
  TModelConfig config;
  config.Name = "no primary index, exclusive, in memory";
  config.Seed = 3303;
  config.Primary = false;
  config.Exclusive = true;
  config.InMemory = true;
  config.WrapRowIds = true;
  Run(config);
}

TEST_F(CursorModelTest, MemoWordsAndBlobsGermanPhoneBookShared) {
  TModelConfig config;
  config.Name = "BLOBs and words, German phone book, shared, pessimistic, encrypted";
  config.Seed = 4404;
  config.LanguageId = 1031;
  config.SortId = 1;
  config.Blobs = true;
  config.Encrypted = true;
  Run(config);
}

TEST_F(CursorModelTest, MemoWordsAndBlobsExclusiveOptimistic) {
  TModelConfig config;
  config.Name = "BLOBs and words, exclusive, optimistic";
  config.Seed = 5505;
  config.Blobs = true;
  config.Exclusive = true;
  config.Protocol = lpOptimistic;
  Run(config);
}

TEST_F(CursorModelTest, PostsAmongMovesOnNonUniqueIndexesExclusive) {
  TModelConfig config;
  config.Name = "posts among moves on non-unique indexes, exclusive";
  config.Seed = 6606;
  config.Exclusive = true;
  config.PostsAmongMoves = true;
  Run(config);
}

TEST_F(CursorModelTest, FilterLevelsAndErrors) {
  TTableTarget target;
  target.TableName = kTable;
  target.Exclusive = true;
  TModelConfig config;
  config.Blobs = true;  // with the word index over NAME and NOTES
  CreateTable(*directory_, target, ModelDefinition(config));
  std::unique_ptr<TDataCursor> c = NewCursor(false);
  TFilterSettings caseless;
  caseless.IgnoreCase = true;
  struct TCase {
    const char* Text;
    bool IgnoreCase;
    int Level;
  } cases[] = {
      {"CODE > 5", false, 2},
      {"5 < CODE", false, 2},  // turned around
      {"CODE BETWEEN 1 AND 9 OR CODE IN (20, 30)", false, 2},
      {"NOT (DAY IS NULL)", false, 2},
      {"NAME = 'ab'", true, 2},
      {"NAME = 'ab'", false, 0},  // the NAME index ignores case
      {"PRICE > 1.5", false, 0},  // the PRICE index is descending
      {"CODE > CAT", false, 0},
      {"CODE + 1 > 5", false, 0},
      {"PRICE > 1 AND CODE > 5", false, 1},
      {"PRICE > 1 OR CODE > 5", false, 0},
      {"NAME = 'ab*'", true, 2},  // the keys that begin with AB
      {"NAME LIKE 'ab%'", false, 0},
      {"FLAG", false, 0},
      {"TEXTSEARCH('ab zu*' IN NAME)", false, 2},
      {"TEXTSEARCH('the' IN NAME)", false, 0},  // a stop word only
      {"TEXTSEARCH('a*' IN NAME)", false, 0},   // the stop words it begins are not indexed
  };
  for (const TCase& test : cases) {
    TFilter* filter = c->AddFilter(test.Text, test.IgnoreCase ? caseless : TFilterSettings{});
    EXPECT_EQ(c->GetFilterOptimizeLevel(filter), test.Level) << test.Text;
    if (test.Level == 1) {
      EXPECT_EQ(TreeText(*filter->Expression()), "((CODE > 5) AND (PRICE > 1))")
          << "the answerable side goes first";
    }
  }
  c->RemoveFilter(nullptr);
  // The cost rule leaves to the records a condition that holds for more than
  // 90% of them, unless the other side of its AND or OR comes from an index.
  std::vector<uint8_t> buffer(c->RecordSize());
  for (int32_t code = 1; code <= 20; ++code) {
    c->InitRecord(buffer);
    SetIntegerField(buffer, c->Fields()[kCode - 1], code);
    c->InsertRecord(buffer, true);
  }
  TFilterSettings costed;
  costed.CostRule = true;
  for (const auto& [text, level] : std::vector<std::pair<std::string, int>>{
           {"CODE > 1", 0},
           {"CODE > 18", 2},
           {"CODE > 1 AND CODE = 5", 2},
           {"CODE > 1 AND PRICE > 1", 0},
           {"NOT (CODE < 20)", 0}}) {  // a NOT has its operand's level
    EXPECT_EQ(c->GetFilterOptimizeLevel(c->AddFilter(text, costed)), level) << text;
    EXPECT_EQ(c->GetFilterOptimizeLevel(c->AddFilter(text, {})),
              text.find("PRICE") != std::string::npos ? 1 : 2)
        << text;
  }
  c->RemoveFilter(nullptr);
  const EVEVURAEngineError error = RaisedBy([&] { c->AddFilter("CODE + 1", {}); }).value();
  EXPECT_EQ(error.ErrorCode, VEVURA_INVALIDFILTER);
  EXPECT_NE(std::string(error.what())
                .find("Filter error for the table 'STOCK' - filter expression must be a boolean "
                      "expression"),
            std::string::npos)
      << error.what();
  EXPECT_EQ(CodeRaisedBy([&] { c->AddFilter("CODE >", {}); }), VEVURA_INVALIDFILTER);
  std::unique_ptr<TDataCursor> other = NewCursor(false);
  TFilter* foreign = other->AddFilter("CODE > 1", {});
  EXPECT_EQ(CodeRaisedBy([&] { c->ActivateFilter(foreign); }), VEVURA_NOSUCHFILTER);
  EXPECT_EQ(CodeRaisedBy([&] { c->RemoveFilter(foreign); }), VEVURA_NOSUCHFILTER);
  for (size_t i = 0; i < kMaxCursorFilters; ++i)
    c->AddCallbackFilter([](auto&&...) { return true; });
  EXPECT_EQ(CodeRaisedBy([&] { c->AddFilter("CODE > 1", {}); }), VEVURA_INTERNALLIMIT);
}

}  // namespace
}  // namespace vevura::test
