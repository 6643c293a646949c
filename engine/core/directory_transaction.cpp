// The data directory's transaction over all its table objects.

#include <exception>

#include "engine/base/first_error.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_table.h"

namespace vevura {

void TDataDirectory::StartTransaction() {
  if (in_transaction_) return;
  try {
    for (const auto& table : tables_) table->StartTransaction();
  } catch (...) {
    // A failed start leaves no table in a transaction.
    for (const auto& table : tables_) {
      try {
        table->Rollback();
      } catch (...) {
      }
    }
    throw;
  }
  in_transaction_ = true;
}

// A commit is all or nothing across the tables. Every table's write lock is
// taken first; a lock that cannot be had releases the ones taken, and the
// transaction goes on as it was. Each table's flush then keeps the
// before-images of what it writes. When a flush fails, the tables already
// written (and the failing one) get their before-images back, so the disk
// holds none of the transaction, and the transaction is rolled back: no table
// keeps changes in its buffers that a later ordinary flush could write
// outside it. Only when every flush succeeded do the tables leave the
// transaction (or, without end_transaction, go on in it).
void TDataDirectory::Commit(bool end_transaction, bool force_os_flush) {
  size_t unlocked = tables_.size();
  try {
    for (; unlocked > 0; --unlocked) tables_[unlocked - 1]->CommitLock();
  } catch (...) {
    for (size_t i = unlocked; i < tables_.size(); ++i) {
      try {
        tables_[i]->WriteUnlock();
      } catch (...) {
      }
    }
    throw;
  }
  std::exception_ptr failure;
  for (size_t i = tables_.size(); i-- > 0;) {
    tables_[i]->BeginFileJournal();
    Attempt(&failure, [&] { tables_[i]->CommitFlush(end_transaction, force_os_flush); });
    if (failure != nullptr) break;
  }
  if (failure != nullptr) {
    for (size_t i = tables_.size(); i-- > 0;) {
      tables_[i]->RollBackChangeJournal();
      try {
        tables_[i]->WriteUnlock();
      } catch (...) {
      }
      try {
        tables_[i]->Rollback();
      } catch (...) {
      }
    }
    FreeIdleTables();
    in_transaction_ = false;
    std::rethrow_exception(failure);
  }
  for (size_t i = tables_.size(); i-- > 0;) {
    tables_[i]->EndChangeJournal();
    Attempt(&failure, [&] { tables_[i]->CommitEnd(end_transaction); });
  }
  FreeIdleTables();
  // Without ending, every table goes on in the transaction, and so does the
  // directory.
  if (end_transaction) in_transaction_ = false;
  if (failure != nullptr) std::rethrow_exception(failure);
}

void TDataDirectory::Rollback() {
  std::exception_ptr failure;
  for (size_t i = tables_.size(); i-- > 0;) {
    Attempt(&failure, [&] { tables_[i]->Rollback(); });
  }
  FreeIdleTables();
  in_transaction_ = false;
  if (failure != nullptr) std::rethrow_exception(failure);
}

}  // namespace vevura
