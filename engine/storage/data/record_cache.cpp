#include "engine/storage/data/record_cache.h"

#include <algorithm>
#include <bit>
#include <utility>

namespace vevura {

TRecordCache::TRecordCache(TRecordOwner& owner) : owner_(owner) {
  Rehash(0);
}

void TRecordCache::SetCapacity(int32_t capacity) {
  capacity_ = std::max(capacity, 0);
  room_ = capacity_;
  owned_.reserve(static_cast<size_t>(capacity_));
  if (slots_.size() < 2 * static_cast<size_t>(capacity_)) Rehash(static_cast<size_t>(capacity_));
}

size_t TRecordCache::HomeOf(int32_t number) const {
  // Fibonacci hashing: neighbouring numbers spread over the whole table.
  return (static_cast<uint32_t>(number) * 0x9E3779B1u) >> shift_;
}

void TRecordCache::Rehash(size_t count) {
  const size_t slots = std::bit_ceil(std::max<size_t>(2 * count, kMinRecordSlots));
  slots_.assign(slots, TSlot{});
  shift_ = 32 - std::countr_zero(slots);
  for (const auto& buffer : owned_) Link(buffer.get());
}

void TRecordCache::Link(TRecord* buffer) {
  // At most half the slots are taken, so the probe meets an empty one.
  const size_t mask = slots_.size() - 1;
  size_t at = HomeOf(buffer->record_number_);
  while (slots_[at].Buffer != nullptr) at = (at + 1) & mask;
  slots_[at] = TSlot{buffer->record_number_, buffer};
}

void TRecordCache::Unlink(TRecord* buffer) {
  const size_t mask = slots_.size() - 1;
  size_t hole = HomeOf(buffer->record_number_);
  while (slots_[hole].Buffer != buffer) {
    if (slots_[hole].Buffer == nullptr) return;
    hole = (hole + 1) & mask;
  }
  // An entry after the hole moves into it when the hole lies on its probe
  // path (between its home and where it is), which leaves a hole there.
  for (size_t at = (hole + 1) & mask; slots_[at].Buffer != nullptr; at = (at + 1) & mask) {
    if (((at - HomeOf(slots_[at].Number)) & mask) >= ((at - hole) & mask)) {
      slots_[hole] = slots_[at];
      hole = at;
    }
  }
  slots_[hole] = TSlot{};
}

TRecord* TRecordCache::Lookup(int32_t number) const {
  const size_t mask = slots_.size() - 1;
  for (size_t at = HomeOf(number); slots_[at].Buffer != nullptr; at = (at + 1) & mask) {
    if (slots_[at].Number == number) return slots_[at].Buffer;
  }
  return nullptr;
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
  std::fill(slots_.begin(), slots_.end(), TSlot{});
  for (auto& buffer : owned_) {
    buffer->dirty_ = false;
    buffer->cache_slot_ = TRecord::kNoCacheSlot;
    if (buffer->Pinned()) {
      dropped_.push_back(std::move(buffer));
    } else {
      pool_.Push(std::move(buffer));
    }
  }
  owned_.clear();
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
  Unlink(&buffer);
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
  if (2 * (owned_.size() + 1) > slots_.size()) Rehash(2 * (owned_.size() + 1));
  raw->cache_slot_ = owned_.size();
  owned_.push_back(std::move(buffer));
  Link(raw);
  recent_.PushFront(raw);
  return raw;
}

}  // namespace vevura
