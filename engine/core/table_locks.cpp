// The shared table's locks: read, write, record and transaction locks on the
// ranges of the lock map (lock_protocol.h).

#include "engine/base/engine_error.h"
#include "engine/core/data_session.h"
#include "engine/core/data_table.h"
#include "platform/system.h"

namespace vevura {

bool TDataTable::ReadLock() {
  if (LocksSkipped() || transaction_lock_held_ || write_locked_ || read_locked_) return false;
  const TBoundedLockTiming& timing = LockTiming();
  if (!TakeReadSlot(*index_file_, timing, &index_read_slot_)) RaiseTableError(VEVURA_LOCKTIMEOUT);
  if (BlobFileInUse() && !TakeReadSlot(*blob_file_, timing, &blob_read_slot_)) {
    // Nothing records a half-taken read lock, so the index slot goes back.
    if (LockReadSlot(*index_file_, false, index_read_slot_)) index_read_slot_ = 0;
    RaiseTableError(VEVURA_LOCKTIMEOUT);
  }
  read_locked_ = true;
  return CheckForChanges();
}

void TDataTable::ReadUnlock() {
  if (!read_locked_) return;
  bool released = true;
  if (blob_read_slot_ != 0) {
    if (LockReadSlot(*blob_file_, false, blob_read_slot_)) {
      blob_read_slot_ = 0;
    } else {
      released = false;
    }
  }
  if (index_read_slot_ != 0) {
    if (LockReadSlot(*index_file_, false, index_read_slot_)) {
      index_read_slot_ = 0;
    } else {
      released = false;
    }
  }
  if (!released) RaiseTableError(VEVURA_UNLOCKFAILED);
  read_locked_ = false;
}

bool TDataTable::WriteLock() {
  if (LocksSkipped() || write_locked_) return false;
  // The write region covers this object's own read slot, which would refuse
  // it; the write lock keeps every reader out anyway.
  ReadUnlock();
  const TBoundedLockTiming& timing = LockTiming();
  bool taken = true;
  if (!transaction_lock_held_) {
    taken = BoundedLockAttempt([&] { return LockTransactionByte(*data_file_, true); }, timing);
    data_byte_held_ = taken;
  }
  if (taken) {
    taken = BoundedLockAttempt([&] { return LockWriteRegion(*index_file_, true); }, timing);
    index_region_held_ = taken;
  }
  if (taken && BlobFileInUse()) {
    taken = BoundedLockAttempt([&] { return LockWriteRegion(*blob_file_, true); }, timing);
    blob_region_held_ = taken;
  }
  if (!taken) {
    ReleaseWriteRanges();
    RaiseTableError(VEVURA_LOCKTIMEOUT);
  }
  write_locked_ = true;
  return transaction_lock_held_ ? false : CheckForChanges();
}

bool TDataTable::ReleaseWriteRanges() {
  bool released = true;
  if (blob_region_held_) {
    blob_region_held_ = !LockWriteRegion(*blob_file_, false);
    released = released && !blob_region_held_;
  }
  if (index_region_held_) {
    index_region_held_ = !LockWriteRegion(*index_file_, false);
    released = released && !index_region_held_;
  }
  if (data_byte_held_) {
    data_byte_held_ = !LockTransactionByte(*data_file_, false);
    released = released && !data_byte_held_;
  }
  return released;
}

void TDataTable::WriteUnlock() {
  if (!write_locked_) return;
  if (!ReleaseWriteRanges()) RaiseTableError(VEVURA_LOCKTIMEOUT);
  write_locked_ = false;
}

bool TDataTable::LockRecord(int32_t record_number) {
  if (LocksSkipped()) return false;
  if (record_number <= 0) RaiseTableError(VEVURA_RECLOCKFAILED);
  SizeBitmaps(record_number);
  if (transaction_lock_held_ && locked_records_->Test(record_number)) return false;
  const TDataSession& session = Session();
  bool changed = session.StrictChangeDetection() ? false : ReadLock();
  // Wider than the setting, so that a retry count of 255 still ends.
  uint32_t failures = 0;
  while (!LockRecordByte(*data_file_, true, record_number)) {
    ReadUnlock();
    if (++failures > session.LockRetryCount()) RaiseTableError(VEVURA_RECLOCKFAILED);
    platform::SleepMs(session.LockWaitTime());
    changed = ReadLock() || changed;
  }
  SizeBitmaps(record_number);
  locked_records_->Set(record_number);
  deferred_unlocks_->Clear(record_number);
  return changed;
}

void TDataTable::UnlockRecord(int32_t record_number) {
  if (LocksSkipped()) return;
  if (record_number <= 0) RaiseTableError(VEVURA_UNLOCKFAILED);
  SizeBitmaps(record_number);
  if (transaction_lock_held_) {
    deferred_unlocks_->Set(record_number);
    return;
  }
  if (!locked_records_->Test(record_number) || !ReleaseRecordLock(record_number)) {
    RaiseTableError(VEVURA_UNLOCKFAILED);
  }
}

bool TDataTable::ReleaseRecordLock(int32_t record_number) {
  if (!LockRecordByte(*data_file_, false, record_number)) return false;
  locked_records_->Clear(record_number);
  deferred_unlocks_->Clear(record_number);
  return true;
}

void TDataTable::ReleaseRecordLocks(bool only_deferred) {
  SizeBitmaps(0);
  bool released = true;
  int32_t position = 0;
  int32_t passed = 0;
  while (locked_records_->FindNext(position, 1, passed)) {
    if (only_deferred && !deferred_unlocks_->Test(position)) continue;
    released = ReleaseRecordLock(position) && released;
  }
  if (!released) RaiseTableError(VEVURA_UNLOCKFAILED);
}

void TDataTable::TransactionLock() {
  if (transaction_lock_held_ || read_only_attribute_ || !is_open_) return;
  if (!exclusive_) {
    const bool from_write_lock = data_byte_held_;
    if (from_write_lock) {
      // Taken by the write lock already: the transaction keeps it from now on.
      data_byte_held_ = false;
    } else if (!BoundedLockAttempt([&] { return LockTransactionByte(*data_file_, true); },
                                   LockTiming())) {
      RaiseTableError(VEVURA_LOCKTIMEOUT);
    }
    transaction_lock_held_ = true;
    try {
      CheckForChanges();
    } catch (...) {
      // A start that fails keeps no byte: the write lock gets its own back,
      // or the byte is released.
      transaction_lock_held_ = false;
      if (from_write_lock) {
        data_byte_held_ = true;
      } else {
        LockTransactionByte(*data_file_, false);
      }
      throw;
    }
  }
  transaction_lock_held_ = true;
}

void TDataTable::TransactionUnlock() {
  if (!transaction_lock_held_) return;
  if (!exclusive_ && !LockTransactionByte(*data_file_, false)) {
    RaiseTableError(VEVURA_LOCKTIMEOUT);
  }
  transaction_lock_held_ = false;
  if (!exclusive_) ReleaseRecordLocks(true);
}

bool TDataTable::CursorHoldsRecordLock(int32_t record_number) {
  SizeBitmaps(record_number);
  return cursor_record_locks_->Test(record_number);
}

void TDataTable::SetCursorRecordLock(int32_t record_number, bool held) {
  SizeBitmaps(record_number);
  if (held) {
    cursor_record_locks_->Set(record_number);
  } else {
    cursor_record_locks_->Clear(record_number);
  }
}

}  // namespace vevura
