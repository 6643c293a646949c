#pragma once
// TRecordCache: the record buffers one data file keeps, as a data structure.
//
// Every cached buffer sits in two lists at once: the buffer list, a hash
// table of record numbers and buffers (number_table.h), the buffers
// themselves owned by a vector in no order (the storage keeps the dirty
// record numbers it flushes in order itself), and the
// most-recently-used list, a doubly linked list through the buffers' own
// links with the most recently used buffer at its head. A lookup looks at
// the four most recently used buffers before it searches, since a cursor
// mostly comes back to the record it just used. Spare buffer objects wait in
// a pool (TRecordStack).
//
// The room is the number of buffers the cache holds before it reuses one;
// it starts at the configured capacity, grows by kRecordRoomGrowth when every
// buffer is dirty or pinned, and is set back when the cache is trimmed.
//
// The cache does no input or output: the record storage (record_storage.h)
// decides when to read, write, reuse and evict, and reports the errors.
//
// Buffers dropped while pinned (a cursor still holds them) leave both lists
// but stay alive until their last pin is released, so that no cursor is left
// holding a freed buffer.
//
// Thread-safety: none; the cursors of one open table use it from one thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "engine/storage/common/number_table.h"
#include "engine/storage/common/recency_list.h"
#include "engine/storage/data/record.h"
#include "engine/storage/data/record_stack.h"

namespace vevura {

//! Buffers added to the room when none can be reused.
inline constexpr int32_t kRecordRoomGrowth = 64;
//! Buffers at the head of the most-recently-used list checked before searching.
inline constexpr int kRecentRecordChecks = 4;

class TRecordCache {
 public:
  //! An empty cache with no room; new buffers are made for owner.
  explicit TRecordCache(TRecordOwner& owner);
  TRecordCache(const TRecordCache&) = delete;
  TRecordCache& operator=(const TRecordCache&) = delete;

  //! Sets the configured capacity and makes it the room.
  void SetCapacity(int32_t capacity);
  //! The capacity set at open: the target of trimming.
  int32_t Capacity() const { return capacity_; }
  //! Buffers held before one is reused.
  int32_t Room() const { return room_; }
  void SetRoom(int32_t room) { room_ = room; }
  //! Room + kRecordRoomGrowth.
  void GrowRoom() { room_ += kRecordRoomGrowth; }
  //! Buffers in the lists.
  int32_t Count() const { return static_cast<int32_t>(owned_.size()); }
  //! True while Count() < Room().
  bool HasRoom() const { return Count() < room_; }

  //! The buffer of record number, moved to the head of the most-recently-used
  //! list; nullptr when it is not cached.
  TRecord* Find(int32_t number);
  //! The buffer of record number without touching the most-recently-used
  //! list; nullptr when it is not cached.
  const TRecord* Peek(int32_t number) const;
  TRecord* Peek(int32_t number);
  //! The least recently used buffer that is neither dirty nor pinned, or nullptr.
  TRecord* Reusable() const;
  //! A spare buffer from the pool given number, zeroed, inserted in the
  //! buffer list and made most recently used. REQUIRES: number not cached.
  TRecord* AddSpare(int32_t number);
  //! Takes buffer out of the buffer list, zeroes it (InitNew without
  //! auto-increment) with number, and puts it back under its new number as
  //! the most recently used. nullptr when buffer was not in the buffer list.
  //! REQUIRES: buffer is cached, not pinned; number not cached.
  TRecord* Reuse(TRecord& buffer, int32_t number);
  //! Takes in a buffer made elsewhere, holding its own block, as the most
  //! recently used. REQUIRES: its number not cached.
  TRecord* Adopt(std::unique_ptr<TRecord> buffer) { return Insert(std::move(buffer)); }
  //! Takes in a buffer made elsewhere as if it had been dropped: kept apart
  //! until its last pin goes (into the pool at once when unpinned), its
  //! changes lost.
  void AdoptDropped(std::unique_ptr<TRecord> buffer);
  //! Takes buffer out of both lists into the pool; false when it was not in
  //! the buffer list.
  bool Evict(TRecord& buffer);
  //! Makes buffer, cached, the least recently used: the first one reused.
  void Retire(TRecord& buffer) { recent_.MoveToBack(&buffer); }
  //! Empties both lists: unpinned buffers go to the pool, pinned ones are
  //! kept apart until released. Changes in dirty buffers are lost.
  void DropAll();
  //! Unpins record (nothing for nullptr); a dropped buffer whose last pin
  //! goes returns to the pool.
  void Release(TRecord* record);

  //! The cached buffers, in no order (each a unique_ptr).
  std::span<const std::unique_ptr<TRecord>> Buffers() const { return owned_; }
  //! Head and tail of the most-recently-used list (nullptr when empty).
  TRecord* MostRecent() const { return recent_.Newest(); }
  TRecord* LeastRecent() const { return recent_.Oldest(); }
  //! Buffers dropped while pinned and not yet released.
  size_t DroppedPinned() const { return dropped_.size(); }
  //! Spare buffers in the pool.
  size_t Spares() const { return pool_.Count(); }

 private:
  //! The buffer of number in the buffer list, or nullptr.
  TRecord* Lookup(int32_t number) const;
  //! Takes buffer out of both lists and hands it over; nullptr when it is
  //! not in the buffer list.
  std::unique_ptr<TRecord> Take(TRecord& buffer);
  //! Adds to the buffer list and links at the head.
  TRecord* Insert(std::unique_ptr<TRecord> buffer);

  TRecordOwner& owner_;                            //!< the data file new buffers belong to
  int32_t capacity_ = 0;                           //!< the capacity set at open
  int32_t room_ = 0;                               //!< buffers held before reuse
  std::vector<std::unique_ptr<TRecord>> owned_;    //!< the cached buffers, in no order
  TNumberTable<TRecord> numbers_;                  //!< the buffer list
  TRecencyList<TRecord> recent_;                   //!< the most-recently-used list
  TRecordStack pool_;                              //!< spare buffers
  std::vector<std::unique_ptr<TRecord>> dropped_;  //!< dropped while pinned
};

}  // namespace vevura
