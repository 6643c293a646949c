#include "engine/storage/blob/block_cache.h"

#include <algorithm>

namespace vevura {

std::unique_ptr<TBlock> TBlockStack::Pop() {
  if (blocks_.empty()) return nullptr;
  std::unique_ptr<TBlock> block = std::move(blocks_.back());
  blocks_.pop_back();
  return block;
}

void TBlockStack::Push(std::unique_ptr<TBlock> block) {
  if (blocks_.size() < kBlockStackSize) blocks_.push_back(std::move(block));
}

TBlockCache::~TBlockCache() = default;

void TBlockCache::Reset(const TBlobFile* owner, uint32_t block_size, int32_t capacity) {
  DropAll();
  pool_.Clear();
  owner_ = owner;
  block_size_ = block_size;
  capacity_ = capacity;
  room_ = capacity;
}

size_t TBlockCache::LowerBound(int32_t n) const {
  auto it =
      std::lower_bound(blocks_.begin(), blocks_.end(), n,
                       [](const std::unique_ptr<TBlock>& b, int32_t v) { return b->number_ < v; });
  return static_cast<size_t>(it - blocks_.begin());
}

TBlock* TBlockCache::Find(int32_t n) {
  TBlock* hit =
      recent_.FindNewest(kRecentBlockChecks, [n](const TBlock& b) { return b.number_ == n; });
  if (hit == nullptr) {
    size_t at = LowerBound(n);
    if (at == blocks_.size() || blocks_[at]->number_ != n) return nullptr;
    hit = blocks_[at].get();
  }
  recent_.MoveToFront(hit);
  return hit;
}

TBlock* TBlockCache::FindReusable() const {
  return recent_.FindOldest([](const TBlock& b) { return !b.dirty_ && b.pin_count_ == 0; });
}

std::unique_ptr<TBlock> TBlockCache::Spare() {
  std::unique_ptr<TBlock> block = pool_.Pop();
  if (block == nullptr) block = std::make_unique<TBlock>(owner_, block_size_);
  return block;
}

void TBlockCache::Insert(std::unique_ptr<TBlock> block) {
  TBlock* raw = block.get();
  blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(LowerBound(raw->number_)),
                 std::move(block));
  recent_.PushFront(raw);
}

std::unique_ptr<TBlock> TBlockCache::Remove(TBlock* block) {
  size_t at = LowerBound(block->number_);
  if (at == blocks_.size() || blocks_[at].get() != block) return nullptr;
  std::unique_ptr<TBlock> taken = std::move(blocks_[at]);
  blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(at));
  recent_.Remove(block);
  return taken;
}

void TBlockCache::Recycle(std::unique_ptr<TBlock> block) {
  if (block->DataSize() != static_cast<int32_t>(block_size_ - kBlockHeaderSize)) return;
  block->Reset(0);
  block->pin_count_ = 0;
  pool_.Push(std::move(block));
}

void TBlockCache::Release(TBlock* block) {
  if (block == nullptr) return;
  block->Unpin();
  if (block->pin_count_ != 0 || dropped_.empty()) return;
  auto it = std::find_if(dropped_.begin(), dropped_.end(),
                         [block](const std::unique_ptr<TBlock>& b) { return b.get() == block; });
  if (it == dropped_.end()) return;
  std::unique_ptr<TBlock> done = std::move(*it);
  dropped_.erase(it);
  Recycle(std::move(done));
}

void TBlockCache::DropAll() {
  recent_.Clear();
  for (std::unique_ptr<TBlock>& block : blocks_) {
    if (block->pin_count_ > 0) {
      dropped_.push_back(std::move(block));
    } else {
      Recycle(std::move(block));
    }
  }
  blocks_.clear();
}

std::vector<TBlock*> TBlockCache::DirtyBlocks(int32_t skip_first, int32_t skip_last) const {
  std::vector<TBlock*> dirty;
  for (const std::unique_ptr<TBlock>& b : blocks_) {
    bool skipped = b->number_ >= skip_first && b->number_ <= skip_last;
    if (b->dirty_ && b->pin_count_ == 0 && !skipped) dirty.push_back(b.get());
  }
  return dirty;
}

std::vector<const TBlock*> TBlockCache::Blocks() const {
  std::vector<const TBlock*> all;
  for (const std::unique_ptr<TBlock>& b : blocks_) all.push_back(b.get());
  return all;
}

std::vector<const TBlock*> TBlockCache::RecentBlocks() const {
  std::vector<const TBlock*> recent;
  for (const TBlock* b = recent_.Newest(); b != nullptr; b = b->Older()) recent.push_back(b);
  return recent;
}

}  // namespace vevura
