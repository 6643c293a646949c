#include "engine/storage/data/record_cache.h"

#include <algorithm>
#include <utility>

namespace vevura {

TRecordCache::TRecordCache(TRecordOwner& owner) : owner_(owner) {}

void TRecordCache::SetCapacity(int32_t capacity) {
  capacity_ = std::max(capacity, 0);
  room_ = capacity_;
  owned_.reserve(static_cast<size_t>(capacity_));
  numbers_.Reserve(static_cast<size_t>(capacity_));
}

TRecord* TRecordCache::Lookup(int32_t number) const {
  return numbers_.Find(number);
}

TRecord* TRecordCache::Find(int32_t number) {
  TRecord* hit = recent_.FindNewest(
      kRecentRecordChecks, [number](const TRecord& r) { return r.record_number_ == number; });
  if (hit == nullptr) hit = Lookup(number);
  if (hit != nullptr) recent_.MoveToFront(hit);
  return hit;
}

const TRecord* TRecordCache::Peek(int32_t number) const {
  return Lookup(number);
}

TRecord* TRecordCache::Peek(int32_t number) {
  return Lookup(number);
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
  std::unique_ptr<TRecord> owned = Take(buffer);
  if (owned == nullptr) return nullptr;
  owned->SetRecordSize(owner_.RecordSize());
  owned->SetRecordNumber(number);
  owned->InitNew(false);
  return Insert(std::move(owned));
}

bool TRecordCache::Evict(TRecord& buffer) {
  std::unique_ptr<TRecord> owned = Take(buffer);
  if (owned == nullptr) return false;
  pool_.Push(std::move(owned));
  return true;
}

void TRecordCache::DropAll() {
  recent_.Clear();
  numbers_.Clear();
  for (auto& buffer : owned_) AdoptDropped(std::move(buffer));
  owned_.clear();
}

void TRecordCache::AdoptDropped(std::unique_ptr<TRecord> buffer) {
  buffer->dirty_ = false;
  buffer->cache_slot_ = TRecord::kNoCacheSlot;
  if (buffer->Pinned()) {
    dropped_.push_back(std::move(buffer));
  } else {
    pool_.Push(std::move(buffer));
  }
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

std::unique_ptr<TRecord> TRecordCache::Take(TRecord& buffer) {
  const size_t slot = buffer.cache_slot_;
  if (slot >= owned_.size() || owned_[slot].get() != &buffer) return nullptr;
  numbers_.Remove(buffer.record_number_, &buffer);
  recent_.Remove(&buffer);
  std::unique_ptr<TRecord> owned = std::move(owned_[slot]);
  if (slot + 1 != owned_.size()) {
    owned_[slot] = std::move(owned_.back());
    owned_[slot]->cache_slot_ = slot;
  }
  owned_.pop_back();
  owned->cache_slot_ = TRecord::kNoCacheSlot;
  return owned;
}

TRecord* TRecordCache::Insert(std::unique_ptr<TRecord> buffer) {
  TRecord* raw = buffer.get();
  if (TRecord* cached = Lookup(raw->record_number_)) {
    // Callers never add a number twice; should one, the cached buffer stays.
    pool_.Push(std::move(buffer));
    recent_.MoveToFront(cached);
    return cached;
  }
  raw->cache_slot_ = owned_.size();
  owned_.push_back(std::move(buffer));
  numbers_.Add(raw->record_number_, raw);
  recent_.PushFront(raw);
  return raw;
}

}  // namespace vevura
