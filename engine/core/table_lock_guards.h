#pragma once
// Scoped read and write locks of a shared table.
//
// Read and write locks are not counted (data_table.h): the first unlock
// releases them. A guard therefore releases only a lock it took itself; a
// lock already held when the guard was made stays held for its holder.
// Releasing never throws from a destructor: a failed unlock stays recorded
// in the table, which releases it at close.

#include "engine/core/data_table.h"

namespace vevura {

class TTableReadLock {
 public:
  //! Takes the read lock; Changed() tells whether it found another user's change.
  explicit TTableReadLock(TDataTable& table)
      : table_(table), held_before_(table.ReadLocked()), changed_(table.ReadLock()) {}
  ~TTableReadLock() {
    if (held_before_ || !table_.ReadLocked()) return;
    try {
      table_.ReadUnlock();
    } catch (...) {
    }
  }
  TTableReadLock(const TTableReadLock&) = delete;
  TTableReadLock& operator=(const TTableReadLock&) = delete;
  bool Changed() const { return changed_; }

 private:
  TDataTable& table_;
  const bool held_before_;  //!< someone else's lock: left alone
  const bool changed_;      //!< the lock found another user's change
};

class TTableWriteLock {
 public:
  //! Takes the write lock; Changed() tells whether it found another user's change.
  explicit TTableWriteLock(TDataTable& table)
      : table_(table), held_before_(table.WriteLocked()), changed_(table.WriteLock()) {}
  ~TTableWriteLock() {
    if (held_before_ || !table_.WriteLocked()) return;
    try {
      table_.WriteUnlock();
    } catch (...) {
    }
  }
  TTableWriteLock(const TTableWriteLock&) = delete;
  TTableWriteLock& operator=(const TTableWriteLock&) = delete;
  bool Changed() const { return changed_; }

 private:
  TDataTable& table_;
  const bool held_before_;  //!< someone else's lock: left alone
  const bool changed_;      //!< the lock found another user's change
};

}  // namespace vevura
