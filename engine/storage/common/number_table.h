#pragma once
// TNumberTable: a hash table from 32-bit numbers (record, page or block
// numbers) to the buffers a cache holds for them, with open addressing.
//
// Linear probing over a power-of-two number of slots, at least two per
// entry, with Fibonacci hashing so that neighbouring numbers spread over the
// whole table. A lookup, an insert and a removal cost the same whatever the
// cache holds, and a lookup reads only the table until it meets its entry,
// so that the miss of a large cache touches no cold buffer. A removal moves
// the later entries of its probe run back instead of leaving a tombstone.
//
// The table never owns its buffers; the cache that owns them keeps each
// number in it at most once.
//
// Thread-safety: none; it belongs to its cache.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vevura {

template <typename T>
class TNumberTable {
 public:
  TNumberTable() { Reserve(0); }
  TNumberTable(const TNumberTable&) = delete;
  TNumberTable& operator=(const TNumberTable&) = delete;

  size_t Count() const { return count_; }

  //! Makes room for count entries without rehashing on the way.
  void Reserve(size_t count) {
    const size_t room = std::bit_ceil(std::max<size_t>(2 * count, kMinSlots));
    if (room <= slots_.size()) return;
    std::vector<TSlot> old = std::move(slots_);
    slots_.assign(room, TSlot{});
    shift_ = 32 - std::countr_zero(room);
    for (const TSlot& slot : old) {
      if (slot.Item != nullptr) Place(slot);
    }
  }

  //! The buffer of number, or nullptr.
  T* Find(int32_t number) const {
    const size_t mask = slots_.size() - 1;
    for (size_t at = HomeOf(number); slots_[at].Item != nullptr; at = (at + 1) & mask) {
      if (slots_[at].Number == number) return slots_[at].Item;
    }
    return nullptr;
  }

  //! Adds item under number. REQUIRES: number is not in the table.
  void Add(int32_t number, T* item) {
    Reserve(count_ + 1);
    Place(TSlot{number, item});
    ++count_;
  }

  //! Takes item, listed under number, out; false when it is not there.
  bool Remove(int32_t number, const T* item) {
    const size_t mask = slots_.size() - 1;
    size_t hole = HomeOf(number);
    while (slots_[hole].Item != item) {
      if (slots_[hole].Item == nullptr) return false;
      hole = (hole + 1) & mask;
    }
    // An entry after the hole moves into it when the hole lies on its probe
    // path (between its home and where it is), which leaves a hole there.
    for (size_t at = (hole + 1) & mask; slots_[at].Item != nullptr; at = (at + 1) & mask) {
      if (((at - HomeOf(slots_[at].Number)) & mask) >= ((at - hole) & mask)) {
        slots_[hole] = slots_[at];
        hole = at;
      }
    }
    slots_[hole] = TSlot{};
    --count_;
    return true;
  }

  //! Takes every entry out, keeping the slots.
  void Clear() {
    std::fill(slots_.begin(), slots_.end(), TSlot{});
    count_ = 0;
  }

 private:
  static constexpr size_t kMinSlots = 16;

  //! A number and its buffer; an empty slot has no buffer.
  struct TSlot {
    int32_t Number = 0;
    T* Item = nullptr;
  };

  size_t HomeOf(int32_t number) const {
    return (static_cast<uint32_t>(number) * 0x9E3779B1u) >> shift_;
  }

  void Place(const TSlot& slot) {
    // At most half the slots are taken, so the probe meets an empty one.
    const size_t mask = slots_.size() - 1;
    size_t at = HomeOf(slot.Number);
    while (slots_[at].Item != nullptr) at = (at + 1) & mask;
    slots_[at] = slot;
  }

  std::vector<TSlot> slots_;
  int shift_ = 32;  //!< 32 - log2 of the slot count
  size_t count_ = 0;
};

}  // namespace vevura
