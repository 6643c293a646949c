// Taking a failed change back in the table's buffers: the cursor logs each
// index entry it adds or removes, the record slot it changes and the headers'
// counts, and the BLOB file keeps the blocks the change alters; all of it is
// reversed when a later step fails. A shared table needs no log (its files
// give back what the change wrote, and the buffers are discarded); an
// exclusive table or a transaction keeps earlier changes only in the
// buffers, which a discard would lose.

#include <algorithm>

#include "engine/core/data_cursor.h"
#include "engine/core/data_table.h"

namespace vevura {

void TDataCursor::BeginUndoLog(int32_t n) {
  undo_.KeyCount = 0;
  undo_.Header = table_->DataFile().Header();
  undo_.ActiveRecords = table_->IndexFile().GetActiveRecordCount();
  undo_.Slot = n;
  undo_.SlotImage.clear();
  if (n < undo_.Header.NextRecordNumber) undo_.SlotImage = StoredImage(n);
  table_->BeginBlobUndo();
}

void TDataCursor::InsertKeyLogged(uint8_t index, const uint8_t* key, int32_t n) {
  const uint16_t length = Keys(index).Context.KeyLength;
  const bool queued = QueuesKeysOf(index);
  if (queued) {
    // Aliased to the cursor's keys: the batch keeps the order alive after
    // the cursor closes.
    std::shared_ptr<const TKeyComparer> comparer(keys_[index], &keys_[index]->Comparer);
    table_->QueueKey(index, std::move(comparer), length, key, static_cast<uint32_t>(n));
  } else {
    EditTree(index).InsertKey(key, static_cast<uint32_t>(n));
  }
  LogKeyChange(index, key, length, n, true, queued);
}

void TDataCursor::LogKeyChange(uint8_t index, const uint8_t* key, uint16_t length, int32_t n,
                               bool inserted, bool queued) {
  if (undo_.KeyCount == undo_.Keys.size()) undo_.Keys.emplace_back();
  TUndoLog::TKeyChange& change = undo_.Keys[undo_.KeyCount++];
  change.Index = index;
  change.Key.assign(key, key + length);
  change.Reference = static_cast<uint32_t>(n);
  change.Inserted = inserted;
  change.Queued = queued;
}

void TDataCursor::DeleteKeyLogged(uint8_t index, const uint8_t* key, int32_t n) {
  const uint16_t length = Keys(index).Context.KeyLength;
  EditTree(index).DeleteKey(key);
  LogKeyChange(index, key, length, n, false, false);
}

bool TDataCursor::UndoInBuffers() {
  try {
    for (size_t k = undo_.KeyCount; k-- > 0;) {
      const TUndoLog::TKeyChange* change = &undo_.Keys[k];
      if (change->Queued &&
          table_->TakeBackQueuedKey(change->Index, change->Key.data(), change->Reference)) {
        continue;
      }
      TBTree tree = EditTree(change->Index);
      if (change->Inserted) {
        tree.DeleteKey(change->Key.data());
      } else {
        tree.InsertKey(change->Key.data(), change->Reference);
      }
    }
    undo_.KeyCount = 0;
    table_->UndoBlobChanges();
    // The slot first: a new slot can only be reached while the header still
    // counts it.
    RestoreSlot();
    TIndexFile& index = table_->IndexFile();
    while (index.GetActiveRecordCount() > undo_.ActiveRecords) index.DecrementRecordCount();
    while (index.GetActiveRecordCount() < undo_.ActiveRecords) index.IncrementRecordCount();
    table_->DataFile().MutableHeader() = undo_.Header;
    return true;
  } catch (...) {
    return false;
  }
}

void TDataCursor::RestoreSlot() {
  const int32_t n = undo_.Slot;
  if (n == 0 || n >= table_->DataFile().Header().NextRecordNumber) return;
  TRecordRef slot = FetchRecord(n, rdForward);
  std::span<uint8_t> image = slot->MutableData();
  if (!undo_.SlotImage.empty()) {
    std::copy(undo_.SlotImage.begin(), undo_.SlotImage.end(), image.begin());
    return;
  }
  // A slot the failed insert appended: the restored header no longer counts
  // it, so its bytes must never be written.
  std::fill(image.begin(), image.end(), 0);
  slot->SetDirty(false);
}

}  // namespace vevura
