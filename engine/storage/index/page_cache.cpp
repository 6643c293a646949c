#include "engine/storage/index/page_cache.h"

#include <algorithm>

namespace vevura {

TPageCache::TPageCache(int soft_capacity)
    : soft_capacity_(soft_capacity), capacity_(soft_capacity) {
  sorted_.reserve(static_cast<size_t>(std::max(soft_capacity, 0)));
  numbers_.reserve(sorted_.capacity());
}

size_t TPageCache::LowerBound(int32_t n) const {
  return static_cast<size_t>(std::lower_bound(numbers_.begin(), numbers_.end(), n) -
                             numbers_.begin());
}

TPage* TPageCache::Find(int32_t n) {
  TPage* page =
      recent_.FindNewest(kRecentChecks, [n](const TPage& p) { return p.PageNumber == n; });
  if (page != nullptr) {
    ++recent_hits_;
  } else {
    size_t at = LowerBound(n);
    if (at == numbers_.size() || numbers_[at] != n) return nullptr;
    page = sorted_[at].get();
  }
  recent_.MoveToFront(page);
  return page;
}

void TPageCache::Insert(std::unique_ptr<TPage> page) {
  TPage* raw = page.get();
  const auto at = static_cast<std::ptrdiff_t>(LowerBound(raw->PageNumber));
  numbers_.insert(numbers_.begin() + at, raw->PageNumber);
  sorted_.insert(sorted_.begin() + at, std::move(page));
  recent_.PushFront(raw);
}

std::unique_ptr<TPage> TPageCache::Remove(TPage* page) {
  size_t at = LowerBound(page->PageNumber);
  if (at == sorted_.size() || sorted_[at].get() != page) return nullptr;
  std::unique_ptr<TPage> owned = std::move(sorted_[at]);
  sorted_.erase(sorted_.begin() + static_cast<std::ptrdiff_t>(at));
  numbers_.erase(numbers_.begin() + static_cast<std::ptrdiff_t>(at));
  recent_.Remove(page);
  return owned;
}

TPage* TPageCache::Evictable() const {
  return recent_.FindOldest([](const TPage& p) { return !p.Dirty && p.PinCount == 0; });
}

void TPageCache::Clear(const std::function<void(std::unique_ptr<TPage>)>& recycle,
                       const std::function<void(std::unique_ptr<TPage>)>& keep_pinned) {
  std::vector<std::unique_ptr<TPage>> pages = std::move(sorted_);
  sorted_.clear();
  numbers_.clear();
  recent_.Clear();
  for (auto& page : pages) {
    if (page->PinCount > 0) {
      keep_pinned(std::move(page));
    } else {
      recycle(std::move(page));
    }
  }
}

}  // namespace vevura
