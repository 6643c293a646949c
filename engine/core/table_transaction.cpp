// A shared table's part of its directory's transaction: every change stays
// in memory and the transaction byte keeps other writers out until commit or
// rollback.

#include <exception>

#include "engine/core/data_table.h"

namespace vevura {

void TDataTable::StartTransaction() {
  if (read_only_ || in_transaction_) return;
  if (exclusive_) FlushBuffers(false, false, false, false, false);
  index_file_->WriteDirtyPages(true);
  in_transaction_ = true;
  try {
    TransactionLock();
  } catch (...) {
    in_transaction_ = false;
    throw;
  }
}

void TDataTable::Rollback() {
  if (read_only_ || !in_transaction_) return;
  in_transaction_ = false;
  ++rollbacks_;
  std::exception_ptr failure;
  try {
    DiscardBuffers(true, true);
    index_file_->DropPageBuffers(true);
  } catch (...) {
    failure = std::current_exception();
  }
  TransactionUnlock();
  if (failure != nullptr) std::rethrow_exception(failure);
}

void TDataTable::CommitLock() {
  WriteLock();
}

void TDataTable::CommitFlush(bool trim, bool force_os_flush) {
  if (!in_transaction_) return;
  in_transaction_ = false;
  try {
    FlushBuffers(trim, false, false, false, force_os_flush);
    index_file_->WriteDirtyPages(true);
  } catch (...) {
    in_transaction_ = true;
    throw;
  }
  in_transaction_ = true;
}

void TDataTable::CommitEnd(bool end_transaction) {
  if (!end_transaction) {
    ReleaseRecordLocks(true);
    WriteUnlock();
    return;
  }
  in_transaction_ = false;
  std::exception_ptr failure;
  try {
    WriteUnlock();
  } catch (...) {
    failure = std::current_exception();
  }
  TransactionUnlock();
  if (failure != nullptr) std::rethrow_exception(failure);
}

}  // namespace vevura
