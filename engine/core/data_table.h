#pragma once
// TDataTable: the one in-process representative of one physical table (its
// data file, its index file and, when it has BLOB fields, its BLOB file)
// inside one data directory.
//
// Every cursor of the directory that opens the table shares this object: its
// three file objects, their header copies and buffers, and its lock state.
// It is the only place that places byte-range locks on the table's files
// (the lock map and its retry loops are lock_protocol.h), and it re-reads the
// headers when a lock shows that another user changed the table:
//
//   - read lock: a read slot in the index file (and in the BLOB file), held
//     around reads that must see a consistent table; readers share;
//   - write lock: the data file's transaction byte, then the write regions
//     of the index and BLOB files, held around every change;
//   - record lock: one byte per record number, held while a record is
//     edited, inserted or deleted; retried LockRetryCount times
//     LockWaitTime apart;
//   - transaction lock: the data file's transaction byte, held for the whole
//     of the directory's transaction, so no other user can write.
//
// Read and write locks belong to the table object, not to a cursor; they are
// not counted: a nested request of the same kind returns at once and the
// first unlock releases it. Cursors are told apart only by
// CursorRecordLocks. Every held lock is recorded here so that CloseTable can
// release it.
//
// A table opened exclusively, and one any of whose files carries the
// read-only attribute, place no locks. An exclusive table defers its writes
// (MarkChanged) until close, commit, or a full cache; a shared table writes
// every change (FlushBuffers) before its write lock is released.
//
// Change detection compares the change counters (the first four bytes of
// each header) with the in-memory copies whenever a lock is taken; a moved
// counter re-reads that header and drops the cached buffers it covers.
//
// Errors name the table and the directory. Lock failures: VEVURA_LOCKTIMEOUT
// (read, write, transaction lock; releasing the write region or transaction
// byte), VEVURA_RECLOCKFAILED (record lock), VEVURA_UNLOCKFAILED (unlocking
// a record or read slot); changes to a read-only table: VEVURA_OSEACCES.
//
// Ownership: the data directory owns its table objects and frees one when
// its UseCount returns to 0 outside a transaction; the table owns its three
// file objects and its three record bitmaps (taken from the process-wide
// pool). Destroying a table object closes it (dropping temporary buffers).
//
// Thread-safety: none of its own; a table object is used by its session's
// thread. The file layer serialises the process-wide file list.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/core/data_directory.h"
#include "engine/core/lock_protocol.h"
#include "engine/expr/records_bitmap.h"
#include "engine/storage/blob/blob_file.h"
#include "engine/storage/data/data_file.h"
#include "engine/storage/data/record_storage.h"
#include "engine/storage/index/index_file.h"
#include "engine/storage/index/index_file_host.h"
#include "engine/storage/index/key_batch.h"

namespace vevura {

class TDataSession;

//! The three change counters of a table, as a cursor last saw them.
struct TChangeCounters {
  int32_t Data = 0;   //!< data header
  int32_t Index = 0;  //!< index header
  int32_t Blob = 0;   //!< BLOB header; 0 for a table without BLOB fields
  //! Rollbacks of this table object: a rolled-back transaction's counter
  //! values come round again with other contents, so a cursor that saw one
  //! must still notice.
  uint32_t Rollbacks = 0;

  bool operator==(const TChangeCounters&) const = default;
};

//! Who is asked before an index page is read from disk: the cursor whose
//! operation runs (it takes its read lock first).
class TPageReadClient {
 public:
  virtual ~TPageReadClient() = default;
  //! False when the check found another user's change (buffers dropped).
  virtual bool BeforePageRead() = 0;
};

class TDataTable final : public TIndexFileHost, public TRecordTableState, public TBlobTableState {
 public:
  //! Number of record slots the record bitmaps cover at first.
  static constexpr int32_t kInitialBitmapSize = 8192;

  //! A closed table object of directory.
  explicit TDataTable(TDataDirectory& directory);
  //! Closes the table (dropping temporary buffers) and returns its bitmaps.
  ~TDataTable() override;
  TDataTable(const TDataTable&) = delete;
  TDataTable& operator=(const TDataTable&) = delete;

  // ----- Identity and state -----
  //! Name and flags for the next open or create. REQUIRES: not open.
  void Configure(const std::string& name, bool exclusive, bool in_memory, bool temporary);
  //! The next open is a repair's (file_handler.h, ForRepair). REQUIRES: not open.
  void SetForRepair(bool for_repair) { for_repair_ = for_repair; }
  TDataDirectory& Directory() const { return directory_; }
  TDataSession& Session() const;
  uint16_t UseCount() const { return use_count_; }
  const std::string& TableName() const override { return table_name_; }
  bool IsOpen() const { return is_open_; }
  bool Exclusive() const { return exclusive_; }
  bool ReadOnly() const { return read_only_; }
  bool ReadOnlyAttribute() const { return read_only_attribute_; }
  bool InMemory() const { return in_memory_; }
  bool Temporary() const { return temporary_; }
  bool IndexFileRecreated() const { return index_file_recreated_; }
  bool ReadLocked() const { return read_locked_; }
  bool WriteLocked() const { return write_locked_; }
  uint16_t IndexReadSlot() const { return index_read_slot_; }
  uint16_t BlobReadSlot() const { return blob_read_slot_; }
  bool TransactionLockHeld() const override { return transaction_lock_held_; }
  bool InTransaction() const { return in_transaction_; }
  bool Modified() const { return modified_; }
  //! The table has BLOB fields (and so a BLOB file).
  bool HasBlobFields() const { return data_file_->BlobFieldCount() > 0; }

  TDataFile& DataFile() { return *data_file_; }
  TIndexFile& IndexFile() { return *index_file_; }
  TBlobFile& BlobFile() { return *blob_file_; }
  const TRecordsBitmap& LockedRecords() const { return *locked_records_; }
  const TRecordsBitmap& CursorRecordLocks() const { return *cursor_record_locks_; }
  const TRecordsBitmap& DeferredUnlocks() const { return *deferred_unlocks_; }

  // ----- Opening and closing (data_table.cpp) -----
  //! Opens once more; the first open opens the data file, then the index
  //! file (recreating a missing one with only the system indexes, which sets
  //! IndexFileRecreated), then the BLOB file of a table with BLOB fields. A
  //! failure closes everything again and passes on. Takes no lock.
  void OpenTable();
  //! Closes once; the last close outside a transaction writes what an
  //! exclusive table deferred (or discards it for a temporary table when
  //! drop_temporary), releases every lock and closes the files.
  void CloseTable(bool drop_temporary);
  //! Opens the named files for a new table: UseCount 1, IsOpen, the three
  //! files named and flagged, then write_files creates them: the data header
  //! (TDataFile::CreateHeader), the index file and its definitions, and, for
  //! a table with BLOB fields, the BLOB file after giving it its block size
  //! and encryption. Nothing reaches the disk until the table closes, which
  //! writes every header once. A failure closes the files without writing
  //! anything (files already created stay) and passes on.
  void CreateTableFiles(const TTableFilesWriter& write_files);
  //! Deletes the data file, then the index file and the BLOB file when they
  //! exist (VEVURA_OSEACCES while open in the process; files deleted before
  //! a failure stay deleted). REQUIRES: not open.
  void DeleteTableFiles();

  // ----- The first cursor's checks (table_open_check.cpp) -----
  //! For the cursor that opened the table when UseCount became 1: under the
  //! read lock, re-reads and verifies the data header with its field
  //! definitions (VEVURA_OLDVERSION, VEVURA_HEADERCORRUPT,
  //! VEVURA_CANNOTLOADLDDRV), the index header unless the index file was
  //! recreated, and the BLOB header. Nothing when in a transaction with
  //! changes newer than the disk.
  void VerifyHeaders();
  //! When IndexFileRecreated: under the write lock, marks the table as one
  //! without a primary index, rebuilds the record slot index (31) from
  //! every slot of the data file and recounts the active records, then
  //! writes (or, exclusive, marks) the change. A table read-only for its
  //! data or BLOB file writes the slot index all the same (the new index
  //! file is writable) and stays read-only. Clears IndexFileRecreated.
  void RebuildSlotIndex();
  //! A repair built every index of a recreated index file itself.
  void IndexFileRebuilt() { index_file_recreated_ = false; }

  // ----- Locks (table_locks.cpp) -----
  //! Returns false at once when exclusive, read-only-attribute, or when the
  //! transaction, write or read lock is held. Otherwise takes a read slot in
  //! the index file (and the BLOB file) and returns CheckForChanges.
  bool ReadLock();
  void ReadUnlock();
  //! Returns false at once when exclusive, read-only-attribute or write
  //! locked. Otherwise takes the transaction byte (unless the transaction
  //! lock holds it) and the write regions; returns CheckForChanges, or false
  //! when the transaction lock is held.
  bool WriteLock();
  void WriteUnlock();
  //! Locks record number (VEVURA_RECLOCKFAILED for 0, or after
  //! LockRetryCount retries LockWaitTime apart), taking the read lock first
  //! unless StrictChangeDetection; true when a lock found another user's
  //! change. The read lock stays held on success. Nothing when exclusive or
  //! read-only-attribute; in a transaction a record still locked from
  //! earlier in it needs no new lock.
  bool LockRecord(int32_t record_number);
  //! Releases record number (VEVURA_UNLOCKFAILED for 0 or a record not
  //! held); in a transaction the release is deferred to its end.
  void UnlockRecord(int32_t record_number);
  //! Releases every record lock, or with only_deferred those a cursor
  //! released during the transaction.
  void ReleaseRecordLocks(bool only_deferred);
  //! Takes the transaction byte (unless exclusive) and checks for changes.
  void TransactionLock();
  //! Releases the transaction byte (unless exclusive) and the deferred
  //! record locks.
  void TransactionUnlock();

  // ----- Change detection (change_detection.cpp) -----
  //! Re-reads the headers; a moved counter replaces the in-memory header
  //! and drops the buffers it covers. True when anything moved.
  bool CheckForChanges();
  //! The in-memory change counters.
  TChangeCounters ChangeCounters() const;

  // ----- Cursor record locks (cursor_locks.h) -----
  bool CursorHoldsRecordLock(int32_t record_number);
  void SetCursorRecordLock(int32_t record_number, bool held);

  // ----- Buffers (table_buffers.cpp) -----
  //! Writes every change out (dirty buffers, headers when dirty or forced,
  //! field definitions), flushing to disk when force_os_flush or the
  //! session's ForceBufferFlush; trims the caches when trim. Nothing for a
  //! read-only table; in a transaction only MarkChanged with the header flags.
  void FlushBuffers(bool trim, bool force_data_header, bool force_index_header,
                    bool force_blob_header, bool force_os_flush);
  //! Deferred write: each named file raises its change counter in memory and
  //! marks its header dirty.
  void MarkChanged(bool data, bool index, bool blob);
  //! Drops every cached buffer without writing (index: permanent indexes
  //! only); trims the caches when trim; re-reads the headers when reread.
  void DiscardBuffers(bool trim, bool reread);
  //! What a cursor does after its change: MarkChanged on an exclusive table,
  //! else FlushBuffers without trimming, forcing the named headers.
  void ChangesMade(bool data, bool index, bool blob);
  //! VEVURA_OSEACCES when the table is read-only: every change asks first.
  void RequireWritable() const;
  //! One change of a shared table outside a transaction keeps the
  //! before-images of what it writes to its files, so that a failure part
  //! way can take back exactly its own writes (the disk is then the table as
  //! it was, and the buffers are read again). False when the change is not
  //! journaled (an exclusive table or a transaction keeps its changes in the
  //! buffers and undoes them there).
  bool BeginChangeJournal();
  void EndChangeJournal();
  //! Keeps the before-images of every write to the table's open files until
  //! EndChangeJournal or RollBackChangeJournal, whatever the table's mode (a
  //! commit journals each table's flush).
  void BeginFileJournal();
  //! Writes the before-images back. When that fails too, the files hold
  //! part of the change: the table then refuses every further change with
  //! VEVURA_FILECORRUPT until it is reopened and repaired.
  void RollBackChangeJournal();
  //! Where the buffers hold the table's changes (exclusive, or in a
  //! transaction), the BLOB file's buffers keep what one change alters so
  //! that a failed change can be undone in memory (blob_file.h).
  void BeginBlobUndo();
  void EndBlobUndo();
  void UndoBlobChanges();
  //! The highest row id a record slot may carry, as this object last
  //! learned it; -1 when unknown. Forgotten whenever another user's change
  //! is met or the buffers are dropped; a value above the truth (a change
  //! taken back) only costs the lookups it saves.
  int64_t RowIdCeiling() const { return row_id_ceiling_; }
  void SetRowIdCeiling(int64_t ceiling) { row_id_ceiling_ = ceiling; }
  //! A failed change could not be taken back: the files need repair.
  bool NeedsRepair() const { return damaged_; }
  void MarkNeedsRepair() { damaged_ = true; }

  // ----- Transactions (table_transaction.cpp) -----
  //! Writes out an exclusive table's deferred changes, writes the pages of
  //! temporary indexes, enters the transaction and takes the transaction
  //! lock. Nothing for a read-only table or one already in a transaction.
  void StartTransaction();
  //! Leaves the transaction, discards every change (re-reading the headers),
  //! drops temporary-index pages and releases the transaction lock. Nothing
  //! for a read-only table or one not in a transaction.
  void Rollback();
  //! Commit, phase 1: the write lock.
  void CommitLock();
  //! Commit, phase 2: writes every change as outside a transaction.
  void CommitFlush(bool trim, bool force_os_flush);
  //! Commit, phase 3: with end_transaction, releases the write and
  //! transaction locks and leaves the transaction; without, releases the
  //! deferred record locks and the write lock and goes on.
  void CommitEnd(bool end_transaction);

  // ----- Keys waiting for their index (key_batch.h) -----
  //! Whether new keys of non-unique secondary indexes may wait in a batch:
  //! on an exclusive, writable table outside a transaction, where nobody
  //! else reads the index file before this object writes it.
  bool QueuesKeys() const { return exclusive_ && !read_only_ && !in_transaction_; }
  //! Bytes the batches of the table hold before they go into their indexes:
  //! 4 MiB, or the session's index buffer size when that is larger.
  size_t QueuedKeyLimit() const;
  //! Puts a key of index for record reference in the index's batch; a batch
  //! grown past the table's budget goes into its index at once.
  void QueueKey(uint8_t index, std::shared_ptr<const TKeyComparer> comparer, uint16_t key_length,
                const uint8_t* key, uint32_t reference);
  //! Takes back the key last queued for index, when it is key for
  //! reference; false when it is no longer waiting.
  bool TakeBackQueuedKey(uint8_t index, const uint8_t* key, uint32_t reference);
  //! Inserts the keys waiting for index into its B-tree: done before
  //! anything reads or changes that index.
  void InsertQueuedKeys(uint8_t index);
  //! The same for every index.
  void InsertQueuedKeys();

  // ----- Index page reads -----
  //! The cursor asked before each index page read (nullptr: nobody).
  void SetPageReadClient(TPageReadClient* client) { page_read_client_ = client; }
  TPageReadClient* PageReadClient() const { return page_read_client_; }

  // ----- TIndexFileHost, TRecordTableState, TBlobTableState -----
  bool Encrypted() const override { return data_file_->Encrypted(); }
  int32_t IndexBufferSize() const override;
  bool DefersPageWrites() const override {
    return transaction_lock_held_ || (write_locked_ && !exclusive_);
  }
  void SetHeaderWritten() override { modified_ = true; }
  bool BeforePageRead() override;
  std::string TemporaryIndexFileName() override;
  bool HasPrimaryIndex() const override { return !index_file_->GetNoPrimary(); }
  bool ShortReadAllowed() const override;
  void NoteWritten() override { modified_ = true; }

  //! Raises code naming the table and its directory.
  [[noreturn]] void RaiseTableError(uint16_t code) const;

 private:
  //! The data, index and BLOB files (any of them may be nullptr).
  std::array<TFileHandler*, 3> Files() const;
  //! Gives the three files their names and flags and the session's limits.
  void PrepareFiles();
  //! Opens the index file, recreating it when it does not exist.
  void OpenIndexFile();
  //! Creates a missing index file with only the system indexes.
  void RecreateIndexFile();
  //! Takes ReadOnly and ReadOnlyAttribute from the open files.
  void TakeFileAttributes();
  //! Releases every lock still held and closes the three files; the first
  //! failure is passed on after everything is closed.
  void ReleaseAndCloseFiles();
  //! Closes the files without writing or unlocking (a failed open or create).
  void AbandonFiles();
  //! The BLOB file is in use: BLOB fields and open.
  bool BlobFileInUse() const;
  //! Grows the record bitmaps to cover the table's slots and record_number.
  void SizeBitmaps(int32_t record_number);
  //! The bounded attempt pacing of the session.
  const TBoundedLockTiming& LockTiming() const;
  //! Locks skipped entirely: exclusive, read-only-attribute, or not open.
  bool LocksSkipped() const { return exclusive_ || read_only_attribute_ || !is_open_; }
  //! Releases one record lock; false when the byte could not be unlocked.
  bool ReleaseRecordLock(int32_t record_number);
  //! Releases the held ranges of the write lock (all of them after a failed
  //! WriteLock); false when one could not be released (it stays recorded).
  bool ReleaseWriteRanges();
  //! Writes the data, index and BLOB files' changes (FlushBuffers steps).
  void FlushDataFile(bool trim, bool force_header, bool force_os_flush);
  void FlushIndexFile(bool trim, bool force_header, bool force_os_flush);
  void FlushBlobFile(bool trim, bool force_header, bool force_os_flush);

  TDataDirectory& directory_;               //!< owning data directory
  uint16_t use_count_ = 0;                  //!< cursor opens not yet closed
  std::string table_name_;                  //!< name as the first opener gave it
  bool is_open_ = false;                    //!< the files are open
  bool exclusive_ = false;                  //!< no locks, writes deferred
  bool read_only_ = false;                  //!< a file could only be read
  bool damaged_ = false;                    //!< a failed change could not be taken back on disk
  uint32_t rollbacks_ = 0;                  //!< transactions rolled back (TChangeCounters)
  int64_t row_id_ceiling_ = -1;             //!< see RowIdCeiling
  bool read_only_attribute_ = false;        //!< a file is read-only; no locks
  bool in_memory_ = false;                  //!< in-memory files
  bool temporary_ = false;                  //!< discarded at close
  bool for_repair_ = false;                 //!< opened by a repair
  std::unique_ptr<TDataFile> data_file_;    //!< the data file, owned
  std::unique_ptr<TIndexFile> index_file_;  //!< the index file, owned
  //! Keys waiting for their index, per index number (nullptr: none yet).
  std::array<std::unique_ptr<TKeyBatch>, kIndexCount> key_batches_;
  size_t queued_key_bytes_ = 0;                          //!< bytes of every batch together
  std::unique_ptr<TBlobFile> blob_file_;                 //!< the BLOB file, owned
  bool index_file_recreated_ = false;                    //!< index file was made at open
  std::unique_ptr<TRecordsBitmap> locked_records_;       //!< record bytes this object holds
  std::unique_ptr<TRecordsBitmap> cursor_record_locks_;  //!< records some cursor locked
  std::unique_ptr<TRecordsBitmap> deferred_unlocks_;     //!< released in the transaction
  bool read_locked_ = false;                             //!< the read lock is held
  bool write_locked_ = false;                            //!< the write lock is held
  uint16_t index_read_slot_ = 0;                         //!< held index read slot, 0: none
  uint16_t blob_read_slot_ = 0;                          //!< held BLOB read slot, 0: none
  bool transaction_lock_held_ = false;                   //!< the transaction byte is held
  bool in_transaction_ = false;                          //!< the directory's transaction
  bool modified_ = false;                                //!< something written or marked
  bool data_byte_held_ = false;                          //!< the write lock's data byte
  bool index_region_held_ = false;                       //!< the index write region
  bool blob_region_held_ = false;                        //!< the BLOB write region
  TPageReadClient* page_read_client_ = nullptr;          //!< asked before page reads
};

}  // namespace vevura
