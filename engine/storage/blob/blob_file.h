#pragma once
// TBlobFile: the BLOB file of one open table, its header, its free list and
// its cache of block buffers.
//
// BLOB values are chains of blocks (blob_header.h): each block links to the
// previous and the next block of its chain and carries the BLOB's identifier;
// the first block also carries the BLOB's total length. Freed blocks are
// pushed on the free list (linked through their next-block field) and reused
// before the file grows; the file never shrinks.
//
// Block buffers are handed out pinned (GetBlock, AllocateBlock) and must be
// released (ReleaseBlock, or TBlockRef). Changes stay in the buffers and the
// in-memory header until FlushBlocks and WriteBlobHeader write them; when to
// do that, and when to drop or trim the cache, is the owning table's
// decision. Reads come in runs of neighbouring blocks (read-ahead), and dirty
// buffers are written in runs of consecutive block numbers, one write each.
//
// Chains are checked as they are walked: a link outside 1..LastBlock, a link
// back to the chain's first block, a block whose previous-block field does not
// name the block it was reached from, or a block pinned by someone else is
// chain damage (VEVURA_MEMOCORRUPT); so a damaged file can neither crash the
// walk nor make it run forever. FreeChain checks the whole chain before it
// frees any block, so a damaged chain is never half freed.
//
// Before Open or CreateFile the owning table sets the file's name and flags
// (file_handler.h), the block size, the encrypted flag and the table name.
//
// Errors name the table and its database: VEVURA_MEMOCORRUPT for chain and
// cache damage, VEVURA_TABLEFULL beyond the file's limits, VEVURA_OLDVERSION
// and VEVURA_HEADERCORRUPT for a bad header; read and write failures come
// from the file layer (VEVURA_READERR, VEVURA_WRITEERR).
//
// Thread-safety: none of its own; the cursors of one open table use it from
// one thread. Each transfer holds the file's access lock across its seek.

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "engine/storage/blob/blob_block.h"
#include "engine/storage/blob/blob_header.h"
#include "engine/storage/blob/block_cache.h"
#include "engine/storage/common/pinned.h"
#include "engine/storage/file/file_handler.h"

namespace vevura {

//! Default BLOB buffer budget of an engine session: bytes of blocks kept and
//! the most buffers kept.
inline constexpr int32_t kDefaultBlobBufferSize = 32768;
inline constexpr int32_t kDefaultBlobBufferCount = 8192;
//! Bytes one read-ahead brings in at most.
inline constexpr int32_t kBlobReadAheadBytes = 16384;

//! What the shared table tells the BLOB file about its state. Without one
//! the file assumes no transaction and tolerates a short read only on an
//! exclusive file it has written to.
class TBlobTableState {
 public:
  virtual ~TBlobTableState() = default;
  //! The table holds its transaction lock: a full cache then grows instead
  //! of writing dirty blocks.
  virtual bool TransactionLockHeld() const = 0;
  //! Blocks at the end may exist only in memory (exclusive or in a
  //! transaction, with something written since), so a short read is no error.
  virtual bool ShortReadAllowed() const = 0;
  //! Sets the table's written flag.
  virtual void NoteWritten() = 0;
};

//! What the BLOB file asks of the cursor that fetches a block.
class TBlobClient {
 public:
  virtual ~TBlobClient() = default;
  //! Called on a cache miss before the file is read: takes the cursor's read
  //! lock unless strict change detection has already checked. False when
  //! another user changed the table; the table has then dropped its caches
  //! and refreshed the cursor, and the fetch reports a restart.
  virtual bool BeforeBlockRead() = 0;
};

class TBlobFile : public TFileHandler {
 public:
  TBlobFile();
  ~TBlobFile() override;

  //! Opens the file, reads its header (VEVURA_OLDVERSION unless version 5)
  //! and sizes the cache. VEVURA_BLOBLIMIT for a block size outside 64 to
  //! 65535. The handle is released again when this fails.
  void Open() override;
  //! Drops every buffer (unwritten changes are lost) and closes the file.
  void Close() override;
  //! Creates the file empty and sizes the cache; the in-memory header is
  //! version 5, no free block, next block 1, header-changed 1 (nothing is
  //! written yet).
  void CreateFile() override;

  //! Settings, made before Open or CreateFile.
  void SetBlockSize(uint32_t block_size) { block_size_ = block_size; }
  uint32_t BlockSize() const { return block_size_; }
  //! Data bytes per block: block size - 18.
  int32_t DataSize() const { return static_cast<int32_t>(block_size_ - kBlockHeaderSize); }
  void SetEncrypted(bool encrypted) { encrypted_ = encrypted; }
  bool Encrypted() const { return encrypted_; }
  //! Names used in errors; the table name defaults to the file name.
  void SetTableName(const std::string& table) { table_name_ = table; }
  void SetDatabaseName(const std::string& database) { database_name_ = database; }
  const std::string& TableName() const;
  //! The shared table's state; nullptr for none.
  void SetTableState(TBlobTableState* state) { table_ = state; }
  //! The session's BLOB buffer budget: capacity = min(bytes / block size,
  //! count), taking effect at the next Open or CreateFile. The read-ahead
  //! count is 16384 / block size blocks, at most the capacity, at least 1.
  void SetBufferLimits(int32_t bytes, int32_t count);

  //! Header.
  const TBlobHeader& Header() const { return header_; }
  //! The header to change in place (a repair); written by WriteBlobHeader.
  TBlobHeader& MutableHeader() { return header_; }
  int32_t ChangeCounter() const { return header_.ChangeCounter; }
  bool HeaderChanged() const { return header_.HeaderChanged != 0; }
  //! Reads the 512-byte header (unscrambled when encrypted); header-changed := 0.
  //! VEVURA_OLDVERSION for a version other than 5, VEVURA_HEADERCORRUPT for a
  //! next block number below 1 or beyond the largest file; the in-memory
  //! header stays as it was then.
  void ReadBlobHeader();
  //! Re-reads the header; true, having taken it, when its change counter
  //! differs from the one in memory. Raises as ReadBlobHeader.
  bool ReloadBlobHeaderIfChanged();
  //! When forced or changed: change counter + 1 and write the header.
  //! Returns whether it was written.
  bool WriteBlobHeader(bool force);
  //! Change counter + 1 and header-changed := 1 without writing (deferred writes).
  void MarkBlobHeaderChanged();
  //! VEVURA_OLDVERSION unless version 5; VEVURA_HEADERCORRUPT when the next
  //! block number is below 1 or beyond the limits, or the first free block
  //! is not 0 or a block of the file.
  void VerifyBlobHeader() const;

  //! Block n pinned, or nullptr for a restart (see TBlobClient; cursor may be
  //! nullptr). With read_ahead, a miss reads min(read-ahead count, wanted,
  //! next block number - n) blocks at once; blocks of the run that the file
  //! does not hold yet (appended, not written) are simply not read, but n
  //! itself missing is VEVURA_READERR (VEVURA_MEMOCORRUPT where the table
  //! allows short reads). n equal to the next block number appends a zeroed,
  //! dirty block (VEVURA_TABLEFULL beyond the limits). VEVURA_MEMOCORRUPT for
  //! n below 1 or beyond the next block number.
  TBlock* GetBlock(TBlobClient* cursor, int32_t n, int32_t wanted, bool read_ahead);
  //! Unpins a block (nothing for nullptr).
  void ReleaseBlock(TBlock* block) { cache_.Release(block); }
  //! The first free block, or the next block number when the free list is empty.
  int32_t NextInsertBlock() const;
  //! A pinned, zeroed block taken from the free list (clean) or appended
  //! (dirty, so that the file comes to hold every block its header counts);
  //! nullptr for a restart. VEVURA_MEMOCORRUPT when the free block's link
  //! lies outside the file.
  TBlock* AllocateBlock(TBlobClient* cursor);
  //! Pushes the block on the free list (its other fields keep their values).
  void FreeBlock(TBlock* block);
  //! Frees the chain starting at first and sets first to 0. Every block must
  //! carry blob_id (VEVURA_MEMOCORRUPT), or with repair is given it. The
  //! whole chain is checked before anything is freed.
  void FreeChain(TBlobClient* cursor, int32_t& first, int32_t blob_id, bool repair);
  //! Fills chain with the blocks of the chain from first, checked; false
  //! for a restart.
  bool CollectChain(TBlobClient* cursor, int32_t first, int32_t blob_id, bool repair,
                    std::vector<int32_t>* chain);
  //! Writes the dirty, unpinned blocks outside the read in progress, each run
  //! of consecutive numbers in one write; true when something was written.
  bool FlushBlocks();
  //! Evicts buffers until at most the capacity remain (flushing when every
  //! one is dirty); room := max(buffers left, capacity).
  void TrimCache();
  //! Returns every buffer to the pool; unwritten changes are lost.
  void DropAllBlocks() { cache_.DropAll(); }
  //! Undo of one change in memory, where the buffers hold the table's
  //! changes (an exclusive table, a transaction). From BeginUndo on, the
  //! first fetch of each block keeps its image; UndoChanges puts the header
  //! and every kept block back (dirty, so that a block written meanwhile is
  //! written again) and drops the blocks appended since. EndUndo forgets.
  void BeginUndo();
  void EndUndo();
  void UndoChanges();

  //! The highest block number of the file (0 when it has none).
  int32_t LastBlock() const {
    return header_.NextBlockNumber < 1 ? -1 : header_.NextBlockNumber - 1;
  }

  //! Cache sizing and statistics.
  int32_t Capacity() const { return cache_.Capacity(); }
  int32_t ReadAheadCount() const { return read_ahead_count_; }
  const TBlockCache& Cache() const { return cache_; }
  //! Physical block reads and writes made since the file was opened or created.
  int64_t BlockReads() const { return block_reads_; }
  int64_t BlockWrites() const { return block_writes_; }

  //! Chain checks shared by every walk of a chain (see above); each raises
  //! VEVURA_MEMOCORRUPT. CheckChainStart: first must be a block of the file.
  void CheckChainStart(int32_t first) const;
  //! The next block of block in the chain that starts at first, or 0 at its
  //! end; it must be a block of the file other than first.
  int32_t NextChainBlock(const TBlock& block, int32_t first) const;
  //! next, just fetched from previous, must be pinned only by the walk and
  //! name previous as its previous block.
  void CheckChainStep(const TBlock& previous, const TBlock& next) const;

  //! Raises code naming the table and its database.
  [[noreturn]] void RaiseBlobError(uint16_t code) const;

 private:
  //! Clears the statistics and sizes the cache for the block size.
  void SizeCache();
  //! VEVURA_BLOBLIMIT unless the block size lies within 64 to 65535.
  void CheckBlockSize() const;
  //! Reads and unscrambles the 512 header bytes.
  TBlobHeader ReadHeaderImage();
  //! Sets the table's written flag.
  void NoteWritten();
  bool ShortReadAllowed() const;
  bool TransactionLockHeld() const;
  //! A buffer for block n that is not cached yet, neither in a list nor pinned.
  std::unique_ptr<TBlock> TakeBuffer(int32_t n);
  //! Appends block n (the next block number), pinned.
  TBlock* AppendBlock(int32_t n);
  //! Reads count blocks from n on into the cache, n's buffer last.
  void ReadRun(int32_t n, int32_t count);
  //! Takes whole block images read from disk into the cache.
  void LoadRun(int32_t n, int32_t count, const uint8_t* images);
  //! Writes the blocks, consecutive numbers, in one call.
  void WriteRun(const std::vector<TBlock*>& run);
  //! A buffer that may be reused, flushing first when none is clean and
  //! flushing is allowed; nullptr when there is none.
  TBlock* ReusableBuffer(bool may_flush);

  // Chain walking (blob_chain.cpp).
  //! Frees the blocks of a checked chain in order; false for a restart.
  bool FreeCollected(TBlobClient* cursor, const std::vector<int32_t>& chain, int32_t blob_id,
                     bool repair);

  uint32_t block_size_ = kDefaultBlobBlockSize;     //!< bytes per block
  bool encrypted_ = false;                          //!< blocks and header are scrambled
  std::string table_name_;                          //!< named in errors
  std::string database_name_;                       //!< named in errors
  TBlobTableState* table_ = nullptr;                //!< the shared table's state, if any
  bool written_ = false;                            //!< written to since open, without a table
  int32_t buffer_bytes_ = kDefaultBlobBufferSize;   //!< session budget in bytes
  int32_t buffer_count_ = kDefaultBlobBufferCount;  //!< session budget in buffers
  TBlobHeader header_;                              //!< the header as in memory
  TBlockCache cache_;                               //!< the block buffers
  int32_t read_ahead_count_ = 1;                    //!< blocks per read at most
  int32_t window_first_ = 0;                        //!< first block of the read in progress
  int32_t window_last_ = -1;                        //!< last block of the read in progress
  std::vector<uint8_t> read_buffer_;                //!< images of a run being read
  std::vector<uint8_t> write_buffer_;               //!< images of a run being written
  int64_t block_reads_ = 0;                         //!< physical reads of blocks
  int64_t block_writes_ = 0;                        //!< physical writes of blocks

  //! Keeps block's image for UndoChanges, once per block.
  void KeepForUndo(const TBlock& block);
  struct TKeptBlock {
    int32_t Number;
    std::vector<uint8_t> Image;  //!< unscrambled
  };
  bool undoing_ = false;            //!< BeginUndo ran, EndUndo not yet
  TBlobHeader undo_header_;         //!< the header at BeginUndo
  std::vector<TKeptBlock> kept_;    //!< first images of the blocks fetched since
  std::set<int32_t> kept_numbers_;  //!< their numbers
};

//! A pinned block, released when the reference goes.
using TBlockRef = TPinned<TBlock, TBlobFile, &TBlobFile::ReleaseBlock>;

}  // namespace vevura
