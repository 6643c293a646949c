#include "engine/storage/index/page_cache.h"

#include <algorithm>

namespace vevura {

TPageCache::TPageCache(int soft_capacity)
    : soft_capacity_(soft_capacity), capacity_(soft_capacity) {
  owned_.reserve(static_cast<size_t>(std::max(soft_capacity, 0)));
  numbers_.Reserve(owned_.capacity());
}

TPage* TPageCache::Find(int32_t n) {
  TPage* page =
      recent_.FindNewest(kRecentChecks, [n](const TPage& p) { return p.PageNumber == n; });
  if (page != nullptr) {
    ++recent_hits_;
  } else {
    page = numbers_.Find(n);
    if (page == nullptr) return nullptr;
  }
  recent_.MoveToFront(page);
  return page;
}

void TPageCache::Insert(std::unique_ptr<TPage> page) {
  TPage* raw = page.get();
  raw->CacheSlot = owned_.size();
  raw->Idle = false;
  owned_.push_back(std::move(page));
  numbers_.Add(raw->PageNumber, raw);
  recent_.PushFront(raw);
}

std::unique_ptr<TPage> TPageCache::Remove(TPage* page) {
  if (!Holds(page)) return nullptr;
  numbers_.Remove(page->PageNumber, page);
  recent_.Remove(page);
  Busy(page);
  const size_t slot = page->CacheSlot;
  std::unique_ptr<TPage> owned = std::move(owned_[slot]);
  if (slot + 1 != owned_.size()) {
    owned_[slot] = std::move(owned_.back());
    owned_[slot]->CacheSlot = slot;
  }
  owned_.pop_back();
  owned->CacheSlot = TPage::kNoCacheSlot;
  return owned;
}

TPage* TPageCache::Evictable() {
  while (TPage* page = idle_.Oldest()) {
    if (!page->Dirty && page->PinCount == 0) return page;
    Busy(page);
  }
  return nullptr;
}

void TPageCache::Busy(TPage* page) {
  if (!page->Idle) return;
  idle_.Remove(page);
  page->Idle = false;
}

void TPageCache::Idle(TPage* page) {
  if (page->Idle || page->Dirty || page->PinCount != 0 || !Holds(page)) return;
  idle_.PushFront(page);
  page->Idle = true;
}

void TPageCache::Clear(const std::function<void(std::unique_ptr<TPage>)>& recycle,
                       const std::function<void(std::unique_ptr<TPage>)>& keep_pinned) {
  std::vector<std::unique_ptr<TPage>> pages = std::move(owned_);
  owned_.clear();
  numbers_.Clear();
  recent_.Clear();
  idle_.Clear();
  for (auto& page : pages) {
    page->Idle = false;
    page->CacheSlot = TPage::kNoCacheSlot;
    if (page->PinCount > 0) {
      keep_pinned(std::move(page));
    } else {
      recycle(std::move(page));
    }
  }
}

}  // namespace vevura
