// The cursor's life: its table properties, opening and closing, the read
// bracket and the storage callbacks, and the keys and trees of its table.

#include "engine/core/data_cursor.h"

#include <algorithm>

#include "engine/base/engine_error.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_table.h"
#include "engine/core/table_lock_guards.h"
#include "engine/expr/records_bitmap_stack.h"
#include "engine/storage/common/byte_order.h"
#include "platform/locale.h"

namespace vevura {

TDataCursor::TDataCursor(TDataDirectory& directory) : directory_(directory) {}

TDataCursor::~TDataCursor() {
  if (!open_) return;
  try {
    CloseCursor(false);
  } catch (...) {
  }
}

// ----- Table properties -----

void TDataCursor::RequireClosed() const {
  if (open_) Raise(VEVURA_TABLEOPEN);
}

void TDataCursor::RequireOpen() const {
  if (!open_) Raise(VEVURA_OSEBADF);
}

void TDataCursor::SetTableName(const std::string& name) {
  RequireClosed();
  target_.TableName = name;
}

void TDataCursor::SetExclusive(bool exclusive) {
  RequireClosed();
  target_.Exclusive = exclusive;
}

void TDataCursor::SetReadOnly(bool read_only) {
  RequireClosed();
  target_.ReadOnly = read_only;
}

void TDataCursor::SetInMemory(bool in_memory) {
  RequireClosed();
  target_.InMemory = in_memory;
}

void TDataCursor::SetRecordNumberOrder(bool record_number_order) {
  RequireClosed();
  record_number_order_requested_ = record_number_order;
}

TTableTarget TDataCursor::Target() const {
  TTableTarget target = target_;
  target.CursorOpen = open_;
  return target;
}

TDataSession& TDataCursor::Session() const {
  return directory_.Session();
}

const std::vector<TFieldDescriptor>& TDataCursor::Fields() const {
  static const std::vector<TFieldDescriptor> kNone;
  return table_ != nullptr ? table_->DataFile().Fields() : kNone;
}

void TDataCursor::Raise(uint16_t code) const {
  RaiseEngineError(code, "", "", directory_.ErrorName(), target_.TableName, "", "", "");
}

void TDataCursor::RaiseNamed(uint16_t code, const std::string& name) const {
  RaiseEngineError(code, "", "", directory_.ErrorName(), target_.TableName, "", name, "");
}

// ----- Opening and closing -----

void TDataCursor::OpenCursor() {
  if (open_) return;
  if (TableIdentity(target_.TableName).empty()) Raise(VEVURA_OSENOENT);
  TTableOpenRequest request;
  request.InMemory = target_.InMemory;
  request.Exclusive = target_.Exclusive;
  request.ShareAlways = companion_;
  TDataTable* table = nullptr;
  int32_t result = directory_.OpenTableObject(target_.TableName, request, &table);
  if (result < 0) Raise(static_cast<uint16_t>(-result));
  table_ = table;
  open_ = true;
  AttachTable(table_);
  try {
    SetUpOpenTable();
  } catch (...) {
    try {
      CloseCursor(false);
    } catch (...) {
    }
    throw;
  }
}

void TDataCursor::SetUpOpenTable() {
  if (table_->UseCount() == 1) table_->VerifyHeaders();
  CheckPassword();
  const TDataFile& data = table_->DataFile();
  record_size_ = data.RecordSize();
  has_defaults_ = false;
  has_checks_ = false;
  for (const TFieldDescriptor& field : data.Fields()) {
    has_defaults_ = has_defaults_ || !field.DefaultValue.empty();
    has_checks_ =
        has_checks_ || field.Required != 0 || !field.MinValue.empty() || !field.MaxValue.empty();
  }
  current_.assign(record_size_, 0);
  range_low_.assign(kMaxKeyLength, 0);
  range_high_.assign(kMaxKeyLength, 0);
  entry_check_.assign(kMaxKeyLength, 0);
  range_active_ = false;
  bof_ = false;
  eof_ = false;
  if (table_->IndexFileRecreated()) table_->RebuildSlotIndex();
  {
    TTableReadLock lock(*table_);
    LoadIndexKeys();
  }
  TakeSnapshot();
  SelectIndex(record_number_order_requested_ ? kNoIndex : 0);
  First();
}

void TDataCursor::CheckPassword() {
  const TDataFile& data = table_->DataFile();
  if (!data.Encrypted()) return;
  TDataSession& session = Session();
  CheckTablePassword(
      data.GetPassword(),
      [&](const std::string& password) { return session.HasPassword(password); }, password_request_,
      target_.TableName);
}

void TDataCursor::LoadIndexKeys() {
  const TDataFile& data = table_->DataFile();
  TIndexFile& index_file = table_->IndexFile();
  const std::vector<TFieldDescriptor>& fields = data.Fields();
  auto make = [&](uint8_t n) {
    keys_[n] = std::make_shared<TIndexKeys>(MakeKeyContext(data.LanguageId(), data.SortId(), n,
                                                           index_file.GetIndexDescriptor(n), fields,
                                                           target_.TableName));
  };
  for (auto& keys : keys_) keys.reset();
  text_rules_.reset();
  if (table_->HasPrimaryIndex()) make(0);
  const int secondary = std::min<int>(index_file.Header().SecondaryCount, kMaxSecondaryIndexes);
  for (int n = 1; n <= secondary; ++n) make(static_cast<uint8_t>(n));
  make(kSlotIndex);
  if (index_file.GetIndexDescriptor(kTextIndex).FieldCount > 0) {
    make(kTextIndex);
    text_rules_ = std::make_unique<TTextIndexRules>(
        ReadTextIndexRules(index_file, data.LanguageId(), data.SortId()));
  }
  keyed_indexes_.clear();
  for (uint8_t n = 0; n <= kMaxSecondaryIndexes; ++n) {
    if (keys_[n] != nullptr) keyed_indexes_.push_back(n);
  }
}

void TDataCursor::ReleaseBuffers() {
  for (auto& keys : keys_) keys.reset();
  keyed_indexes_.clear();
  text_rules_.reset();
  active_.reset();
  filters_.clear();
  filtering_ = false;
  if (visible_ != nullptr) ReturnRecordsBitmap(std::move(visible_));
  visible_count_ = 0;
  current_.clear();
  range_low_.clear();
  range_high_.clear();
  range_active_ = false;
  pos_.Clear();
  path_.Clear();
  edit_path_.Clear();
  record_number_ = 0;
  bof_ = false;
  eof_ = false;
  edit_changed_ = false;
  EndEdit();
  remembered_.clear();
}

void TDataCursor::CloseCursor(bool drop_temporary) {
  if (!open_) return;
  FreeAllBlobs();
  ReleaseBuffers();
  if (LockedRecord() != 0) {
    try {
      CursorUnlockRecord(LockedRecord());
    } catch (...) {
      // The table releases every record lock still held when it closes.
    }
  }
  TDataTable* table = table_;
  table_ = nullptr;
  open_ = false;
  record_size_ = 0;
  AttachTable(nullptr);
  int32_t result = directory_.CloseTableObject(table, drop_temporary);
  if (result < 0) Raise(static_cast<uint16_t>(-result));
}

// ----- The read bracket -----

void TDataCursor::BeginBracket() {
  if (bracket_depth_++ == 0) table_->SetPageReadClient(this);
}

void TDataCursor::EndBracket() {
  if (--bracket_depth_ > 0) return;
  restart_pending_ = false;
  if (table_ == nullptr) return;
  table_->SetPageReadClient(nullptr);
  try {
    CursorReadUnlock();
  } catch (...) {
    // A read slot that could not be released stays recorded in the table,
    // which releases it at close.
  }
}

void TDataCursor::CheckCompanionChanges() {
  // On an exclusive table only the cursor's companions change the table
  // behind its back; their changes move the in-memory counters.
  if (!table_->Exclusive() || Snapshot() == table_->ChangeCounters()) return;
  RememberPosition();
  TakeSnapshot();
  RefreshAndReposition();
}

bool TDataCursor::BeforeDiskRead() {
  if (table_ == nullptr || table_->Exclusive() || table_->ReadOnlyAttribute()) return true;
  if (table_->ReadLocked() || table_->WriteLocked() || table_->TransactionLockHeld()) return true;
  bool changed = table_->ReadLock();
  if (!changed && Snapshot() == table_->ChangeCounters()) return true;
  restart_pending_ = true;
  return false;
}

bool TDataCursor::BeforePageRead() {
  return BeforeDiskRead();
}

bool TDataCursor::BeforeRecordRead() {
  return BeforeDiskRead();
}

bool TDataCursor::BeforeBlockRead() {
  return BeforeDiskRead();
}

void TDataCursor::ReadAheadRecords(int32_t number, TRecordDirection direction, int32_t limit,
                                   std::vector<int32_t>& numbers) {
  if (!stepping_ || number != record_number_) return;
  const bool forward = direction == rdForward;
  if (record_number_order_) {
    // The next records of the order.
    const TRecordsBitmap& bits = OrderBits();
    int32_t position = number;
    int32_t passed = 0;
    for (int32_t k = 0; k < limit; ++k) {
      if (!(forward ? bits.FindNext(position, 1, passed) : bits.FindPrior(position, 1, passed))) {
        return;
      }
      numbers.push_back(position);
    }
    return;
  }
  if (!pos_.OnEntry()) return;
  // The entries after the position, as far as the leaves in memory go; only
  // those a step can stand on.
  limit = std::min(limit, kIndexReadAheadRecords);
  auto visit = [&](const uint8_t* key, uint32_t reference) {
    const auto n = static_cast<int32_t>(reference);
    if (reference <= INT32_MAX && Visible(n)) {
      if (!KeyInRange(key)) return false;
      numbers.push_back(n);
    }
    return static_cast<int32_t>(numbers.size()) < limit;
  };
  Tree(active_index_).EntriesAhead(pos_, forward, kIndexReadAheadLeaves, visit);
}

void TDataCursor::CheckRestart() {
  if (restart_pending_) throw TRestart{};
}

void TDataCursor::RememberPosition() {
  // Assigned in place: this runs at the start of every operation.
  if (PositionCode() != kCursorOnRecord) {
    remembered_.clear();
  } else if (record_number_order_) {
    remembered_.resize(kRecordBookmarkSize);
    PutInt32(remembered_.data(), record_number_);
  } else {
    remembered_.assign(pos_.Key.begin(), pos_.Key.end());
  }
  remembered_bof_ = bof_;
  remembered_eof_ = eof_;
}

void TDataCursor::RefreshAndReposition() {
  for (;;) {
    try {
      Reposition();
      return;
    } catch (const TRestart&) {
      restart_pending_ = false;
      TakeSnapshot();
    }
  }
}

// ----- Keys and trees -----

TDataCursor::TIndexKeys& TDataCursor::Keys(uint8_t index) {
  if (index >= kIndexCount || keys_[index] == nullptr) RaiseNamed(VEVURA_INVALIDINDEXNAME, "");
  return *keys_[index];
}

const TDataCursor::TIndexKeys& TDataCursor::Keys(uint8_t index) const {
  if (index >= kIndexCount || keys_[index] == nullptr) RaiseNamed(VEVURA_INVALIDINDEXNAME, "");
  return *keys_[index];
}

TBTree TDataCursor::Tree(uint8_t index) {
  table_->InsertQueuedKeys(index);
  return TBTree(table_->IndexFile(), index, Keys(index).Comparer, path_);
}

TBTree TDataCursor::EditTree(uint8_t index) {
  table_->InsertQueuedKeys(index);
  return TBTree(table_->IndexFile(), index, Keys(index).Comparer, edit_path_);
}

bool TDataCursor::QueuesKeysOf(uint8_t index) const {
  return index != 0 && index != kSlotIndex && index != kTextIndex && table_->QueuesKeys() &&
         !Keys(index).Context.Unique;
}

uint32_t TDataCursor::TableLcid() const {
  RequireOpen();
  return platform::MakeLcid(table_->DataFile().LanguageId(), table_->DataFile().SortId());
}

bool TDataCursor::HasPrimaryIndex() const {
  RequireOpen();
  return table_->HasPrimaryIndex();
}

uint8_t TDataCursor::SecondaryIndexCount() const {
  RequireOpen();
  return table_->IndexFile().Header().SecondaryCount;
}

TIndexDescriptor TDataCursor::IndexDescriptor(uint8_t n) const {
  RequireOpen();
  return table_->IndexFile().GetIndexDescriptor(n);
}

uint16_t TDataCursor::KeyLength() const {
  if (record_number_order_) return kRecordBookmarkSize;
  return Keys(active_index_).Context.KeyLength;
}

TRecordStorage& TDataCursor::Records() {
  return table_->DataFile().Records();
}

TRecordRef TDataCursor::FetchRecord(int32_t n, TRecordDirection direction) {
  // Reading never appends: a number beyond the slots (an index entry that
  // names a record the data file does not hold) is damage.
  if (n < 1 || n >= table_->DataFile().Header().NextRecordNumber) Raise(VEVURA_FILECORRUPT);
  TRecord* record = Records().GetRecord(this, n, direction, true, true);
  if (record == nullptr) {
    restart_pending_ = true;
    throw TRestart{};
  }
  TRecordRef ref(Records(), record);
  if (record->RecordNumber() != n) Raise(VEVURA_FILECORRUPT);
  return ref;
}

}  // namespace vevura
