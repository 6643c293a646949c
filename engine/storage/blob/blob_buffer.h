#pragma once
// TBlobBuffer: one BLOB opened by a cursor, held whole in memory.
//
// LoadBlob reads the BLOB's chain from the BLOB file into the buffer,
// SaveBlob writes the buffer back over the old chain (reusing its blocks,
// allocating more or freeing the rest), DeleteBlob frees the chain. The
// cursor decides when: it opens buffers for a record's BLOB fields, gives a
// changed buffer a new BLOB identifier before SaveBlob, and writes the first
// block number and identifier into the record (SetBlobField, field_codec.h).
//
// A record refers to its BLOB by first block number and identifier; a first
// block carrying another identifier means the BLOB was rewritten or deleted
// by someone else since the record was read (VEVURA_KEYORRECDELETED).
//
// A SaveBlob or DeleteBlob that fails part way (chain damage, a full file)
// leaves changes in the file's buffers that are not yet written; the caller
// discards the buffers and re-reads the header, as for any failed change.
//
// Ownership: the cursor owns its buffers; the BLOB file outlives them.

#include <cstdint>
#include <vector>

#include "engine/storage/blob/blob_file.h"

namespace vevura {

//! What the cursor opened a BLOB for.
enum TBlobOpenMode : uint8_t { boRead, boWrite, boReadWrite };

class TBlobBuffer {
 public:
  //! An empty buffer on file for cursor (which may be nullptr).
  TBlobBuffer(TBlobFile& file, TBlobClient* cursor);
  TBlobBuffer(const TBlobBuffer&) = delete;
  TBlobBuffer& operator=(const TBlobBuffer&) = delete;

  TBlobClient* Cursor() const { return cursor_; }
  int32_t BlobId() const { return blob_id_; }
  void SetBlobId(int32_t id) { blob_id_ = id; }
  int32_t FirstBlock() const { return first_block_; }
  void SetFirstBlock(int32_t n) { first_block_ = n; }
  int32_t RecordNumber() const { return record_number_; }
  void SetRecordNumber(int32_t n) { record_number_ = n; }
  int32_t FieldNumber() const { return field_number_; }
  void SetFieldNumber(int32_t n) { field_number_ = n; }
  TBlobOpenMode OpenMode() const { return open_mode_; }
  void SetOpenMode(TBlobOpenMode mode) { open_mode_ = mode; }
  int32_t OpenCount() const { return open_count_; }
  void SetOpenCount(int32_t count) { open_count_ = count; }
  bool Modified() const { return modified_; }
  void SetModified(bool modified) { modified_ = modified; }

  //! The data.
  int32_t Length() const { return static_cast<int32_t>(data_.size()); }
  const uint8_t* Data() const { return data_.data(); }
  uint8_t* MutableData() { return data_.data(); }
  //! Resizes the data (new bytes zero); a different length marks the buffer
  //! modified. VEVURA_INVALIDBLOBLEN for a negative length.
  void SetLength(int32_t length);
  //! The data as it was when KeepSnapshot was last called.
  const std::vector<uint8_t>& Snapshot() const { return snapshot_; }
  void KeepSnapshot() { snapshot_ = data_; }

  //! Fills the buffer from the chain at the first block (nothing to do for
  //! none); not modified afterwards. VEVURA_KEYORRECDELETED when a block
  //! carries another identifier, VEVURA_ENDOFBLOB when the chain holds fewer
  //! bytes than the BLOB's length, VEVURA_MEMOCORRUPT for chain damage.
  void LoadBlob();
  //! Writes the buffer as the chain of the first block (a new chain when
  //! there is none), with the buffer's identifier in every block and its
  //! length in the first; frees what the old chain had beyond the blocks
  //! now needed. An empty buffer frees the whole chain instead. Not modified
  //! afterwards. VEVURA_MEMOCORRUPT for chain damage, VEVURA_TABLEFULL when
  //! the file cannot grow.
  void SaveBlob();
  //! Frees the chain (repairing foreign identifiers); the first block becomes 0.
  void DeleteBlob();

 private:
  //! One attempt at LoadBlob; false for a restart.
  bool TryLoad();
  //! Block n pinned, with read-ahead for wanted blocks.
  TBlockRef Fetch(int32_t n, int32_t wanted, bool read_ahead);
  //! A newly allocated block, pinned.
  TBlockRef Allocate();
  //! VEVURA_KEYORRECDELETED unless the block carries this buffer's identifier.
  void CheckIdentifier(const TBlock& block) const;

  TBlobFile& file_;                   //!< the table's BLOB file
  TBlobClient* cursor_;               //!< the owning cursor, or nullptr
  bool modified_ = false;             //!< the length changed since loaded or saved
  int32_t blob_id_ = 0;               //!< identifier of the BLOB
  int32_t record_number_ = 0;         //!< record the BLOB belongs to
  int32_t field_number_ = 0;          //!< field of that record
  int32_t first_block_ = 0;           //!< first block of its chain, 0 for none
  std::vector<uint8_t> data_;         //!< the BLOB's bytes
  std::vector<uint8_t> snapshot_;     //!< the bytes as they were when opened
  TBlobOpenMode open_mode_ = boRead;  //!< what the cursor opened it for
  int32_t open_count_ = 0;            //!< opens not yet closed
};

}  // namespace vevura
