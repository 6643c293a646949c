#pragma once
// The process-wide pool of spare record bitmaps.
//
// Filters, cursors and table objects take their bitmaps from the pool and give
// them back when they are done, so that bitmaps (and their storage) are reused
// instead of reallocated. The pool keeps at most kMaxSpares bitmaps; one more
// given back is destroyed.
//
// Thread safety: every operation of TRecordsBitmapStack runs under the pool's
// own lock; it is shared by every session of the process. The process-wide
// instance is created when the engine starts and destroyed when it stops
// (CreateRecordsBitmapStack, DestroyRecordsBitmapStack); the engine calls these
// while no session uses the pool.

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/expr/records_bitmap.h"

namespace vevura {

class TRecordsBitmapStack {
 public:
  //! Most spare bitmaps the pool keeps.
  static constexpr size_t kMaxSpares = 64;

  //! Room for every spare is reserved up front, so giving back never allocates.
  TRecordsBitmapStack() { spares_.reserve(kMaxSpares); }
  TRecordsBitmapStack(const TRecordsBitmapStack&) = delete;
  TRecordsBitmapStack& operator=(const TRecordsBitmapStack&) = delete;

  //! The last spare bitmap, cleared (its size and storage kept), or a new empty
  //! bitmap when there is none.
  std::unique_ptr<TRecordsBitmap> Take();
  //! Keeps bitmap as a spare while fewer than kMaxSpares are kept; destroys it
  //! otherwise. A null bitmap is ignored.
  void GiveBack(std::unique_ptr<TRecordsBitmap> bitmap);
  //! Destroys every spare bitmap.
  void Clear();
  //! Number of spare bitmaps kept.
  size_t SpareCount() const;

 private:
  mutable std::mutex lock_;                              //!< guards spares_
  std::vector<std::unique_ptr<TRecordsBitmap>> spares_;  //!< at most kMaxSpares
};

//! Creates the process-wide pool (engine start); does nothing when it exists.
void CreateRecordsBitmapStack();
//! Destroys the process-wide pool and its spares (engine stop); does nothing
//! when there is none.
void DestroyRecordsBitmapStack();
//! The process-wide pool; raises VEVURA_NOTINITIALIZED when the engine has not
//! created it.
TRecordsBitmapStack& RecordsBitmapStack();
//! Gives bitmap back to the process-wide pool, or destroys it when the pool
//! no longer exists (an owner that outlives the engine). Never throws.
void ReturnRecordsBitmap(std::unique_ptr<TRecordsBitmap> bitmap) noexcept;

}  // namespace vevura
