#pragma once
// TKeyBatch: keys of one index waiting to go into its B-tree together.
//
// Keys that arrive in no order (a secondary index of records appended one
// after another) each land on a leaf of their own; inserted one by one, every
// key reads and later writes a leaf the page cache no longer holds. A batch
// keeps them until it is inserted, then inserts them in index order, so that
// the keys of one leaf go in while the leaf is in the cache and each leaf is
// touched once per batch.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "engine/storage/index/btree.h"
#include "engine/storage/index/key_comparer.h"

namespace vevura {

class TKeyBatch {
 public:
  //! An empty batch of keys key_length bytes long, ordered by comparer.
  TKeyBatch(std::shared_ptr<const TKeyComparer> comparer, uint16_t key_length)
      : comparer_(std::move(comparer)), key_length_(key_length) {}

  uint16_t KeyLength() const { return key_length_; }
  const TKeyComparer& Comparer() const { return *comparer_; }
  bool Empty() const { return bytes_.empty(); }
  //! Bytes the waiting keys take.
  size_t Bytes() const { return bytes_.size(); }

  void Add(const uint8_t* key, uint32_t reference);
  //! Removes the last key added when it is key for reference (a change that
  //! failed takes its key back); false when it is not the last one.
  bool TakeBackLast(const uint8_t* key, uint32_t reference);
  //! Inserts every key into tree in index order. The keys inserted leave
  //! the batch as they go in, so a failure keeps only those not yet in.
  void InsertInto(TBTree& tree);
  void Clear() { bytes_.clear(); }

 private:
  size_t EntrySize() const { return size_t{key_length_} + sizeof(uint32_t); }

  std::shared_ptr<const TKeyComparer> comparer_;
  uint16_t key_length_;
  //! Entries of key_length_ key bytes and a native reference.
  std::vector<uint8_t> bytes_;
};

}  // namespace vevura
