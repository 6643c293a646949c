#pragma once
// TDataCursor: one client's view of one table. It opens the table object
// through its data directory, stands on a position in the order of one index
// (or in record-number order), moves, reads the current record, finds
// records by key, keeps a range of keys, gives and takes bookmarks, and
// changes the table one record at a time.
//
// Positions: before the first record (AtBeginning), on a record, after the
// last record (AtEnd), or both flags for no records. In index order the
// position is a leaf entry of the active index; in record-number order
// (index 255, or index 0 of a table without a primary index) it is a record
// number, and the cursor walks a bitmap of the active records. After a post
// on an index whose new keys wait in the table's batch (QueuesKeysOf), the
// cursor stands on the posted record by its key alone: the leaf entry is
// looked for, which inserts the batch, only when an operation needs it (a
// step, a record number, a delete that stays put). Reading the record, its
// bookmark, moves to an end, a key or a bookmark, edits and further posts
// leave it unresolved, so that a run of posts inserts the batch once.
//
// Bookmarks: in index order the full key of the entry (which names one
// record, since a key of a non-unique index ends with the row id); in
// record-number order the 4-byte record number.
//
// Reading: every reading or moving operation runs inside the read bracket:
// CheckCursorChanges first, CursorReadUnlock at the end, whatever happens.
// Pages, records and BLOB blocks found in the table's caches are used as
// they are; one that must be read from disk is read under the table's read
// lock (taken on the first such read of an operation). When taking that lock
// shows another user's change, the operation starts again from the position
// it began on, after the cursor was refreshed: the cursor goes back to the
// record it stood on, or to its nearest neighbour in index order when that
// record is gone. A step whose record is not cached reads, under the same
// lock, the records the next entries of the position's leaf name (or the
// next records of the bitmap in record-number order), so that a scan takes
// the lock once per many records; a record-by-record filter reads its
// bitmap's records in large runs past the record cache. Other reads
// (lookups, bookmarks, edits) read just their record.
//
// Editing: every change runs under the table's write lock and the record
// lock of the record concerned; every unique index is checked before the
// first change, and the change (records, every index including the record
// slot index and the word index, BLOBs) is written out before the locks are
// released on a shared table, or marked for a later write on a table the
// cursor opened exclusively. A change that fails after it began altering the
// table's buffers is taken back: on a shared table by discarding the buffers
// and re-reading the headers (the disk holds the table as it was); on an
// exclusive table or in a transaction, whose earlier changes exist only in
// the buffers, by undoing its own changes in memory.
//
// Row ids: an insert gives the table's last auto-increment value plus 1
// (1 after 2147483647), skipping values another record slot still carries,
// so row ids stay unique among all slots.
//
// Ownership: the cursor borrows its data directory (which must outlive it)
// and its table object (owned by the directory while open); it owns its
// record copies, key buffers, record bitmap and BLOB buffers. Destroying an
// open cursor closes it.
//
// Thread-safety: a cursor is used by its session's thread only.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/core/cursor_filter.h"
#include "engine/core/cursor_locks.h"
#include "engine/core/data_session.h"
#include "engine/core/table_target.h"
#include "engine/expr/expression_evaluator.h"
#include "engine/expr/records_bitmap.h"
#include "engine/storage/blob/blob_buffer.h"
#include "engine/storage/common/scramble.h"
#include "engine/storage/data/record_storage.h"
#include "engine/storage/fields/field_codec.h"
#include "engine/storage/index/btree.h"
#include "engine/storage/index/btree_path.h"
#include "engine/storage/keys/key_compare.h"
#include "engine/storage/keys/key_context.h"
#include "engine/storage/keys/word_keys.h"

namespace vevura {

class TDataDirectory;

//! Results of positioning reads.
inline constexpr int kCursorOnRecord = 0;
//! Most BLOB buffers a cursor keeps open at once.
inline constexpr int kMaxOpenBlobs = 128;
//! Bytes of a record-number bookmark.
inline constexpr size_t kRecordBookmarkSize = 4;
//! Records a step in index order reads ahead at most on a miss, and the
//! leaves (the position's and those beyond it in memory) it looks at.
inline constexpr int32_t kIndexReadAheadRecords = 128;
inline constexpr int kIndexReadAheadLeaves = 4;

using TBookmark = std::vector<uint8_t>;

class TDataCursor final : public TCursorTableLocks,
                          public TPageReadClient,
                          public TRecordClient,
                          public TBlobClient {
 public:
  //! A closed cursor of directory.
  explicit TDataCursor(TDataDirectory& directory);
  //! Closes the cursor when open (errors are swallowed).
  ~TDataCursor() override;

  // ----- Table properties (VEVURA_TABLEOPEN while open) -----
  void SetTableName(const std::string& name);
  void SetExclusive(bool exclusive);
  void SetReadOnly(bool read_only);
  void SetInMemory(bool in_memory);
  //! Open in record-number order instead of the primary index.
  void SetRecordNumberOrder(bool record_number_order);
  const std::string& TableName() const { return target_.TableName; }
  bool Exclusive() const { return target_.Exclusive; }
  bool ReadOnly() const { return target_.ReadOnly; }
  bool InMemory() const { return target_.InMemory; }
  //! Asked when the table is encrypted and the session lacks its password.
  void SetPasswordRequest(TPasswordRequest request) { password_request_ = std::move(request); }
  //! The table as table-level operations (creation, deletion) see it.
  TTableTarget Target() const;
  TDataDirectory& Directory() const { return directory_; }

  // ----- Opening and closing -----
  //! Opens the table and stands before its first record (see above). Any
  //! failure closes the cursor again before it propagates.
  void OpenCursor();
  //! Frees the BLOB buffers and closes the table object (a temporary table
  //! is discarded with drop_temporary). Nothing when closed.
  void CloseCursor(bool drop_temporary);
  bool IsOpen() const { return open_; }

  // ----- Positions and reading (the read bracket) -----
  //! Before the first record, with the current record read.
  void First();
  //! After the last record, with the current record read.
  void Last();
  //! One step forward (from the beginning: to the first record) and the
  //! record into buffer (may be empty); kCursorOnRecord or VEVURA_EOF (the
  //! cursor stays after the last record; also without records). A result
  //! other than kCursorOnRecord clears the buffer.
  int Next(TRecordImage buffer);
  //! The mirror image of Next; VEVURA_BOF at the beginning.
  int Prior(TRecordImage buffer);
  //! The current record into buffer. Without lock_it: kCursorOnRecord,
  //! VEVURA_BOF, VEVURA_EOF or VEVURA_NOCURRREC (buffer cleared). With
  //! lock_it (the start of an edit): the record lock under lpPessimistic,
  //! and the stored record must equal buffer (VEVURA_KEYORRECDELETED).
  int GetCurrentRecord(TRecordImage buffer, bool lock_it);
  //! 1-based place of the current record within the range (index order) or
  //! among the active records (record-number order); 0 when on none.
  int64_t GetRecNo();
  //! Stands on the n-th record of the current order and range; true when
  //! GetRecNo is then n.
  bool SetRecNo(int64_t n);
  //! Records in the range (index order) or active records.
  int64_t GetRecordCount();
  //! Searches the active index (false in record-number order). key_or_record
  //! is a raw key (key_is_raw) or a record image whose key is built. With
  //! field_count between 1 and the index's field count - 1, on a non-unique
  //! index, or with field_count 0 and a partial_length (characters of the
  //! next string field, 0: none), the first entry whose prefix matches is
  //! found; otherwise the full key. The cursor stands on the first entry not
  //! below the search key (past the last entry: on the last one), except that
  //! a full key not found without nearest leaves it where it stood. The
  //! record the cursor stands on is copied into buffer when one is given.
  bool FindKey(std::span<const uint8_t> key_or_record, bool key_is_raw, int field_count,
               int partial_length, bool nearest, TRecordImage buffer);
  //! Restricts the cursor to the keys between low and high (both included;
  //! an empty span gives an all-zero key); partial keys cover every key
  //! they begin. Nothing in record-number order.
  void SetRange(bool key_is_raw, std::span<const uint8_t> low, int low_field_count,
                std::span<const uint8_t> high, int high_field_count);
  void CancelRange();
  bool RangeActive() const { return range_active_; }
  //! Makes the named index active (the primary index's name is empty;
  //! compared without regard to case), staying on the same record.
  //! VEVURA_INVALIDINDEXNAME when there is no such index.
  void SwitchToIndex(const std::string& index_name);
  TBookmark GetBookmark() const;
  //! The bookmark record (record number record_number, as another cursor
  //! of the table read it) has in this cursor's order.
  TBookmark BookmarkOfRecord(std::span<const uint8_t> record, int32_t record_number) const;
  //! Stands on the bookmarked record (nearest: on its neighbour when gone);
  //! true with nearest, else whether the bookmark was found exactly.
  bool GotoBookmark(const TBookmark& bookmark, bool nearest);
  //! -1, 0 or 1 in the order of the active index (record numbers in
  //! record-number order).
  int CompareBookmarks(const TBookmark& a, const TBookmark& b) const;
  //! Re-reads the headers under the read lock and stands again on the same
  //! record (or its nearest neighbour).
  void Refresh();
  //! A new open cursor on the same table object, index, range and record.
  std::unique_ptr<TDataCursor> CloneCursor();

  // ----- Editing -----
  //! A new record in buffer: zeros, then every field's default value.
  void InitRecord(TRecordImage buffer);
  //! Posts buffer as a new record (the buffer receives its row id); with
  //! position_on_record the cursor stands on it afterwards.
  void InsertRecord(TRecordImage buffer, bool position_on_record);
  //! Posts buffer over the current record.
  void ModifyRecord(TRecordImage buffer, bool unlock_after, bool position_on_record);
  //! Deletes the current record; buffer is the image the caller last read.
  //! With reposition the cursor moves to the record that followed it.
  void DeleteRecord(std::span<const uint8_t> buffer, bool reposition);
  //! Ends an edit without posting: releases its record lock (lpPessimistic)
  //! or clears the edit-changed mark (lpOptimistic).
  void CancelEdit();

  // ----- Filters (cursor_filters.cpp) -----
  //! Parses text as a filter expression, resolves it against the table's
  //! fields and compiles it with the settings; adds the filter, inactive,
  //! before the callback filters. VEVURA_INVALIDFILTER for a text that does
  //! not parse or is not boolean, VEVURA_INTERNALLIMIT for a 65th filter.
  TFilter* AddFilter(const std::string& text, const TFilterSettings& settings);
  //! Adds a tree already resolved against this table and compiled.
  TFilter* AddFilter(std::unique_ptr<TExpToken> compiled, const TFilterSettings& settings);
  //! Adds a callback filter, inactive, after every other filter: it sees only
  //! the records the filters before it let through.
  TFilter* AddCallbackFilter(TFilterCallback callback);
  //! Removes the filter (nullptr: every filter). VEVURA_NOSUCHFILTER for a
  //! filter of no cursor or of another one.
  void RemoveFilter(TFilter* filter);
  //! Makes the filter (nullptr: every filter) take part, or not; the cursor
  //! stays on its record while it is visible, else on the next visible one.
  void ActivateFilter(TFilter* filter);
  void DeactivateFilter(TFilter* filter);
  int GetFilterOptimizeLevel(const TFilter* filter) const;
  //! Computes the bitmaps of the active filters and the visible records again.
  void RefreshFilters();
  //! Some filter is active.
  bool Filtered() const { return filtering_; }
  size_t FilterCount() const { return filters_.size(); }

  // ----- BLOB fields (result codes, 0 on success) -----
  //! Opens the field's BLOB in a buffer of the cursor (or counts one more
  //! open of the buffer it already has) and gives its length.
  int OpenBlob(uint16_t field_number, TRecordImage buffer, TBlobOpenMode mode, int32_t* length);
  //! Copies count bytes from position; VEVURA_ENDOFBLOB when fewer remain.
  int ReadBlob(uint16_t field_number, TRecordImage buffer, int32_t position, int32_t count,
               uint8_t* out, int32_t* read);
  int WriteBlob(uint16_t field_number, TRecordImage buffer, int32_t position, int32_t count,
                const uint8_t* data);
  int TruncateBlob(uint16_t field_number, TRecordImage buffer, int32_t length);
  int GetBlobSize(uint16_t field_number, TRecordImage buffer, int32_t* length);
  int CloseBlob(uint16_t field_number, TRecordImage buffer);
  //! Frees the changed BLOB buffers record's BLOB fields refer to (a new
  //! record given up before its post).
  void DropBlobBuffers(std::span<const uint8_t> record);
  //! BLOB buffers the cursor holds.
  size_t OpenBlobCount() const { return blobs_.size(); }

  // ----- State -----
  TDataSession& Session() const;
  //! Record size of the table; 0 when closed.
  uint16_t RecordSize() const { return record_size_; }
  //! The table's fields (field i + 1 at i).
  const std::vector<TFieldDescriptor>& Fields() const;
  //! Active index number: 0 to 30, or kNoIndex in record-number order.
  uint8_t ActiveIndex() const { return active_index_; }
  const std::string& ActiveIndexName() const { return active_index_name_; }
  //! Records are visited in record-number order: index 255, or index 0 of
  //! a table without a primary index.
  bool RecordNumberOrder() const { return record_number_order_; }
  bool AtBeginning() const { return bof_; }
  bool AtEnd() const { return eof_; }
  //! Record number of the current record, 0 when on none.
  int32_t RecordNumber() const { return record_number_; }
  //! The cursor's copy of the stored current record.
  std::span<const uint8_t> CurrentRecord() const { return current_; }
  //! Bytes of a bookmark in the current order; 0 when closed.
  size_t BookmarkSize() const { return open_ ? KeyLength() : 0; }
  //! The locale whose case rules string fields follow.
  uint32_t TableLcid() const;
  bool HasPrimaryIndex() const;
  //! Secondary indexes of the table (in slots 1 to this).
  uint8_t SecondaryIndexCount() const;
  //! A copy of index descriptor n (0 the primary, 32 the word index).
  TIndexDescriptor IndexDescriptor(uint8_t n) const;
  //! The edit-changed mark of lpOptimistic.
  bool EditChanged() const { return edit_changed_; }

  // ----- Callbacks of the storage layer -----
  bool BeforePageRead() override;
  bool BeforeRecordRead() override;
  bool BeforeBlockRead() override;
  void ReadAheadRecords(int32_t number, TRecordDirection direction, int32_t limit,
                        std::vector<int32_t>& numbers) override;

 protected:
  // TCursorTableLocks
  int32_t CurrentRecordNumber() const override { return record_number_; }
  void RememberPosition() override;
  void RefreshAndReposition() override;

 private:
  //! The order and comparison of one index of the table.
  struct TIndexKeys {
    explicit TIndexKeys(TKeyContext context) : Context(std::move(context)), Comparer(Context) {}
    TIndexKeys(const TIndexKeys&) = delete;
    TIndexKeys& operator=(const TIndexKeys&) = delete;
    TKeyContext Context;
    TIndexKeyComparer Comparer;
  };
  //! Thrown inside an operation when a disk read found another user's
  //! change: the operation starts again.
  struct TRestart {};

  // ----- Opening (data_cursor.cpp) -----
  void RequireClosed() const;
  void RequireOpen() const;
  //! Steps 2 to 7 of OpenCursor once the table object is held.
  void SetUpOpenTable();
  void CheckPassword();
  //! Builds the key contexts of every index the table has.
  void LoadIndexKeys();
  void ReleaseBuffers();
  [[noreturn]] void Raise(uint16_t code) const;
  [[noreturn]] void RaiseNamed(uint16_t code, const std::string& name) const;
  //! VEVURA_INVALIDFILTER with detail.
  [[noreturn]] void RaiseFilterError(const std::string& detail) const;

  // ----- The read bracket (data_cursor.cpp) -----
  //! Runs op inside the read bracket, starting it again after a restart.
  template <typename Op>
  auto ReadBracket(Op op) -> decltype(op());
  //! The same, beginning with CursorReadLock instead of CheckCursorChanges.
  template <typename Op>
  auto LockedReadBracket(Op op) -> decltype(op());
  //! Both brackets: the read lock first (lock_first) or the change check.
  template <typename Op>
  auto Bracketed(bool lock_first, Op op) -> decltype(op());
  //! Ends the bracket it was made in when it goes.
  struct TBracketEnd {
    TDataCursor& Cursor;
    ~TBracketEnd() { Cursor.EndBracket(); }
  };
  //! Gives a member another value for the life of the scope.
  template <typename T>
  struct TScopedValue {
    TScopedValue(T& value, T during) : Value(value), Saved(value) { Value = during; }
    ~TScopedValue() { Value = Saved; }
    TScopedValue(const TScopedValue&) = delete;
    TScopedValue& operator=(const TScopedValue&) = delete;
    T& Value;
    T Saved;
  };
  //! Runs op; after a restart goes back to the position op began on and
  //! runs it again.
  template <typename Op>
  auto RunRestartable(Op op) -> decltype(op());
  //! Begins an operation: the cursor becomes the table's page client.
  void BeginBracket();
  //! Ends an operation: releases the read lock, stops being the page client.
  void EndBracket();
  //! A companion of an exclusive table refreshes when the counters moved.
  void CheckCompanionChanges();
  //! Takes the read lock before a disk read unless held or not needed;
  //! false (restart pending) when it found a change.
  bool BeforeDiskRead();
  //! Throws TRestart when a disk read asked for a restart.
  void CheckRestart();

  // ----- Keys and trees (data_cursor.cpp) -----
  TIndexKeys& Keys(uint8_t index);
  const TIndexKeys& Keys(uint8_t index) const;
  //! The B-tree of index, on the cursor's position path.
  TBTree Tree(uint8_t index);
  //! The B-tree of index, on the edit path (leaves the position alone).
  TBTree EditTree(uint8_t index);
  //! New keys of index wait in the table's batch (a non-unique secondary
  //! index of an exclusive table) instead of going into the tree at once.
  bool QueuesKeysOf(uint8_t index) const;
  //! The indexes a change maintains, in slot order: 0 when the table has a
  //! primary index, then 1 to the secondary count.
  const std::vector<uint8_t>& KeyedIndexes() const { return keyed_indexes_; }
  //! Key length of the active index (the bookmark length in index order).
  uint16_t KeyLength() const;
  //! The record storage of the table.
  TRecordStorage& Records();
  //! Record number n, pinned; restarts the operation after a change.
  TRecordRef FetchRecord(int32_t n, TRecordDirection direction);

  // ----- Navigation (cursor_navigation.cpp) -----
  //! Makes index (or kNoIndex) the active order, on no position.
  void SelectIndex(uint8_t index);
  //! Compares two keys of the active index over its key length.
  int CompareActive(const uint8_t* a, const uint8_t* b) const;
  //! Record-number order: the first or last active record, 0 when none.
  int32_t EdgeRecord(bool last) const;
  //! Stands on the first or last record of the order and range; false
  //! (position unchanged) when there is none.
  bool GoToEdge(bool last);
  //! Some record lies in the order and range, for a move to an end, which
  //! stands on no record: may move the position. With a filter the visible
  //! count answers, instead of a walk through the index to the first visible
  //! entry.
  bool HasEdge(bool last);
  //! VEVURA_RECTOOBIG for a caller's buffer (when given) shorter than a record.
  void RequireCallerBuffer(std::span<const uint8_t> buffer) const;
  void ClearPosition();
  void SetBeginning();
  void SetEnd();
  void SetEmpty();
  //! Index order: the first or last entry within the range; false when none.
  bool EdgeEntry(bool last, TIndexPosition* pos);
  //! pos lies within the range.
  bool InRange(const TIndexPosition& pos) const { return KeyInRange(pos.Key.data()); }
  //! A key of the active index lies within the range (and the filters' span).
  bool KeyInRange(const uint8_t* key) const;
  //! Takes pos as the position and its record as current.
  void StandOn(const TIndexPosition& pos);
  //! Takes record number n as the position (record-number order).
  void StandOnRecord(int32_t n);
  //! One step; false at the end (position unchanged).
  bool Step(bool forward);
  //! Copies the current record from the table into current_ (zero when on
  //! none); VEVURA_FILECORRUPT for a buffer of another record,
  //! VEVURA_INDEXCORRUPT for a record other than the index entry's.
  void ReadCurrentRecord();
  //! The record is live and gives the key of the position's entry.
  bool EntryNamesRecord(std::span<const uint8_t> record);
  //! After EntryNamesRecord failed for record: restarts the operation when
  //! the position is stale, returns when it stands on a record the cursor
  //! deleted, else raises VEVURA_INDEXCORRUPT.
  void CheckMismatchedEntry(std::span<const uint8_t> record);
  //! The position code: kCursorOnRecord, VEVURA_BOF, VEVURA_EOF, VEVURA_NOCURRREC.
  int PositionCode() const;
  //! Copies the current record into buffer, or clears it for a code other
  //! than kCursorOnRecord; returns the code.
  int Deliver(TRecordImage buffer) const;
  //! Builds the bitmap of active records (record-number order).
  void BuildActiveRecords();
  //! The sequence numbers of the range's first and last entries (0: none).
  void ComputeRangeBounds();
  //! 1-based sequence number of the current entry in the active index.
  int64_t SequenceNumber();

  // ----- Searching (cursor_search.cpp) -----
  //! The search key of a raw key or a record into key; returns the number
  //! of bytes that must match (the key length for a full key).
  //! Gives the bytes of key from n on the lowest (high: the highest) content
  //! in the index's order.
  static void FillAfterPrefix(const TKeyContext& c, uint8_t* key, size_t n, bool high);
  size_t BuildSearchKey(std::span<const uint8_t> key_or_record, bool key_is_raw, int field_count,
                        int partial_length, bool high, uint8_t* key) const;
  //! Stands on the first entry not below key over n bytes, within the range;
  //! past the last one on the last one. False when the index (or range) is
  //! empty.
  bool SeekKey(const uint8_t* key, size_t n);
  //! Stands on the entry of the record image in the active index (built
  //! key), or its nearest neighbour; record-number order: on record n.
  void PositionOnRecord(std::span<const uint8_t> record, int32_t n);
  //! After a post of record n (image record): when the active index queues
  //! its keys and the record lies in the range and is visible, stands on it
  //! by its key without looking for its leaf; false otherwise.
  bool StandOnPostedKey(std::span<const uint8_t> record, int32_t n);
  //! The position is a key whose leaf entry was not looked for yet.
  bool PositionByKey() const { return !pos_.OnEntry() && !pos_.Key.empty(); }
  //! Finds the leaf entry of a position held by key; a failure leaves the
  //! cursor at the beginning, as a post whose placing failed does.
  void ResolvePosition();
  //! Stands on the bookmarked record, or on its nearest neighbour when it is
  //! gone; true when it stands on the bookmarked record itself.
  bool GotoBookmarkInside(const TBookmark& bookmark);
  //! Stands on the bookmarked record or its neighbour; with no bookmark, at
  //! the beginning (bof) or the end (eof) of the order.
  void Relocate(const TBookmark& bookmark, bool bof, bool eof);
  //! Drops the position's pages, rebuilds the record bitmap and goes back
  //! to the remembered bookmark.
  void Reposition();

  // ----- Editing (cursor_edit.cpp) -----
  //! GetCurrentRecord with lock_it: the start of an edit.
  int BeginEdit(TRecordImage buffer);
  void RequireWritable() const;
  void RequireBuffer(std::span<const uint8_t> buffer) const;
  //! Required, minimum and maximum of every field that has them.
  void ValidateRecord(std::span<const uint8_t> record) const;
  //! VEVURA_KEYVIOL when a unique index other than the record's own entry
  //! holds the key of the record (only indexes whose key changed count).
  void CheckUniqueKeys(std::span<const uint8_t> record, std::span<const uint8_t> old_record);
  //! The next row id nobody's slot carries.
  int32_t NextFreeRowId();
  //! The highest row id index 31 holds, live or free; 0 when it is empty.
  int32_t HighestRowIdInUse();
  //! Word index maintenance for one record (adding or removing its words).
  void AddWords(std::span<const uint8_t> record, int32_t record_number);
  void RemoveWords(std::span<const uint8_t> record, int32_t record_number);
  //! Undoes a failed change: discards the table's buffers and re-reads the
  //! headers.
  void DiscardFailedChange();
  //! Runs place, the positioning after a change that stands; a failure
  //! leaves the cursor at the beginning instead of raising.
  void PlaceAfterChange(const std::function<void()>& place);
  //! After a post: on the posted record n (image), or where the cursor stood.
  void PlaceAfterPost(bool on_record, std::span<const uint8_t> image, int32_t n);
  //! One change's write lock, record lock and undo.
  class TChangeScope;
  //! Before any change: VEVURA_TABLEFULL when a new slot n passes the
  //! limits, VEVURA_FILECORRUPT when a reused slot n is no sound free slot.
  void CheckSlotFor(int32_t n);
  //! Some record slot (live or free) carries the row id.
  bool RowIdInUse(int32_t row_id);
  //! Replaces the keys of the ordinary indexes that differ between two
  //! images (an empty image has none); true when one did.
  bool ReplaceKeys(std::span<const uint8_t> old_record, std::span<const uint8_t> record, int32_t n);
  //! Takes slot n from the free chain or appends it, with its index 31 key.
  TRecordRef TakeSlot(std::span<const uint8_t> record, int32_t n);
  //! The steps of an insert after its checks; true when a BLOB was written.
  bool StoreNewRecord(std::vector<uint8_t>& image, int32_t n);
  //! The steps of a delete after its checks; true when a BLOB was freed.
  bool RemoveRecord(const std::vector<uint8_t>& stored, int32_t n);
  //! A copy of the stored image of record n.
  std::vector<uint8_t> StoredImage(int32_t n);
  //! The record lock and the checks of a modify and of a delete.
  void LockForModify(TChangeScope& scope, bool optimistic, const std::vector<uint8_t>& began);
  void LockForDelete(TChangeScope& scope, std::span<const uint8_t> buffer);
  //! Finds the current entry again after a change moved keys between pages.
  void StandAgain();
  //! Forgets the image an lpOptimistic edit began with.
  void EndEdit();
  //! What a change did to the table's buffers, kept so that a failed change
  //! can be taken back in memory where the disk does not hold the table as
  //! it was before the change (an exclusive table, a transaction).
  struct TUndoLog {
    struct TKeyChange {
      uint8_t Index = 0;
      std::vector<uint8_t> Key;
      uint32_t Reference = 0;
      bool Inserted = false;
      bool Queued = false;  //!< the key went to the table's batch, not the tree
    };
    //! Index changes, in the order made: the first KeyCount entries (the
    //! others are kept for their buffers).
    std::vector<TKeyChange> Keys;
    size_t KeyCount = 0;
    TDataHeader Header;              //!< the data header before the change
    int32_t ActiveRecords = 0;       //!< the active record count before it
    int32_t Slot = 0;                //!< the record slot the change concerns
    std::vector<uint8_t> SlotImage;  //!< its image before; empty: a new slot
  };
  //! Starts the log of a change of record slot n (cursor_undo.cpp).
  void BeginUndoLog(int32_t n);
  void InsertKeyLogged(uint8_t index, const uint8_t* key, int32_t n);
  void LogKeyChange(uint8_t index, const uint8_t* key, uint16_t length, int32_t n, bool inserted,
                    bool queued);
  void DeleteKeyLogged(uint8_t index, const uint8_t* key, int32_t n);
  //! Takes the logged change back in the buffers; false when that failed.
  bool UndoInBuffers();
  //! Puts the logged slot image back (a new slot: dropped unwritten).
  void RestoreSlot();
  //! The word keys of a modified record's changed texts; true when one changed.
  bool UpdateWords(std::span<const uint8_t> old_record, std::span<const uint8_t> record,
                   int32_t record_number);
  //! A word-index field's text; a memo's from its open buffer or its stored BLOB.
  std::string TextOf(const TFieldDescriptor& field, std::span<const uint8_t> record);

  // ----- Filters (cursor_filters.cpp) -----
  //! A condition of one field that an index answers.
  struct TConditionPlan {
    const TExpToken* Node = nullptr;
    uint8_t Index = 0;  //!< the index whose first field the condition tests
    size_t Prefix = 0;  //!< bytes of that field's slot in the keys
    bool StringField = false;
    bool Complement = false;  //!< the filter's complement rule
  };
  //! The key ranges of a word search in the word index: one per search
  //! word, each with its first and last key.
  struct TWordRange {
    std::vector<uint8_t> Low;
    std::vector<uint8_t> High;
  };
  TFilter* InsertFilter(std::unique_ptr<TFilter> filter);
  //! The filter's place in filters_; VEVURA_NOSUCHFILTER when it is none.
  size_t FilterIndex(const TFilter* filter) const;
  void SetFilterActive(TFilter* filter, bool active);
  //! The context a filter's tree is evaluated in.
  TEvaluationContext EvaluationContext();
  //! 2, 1 or 0 for a node (bottom-up); an AND puts its answerable side first.
  //! Each node's level goes into the filter's levels.
  int NodeLevel(TFilter& filter, TExpToken& node);
  //! A condition the cost rule kept from its index, answered from it after
  //! all (next to a side the indexes answer): level 2.
  int RaiseLevel(TFilter& filter, const TExpToken& node);
  //! Under the cost rule: the number of keys an answerable condition
  //! collects, or -1 when its index keeps no key counts.
  int64_t EstimateCondition(const TConditionPlan& plan);
  //! The index plan of a condition on one field; false when no index answers it.
  bool PlanCondition(const TExpToken& node, TConditionPlan* plan) const;
  //! The word-index ranges of a TEXTSEARCH over a field of the word index;
  //! false when the index cannot answer it exactly as record-by-record
  //! evaluation would.
  bool PlanWordSearch(const TExpToken& node, std::vector<TWordRange>* ranges) const;
  //! The key of the plan's index for a record whose first field holds constant.
  bool ConstantKey(const TConditionPlan& plan, const TExpToken& constant,
                   std::vector<uint8_t>* key) const;
  //! The records of the keys whose first plan.Prefix bytes lie between low and high.
  void CollectRange(const TConditionPlan& plan, const uint8_t* low, const uint8_t* high,
                    TRecordsBitmap& out);
  //! The records whose key equals constant's in the plan's field slot.
  void CollectEqual(const TConditionPlan& plan, const TExpToken& constant, TRecordsBitmap& out);
  //! The records an answerable condition accepts, within b.
  void NarrowByCondition(const TConditionPlan& plan, TRecordsBitmap& b);
  //! Keys of the active index outside of which a filter accepts no record,
  //! compared over their first Prefix bytes (later fields may be descending).
  struct TSpan {
    std::vector<uint8_t> Low;
    std::vector<uint8_t> High;
    size_t Prefix = 0;
    //! The intersection (or the hull) with other.
    void Narrow(const TDataCursor& cursor, const TSpan& other, bool intersect);
  };
  //! The span of a condition on the active index's first field; false when
  //! it is none or accepts keys at both ends.
  bool ConditionSpan(const TConditionPlan& plan, TSpan* span) const;
  //! The same for a filter's node: AND narrows, OR widens.
  bool NodeSpan(const TExpToken& node, TSpan* span) const;
  int CompareSpan(const uint8_t* a, const uint8_t* b, size_t prefix) const;
  //! The span of the active filters together (span_), or none.
  void ComputeSpan();
  //! Keeps in b the records the node accepts (complement: the filter's
  //! complement rule).
  void NarrowByNode(const TFilter& filter, TExpToken& node, TRecordsBitmap& b);
  //! Reads the records of b one by one and keeps those the node (or the
  //! callback) accepts.
  void NarrowRecordByRecord(const TExpToken* node, const TFilterCallback* callback,
                            TRecordsBitmap& b);
  //! The visible records computed from scratch (inside a read bracket).
  void ComputeVisible();
  //! After a change of filters, range or index: the visible records and the
  //! position on a visible record.
  void FiltersChanged();
  //! The cursor stored record at n, or removed the record of n: the bitmaps
  //! follow without a full computation.
  void RecordStored(int32_t n, std::span<const uint8_t> record);
  void RecordRemoved(int32_t n);
  //! Record n is shown: no filter is active or its visible bit is set.
  bool Visible(int32_t n) const { return !filtering_ || visible_->Test(n); }
  //! The records record-number order walks: visible or active ones.
  const TRecordsBitmap& OrderBits() const { return filtering_ ? *visible_ : *active_; }
  //! Index order with a filter: from pos, the first visible entry in the
  //! range in direction; false when none.
  bool SkipHidden(bool forward, TIndexPosition* pos);
  //! Index order with a filter: visible entries from the range's start to
  //! the current one (its place), or the n-th visible entry.
  int64_t VisiblePlace();
  bool StandOnVisible(int64_t n);

  // ----- BLOBs (cursor_blob.cpp) -----
  //! The cursor's buffer that the field of record refers to, or nullptr.
  TBlobBuffer* BlobOf(const TFieldDescriptor& field, std::span<const uint8_t> record) const;
  //! Writes every changed BLOB buffer of the record into the BLOB file and
  //! its reference into record; a new record also gets chains of its own
  //! for BLOBs it was copied with. True when something was written.
  bool SaveBlobs(TRecordImage record, int32_t record_number, bool new_record);
  //! Frees the stored BLOBs of record; true when something was freed.
  bool DeleteBlobs(std::span<const uint8_t> record);
  void FreeAllBlobs();
  //! At the limit of open buffers: lets go of the oldest buffers a post
  //! saved that have not changed since.
  void ReclaimPostedBlobs();
  //! A buffer as it was before a post saved it, put back when the post fails.
  struct TBlobUndo {
    TBlobBuffer* Buffer;
    int32_t FirstBlock;
    int32_t BlobId;
    int32_t RecordNumber;
    bool Modified;
  };
  //! The BLOB field numbered field_number, or nullptr.
  const TFieldDescriptor* BlobField(uint16_t field_number) const;
  int32_t HandleOfBuffer(const TBlobBuffer* buffer) const;
  int32_t NewBlobHandle();
  //! The unchanged buffer a post saved into this field of this record.
  TBlobBuffer* SavedBlobOf(const TFieldDescriptor& field, std::span<const uint8_t> record) const;
  void EraseBlob(const TBlobBuffer* buffer);
  //! Frees the changed buffers of the record whose edit was cancelled.
  void FreeChangedBlobs(int32_t record_number);
  //! VEVURA_MEMOCORRUPT, before any change, for a reference to no buffer or
  //! changed buffers of another record.
  void CheckBlobBuffers(std::span<const uint8_t> record, bool new_record) const;
  bool SaveBuffer(TRecordImage record, const TFieldDescriptor& field, int32_t record_number,
                  bool new_record);
  bool CopyStoredBlob(TRecordImage record, const TFieldDescriptor& field,
                      const TBlobReference& reference);
  void UndoBlobSaves();
  //! After a modify's record names its new chains: frees the chains its
  //! changed BLOB values replaced.
  void FreeReplacedChains();
  //! The content of a stored BLOB (empty for none).
  std::vector<uint8_t> LoadStoredBlob(const TBlobReference& reference);

  TDataDirectory& directory_;          //!< owns the table object
  TTableTarget target_;                //!< name and flags
  TPasswordRequest password_request_;  //!< asks for a missing password
  bool record_number_order_requested_ = false;
  bool open_ = false;
  bool companion_ = false;  //!< a clone: shares an exclusive table object
  TDataTable* table_ = nullptr;
  uint16_t record_size_ = 0;
  bool has_defaults_ = false;  //!< some field has a default value
  bool has_checks_ = false;    //!< some field has required, minimum or maximum

  std::array<std::shared_ptr<TIndexKeys>, kIndexCount> keys_;
  //! The indexes 0 to 30 the table defines, in number order.
  std::vector<uint8_t> keyed_indexes_;
  //! Key buffers of ReplaceKeys, kept between posts.
  std::vector<uint8_t> old_key_buffer_, key_buffer_;  //!< per index, when defined
  std::unique_ptr<TTextIndexRules> text_rules_;       //!< the word index's rules
  TBTreePath path_;                                   //!< the position's descent
  TBTreePath edit_path_;                              //!< descents of changes

  uint8_t active_index_ = 0;          //!< 0 to 30, or kNoIndex
  bool record_number_order_ = false;  //!< see RecordNumberOrder
  std::string active_index_name_;     //!< "" for the primary index
  TIndexPosition pos_;                //!< the entry stood on (index order); see PositionByKey
  bool bof_ = false;
  bool eof_ = false;
  TRecordDirection direction_ = rdForward;  //!< of the last move, for read-ahead
  //! A step (Next, Prior) is under way: a miss of its record reads the
  //! records of the next entries or bits along with it.
  bool stepping_ = false;
  int32_t record_number_ = 0;               //!< the current record, 0 for none
  std::vector<uint8_t> current_;            //!< stored image of the current record
  std::unique_ptr<TRecordsBitmap> active_;  //!< active records (record-number order)
  bool range_active_ = false;
  std::vector<uint8_t> range_low_;   //!< kMaxKeyLength bytes
  std::vector<uint8_t> range_high_;  //!< kMaxKeyLength bytes
  int64_t range_first_ = 0;          //!< sequence number of the first entry
  int64_t range_last_ = 0;           //!< sequence number of the last entry

  std::vector<std::unique_ptr<TFilter>> filters_;  //!< expression filters, then callbacks
  bool filtering_ = false;                         //!< some filter is active
  bool computing_filters_ = false;                 //!< ComputeVisible is running
  std::unique_ptr<TRecordsBitmap> visible_;        //!< visible records while filtering
  int64_t visible_count_ = 0;                      //!< records set in visible_
  //! Index order with a filter: no visible record has a key of the active
  //! index outside it (so walks start and stop at its ends).
  std::unique_ptr<TSpan> span_;

  TBookmark remembered_;  //!< where a refresh comes back to
  bool remembered_bof_ = false;
  bool remembered_eof_ = false;
  bool restart_pending_ = false;      //!< a disk read found another user's change
  std::vector<uint8_t> entry_check_;  //!< kMaxKeyLength bytes: the current record's key
  int bracket_depth_ = 0;             //!< nesting of read brackets

  bool edit_changed_ = false;                        //!< lpOptimistic mark
  std::vector<std::unique_ptr<TBlobBuffer>> blobs_;  //!< open BLOB buffers
  std::vector<uint8_t> edit_began_;    //!< lpOptimistic: the stored record as the edit began
  int32_t edit_record_ = 0;            //!< the record of that edit, 0: none
  TUndoLog undo_;                      //!< the change in progress
  std::vector<int32_t> blob_handles_;  //!< handle of blobs_[i], named by negative references
  int32_t last_blob_handle_ = 0;       //!< the handle given last
  std::vector<TBlobUndo> blob_undo_;   //!< buffers the post in progress saved
  std::vector<TBlobReference> replaced_chains_;   //!< old chains of the modify in progress
  std::vector<const TBlobBuffer*> posted_blobs_;  //!< buffers posts saved, oldest first
};

template <typename Op>
auto TDataCursor::ReadBracket(Op op) -> decltype(op()) {
  return Bracketed(false, op);
}

template <typename Op>
auto TDataCursor::LockedReadBracket(Op op) -> decltype(op()) {
  return Bracketed(true, op);
}

template <typename Op>
auto TDataCursor::Bracketed(bool lock_first, Op op) -> decltype(op()) {
  RequireOpen();
  BeginBracket();
  TBracketEnd end{*this};
  if (lock_first) {
    CursorReadLock();
  } else {
    CheckCursorChanges();
  }
  CheckCompanionChanges();
  return RunRestartable(op);
}

template <typename Op>
auto TDataCursor::RunRestartable(Op op) -> decltype(op()) {
  RememberPosition();
  for (;;) {
    try {
      return op();
    } catch (const TRestart&) {
      // The read lock is held now, so the second run cannot meet a change.
      restart_pending_ = false;
      TakeSnapshot();
      Reposition();
    }
  }
}

}  // namespace vevura
