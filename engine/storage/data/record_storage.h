#pragma once
// TRecordStorage: the records of one table in its data file, and the cache
// of record buffers the cursors of the open table share.
//
// Record N (from 1) occupies RecordSize() bytes at file offset 127 + field
// count x 768 + (N - 1) x record size. The header's next record number is one
// more than the number of slots; every slot holds a live or a free record.
// Free slots form a chain from the header's first free record through bytes
// 1 to 4 of each free record (0 ends it): inserts take the head of the chain,
// deletes push on it. A table without a primary index never reuses a slot:
// every insert appends.
//
// Reading: a miss of a cursor that reads ahead asks the cursor which records
// it will read next (the next entries of its index, the next records of its
// bitmap) and reads them with the record, all under the read lock the miss
// takes: sorted, in exact runs of consecutive record numbers (runs a few
// records apart are read as one, which costs less than another call), one
// read per run, at most kReadAheadBytes per run and in all, into buffers
// neither dirty nor pinned. A lookup reads just its record. A miss without
// such a cursor reads a run of neighbouring records in one call, up to 8192
// bytes, in the direction of travel, so that a sequential scan reads each
// stretch of the file once. VisitRecords reads many records the same way
// without keeping them, for a pass over a table that would only push out
// what the cursors use.
//
// Appending: a new slot's image lives in the stage, one contiguous block of
// whole records in record-number order (about kAppendRunBytes, at most half
// the cache's capacity), not in the cache; each staged record has a buffer
// that borrows its bytes, so cursors pin, read and change it like any other.
// Once the stage is full the next append writes its dirty records straight
// from the block, one write per run of dirty unpinned records (an encrypted
// table's are scrambled on a copy, so the staged images stay plain), and
// starts the stage again at the new slot; staged records still pinned or
// dirty then (in a transaction nothing is written) move into the cache with
// their own copy of the image.
//
// Writing: dirty buffers are written back in runs of consecutive record
// numbers, one write per run, when the shared table flushes or when the
// cache needs a buffer and every one is dirty, the staged records among
// them in number order. A failed write leaves its buffers dirty, so nothing
// is lost.
//
// Damaged free chains (a link outside the file, a link to a live record or
// to itself) raise VEVURA_FILECORRUPT when an insert meets them; a loop is
// met as a link to a slot already taken. The structural check of the whole
// record area is data_verify.h.
//
// Ownership: the data file owns its record storage and passes itself as the
// host, which outlives the storage. Buffers returned by GetRecord and
// AllocateRecord are pinned; every one must be given back with ReleaseRecord
// (TRecordRef does so).
//
// Thread-safety: none of its own; the cursors of one open table use it from
// one thread. Each physical read or write holds the file's access lock.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/storage/common/pinned.h"
#include "engine/storage/data/data_header.h"
#include "engine/storage/data/record.h"
#include "engine/storage/data/record_cache.h"
#include "engine/storage/fields/field_descriptor.h"
#include "engine/storage/file/file_handler.h"

namespace vevura {

//! The highest record number a table may have.
inline constexpr int32_t kMaxRecordNumber = 1000000000;
//! The largest data file a table may grow to.
inline constexpr int64_t kMaxDataFileSize = 128000000000;
//! Bytes read at most per physical read of records without a cursor.
inline constexpr int32_t kRecordReadBytes = 8192;
//! Bytes a cursor's miss reads at most, per run and in all.
inline constexpr int32_t kReadAheadBytes = 262144;
//! Bytes of newly appended records staged and written together.
inline constexpr int32_t kAppendRunBytes = 1048576;
//! Records between two runs of a cursor's miss that are read rather than
//! skipped with a read of their own: up to this many bytes of them.
inline constexpr int32_t kReadAheadGapBytes = 4096;
//! The engine session's default record-buffer budget in bytes and in buffers.
inline constexpr int32_t kDefaultRecordBufferBytes = 16384;
inline constexpr int32_t kDefaultRecordBufferCount = 8192;
//! Read and write buffers grow in steps of this many bytes.
inline constexpr size_t kRecordIoGranule = 4096;

//! File offset of record 1: after the header and the field descriptors.
inline int64_t RecordAreaOffset(uint16_t field_count) {
  return static_cast<int64_t>(kDataHeaderSize + field_count * kFieldDescriptorSize);
}

//! The direction a cursor travels while it fetches records.
enum TRecordDirection { rdForward, rdBackward };

//! What record storage needs from the data file that owns it.
class TRecordFileHost {
 public:
  virtual ~TRecordFileHost() = default;
  //! The open data file.
  virtual TFileHandler& RecordFile() = 0;
  //! The in-memory header: field count, record size, encryption, first free
  //! record and next record number are read and changed through it.
  virtual TDataHeader& RecordHeader() = 0;
  //! Notes that the in-memory header differs from the file's.
  virtual void SetHeaderChanged() = 0;
  //! The table's next auto-increment value, handed out.
  virtual int32_t NextAutoIncValue() = 0;
  //! Raises code naming the table (and its database). Must throw.
  virtual void RaiseRecordError(uint16_t code) const = 0;
};

//! What the shared table tells record storage about its state. Without one
//! the storage assumes a primary index, no transaction, and tolerates a
//! short read only on an exclusive file it has written to.
class TRecordTableState {
 public:
  virtual ~TRecordTableState() = default;
  //! False when the index file says the table has no primary index.
  virtual bool HasPrimaryIndex() const = 0;
  //! The table holds its transaction lock: buffers are not written early.
  virtual bool TransactionLockHeld() const = 0;
  //! Records at the end may exist only in memory (exclusive or in a
  //! transaction, with something written since), so a short read is no error.
  virtual bool ShortReadAllowed() const = 0;
  //! Sets the table's written flag.
  virtual void NoteWritten() = 0;
};

//! What record storage asks of the cursor that fetches a record.
class TRecordClient {
 public:
  virtual ~TRecordClient() = default;
  //! Called on a cache miss before the file is read: takes the cursor's read
  //! lock unless strict change detection has already checked. False when
  //! another user changed the table (buffers dropped, cursor refreshed).
  virtual bool BeforeRecordRead() = 0;
  //! Called on a miss of record number once BeforeRecordRead allowed the
  //! read: appends to numbers the records the cursor expects to read next,
  //! travelling in direction, soonest first, at most limit of them; none when
  //! it reads just number. The storage reads them with number.
  virtual void ReadAheadRecords(int32_t number, TRecordDirection direction, int32_t limit,
                                std::vector<int32_t>& numbers) = 0;
};

class TRecordStorage final : public TRecordOwner {
 public:
  //! Storage over host's file and header. REQUIRES: host outlives it.
  explicit TRecordStorage(TRecordFileHost& host);
  TRecordStorage(const TRecordStorage&) = delete;
  TRecordStorage& operator=(const TRecordStorage&) = delete;

  //! The shared table's state; nullptr for none.
  void SetTableState(TRecordTableState* state) { table_ = state; }

  //! The engine session's record-buffer budget in bytes and in buffers,
  //! used by the next SizeCache.
  void SetBufferLimits(int32_t buffer_bytes, int32_t buffer_count) {
    buffer_bytes_ = buffer_bytes;
    buffer_count_ = buffer_count;
  }
  //! At open, once the header is read: empties the cache and sizes it,
  //! capacity min(buffer bytes / record size, buffer count), read-ahead
  //! 8192 / record size records (at least 1).
  void SizeCache();

  //! The buffer of record number, pinned. The next record number appends a
  //! slot: a zeroed live record, dirty, and the next record number grows.
  //! A miss reads, with read_ahead and cursor_read_ahead, number and the
  //! records the cursor names (see above); with read_ahead alone a run of as
  //! many records as remain in direction, at most ReadAheadCount(); else
  //! one record. nullptr when the cursor reports
  //! that another user changed the table: the caller starts again.
  //! VEVURA_FILECORRUPT for a number below 1 or beyond the next record
  //! number, or a record the file does not hold; VEVURA_TABLEFULL for an
  //! append beyond the limits; VEVURA_READERR from the file.
  TRecord* GetRecord(TRecordClient* cursor, int32_t number, TRecordDirection direction,
                     bool cursor_read_ahead, bool read_ahead);
  //! Unpins record (nothing for nullptr).
  void ReleaseRecord(TRecord* record) { cache_.Release(record); }
  //! Calls visit with each record of numbers (ascending, each below the next
  //! record number) and its image as GetRecord gives it, without keeping
  //! the records it reads: cached buffers as they are (pinned meanwhile),
  //! the others from the file in runs as a cursor's miss reads them, each
  //! read after cursor->BeforeRecordRead. False when that reports another
  //! user's change: the records before were visited, the others not.
  //! VEVURA_FILECORRUPT for a number outside the slots or a record the file
  //! does not hold; VEVURA_READERR from the file.
  bool VisitRecords(TRecordClient* cursor, std::span<const int32_t> numbers,
                    const std::function<void(int32_t, std::span<const uint8_t>)>& visit);

  //! The slot the next insert takes: the first free record, or the next
  //! record number when the chain is empty or the table has no primary index.
  int32_t NextInsertRecord() const;
  //! The buffer of NextInsertRecord, pinned, with the chain's head moved to
  //! its next link (0 for an appended slot). nullptr as GetRecord.
  //! VEVURA_FILECORRUPT when the chain's head lies outside the file, is not
  //! a free record, or links to itself or outside the file.
  TRecord* AllocateRecord(TRecordClient* cursor);
  //! Marks record free and pushes it on the chain (with link 0 when inserts
  //! append). A record already free is left as it is, since pushing it again
  //! would loop the chain.
  void FreeRecord(TRecord* record);
  //! Stores the chain's head; header changed when it differs.
  void SetFirstFree(int32_t number);

  //! Writes every dirty, unpinned buffer outside the read in progress, one
  //! write per run of consecutive record numbers. True when something was
  //! written. VEVURA_WRITEERR from the file, the run's buffers still dirty.
  bool FlushRecords();
  //! Evicts buffers (writing dirty ones first) until at most Capacity()
  //! remain or only pinned ones are left; room := max(count, capacity).
  void TrimCache();
  //! Forgets every buffer, staged ones too, without writing it.
  void DropAllRecords();
  //! The buffer of record number, staged or cached, without pinning it or
  //! touching the cache's recency; nullptr when neither holds it.
  const TRecord* Peek(int32_t number) const;
  TRecord* Peek(int32_t number);
  //! True when a staged or cached buffer is dirty.
  bool HasDirtyRecords() const;
  //! Records the stage holds now, and at most.
  int32_t StagedCount() const { return stage_count_; }
  int32_t StageCapacity() const { return stage_capacity_; }

  //! File offset of record number.
  int64_t RecordOffset(int32_t number) const;
  //! Records per physical read without a cursor.
  int32_t ReadAheadCount() const { return read_ahead_count_; }
  //! Records a cursor may name on a miss: kReadAheadBytes of them, at most
  //! half the cache's capacity, so that they do not push each other out.
  int32_t ReadAheadLimit() const;
  //! The cache, for inspection.
  const TRecordCache& Cache() const { return cache_; }

  // TRecordOwner
  uint32_t RecordSize() const override;
  bool Encrypted() const override;
  int32_t NextAutoIncValue() override { return host_.NextAutoIncValue(); }
  void RecordDirtied(int32_t number) override {
    if (Staged(number) == nullptr) {
      dirtied_.push_back(number);
    } else {
      stage_dirty_ = std::min(stage_dirty_, number - stage_first_);
    }
  }

 private:
  //! Step 2 of GetRecord: a new slot at the end of the file.
  TRecord* AppendRecord(int32_t number);
  //! A cursor reaches buffer: one read ahead for a stepping cursor becomes
  //! the first buffer reused.
  void Reached(TRecord& buffer);
  //! The staged buffer of record number, or nullptr.
  TRecord* Staged(int32_t number) const {
    const int64_t at = int64_t{number} - stage_first_;
    return at >= 0 && at < stage_count_ ? stage_[static_cast<size_t>(at)].get() : nullptr;
  }
  //! Empties the stage so that it starts at number: writes its dirty records
  //! (unless in a transaction) and moves those still dirty or pinned into
  //! the cache. False when the cache holds a pinned buffer of number, which
  //! the append then takes as before. VEVURA_WRITEERR with the stage as it
  //! was.
  bool RestartStage(int32_t number);
  //! Empties the stage without writing it: records still pinned, and dirty
  //! ones numbered below keep_below, move out with their own copy of the
  //! image (into the cache when below keep_below, among the dropped buffers
  //! otherwise); the others are forgotten.
  void EmptyStage(int32_t keep_below);
  //! Gives staged record i a buffer of its own and a new buffer for the slot;
  //! the old buffer goes into the cache (kept) or among the dropped (not).
  void DetachStaged(size_t i, bool keep);
  //! Writes the dirty unpinned staged records the header counts, one write
  //! per run; true when something was written.
  bool WriteStage();
  //! VEVURA_TABLEFULL when a slot number would pass the table's limits.
  void CheckTableFull(int32_t number) const;
  //! A buffer for record number, not yet loaded: a spare while there is
  //! room, else the least recently used clean unpinned buffer (writing dirty
  //! ones first unless in a transaction), else a spare with more room.
  TRecord* TakeBuffer(int32_t number);
  //! Records to read from number on in direction without a cursor.
  int32_t RunLength(int32_t number, TRecordDirection direction, bool read_ahead) const;
  //! Reads the run of count records ending (backward) or starting (forward)
  //! at number and loads them into the cache, number last.
  void ReadRun(int32_t number, int32_t count, TRecordDirection direction);
  //! Loads the whole images read, from record first on, into buffers: the
  //! one farthest from the record asked for first, so that it ends up the
  //! most recently used.
  void LoadRun(int32_t first, int32_t images, TRecordDirection direction);
  //! A miss of a cursor that reads ahead: number and the records the cursor
  //! names that the file holds and the cache lacks, in runs; number's run
  //! last and number loaded last, so that it is the most recently used.
  void ReadAhead(TRecordClient& cursor, int32_t number, TRecordDirection direction);
  //! Whether record next, coming after previous in ascending order, goes
  //! into the one read that starts at first: gaps of at most
  //! kReadAheadGapBytes, reads of at most kReadAheadBytes.
  bool JoinsRead(int32_t first, int32_t previous, int32_t next) const;
  //! Reads the records from *first to *(last - 1) in one call and loads the
  //! images of the numbers in [first, last), number (when among them) last.
  void ReadSpan(std::vector<int32_t>::const_iterator first,
                std::vector<int32_t>::const_iterator last, int32_t number);
  //! Loads image into the buffer of record, unless that buffer is dirty or
  //! pinned.
  void LoadImage(int32_t record, uint8_t* image);
  //! Writes one run of buffers with consecutive numbers.
  void WriteRun(const std::vector<TRecord*>& run);
  //! The chain's head, checked before an insert takes it.
  void CheckChainHead(int32_t number) const;
  //! Checks the slot just taken from the chain and returns its link.
  int32_t CheckedChainLink(const TRecord& record) const;

  bool HasPrimaryIndex() const { return table_ == nullptr || table_->HasPrimaryIndex(); }
  bool TransactionLockHeld() const { return table_ != nullptr && table_->TransactionLockHeld(); }
  bool ShortReadAllowed();
  //! Raises code through the host.
  [[noreturn]] void Raise(uint16_t code) const;
  [[noreturn]] void Corrupt() const { Raise(VEVURA_FILECORRUPT); }

  TRecordFileHost& host_;                             //!< the owning data file
  TRecordTableState* table_ = nullptr;                //!< the shared table's state, if any
  TRecordCache cache_;                                //!< the record buffers
  int32_t buffer_bytes_ = kDefaultRecordBufferBytes;  //!< budget of the cache in bytes
  int32_t buffer_count_ = kDefaultRecordBufferCount;  //!< upper bound of its capacity
  int32_t read_ahead_count_ = 1;                      //!< records per physical read
  int32_t window_first_ = 0;           //!< first record of the read in progress, 0 for none
  int32_t window_last_ = -1;           //!< last record of the read in progress
  std::vector<uint8_t> read_buffer_;   //!< bytes of the run being read
  std::vector<uint8_t> visit_buffer_;  //!< bytes of VisitRecords' run, when none is under way
  std::vector<int32_t> wanted_;        //!< records a cursor's miss reads, sorted
  std::vector<uint8_t> write_buffer_;  //!< bytes of the run being written
  //! Numbers of the buffers that became dirty since the last write-back
  //! (and of those it left dirty); may repeat and name clean buffers.
  std::vector<int32_t> dirtied_;
  //! The stage: images of new records in number order, stage_[i] borrowing
  //! RecordSize() bytes at i x RecordSize() of stage_bytes_.
  std::vector<uint8_t> stage_bytes_;
  std::vector<std::unique_ptr<TRecord>> stage_;
  int32_t stage_first_ = 0;     //!< record number of stage_[0]
  int32_t stage_count_ = 0;     //!< staged records, from stage_first_ on
  int32_t stage_capacity_ = 1;  //!< records the stage holds at most
  //! Index of the first staged record that may be dirty (kNoStagedDirty for
  //! none), so that a flush after every post does not walk the whole stage.
  int32_t stage_dirty_ = kNoStagedDirty;
  static constexpr int32_t kNoStagedDirty = INT32_MAX;
  uint32_t stage_size_ = 0;  //!< record size the stage was laid out for
  //! Highest record number put in the cache since it was last emptied: the
  //! cache holds no buffer above it, so an append need not look there.
  int32_t cached_high_ = 0;
  bool written_ = false;  //!< records written since SizeCache
};

//! A pinned record buffer, released when the reference goes.
using TRecordRef = TPinned<TRecord, TRecordStorage, &TRecordStorage::ReleaseRecord>;

}  // namespace vevura
