#include "engine/core/cursor_locks.h"

#include "engine/base/engine_error.h"
#include "engine/core/data_session.h"

namespace vevura {

void TCursorTableLocks::AttachTable(TDataTable* table) {
  table_ = table;
  locked_record_ = 0;
  if (table_ != nullptr) TakeSnapshot();
}

void TCursorTableLocks::TakeSnapshot() {
  if (table_ != nullptr) snapshot_ = table_->ChangeCounters();
}

bool TCursorTableLocks::Applies() const {
  return table_ != nullptr && !table_->Exclusive() && !table_->ReadOnlyAttribute();
}

bool TCursorTableLocks::RefreshIfChanged(bool changed) {
  if (!changed && snapshot_ == table_->ChangeCounters()) return false;
  TakeSnapshot();
  RefreshAndReposition();
  return true;
}

int32_t TCursorTableLocks::RecordOrCurrent(int32_t record_number) const {
  return record_number == 0 ? CurrentRecordNumber() : record_number;
}

bool TCursorTableLocks::CursorReadLock() {
  if (!Applies()) return false;
  RememberPosition();
  return RefreshIfChanged(table_->ReadLock());
}

void TCursorTableLocks::CursorReadUnlock() {
  if (Applies()) table_->ReadUnlock();
}

bool TCursorTableLocks::CursorWriteLock() {
  if (!Applies()) return false;
  RememberPosition();
  return RefreshIfChanged(table_->WriteLock());
}

void TCursorTableLocks::CursorWriteUnlock() {
  if (Applies()) table_->WriteUnlock();
}

bool TCursorTableLocks::CursorLockRecord(int32_t record_number) {
  if (!Applies()) return false;
  int32_t n = RecordOrCurrent(record_number);
  if (n > 0 && table_->CursorHoldsRecordLock(n)) table_->RaiseTableError(VEVURA_RECLOCKFAILED);
  RememberPosition();
  bool changed = table_->LockRecord(n);
  table_->SetCursorRecordLock(n, true);
  locked_record_ = n;
  return RefreshIfChanged(changed);
}

void TCursorTableLocks::CursorUnlockRecord(int32_t record_number) {
  if (!Applies()) return;
  int32_t n = RecordOrCurrent(record_number);
  if (n > 0) table_->SetCursorRecordLock(n, false);
  table_->UnlockRecord(n);
  if (locked_record_ == n) locked_record_ = 0;
}

bool TCursorTableLocks::CheckCursorChanges() {
  if (!Applies()) return false;
  if (table_->Session().StrictChangeDetection()) return CursorReadLock();
  if (snapshot_ == table_->ChangeCounters()) return false;
  RememberPosition();
  TakeSnapshot();
  RefreshAndReposition();
  return true;
}

}  // namespace vevura
