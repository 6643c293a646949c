#include "engine/storage/index/page_cache.h"

#include <algorithm>

namespace vevura {

TPageCache::TPageCache(int soft_capacity)
    : soft_capacity_(soft_capacity), capacity_(soft_capacity) {
  sorted_.reserve(static_cast<size_t>(std::max(soft_capacity, 0)));
}

size_t TPageCache::LowerBound(int32_t n) const {
  auto it = std::lower_bound(
      sorted_.begin(), sorted_.end(), n,
      [](const std::unique_ptr<TPage>& p, int32_t v) { return p->PageNumber < v; });
  return static_cast<size_t>(it - sorted_.begin());
}

TPage* TPageCache::Find(int32_t n) {
  if (head_ != nullptr && head_->PageNumber == n) {
    ++recent_hits_;
    return head_;
  }
  if (head_ != nullptr && head_->MruNext != nullptr && head_->MruNext->PageNumber == n) {
    ++recent_hits_;
    TPage* page = head_->MruNext;
    MoveToHead(page);
    return page;
  }
  size_t at = LowerBound(n);
  if (at == sorted_.size() || sorted_[at]->PageNumber != n) return nullptr;
  TPage* page = sorted_[at].get();
  MoveToHead(page);
  return page;
}

void TPageCache::Insert(std::unique_ptr<TPage> page) {
  TPage* raw = page.get();
  sorted_.insert(sorted_.begin() + static_cast<std::ptrdiff_t>(LowerBound(raw->PageNumber)),
                 std::move(page));
  LinkAtHead(raw);
}

std::unique_ptr<TPage> TPageCache::Remove(TPage* page) {
  size_t at = LowerBound(page->PageNumber);
  if (at == sorted_.size() || sorted_[at].get() != page) return nullptr;
  std::unique_ptr<TPage> owned = std::move(sorted_[at]);
  sorted_.erase(sorted_.begin() + static_cast<std::ptrdiff_t>(at));
  Unlink(page);
  return owned;
}

TPage* TPageCache::Evictable() const {
  for (TPage* p = tail_; p != nullptr; p = p->MruPrev) {
    if (!p->Dirty && p->PinCount == 0) return p;
  }
  return nullptr;
}

void TPageCache::Clear(const std::function<void(std::unique_ptr<TPage>)>& recycle,
                       const std::function<void(std::unique_ptr<TPage>)>& keep_pinned) {
  std::vector<std::unique_ptr<TPage>> pages = std::move(sorted_);
  sorted_.clear();
  head_ = nullptr;
  tail_ = nullptr;
  for (auto& page : pages) {
    page->MruPrev = nullptr;
    page->MruNext = nullptr;
    if (page->PinCount > 0) {
      keep_pinned(std::move(page));
    } else {
      recycle(std::move(page));
    }
  }
}

void TPageCache::LinkAtHead(TPage* page) {
  page->MruPrev = nullptr;
  page->MruNext = head_;
  if (head_ != nullptr) head_->MruPrev = page;
  head_ = page;
  if (tail_ == nullptr) tail_ = page;
}

void TPageCache::Unlink(TPage* page) {
  if (page->MruPrev != nullptr) {
    page->MruPrev->MruNext = page->MruNext;
  } else {
    head_ = page->MruNext;
  }
  if (page->MruNext != nullptr) {
    page->MruNext->MruPrev = page->MruPrev;
  } else {
    tail_ = page->MruPrev;
  }
  page->MruPrev = nullptr;
  page->MruNext = nullptr;
}

void TPageCache::MoveToHead(TPage* page) {
  if (head_ == page) return;
  Unlink(page);
  LinkAtHead(page);
}

}  // namespace vevura
