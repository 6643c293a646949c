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

void TDataDirectory::Commit(bool end_transaction, bool force_os_flush) {
  for (size_t i = tables_.size(); i-- > 0;) tables_[i]->CommitLock();
  std::exception_ptr failure;
  for (size_t i = tables_.size(); i-- > 0;) {
    if (failure != nullptr) break;
    Attempt(&failure, [&] { tables_[i]->CommitFlush(end_transaction, force_os_flush); });
  }
  for (size_t i = tables_.size(); i-- > 0;) {
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
