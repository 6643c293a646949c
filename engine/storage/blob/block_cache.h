#pragma once
// TBlockCache: the block buffers of one open BLOB file.
//
// The cache keeps its buffers twice: in a list sorted by block number (found
// by binary search) and in a most-recently-used list whose four most recent
// buffers are checked before the search. Buffers that leave the cache go to a
// pool of spares (TBlockStack) instead of being freed. The room is the number
// of buffers the cache holds before it reuses one; it starts at the capacity
// and grows in steps of 32 when every buffer is dirty or pinned.
//
// This class only keeps the lists. When to read, write, reuse or flush is the
// BLOB file's business (blob_file.h).
//
// A buffer dropped while it is pinned (the cache was emptied because another
// user changed the table) leaves both lists but stays alive until its last
// release, so its holder never sees freed memory; it is never found again.
//
// Thread-safety: none; the cursors of one open table use it from one thread.

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/storage/blob/blob_block.h"
#include "engine/storage/common/recency_list.h"

namespace vevura {

//! Spare buffers kept at most.
inline constexpr size_t kBlockStackSize = 32;
//! How much the room grows when no buffer can be reused.
inline constexpr int32_t kBlockRoomStep = 32;
//! Most recently used buffers checked before the search.
inline constexpr int kRecentBlockChecks = 4;

//! A pool of spare block buffers.
class TBlockStack {
 public:
  //! A spare buffer, or nullptr when the pool is empty.
  std::unique_ptr<TBlock> Pop();
  //! Keeps the buffer as a spare; frees it when the pool is full.
  void Push(std::unique_ptr<TBlock> block);
  size_t Count() const { return blocks_.size(); }
  void Clear() { blocks_.clear(); }

 private:
  std::vector<std::unique_ptr<TBlock>> blocks_;  //!< the spares, last pushed on top
};

class TBlockCache {
 public:
  TBlockCache() = default;
  ~TBlockCache();
  TBlockCache(const TBlockCache&) = delete;
  TBlockCache& operator=(const TBlockCache&) = delete;

  //! Empties the cache and the pool and sizes it for buffers of owner's
  //! blocks of block_size bytes: room := capacity.
  void Reset(const TBlobFile* owner, uint32_t block_size, int32_t capacity);

  //! Buffers cached.
  int32_t Count() const { return static_cast<int32_t>(blocks_.size()); }
  int32_t Room() const { return room_; }
  int32_t Capacity() const { return capacity_; }
  bool HasRoom() const { return Count() < room_; }
  void GrowRoom() { room_ += kBlockRoomStep; }
  void SetRoom(int32_t room) { room_ = room; }

  //! The buffer of block n, or nullptr. A hit becomes most recently used.
  TBlock* Find(int32_t n);
  //! The least recently used buffer that is neither dirty nor pinned, or nullptr.
  TBlock* FindReusable() const;
  //! A spare buffer from the pool, or a new one; unnumbered, zeroed, clean.
  std::unique_ptr<TBlock> Spare();
  //! Adds the buffer at its block number's place, most recently used.
  //! REQUIRES: no buffer of that number is cached.
  void Insert(std::unique_ptr<TBlock> block);
  //! Takes the buffer out of both lists and hands it back; nullptr when the
  //! sorted list does not hold it (a damaged cache).
  std::unique_ptr<TBlock> Remove(TBlock* block);
  //! Returns a buffer that left the lists to the pool.
  void Recycle(std::unique_ptr<TBlock> block);
  //! Unpins the buffer; a dropped buffer goes to the pool at its last release.
  void Release(TBlock* block);
  //! Empties both lists, returning every buffer to the pool; changes in
  //! dirty buffers are lost. Pinned buffers wait for their release.
  void DropAll();

  //! The dirty, unpinned buffers whose numbers lie outside [skip_first,
  //! skip_last], in block-number order.
  std::vector<TBlock*> DirtyBlocks(int32_t skip_first, int32_t skip_last) const;
  //! Every cached buffer, in block-number order.
  std::vector<const TBlock*> Blocks() const;
  //! Buffers most recently used first (for tests of the order).
  std::vector<const TBlock*> RecentBlocks() const;

 private:
  //! Position of the first buffer numbered n or more in blocks_.
  size_t LowerBound(int32_t n) const;

  const TBlobFile* owner_ = nullptr;              //!< the file new buffers belong to
  uint32_t block_size_ = 0;                       //!< bytes of a block
  int32_t capacity_ = 0;                          //!< room at open and after trimming
  int32_t room_ = 0;                              //!< buffers held before one is reused
  std::vector<std::unique_ptr<TBlock>> blocks_;   //!< cached buffers by block number
  TRecencyList<TBlock> recent_;                   //!< cached buffers by recency
  TBlockStack pool_;                              //!< spare buffers
  std::vector<std::unique_ptr<TBlock>> dropped_;  //!< dropped buffers still pinned
};

}  // namespace vevura
