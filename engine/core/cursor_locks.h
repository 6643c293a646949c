#pragma once
// TCursorTableLocks: one cursor's side of its shared table's locks and
// change detection.
//
// A cursor keeps a snapshot of its table's three change counters, taken when
// it opens the table and after each of its own changes. Whenever one of the
// wrappers below takes a lock, the cursor compares: when the table reports a
// change, or its counters differ from the snapshot (another cursor of the
// same table object changed it), the cursor takes a new snapshot, refreshes
// its buffers and stands again on the record it was on.
//
// Within one table object cursors are told apart only by the table's
// CursorRecordLocks: a record another cursor of the object has locked fails
// at once with VEVURA_RECLOCKFAILED, without waiting.
//
// Every wrapper does nothing for a cursor of an exclusive table (only its
// opener can hold it) or of a table with the read-only attribute.
//
// The cursor (engine cursors, built on this class) supplies its position
// through the three hooks. The cursor's operations release the read lock a
// wrapper leaves held when they end.
//
// Thread-safety: used by the cursor's thread only.

#include <cstdint>

#include "engine/core/data_table.h"

namespace vevura {

class TCursorTableLocks {
 public:
  TCursorTableLocks() = default;
  virtual ~TCursorTableLocks() = default;
  TCursorTableLocks(const TCursorTableLocks&) = delete;
  TCursorTableLocks& operator=(const TCursorTableLocks&) = delete;

  //! The table the cursor has open (nullptr: none); takes a snapshot.
  void AttachTable(TDataTable* table);
  TDataTable* Table() const { return table_; }

  //! The read lock; true when the cursor was refreshed.
  bool CursorReadLock();
  void CursorReadUnlock();
  //! The write lock; true when the cursor was refreshed.
  bool CursorWriteLock();
  void CursorWriteUnlock();
  //! Locks record number (0: the current record): VEVURA_RECLOCKFAILED at
  //! once when another cursor of the table object holds it, else the table's
  //! record lock with its retries; remembered as the cursor's locked record.
  //! True when the cursor was refreshed.
  bool CursorLockRecord(int32_t record_number);
  //! Releases record number (0: the current record) and forgets it.
  void CursorUnlockRecord(int32_t record_number);
  //! With StrictChangeDetection: CursorReadLock, whose read lock stays held.
  //! Otherwise, without a lock, refreshes the cursor when its snapshot
  //! differs from the table's counters. True when the cursor was refreshed.
  bool CheckCursorChanges();

  //! Takes the table's counters as the cursor's snapshot.
  void TakeSnapshot();
  const TChangeCounters& Snapshot() const { return snapshot_; }
  //! The record this cursor holds locked, 0 for none.
  int32_t LockedRecord() const { return locked_record_; }

 protected:
  //! The cursor's current record number (0 when on none).
  virtual int32_t CurrentRecordNumber() const = 0;
  //! Remembers the position to come back to after a refresh.
  virtual void RememberPosition() = 0;
  //! Drops the cursor's buffers and stands again on the remembered record.
  virtual void RefreshAndReposition() = 0;

 private:
  //! The wrappers apply: a table is attached, not exclusive, no read-only
  //! attribute.
  bool Applies() const;
  //! After a table lock that reported changed: refreshes the cursor when it
  //! did, or when the snapshot differs; true when refreshed.
  bool RefreshIfChanged(bool changed);
  //! 0 stands for the current record.
  int32_t RecordOrCurrent(int32_t record_number) const;

  TDataTable* table_ = nullptr;  //!< the open table, borrowed from the directory
  TChangeCounters snapshot_;     //!< the counters the cursor last saw
  int32_t locked_record_ = 0;    //!< record locked by this cursor
};

}  // namespace vevura
