#include "engine/storage/data/record_cache.h"

#include <algorithm>
#include <utility>

namespace vevura {

TRecordCache::TRecordCache(TRecordOwner& owner) : owner_(owner) {}

void TRecordCache::SetCapacity(int32_t capacity) {
  capacity_ = std::max(capacity, 0);
  room_ = capacity_;
  buffers_.reserve(static_cast<size_t>(capacity_));
}

TRecord* TRecordCache::Find(int32_t number) {
  TRecord* hit = recent_.FindNewest(
      kRecentRecordChecks, [number](const TRecord& r) { return r.record_number_ == number; });
  if (hit == nullptr) {
    auto it = buffers_.find(number);
    if (it == buffers_.end()) return nullptr;
    hit = it->second.get();
  }
  recent_.MoveToFront(hit);
  return hit;
}

const TRecord* TRecordCache::Peek(int32_t number) const {
  auto it = buffers_.find(number);
  return it == buffers_.end() ? nullptr : it->second.get();
}

TRecord* TRecordCache::Peek(int32_t number) {
  auto it = buffers_.find(number);
  return it == buffers_.end() ? nullptr : it->second.get();
}

TRecord* TRecordCache::Reusable() const {
  return recent_.FindOldest([](const TRecord& r) { return !r.dirty_ && !r.Pinned(); });
}

TRecord* TRecordCache::AddSpare(int32_t number) {
  std::unique_ptr<TRecord> buffer = pool_.Pop(owner_);
  buffer->SetRecordNumber(number);
  buffer->InitNew(false);
  return Insert(std::move(buffer));
}

TRecord* TRecordCache::Reuse(TRecord& buffer, int32_t number) {
  auto it = EntryOf(buffer);
  if (it == buffers_.end()) return nullptr;
  std::unique_ptr<TRecord> owned = std::move(it->second);
  buffers_.erase(it);
  recent_.Remove(owned.get());
  owned->SetRecordSize(owner_.RecordSize());
  owned->SetRecordNumber(number);
  owned->InitNew(false);
  return Insert(std::move(owned));
}

bool TRecordCache::Evict(TRecord& buffer) {
  auto it = EntryOf(buffer);
  if (it == buffers_.end()) return false;
  std::unique_ptr<TRecord> owned = std::move(it->second);
  buffers_.erase(it);
  recent_.Remove(owned.get());
  pool_.Push(std::move(owned));
  return true;
}

void TRecordCache::DropAll() {
  recent_.Clear();
  for (auto& [number, buffer] : buffers_) {
    buffer->dirty_ = false;
    if (buffer->Pinned()) {
      dropped_.push_back(std::move(buffer));
    } else {
      pool_.Push(std::move(buffer));
    }
  }
  buffers_.clear();
}

void TRecordCache::Release(TRecord* record) {
  if (record == nullptr) return;
  record->Unpin();
  if (record->Pinned() || dropped_.empty()) return;
  auto it = std::find_if(dropped_.begin(), dropped_.end(),
                         [record](const std::unique_ptr<TRecord>& d) { return d.get() == record; });
  if (it == dropped_.end()) return;
  pool_.Push(std::move(*it));
  dropped_.erase(it);
}

TRecordCache::TBufferMap::iterator TRecordCache::EntryOf(const TRecord& buffer) {
  auto it = buffers_.find(buffer.record_number_);
  if (it != buffers_.end() && it->second.get() == &buffer) return it;
  return buffers_.end();
}

TRecord* TRecordCache::Insert(std::unique_ptr<TRecord> buffer) {
  TRecord* raw = buffer.get();
  auto [it, added] = buffers_.try_emplace(raw->record_number_, std::move(buffer));
  if (!added) {
    // Callers never add a number twice; should one, the cached buffer stays.
    pool_.Push(std::move(buffer));
    raw = it->second.get();
    recent_.MoveToFront(raw);
    return raw;
  }
  recent_.PushFront(raw);
  return raw;
}

}  // namespace vevura
