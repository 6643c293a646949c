#include "engine/storage/data/record_cache.h"

#include <algorithm>
#include <utility>

namespace vevura {

TRecordCache::TRecordCache(TRecordOwner& owner) : owner_(owner) {}

void TRecordCache::SetCapacity(int32_t capacity) {
  capacity_ = std::max(capacity, 0);
  room_ = capacity_;
}

TRecord* TRecordCache::Find(int32_t number) {
  TRecord* recent = head_;
  for (int i = 0; i < kRecentRecordChecks && recent != nullptr; ++i, recent = recent->older_) {
    if (recent->record_number_ == number) {
      MoveToHead(recent);
      return recent;
    }
  }
  auto it = buffers_.find(number);
  if (it == buffers_.end()) return nullptr;
  MoveToHead(it->second.get());
  return it->second.get();
}

const TRecord* TRecordCache::Peek(int32_t number) const {
  auto it = buffers_.find(number);
  return it == buffers_.end() ? nullptr : it->second.get();
}

TRecord* TRecordCache::Reusable() const {
  for (TRecord* buffer = tail_; buffer != nullptr; buffer = buffer->newer_) {
    if (!buffer->dirty_ && !buffer->Pinned()) return buffer;
  }
  return nullptr;
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
  Unlink(owned.get());
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
  Unlink(owned.get());
  pool_.Push(std::move(owned));
  return true;
}

void TRecordCache::DropAll() {
  for (auto& [number, buffer] : buffers_) {
    buffer->older_ = buffer->newer_ = nullptr;
    buffer->dirty_ = false;
    if (buffer->Pinned()) {
      dropped_.push_back(std::move(buffer));
    } else {
      pool_.Push(std::move(buffer));
    }
  }
  buffers_.clear();
  head_ = tail_ = nullptr;
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
    MoveToHead(raw);
    return raw;
  }
  LinkAtHead(raw);
  return raw;
}

void TRecordCache::LinkAtHead(TRecord* buffer) {
  buffer->newer_ = nullptr;
  buffer->older_ = head_;
  if (head_ != nullptr) head_->newer_ = buffer;
  head_ = buffer;
  if (tail_ == nullptr) tail_ = buffer;
}

void TRecordCache::Unlink(TRecord* buffer) {
  if (buffer->newer_ != nullptr) {
    buffer->newer_->older_ = buffer->older_;
  } else {
    head_ = buffer->older_;
  }
  if (buffer->older_ != nullptr) {
    buffer->older_->newer_ = buffer->newer_;
  } else {
    tail_ = buffer->newer_;
  }
  buffer->older_ = buffer->newer_ = nullptr;
}

void TRecordCache::MoveToHead(TRecord* buffer) {
  if (buffer == head_) return;
  Unlink(buffer);
  LinkAtHead(buffer);
}

}  // namespace vevura
