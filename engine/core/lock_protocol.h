#pragma once
// The lock map of a shared table and the bounded loops that take its locks.
//
// Programs that share a table (and sessions of one program) are kept apart
// only by byte-range locks on the table's files, placed far beyond the end of
// any real file so that no lock ever covers data. Offsets, lengths and
// attempt counts are part of the on-disk contract every sharing program
// follows:
//
//   file        range                      offset                  length
//   data        record N                   0xFFFFFFFE - N          1
//   data        transaction and write      0xFFFFFFFF              1
//   data        table-lock region          0xC46535FD              1000000001
//   index       write region               0xFFFEFFFF              65536
//   index       read slot s (1 to 65535)   0xFFFFFFFF - s          1
//   BLOB        write region, read slots   as the index file
//
// The write region covers every read slot and one byte below them, so a
// writer excludes every reader and two readers conflict only when they draw
// the same slot. The table-lock region is never taken here; another program
// holding it makes every record lock fail (it covers records 1 to
// 1000000001).
//
// Bounded attempts (transaction byte, write region, read slot) try up to
// kBoundedLockAttempts times, kBoundedLockSleepMs apart; a read slot is drawn
// again before every try. Record locks make one attempt per call; their retry
// loop is the table's (data_table.h), governed by the session's
// LockRetryCount and LockWaitTime.
//
// Unlocking always names exactly the range that was locked.
//
// Thread-safety: the functions keep no state; the file layer serialises the
// lock calls on one file.

#include <cstdint>
#include <functional>

#include "engine/storage/file/file_handler.h"

namespace vevura {

//! Record N's lock byte is this minus N.
inline constexpr int64_t kRecordLockBase = 0xFFFFFFFE;
//! The data file's transaction and write byte.
inline constexpr int64_t kTransactionLockOffset = 0xFFFFFFFF;
//! The table-lock region of the data file (record locks of records 1 to
//! 1000000001).
inline constexpr int64_t kTableLockRegionOffset = 0xC46535FD;
inline constexpr int64_t kTableLockRegionLength = 1000000001;
//! The write region of the index and BLOB files.
inline constexpr int64_t kWriteRegionOffset = 0xFFFEFFFF;
inline constexpr int64_t kWriteRegionLength = 65536;
//! Read slot s of the index and BLOB files is this minus s.
inline constexpr int64_t kReadSlotBase = 0xFFFFFFFF;
//! Read slots are numbered 1 to this.
inline constexpr uint16_t kMaxReadSlot = 65535;

//! Tries a bounded attempt makes (about 98 seconds of waiting).
inline constexpr uint16_t kBoundedLockAttempts = 32767;
//! Milliseconds between the tries of a bounded attempt.
inline constexpr uint32_t kBoundedLockSleepMs = 3;

//! How a bounded attempt is paced; the defaults are the protocol's.
struct TBoundedLockTiming {
  uint16_t Attempts = kBoundedLockAttempts;  //!< tries at most (at least 1 is made)
  uint32_t SleepMs = kBoundedLockSleepMs;    //!< sleep between tries
};

//! The lock byte of record number (sign-extended into 64 bits).
inline int64_t RecordLockOffset(int32_t record_number) {
  return kRecordLockBase - static_cast<int64_t>(record_number);
}
//! The lock byte of read slot s.
inline int64_t ReadSlotOffset(uint16_t slot) {
  return kReadSlotBase - slot;
}

//! Calls try_lock until it succeeds or timing.Attempts tries failed,
//! sleeping timing.SleepMs between tries. True when a try succeeded.
bool BoundedLockAttempt(const std::function<bool()>& try_lock, const TBoundedLockTiming& timing);

//! A read slot drawn at random from 0 to 65535, with 0 replaced by 1.
uint16_t DrawReadSlot();

//! Single tries on one file; false when the range is refused (or, for an
//! unlock, not held).
bool LockRecordByte(TFileHandler& data_file, bool lock, int32_t record_number);
bool LockTransactionByte(TFileHandler& data_file, bool lock);
bool LockWriteRegion(TFileHandler& file, bool lock);
bool LockReadSlot(TFileHandler& file, bool lock, uint16_t slot);

//! Takes a read slot on file with a bounded attempt, drawing a new slot
//! before every try; the slot held is stored in *slot (0 when none was
//! obtained).
bool TakeReadSlot(TFileHandler& file, const TBoundedLockTiming& timing, uint16_t* slot);

}  // namespace vevura
