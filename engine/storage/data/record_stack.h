#pragma once
// TRecordStack: the pool of spare record buffers of one data file.
//
// Buffers that leave the record cache are pushed here instead of being freed
// and popped again when the cache needs a buffer, so that scanning a large
// table does not allocate and free a buffer per record. The pool keeps at
// most kRecordPoolSize buffers; one pushed beyond that is freed.
//
// Ownership: the pool owns the spare buffers it holds.

#include <cstddef>
#include <memory>
#include <vector>

#include "engine/storage/data/record.h"

namespace vevura {

//! The most spare buffers a pool keeps.
inline constexpr size_t kRecordPoolSize = 64;

class TRecordStack {
 public:
  TRecordStack() = default;
  TRecordStack(const TRecordStack&) = delete;
  TRecordStack& operator=(const TRecordStack&) = delete;

  //! The last spare buffer, resized to the owner's record size, zeroed
  //! (InitNew without auto-increment) and unpinned; a new buffer of owner
  //! when the pool is empty.
  std::unique_ptr<TRecord> Pop(TRecordOwner& owner);
  //! Keeps record as a spare unless the pool is full, in which case it is freed.
  void Push(std::unique_ptr<TRecord> record);
  //! Frees every spare buffer.
  void Clear() { spares_.clear(); }
  size_t Count() const { return spares_.size(); }

 private:
  std::vector<std::unique_ptr<TRecord>> spares_;  //!< the spare buffers, last pushed last
};

}  // namespace vevura
