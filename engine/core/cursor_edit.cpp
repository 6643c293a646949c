// Changing a table through a cursor: new records with their defaults, the
// value rules, insert, modify and delete with the maintenance of every index,
// and the start and end of an edit with both lock protocols.

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <limits>
#include <string>
#include <vector>

#include "engine/base/engine_error.h"
#include "engine/core/data_cursor.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_table.h"
#include "engine/storage/fields/field_rules.h"
#include "engine/storage/fields/record_layout.h"
#include "engine/storage/keys/key_builder.h"
#include "platform/date_time.h"

namespace vevura {

namespace {

using TKey = std::vector<uint8_t>;
using TSlotKey = std::array<uint8_t, kSlotKeyLength>;

TTableLanguage LanguageOf(TDataTable& table) {
  return TTableLanguage{table.DataFile().LanguageId(), table.DataFile().SortId()};
}

[[noreturn]] void RaiseNaming(uint16_t code, const TDataTable& table, const std::string& field,
                              const std::string& index) {
  RaiseEngineError(code, "", "", table.Directory().ErrorName(), table.TableName(), field, index,
                   "");
}

bool SameBytes(std::span<const uint8_t> a, std::span<const uint8_t> b, size_t n) {
  return a.size() >= n && b.size() >= n && std::equal(a.begin(), a.begin() + n, b.begin());
}

TSlotKey SlotKeyOf(std::span<const uint8_t> record) {
  TSlotKey key{};
  BuildSlotKey(record, key.data());
  return key;
}

TSlotKey SlotKey(uint8_t status, int32_t row_id) {
  std::array<uint8_t, kRecordHeaderSize> header{};
  header[kStatusOffset] = status;
  SetRecordRowId(header, row_id);
  return SlotKeyOf(header);
}

//! The row id that follows value: 1 after 2147483647 (and after a value no
//! insert hands out).
int32_t FollowingRowId(int32_t value) {
  return value <= 0 || value == std::numeric_limits<int32_t>::max() ? 1 : value + 1;
}

//! Keys in a with no equal key in b; both sorted.
std::vector<TKey> KeysMissingFrom(const std::vector<TKey>& a, const std::vector<TKey>& b) {
  std::vector<TKey> missing;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(missing));
  return missing;
}

//! The fields of the word index, in its order.
std::vector<TFieldDescriptor> TextFieldsOf(TDataTable& table) {
  std::vector<TFieldDescriptor> fields;
  const TIndexDescriptor d = table.IndexFile().GetIndexDescriptor(kTextIndex);
  const std::vector<TFieldDescriptor>& all = table.DataFile().Fields();
  for (int i = 0; i < std::min<int>(d.FieldCount, kMaxIndexFields); ++i) {
    const uint16_t number = d.FieldNumbers[static_cast<size_t>(i)];
    if (number >= 1 && number <= all.size()) fields.push_back(all[number - 1]);
  }
  return fields;
}

//! The word keys of a field's text, sorted.
std::vector<TKey> SortedWordKeys(const TKeyContext& context, const TTextIndexRules& rules,
                                 const TFieldDescriptor& field, const std::string& text,
                                 int32_t row_id) {
  std::vector<TKey> keys = BuildWordKeys(context, rules, field.FieldNumber, text, row_id);
  // Every word key has the word index's key length.
  std::sort(keys.begin(), keys.end(), [](const TKey& a, const TKey& b) {
    return std::memcmp(a.data(), b.data(), kTextKeyLength) < 0;
  });
  return keys;
}

//! False when a word-index field of a modified record keeps its text: the
//! same value bytes, or an open BLOB (buffer) that the post does not save.
bool TextMayDiffer(const TFieldDescriptor& field, TConstRecordImage old_record,
                   TConstRecordImage record, const TBlobBuffer* buffer) {
  if (RecordRowId(old_record) != RecordRowId(record)) return true;
  if (field.IsBlob() && GetBlobField(record, field).FirstBlock < 0) {
    return buffer != nullptr && buffer->Modified();
  }
  TConstRecordImage old_value = FieldData(old_record, field);
  TConstRecordImage value = FieldData(record, field);
  return !std::equal(old_value.begin(), old_value.end(), value.begin(), value.end());
}

//! A key with the auto-increment field is unique whatever the other fields
//! hold, since no two record slots carry one row id.
bool HoldsRowId(const TKeyContext& context) {
  return std::any_of(context.Slots.begin(), context.Slots.end(),
                     [](const TKeySlot& slot) { return slot.Field.IsAutoInc(); });
}

}  // namespace

// ---------------------------------------------------------------------------
// One change: its locks and its failure

//! One change of the table: the cursor is the table's page client and holds
//! the write lock while the scope lives, plus the record lock the change
//! took. A failure after BeginChanges discards the table's buffers and
//! re-reads the headers, since the disk still holds the table as it was
//! before the change; then the record lock and the write lock are released,
//! in this order.
class TDataCursor::TChangeScope {
 public:
  explicit TChangeScope(TDataCursor& cursor) : cursor_(cursor) {
    cursor_.BeginBracket();
    try {
      cursor_.CursorWriteLock();
      cursor_.CheckCompanionChanges();
    } catch (...) {
      // A refresh that failed after the lock was taken must not keep it.
      try {
        cursor_.CursorWriteUnlock();
      } catch (...) {
      }
      cursor_.EndBracket();
      throw;
    }
    cursor_.blob_undo_.clear();
    cursor_.replaced_chains_.clear();
    // The place to come back to when a failed change has to be undone.
    cursor_.RememberPosition();
    journaled_ = cursor_.table_->BeginChangeJournal();
  }
  ~TChangeScope() {
    if (!released_) {
      try {
        Release();
      } catch (...) {
        // The change's own failure is what propagates.
      }
    }
  }
  TChangeScope(const TChangeScope&) = delete;
  TChangeScope& operator=(const TChangeScope&) = delete;

  //! Locks record n for the change; released when the scope ends.
  void LockRecord(int32_t n) {
    cursor_.CursorLockRecord(n);
    locked_ = n;
  }
  //! Releases the edit's own lock on n when the scope ends.
  void AdoptRecordLock(int32_t n) { locked_ = n; }
  //! The first change to the table's buffers follows.
  void BeginChanges() { changing_ = true; }
  bool Journaled() const { return journaled_; }
  //! The change is written (or marked): nothing to undo any more.
  void ChangesDone() { changing_ = false; }
  //! After a failure: undoes the change when it had begun. Never throws.
  void Fail() noexcept {
    // On a shared table the files get back what the change wrote to them.
    if (journaled_) cursor_.table_->RollBackChangeJournal();
    if (!changing_) return;
    changing_ = false;
    cursor_.DiscardFailedChange();
  }
  //! Releases the record lock taken and the write lock, in this order.
  void Finish() {
    released_ = true;
    Release();
  }

 private:
  void Release() {
    if (journaled_) cursor_.table_->EndChangeJournal();
    cursor_.table_->EndBlobUndo();
    std::exception_ptr failure;
    if (locked_ != 0) {
      try {
        cursor_.CursorUnlockRecord(std::exchange(locked_, 0));
      } catch (...) {
        failure = std::current_exception();
      }
    }
    try {
      cursor_.CursorWriteUnlock();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
    cursor_.EndBracket();
    if (failure) std::rethrow_exception(failure);
  }

  TDataCursor& cursor_;
  int32_t locked_ = 0;      //!< record locked by this change, 0: none
  bool changing_ = false;   //!< the table's buffers hold part of the change
  bool released_ = false;   //!< Finish ran
  bool journaled_ = false;  //!< the table keeps the before-images of its writes
};

void TDataCursor::DiscardFailedChange() {
  UndoBlobSaves();
  // An exclusive table and a transaction keep earlier changes only in the
  // buffers: there the change is taken back in memory.
  const bool disk_holds_before = !table_->Exclusive() && !table_->InTransaction();
  if (disk_holds_before) {
    try {
      table_->DiscardBuffers(false, true);
    } catch (...) {
      // Headers that could not be re-read are re-read by the next lock, whose
      // change counters then differ from the ones in memory.
    }
  } else if (!UndoInBuffers()) {
    // The buffers hold earlier changes that exist nowhere else, so they are
    // kept for a repair to work from, and the table takes no more changes.
    table_->MarkNeedsRepair();
  }
  edit_path_.Clear();
  TakeSnapshot();
  try {
    RefreshAndReposition();
  } catch (...) {
    // The cursor stays where it was; its next move finds its pages again.
  }
}

// ---------------------------------------------------------------------------
// Checks

void TDataCursor::RequireWritable() const {
  if (target_.ReadOnly) Raise(VEVURA_OSEACCES);
  table_->RequireWritable();
}

void TDataCursor::RequireBuffer(std::span<const uint8_t> buffer) const {
  if (buffer.size() < record_size_) Raise(VEVURA_RECTOOBIG);
}

void TDataCursor::ValidateRecord(std::span<const uint8_t> record) const {
  if (!has_checks_) return;
  TValueRuleBreach breach =
      CheckValueRules(record.first(record_size_), Fields(), LanguageOf(*table_), platform::Now());
  if (breach.Code != 0) RaiseNaming(breach.Code, *table_, breach.Field->Name, "");
}

void TDataCursor::CheckUniqueKeys(std::span<const uint8_t> record,
                                  std::span<const uint8_t> old_record) {
  // A modified record's own entry does not count against it.
  const int32_t own = old_record.empty() ? 0 : record_number_;
  for (uint8_t index : KeyedIndexes()) {
    const TIndexKeys& keys = Keys(index);
    if (!keys.Context.Unique || HoldsRowId(keys.Context)) continue;
    TKey key = BuildKey(keys.Context, record.first(record_size_));
    if (!old_record.empty() && BuildKey(keys.Context, old_record.first(record_size_)) == key) {
      continue;
    }
    TIndexPosition pos;
    if (!EditTree(index).SeekNotBelow(key.data(), key.size(), &pos)) continue;
    if (keys.Comparer.CompareKeys(pos.Key.data(), key.data(), key.size()) != 0) continue;
    if (own != 0 && static_cast<int32_t>(pos.Reference) == own) continue;
    RaiseNaming(VEVURA_KEYVIOL, *table_, "", table_->IndexFile().GetIndexDescriptor(index).Name);
  }
}

void TDataCursor::CheckSlotFor(int32_t n) {
  const TDataFile& data = table_->DataFile();
  const int32_t next = data.Header().NextRecordNumber;
  if (n == next) {
    const int64_t end = RecordAreaOffset(data.FieldCount()) + int64_t{n} * record_size_;
    if (n > kMaxRecordNumber || end > kMaxDataFileSize) table_->RaiseTableError(VEVURA_TABLEFULL);
    return;
  }
  // A damaged free chain is found here, before the indexes are touched.
  if (n < 1 || n > next) Raise(VEVURA_FILECORRUPT);
  const std::vector<uint8_t> slot = StoredImage(n);
  const int32_t link = RecordLink(slot);
  if (RecordStatus(slot) == rsLive || link < 0 || link == n || link >= next) {
    Raise(VEVURA_FILECORRUPT);
  }
}

// ---------------------------------------------------------------------------
// Row ids

bool TDataCursor::RowIdInUse(int32_t row_id) {
  TBTree tree = EditTree(kSlotIndex);
  TSlotKey live = SlotKey(rsLive, row_id);
  TSlotKey free = SlotKey(rsFree, row_id);
  return tree.LocateKey(live.data()) || tree.LocateKey(free.data());
}

int32_t TDataCursor::HighestRowIdInUse() {
  TBTree tree = EditTree(kSlotIndex);
  int32_t highest = 0;
  for (uint8_t status : {uint8_t{rsLive}, uint8_t{rsFree}}) {
    const TSlotKey top = SlotKey(status, std::numeric_limits<int32_t>::max());
    TIndexPosition position;
    if (!tree.SeekNotAbove(top.data(), top.size(), &position) || position.Key[0] != status) {
      continue;
    }
    const uint8_t* k = position.Key.data() + 1;
    const uint32_t stored = static_cast<uint32_t>(k[0]) << 24 | static_cast<uint32_t>(k[1]) << 16 |
                            static_cast<uint32_t>(k[2]) << 8 | k[3];
    highest = std::max(highest, static_cast<int32_t>(stored ^ 0x80000000u));
  }
  return highest;
}

int32_t TDataCursor::NextFreeRowId() {
  // Row ids are the key of index 31 and the tie-break of every non-unique
  // index: after the counter wraps, values still carried by a slot (live or
  // free) are skipped. Until then the next value lies above every one in
  // use, which the table remembers (learned from index 31's last keys), so
  // that an append looks nothing up.
  int32_t row_id = table_->DataFile().LastAutoIncValue();
  const int32_t start = FollowingRowId(row_id);
  int64_t ceiling = table_->RowIdCeiling();
  if (ceiling < 0) ceiling = HighestRowIdInUse();
  if (start > ceiling) {
    table_->SetRowIdCeiling(start);
    return start;
  }
  do {
    row_id = FollowingRowId(row_id);
    if (!RowIdInUse(row_id)) {
      table_->SetRowIdCeiling(std::max<int64_t>(ceiling, row_id));
      return row_id;
    }
  } while (FollowingRowId(row_id) != start);
  table_->RaiseTableError(VEVURA_TABLEFULL);
}

// ---------------------------------------------------------------------------
// Index maintenance

bool TDataCursor::ReplaceKeys(std::span<const uint8_t> old_record, std::span<const uint8_t> record,
                              int32_t n) {
  bool changed = false;
  for (uint8_t index : KeyedIndexes()) {
    const TKeyContext& context = Keys(index).Context;
    old_key_buffer_.resize(old_record.empty() ? 0 : context.KeyLength);
    key_buffer_.resize(record.empty() ? 0 : context.KeyLength);
    if (!old_record.empty())
      BuildKey(context, old_record.first(record_size_), old_key_buffer_.data());
    if (!record.empty()) BuildKey(context, record.first(record_size_), key_buffer_.data());
    if (old_key_buffer_ == key_buffer_) continue;
    if (!old_key_buffer_.empty()) DeleteKeyLogged(index, old_key_buffer_.data(), n);
    if (!key_buffer_.empty()) InsertKeyLogged(index, key_buffer_.data(), n);
    changed = true;
  }
  return changed;
}

TRecordRef TDataCursor::TakeSlot(std::span<const uint8_t> record, int32_t n) {
  const bool reused = n < table_->DataFile().Header().NextRecordNumber;
  TSlotKey old_key{};
  if (reused) old_key = SlotKeyOf(FetchRecord(n, rdForward)->Data());
  TRecordRef slot(Records(), Records().AllocateRecord(this));
  // Under the write lock no other user's change can be met.
  if (!slot) Raise(VEVURA_KEYORRECDELETED);
  if (slot->RecordNumber() != n) Raise(VEVURA_FILECORRUPT);
  if (reused) DeleteKeyLogged(kSlotIndex, old_key.data(), n);
  TSlotKey key = SlotKey(rsLive, RecordRowId(record));
  InsertKeyLogged(kSlotIndex, key.data(), n);
  return slot;
}

// ---------------------------------------------------------------------------
// The word index

std::string TDataCursor::TextOf(const TFieldDescriptor& field, std::span<const uint8_t> record) {
  if (field.Type == fcString) return GetStringField(record.first(record_size_), field);
  if (!field.IsBlob()) return std::string();
  TBlobReference reference = GetBlobField(record.first(record_size_), field);
  if (reference.FirstBlock < 0) {
    const TBlobBuffer* buffer = BlobOf(field, record);
    if (buffer == nullptr) return std::string();
    return std::string(reinterpret_cast<const char*>(buffer->Data()),
                       static_cast<size_t>(buffer->Length()));
  }
  std::vector<uint8_t> stored = LoadStoredBlob(reference);
  return std::string(stored.begin(), stored.end());
}

void TDataCursor::AddWords(std::span<const uint8_t> record, int32_t record_number) {
  if (text_rules_ == nullptr) return;
  const TKeyContext& context = Keys(kTextIndex).Context;
  const int32_t row_id = RecordRowId(record);
  for (const TFieldDescriptor& field : TextFieldsOf(*table_)) {
    std::string text = TextOf(field, record);
    for (const TKey& key : SortedWordKeys(context, *text_rules_, field, text, row_id)) {
      InsertKeyLogged(kTextIndex, key.data(), record_number);
    }
  }
}

void TDataCursor::RemoveWords(std::span<const uint8_t> record, int32_t record_number) {
  if (text_rules_ == nullptr) return;
  const TKeyContext& context = Keys(kTextIndex).Context;
  const int32_t row_id = RecordRowId(record);
  for (const TFieldDescriptor& field : TextFieldsOf(*table_)) {
    std::string text = TextOf(field, record);
    for (const TKey& key : SortedWordKeys(context, *text_rules_, field, text, row_id)) {
      DeleteKeyLogged(kTextIndex, key.data(), record_number);
    }
  }
}

bool TDataCursor::UpdateWords(std::span<const uint8_t> old_record, std::span<const uint8_t> record,
                              int32_t record_number) {
  if (text_rules_ == nullptr) return false;
  const TKeyContext& context = Keys(kTextIndex).Context;
  const TConstRecordImage old_image = old_record.first(record_size_);
  const TConstRecordImage image = record.first(record_size_);
  bool changed = false;
  for (const TFieldDescriptor& field : TextFieldsOf(*table_)) {
    const TBlobBuffer* buffer = field.IsBlob() ? BlobOf(field, image) : nullptr;
    if (!TextMayDiffer(field, old_image, image, buffer)) continue;
    std::vector<TKey> old_keys = SortedWordKeys(context, *text_rules_, field,
                                                TextOf(field, old_image), RecordRowId(old_image));
    std::vector<TKey> keys =
        SortedWordKeys(context, *text_rules_, field, TextOf(field, image), RecordRowId(image));
    for (const TKey& key : KeysMissingFrom(old_keys, keys)) {
      DeleteKeyLogged(kTextIndex, key.data(), record_number);
      changed = true;
    }
    for (const TKey& key : KeysMissingFrom(keys, old_keys)) {
      InsertKeyLogged(kTextIndex, key.data(), record_number);
      changed = true;
    }
  }
  return changed;
}

// ---------------------------------------------------------------------------
// New records

void TDataCursor::InitRecord(TRecordImage buffer) {
  RequireOpen();
  RequireBuffer(buffer);
  ClearRecordImage(buffer);
  if (!has_defaults_) return;
  FillDefaultValues(buffer.first(record_size_), Fields(), LanguageOf(*table_), platform::Now());
}

void TDataCursor::InsertRecord(TRecordImage buffer, bool position_on_record) {
  RequireOpen();
  RequireWritable();
  RequireBuffer(buffer);
  ValidateRecord(buffer);
  // The post works on a copy: the caller's buffer changes only when it succeeds.
  std::vector<uint8_t> image(buffer.begin(), buffer.begin() + record_size_);
  TChangeScope scope(*this);
  int32_t n = 0;
  try {
    n = Records().NextInsertRecord();
    CheckSlotFor(n);
    scope.LockRecord(n);
    SetRecordRowId(image, NextFreeRowId());
    CheckUniqueKeys(image, {});
    CheckBlobBuffers(image, true);
    BeginUndoLog(n);
    scope.BeginChanges();
    const bool blob_written = StoreNewRecord(image, n);
    table_->ChangesMade(true, true, blob_written);
    scope.ChangesDone();
  } catch (...) {
    scope.Fail();
    throw;
  }
  TakeSnapshot();
  std::copy(image.begin(), image.end(), buffer.begin());
  RecordStored(n, image);
  PlaceAfterPost(position_on_record, image, n);
  scope.Finish();
}

void TDataCursor::PlaceAfterPost(bool on_record, std::span<const uint8_t> image, int32_t n) {
  PlaceAfterChange([&] {
    if (on_record) {
      if (!StandOnPostedKey(image, n)) PositionOnRecord(image, n);
      ReadCurrentRecord();
    } else {
      StandAgain();
    }
  });
}

void TDataCursor::PlaceAfterChange(const std::function<void()>& place) {
  // The change stands: a failure to find the place afterwards (a read, or a
  // write that makes room in a cache) must not report it as failed.
  try {
    place();
  } catch (const EVEVURAEngineError&) {
    SetBeginning();
    current_.assign(record_size_, 0);
  }
}

bool TDataCursor::StoreNewRecord(std::vector<uint8_t>& image, int32_t n) {
  ReplaceKeys({}, image, n);
  TRecordRef slot = TakeSlot(image, n);
  table_->IndexFile().IncrementRecordCount();
  table_->DataFile().SetLastAutoIncValue(RecordRowId(image));
  AddWords(image, n);
  const bool blob_written = SaveBlobs(image, n, true);
  SetRecordStatus(image, rsLive);
  SetRecordLink(image, n);
  std::span<uint8_t> stored = slot->MutableData();
  std::copy(image.begin(), image.end(), stored.begin());
  return blob_written;
}

// ---------------------------------------------------------------------------
// Changing the current record

void TDataCursor::ModifyRecord(TRecordImage buffer, bool unlock_after, bool position_on_record) {
  RequireOpen();
  RequireWritable();
  RequireBuffer(buffer);
  ValidateRecord(buffer);
  const bool optimistic = Session().LockProtocol() == lpOptimistic;
  // Reads between the start of the edit and its post refresh current_; the
  // image the edit began with is the one another user's change must not
  // have replaced.
  const std::vector<uint8_t> began = edit_record_ == record_number_ ? edit_began_ : current_;
  std::vector<uint8_t> image(buffer.begin(), buffer.begin() + record_size_);
  TChangeScope scope(*this);
  const int32_t n = record_number_;
  bool keys_changed = false;
  bool blob_written = false;
  try {
    if (PositionCode() != kCursorOnRecord) Raise(VEVURA_NOCURRREC);
    LockForModify(scope, optimistic, began);
    const std::vector<uint8_t> stored = StoredImage(n);
    SetRecordRowId(image, RecordRowId(stored));
    CheckUniqueKeys(image, stored);
    CheckBlobBuffers(image, false);
    BeginUndoLog(n);
    scope.BeginChanges();
    keys_changed = ReplaceKeys(stored, image, n);
    keys_changed = UpdateWords(stored, image, n) || keys_changed;
    blob_written = SaveBlobs(image, n, false);
    {
      // Unpinned before the flush, which writes only unpinned buffers.
      TRecordRef slot = FetchRecord(n, rdForward);
      slot->SetFieldsFrom(image.data());
      slot->SetAutoIncValue(RecordRowId(image));
      std::copy(slot->Data().begin(), slot->Data().end(), image.begin());
    }
    table_->ChangesMade(true, keys_changed, blob_written);
    // The old chains are freed inside the change, after the record names
    // the new ones (a shared table has written it by now), so that a failure
    // takes the whole post back instead of leaving blocks nothing names.
    FreeReplacedChains();
    scope.ChangesDone();
  } catch (...) {
    replaced_chains_.clear();
    scope.Fail();
    throw;
  }
  TakeSnapshot();
  current_ = image;
  EndEdit();
  RecordStored(n, image);
  std::copy(image.begin(), image.end(), buffer.begin());
  // The edit's own lock (lpPessimistic) ends with the post when asked.
  if (!optimistic && unlock_after && LockedRecord() == n) scope.AdoptRecordLock(n);
  PlaceAfterPost(position_on_record, image, n);
  scope.Finish();
}

void TDataCursor::LockForModify(TChangeScope& scope, bool optimistic,
                                const std::vector<uint8_t>& began) {
  if (optimistic && !target_.Exclusive) {
    // The stored record must still be the one the edit began with; once it
    // was not, every post of this edit fails until it is cancelled.
    if (edit_changed_ || current_ != began) {
      edit_changed_ = true;
      Raise(VEVURA_KEYORRECDELETED);
    }
  }
  // lpPessimistic holds the lock from the start of the edit; a post without
  // one (or under lpOptimistic) locks the record for the post alone.
  if (LockedRecord() != record_number_) scope.LockRecord(record_number_);
}

void TDataCursor::DeleteRecord(std::span<const uint8_t> buffer, bool reposition) {
  RequireOpen();
  RequireWritable();
  RequireBuffer(buffer);
  TChangeScope scope(*this);
  // A cursor that stays on the deleted entry steps on from its place, which
  // must be found while the entry is there.
  if (!reposition) ResolvePosition();
  const int32_t n = record_number_;
  const TBookmark bookmark = GetBookmark();
  try {
    if (PositionCode() != kCursorOnRecord) Raise(VEVURA_NOCURRREC);
    LockForDelete(scope, buffer);
    const std::vector<uint8_t> stored = StoredImage(n);
    BeginUndoLog(n);
    scope.BeginChanges();
    const bool blob_freed = RemoveRecord(stored, n);
    table_->ChangesMade(true, true, blob_freed);
    scope.ChangesDone();
  } catch (...) {
    scope.Fail();
    throw;
  }
  TakeSnapshot();
  EndEdit();
  RecordRemoved(n);
  if (reposition) {
    PlaceAfterChange([&] {
      pos_.Clear();
      GotoBookmarkInside(bookmark);
      ReadCurrentRecord();
    });
  }
  scope.Finish();
}

void TDataCursor::LockForDelete(TChangeScope& scope, std::span<const uint8_t> buffer) {
  const int32_t n = record_number_;
  if (table_->CursorHoldsRecordLock(n)) {
    if (LockedRecord() != n) table_->RaiseTableError(VEVURA_RECLOCKFAILED);
    // The edit in progress owns the lock; the delete ends it.
    FreeAllBlobs();
    scope.AdoptRecordLock(n);
    return;
  }
  if (!target_.Exclusive && !SameBytes(current_, buffer, record_size_)) {
    Raise(VEVURA_KEYORRECDELETED);
  }
  scope.LockRecord(n);
}

bool TDataCursor::RemoveRecord(const std::vector<uint8_t>& stored, int32_t n) {
  ReplaceKeys(stored, {}, n);
  TSlotKey live = SlotKeyOf(stored);
  TSlotKey freed = SlotKey(rsFree, RecordRowId(stored));
  DeleteKeyLogged(kSlotIndex, live.data(), n);
  InsertKeyLogged(kSlotIndex, freed.data(), n);
  table_->IndexFile().DecrementRecordCount();
  RemoveWords(stored, n);
  const bool blob_freed = DeleteBlobs(stored);
  // Unpinned before the flush, which writes only unpinned buffers.
  Records().FreeRecord(FetchRecord(n, rdForward).get());
  return blob_freed;
}

std::vector<uint8_t> TDataCursor::StoredImage(int32_t n) {
  TRecordRef slot = FetchRecord(n, rdForward);
  return std::vector<uint8_t>(slot->Data().begin(), slot->Data().end());
}

void TDataCursor::StandAgain() {
  // Keys may have moved between pages: the cursor finds its entry again.
  if (PositionCode() != kCursorOnRecord) return;
  const TBookmark bookmark = GetBookmark();
  pos_.Clear();
  GotoBookmarkInside(bookmark);
  ReadCurrentRecord();
}

// ---------------------------------------------------------------------------
// Edits

int TDataCursor::BeginEdit(TRecordImage buffer) {
  RequireOpen();
  return ReadBracket([&]() -> int {
    if (PositionCode() != kCursorOnRecord) return Deliver(buffer);
    const bool compare = !target_.Exclusive && !buffer.empty();
    if (Session().LockProtocol() == lpPessimistic) {
      EndEdit();
      const int32_t n = record_number_;
      const bool took = LockedRecord() != n;
      if (took) CursorLockRecord(n);
      try {
        if (compare && !SameBytes(current_, buffer, record_size_)) Raise(VEVURA_KEYORRECDELETED);
        ReadCurrentRecord();
      } catch (...) {
        if (took && LockedRecord() != 0) CursorUnlockRecord(LockedRecord());
        throw;
      }
    } else {
      if (compare && !SameBytes(current_, buffer, record_size_)) Raise(VEVURA_KEYORRECDELETED);
      ReadCurrentRecord();
      edit_began_ = current_;
      edit_record_ = record_number_;
    }
    return Deliver(buffer);
  });
}

void TDataCursor::EndEdit() {
  edit_began_.clear();
  edit_record_ = 0;
}

void TDataCursor::CancelEdit() {
  RequireOpen();
  // Changed BLOBs of the cancelled edit are never posted: left changed, they
  // would count as another record's at the next post.
  FreeChangedBlobs(record_number_);
  EndEdit();
  if (Session().LockProtocol() == lpOptimistic) {
    edit_changed_ = false;
    return;
  }
  if (LockedRecord() != 0) CursorUnlockRecord(LockedRecord());
}

}  // namespace vevura
