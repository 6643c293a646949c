#include "engine/expr/records_bitmap_stack.h"

#include "engine/base/engine_error.h"

namespace vevura {

std::unique_ptr<TRecordsBitmap> TRecordsBitmapStack::Take() {
  std::unique_ptr<TRecordsBitmap> bitmap;
  {
    std::lock_guard lock(lock_);
    if (!spares_.empty()) {
      bitmap = std::move(spares_.back());
      spares_.pop_back();
    }
  }
  // The bitmap is the caller's now: clear or create it outside the lock.
  if (bitmap == nullptr) return std::make_unique<TRecordsBitmap>();
  bitmap->ClearAll();
  return bitmap;
}

void TRecordsBitmapStack::GiveBack(std::unique_ptr<TRecordsBitmap> bitmap) {
  if (bitmap == nullptr) return;
  std::lock_guard lock(lock_);
  if (spares_.size() < kMaxSpares) spares_.push_back(std::move(bitmap));
  // Otherwise bitmap is destroyed as it leaves scope.
}

void TRecordsBitmapStack::Clear() {
  std::lock_guard lock(lock_);
  spares_.clear();  // keeps the reserved room
}

size_t TRecordsBitmapStack::SpareCount() const {
  std::lock_guard lock(lock_);
  return spares_.size();
}

namespace {

// The process-wide pool and the lock that guards its creation and destruction.
struct TProcessBitmapStack {
  std::mutex lock;
  std::unique_ptr<TRecordsBitmapStack> stack;
};

TProcessBitmapStack& ProcessBitmapStack() {
  static auto* instance = new TProcessBitmapStack();
  return *instance;
}

}  // namespace

void CreateRecordsBitmapStack() {
  TProcessBitmapStack& process = ProcessBitmapStack();
  std::lock_guard lock(process.lock);
  if (process.stack == nullptr) process.stack = std::make_unique<TRecordsBitmapStack>();
}

void DestroyRecordsBitmapStack() {
  std::unique_ptr<TRecordsBitmapStack> stack;
  {
    TProcessBitmapStack& process = ProcessBitmapStack();
    std::lock_guard lock(process.lock);
    stack = std::move(process.stack);
  }
}

TRecordsBitmapStack& RecordsBitmapStack() {
  TProcessBitmapStack& process = ProcessBitmapStack();
  std::lock_guard lock(process.lock);
  if (process.stack == nullptr) RaiseEngineError(VEVURA_NOTINITIALIZED, "", "", "", "", "", "", "");
  return *process.stack;
}

void ReturnRecordsBitmap(std::unique_ptr<TRecordsBitmap> bitmap) noexcept {
  TProcessBitmapStack& process = ProcessBitmapStack();
  std::lock_guard lock(process.lock);
  if (process.stack != nullptr) process.stack->GiveBack(std::move(bitmap));
}

}  // namespace vevura
