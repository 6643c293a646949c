#pragma once
// TRecord: one in-memory copy of one record of a data file, the buffer that
// the record cache (record_cache.h) keeps and hands to cursors.
//
// The data block holds the record image (record_layout.h) in plain bytes,
// whatever the table's encryption: LoadFrom unscrambles the disk bytes it is
// given and StoreTo scrambles the copy it writes. A buffer's own block has a
// capacity that is a multiple of 64 bytes and never less than the record
// size; bytes beyond the record size are zero. A buffer may instead borrow a
// block of exactly the record size from elsewhere (the record storage's
// stage of new records) until it takes its own copy.
//
// The dirty flag says the image changed since it was read or written; the
// pin count says how many users hold the buffer. A pinned buffer is never
// refreshed from disk, reused for another record or written back; a dirty
// one is never reused before it is written.
//
// Ownership: the record cache owns every buffer but those of staged new
// records, which the record storage owns; cursors borrow pinned ones.
// The owner (TRecordOwner) outlives its buffers.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/storage/common/recency_list.h"

namespace vevura {

//! What a record buffer asks of the data file it belongs to.
class TRecordOwner {
 public:
  virtual ~TRecordOwner() = default;
  //! The table's record size in bytes (at least the 9-byte record header).
  virtual uint32_t RecordSize() const = 0;
  //! True when the table's records are scrambled on disk.
  virtual bool Encrypted() const = 0;
  //! Hands out the next auto-increment value of the table.
  virtual int32_t NextAutoIncValue() = 0;
  //! A buffer of record number went from clean to dirty (or changed number
  //! while dirty), so that writing back need not look at every buffer.
  virtual void RecordDirtied(int32_t number) = 0;
};

//! Granule of a record buffer's data block.
inline constexpr uint32_t kRecordBlockGranule = 64;

//! Turns size bytes of record number read from disk, in place, into the
//! image a buffer of that record holds: unscrambled when encrypted, and a
//! live record with number in bytes 1 to 4.
void PrepareDiskImage(uint8_t* disk, uint32_t size, int32_t number, bool encrypted);

class TRecord : public TRecencyLink<TRecord> {
 public:
  //! An empty buffer sized for the owner's record size: not dirty, not
  //! pinned, record number 0, all bytes zero.
  explicit TRecord(TRecordOwner& owner);
  TRecord(const TRecord&) = delete;
  TRecord& operator=(const TRecord&) = delete;

  //! When size differs, regrows the data block (zero-filled) and keeps size;
  //! a buffer that borrows its block gets its own.
  void SetRecordSize(uint32_t size);
  //! Holds the image in block, RecordSize() bytes that outlive the loan,
  //! instead of its own block, which it frees. The bytes are not changed.
  void Borrow(uint8_t* block);
  //! A buffer that borrows its block copies the image into a block of its
  //! own and holds it there from now on.
  void KeepOwnCopy();
  //! True while the image lives in a borrowed block.
  bool Borrowed() const { return data_ != own_.data(); }
  //! Zero-fills the data block; with assign_auto_inc bytes 5 to 8 receive
  //! the owner's next auto-increment value. Bytes 1 to 4 receive the record
  //! number. Not dirty afterwards.
  void InitNew(bool assign_auto_inc);
  //! Takes a record image of RecordSize() bytes from disk: unscrambles disk
  //! in place when the table is encrypted and copies it; a live record then
  //! gets the buffer's record number in bytes 1 to 4. Not dirty afterwards.
  void LoadFrom(uint8_t* disk);
  //! Copies the image to disk (RecordSize() bytes) and scrambles the copy
  //! when the table is encrypted. Not dirty afterwards.
  void StoreTo(uint8_t* disk);

  //! The status byte: 0 live, non-zero free.
  uint8_t IsFree() const { return data_[0]; }
  //! Stores the status byte; dirty.
  void SetStatus(uint8_t status);
  //! Bytes 1 to 4 when the record is free, else 0.
  int32_t NextFree() const;
  //! Stores bytes 1 to 4; dirty.
  void SetNextFree(int32_t number);
  //! Bytes 5 to 8, the row id.
  int32_t AutoIncValue() const;
  //! Stores bytes 5 to 8; dirty.
  void SetAutoIncValue(int32_t value);
  //! When number differs, keeps it and, for a live record, stores it in
  //! bytes 1 to 4.
  void SetRecordNumber(int32_t number);
  //! Copies bytes 9 to the end from another image of RecordSize() bytes; dirty.
  void SetFieldsFrom(const uint8_t* other);
  //! Copies owner, dirty flag, record number and the smaller of both sizes
  //! of data bytes from other.
  void Assign(const TRecord& other);
  //! True when the first RecordSize() bytes equal image byte for byte.
  bool SameAs(const uint8_t* image) const;

  void Pin() { ++pin_count_; }
  //! Lowers the pin count, never below 0.
  void Unpin() {
    if (pin_count_ > 0) --pin_count_;
  }
  void ClearPins() { pin_count_ = 0; }
  uint16_t PinCount() const { return pin_count_; }
  bool Pinned() const { return pin_count_ > 0; }

  int32_t RecordNumber() const { return record_number_; }
  bool Dirty() const { return dirty_; }
  //! Read ahead for a cursor stepping through its order, and not yet reached.
  bool ReadAhead() const { return read_ahead_; }
  void SetReadAhead(bool read_ahead) { read_ahead_ = read_ahead; }
  //! Marks the image changed (or, with false, written).
  void SetDirty(bool dirty) {
    if (dirty) {
      MarkDirty();
    } else {
      dirty_ = false;
    }
  }
  uint32_t RecordSize() const { return record_size_; }
  //! The size of the data block.
  uint32_t Capacity() const { return capacity_; }
  TRecordOwner& Owner() const { return *owner_; }

  //! The record image, RecordSize() bytes.
  std::span<const uint8_t> Data() const { return {data_, record_size_}; }
  //! The record image for changing; marks the buffer dirty.
  std::span<uint8_t> MutableData();

 private:
  //! Sets the dirty flag, telling the owner when it was clear.
  void MarkDirty() {
    if (dirty_) return;
    dirty_ = true;
    owner_->RecordDirtied(record_number_);
  }

  friend class TRecordCache;
  //! cache_slot_ of a buffer the cache does not hold.
  static constexpr size_t kNoCacheSlot = SIZE_MAX;

  TRecordOwner* owner_;               //!< the data file the record belongs to
  size_t cache_slot_ = kNoCacheSlot;  //!< its place among the cache's buffers
  bool dirty_ = false;                //!< changed and not yet written
  bool read_ahead_ = false;           //!< see ReadAhead
  uint16_t pin_count_ = 0;            //!< users holding the buffer
  int32_t record_number_ = 0;         //!< which record the buffer holds, from 1
  uint32_t record_size_ = 0;          //!< the table's record size
  uint32_t capacity_ = 0;             //!< bytes of the block at data_
  uint8_t* data_ = nullptr;           //!< the image, plain: own_ or a borrowed block
  std::vector<uint8_t> own_;          //!< its own block, capacity a multiple of 64
};

}  // namespace vevura
