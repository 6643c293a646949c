#pragma once
// TBlock: the cached copy of one block of a BLOB file.
//
// A block buffer holds the decoded fields of the block header and the data
// part (block size - 18 bytes), always plain: LoadFrom unscrambles the image
// just read, StoreTo scrambles the image about to be written. Setting a
// decoded field to a different value, or writing data, marks the buffer
// dirty; StoreTo and LoadFrom leave it clean.
//
// Ownership: the block cache (block_cache.h) owns every buffer and keeps it
// in its lists; a buffer is pinned while someone uses it and is then never
// reused, refreshed from disk or written. The owning BLOB file names the
// table in errors.

#include <cstdint>
#include <vector>

#include "engine/storage/blob/blob_header.h"
#include "engine/storage/common/recency_list.h"

namespace vevura {

class TBlobFile;

class TBlock : public TRecencyLink<TBlock> {
 public:
  //! An unnumbered, clean, zeroed buffer for blocks of block_size bytes.
  //! REQUIRES: block_size > kBlockHeaderSize.
  TBlock(const TBlobFile* owner, uint32_t block_size);
  TBlock(const TBlock&) = delete;
  TBlock& operator=(const TBlock&) = delete;

  int32_t Number() const { return number_; }
  bool Dirty() const { return dirty_; }
  void MarkDirty() { dirty_ = true; }
  uint16_t PinCount() const { return pin_count_; }
  //! Data bytes a block holds: block size - 18.
  int32_t DataSize() const { return static_cast<int32_t>(data_.size()); }

  uint16_t BytesUsed() const { return header_.BytesUsed; }
  int32_t BlobId() const { return header_.BlobId; }
  int32_t TotalLength() const { return header_.TotalLength; }
  int32_t PreviousBlock() const { return header_.PreviousBlock; }
  int32_t NextBlock() const { return header_.NextBlock; }
  void SetBytesUsed(uint16_t value) { Change(header_.BytesUsed, value); }
  void SetBlobId(int32_t value) { Change(header_.BlobId, value); }
  void SetTotalLength(int32_t value) { Change(header_.TotalLength, value); }
  void SetPreviousBlock(int32_t value) { Change(header_.PreviousBlock, value); }
  void SetNextBlock(int32_t value) { Change(header_.NextBlock, value); }

  //! Copies min(count, bytes used - offset) data bytes from offset to
  //! destination and returns how many. VEVURA_INVALIDBLOBLEN when offset and
  //! count do not lie within the data part.
  int32_t ReadData(int32_t offset, int32_t count, uint8_t* destination) const;
  //! Copies count bytes from source to offset; bytes used := offset + count.
  //! VEVURA_INVALIDBLOBLEN when they do not lie within the data part.
  void WriteData(int32_t offset, int32_t count, const uint8_t* source);

  //! Takes the block image just read (block size bytes), unscrambling a copy
  //! when encrypted. Leaves the buffer clean.
  void LoadFrom(const uint8_t* image, bool encrypted);
  //! Writes the block image (block size bytes) at out, scrambled when
  //! encrypted. The buffer stays dirty until the image is on disk.
  void StoreTo(uint8_t* out, bool encrypted) const;
  void MarkClean() { dirty_ = false; }
  //! Gives the buffer block n with every field and data byte zero, clean.
  void Reset(int32_t n);
  //! Zeroes every field and data byte and leaves the buffer clean.
  void Clear();

  //! Pinning: REQUIRES for Unpin that the buffer is pinned. Pin raises
  //! VEVURA_MEMOCORRUPT when the 16-bit count is exhausted.
  void Pin();
  void Unpin() { --pin_count_; }

 private:
  friend class TBlockCache;

  template <typename T>
  void Change(T& field, T value) {
    if (field == value) return;
    field = value;
    dirty_ = true;
  }
  //! VEVURA_INVALIDBLOBLEN unless [offset, offset + count) lies within the data part.
  void CheckRange(int32_t offset, int32_t count) const;

  const TBlobFile* owner_;     //!< the file whose table errors name
  bool dirty_ = false;         //!< changed since read or written
  uint16_t pin_count_ = 0;     //!< users holding the buffer
  int32_t number_ = 0;         //!< block number, 0 while unnumbered
  TBlockHeader header_;        //!< decoded block header
  std::vector<uint8_t> data_;  //!< the data part, plain
};

}  // namespace vevura
