#pragma once
// TPageCache: the cached pages of one index.
//
// The cache owns its page objects, in a list in no order (each page knows
// its place in it), and finds them through a hash table of page numbers, so
// that a lookup, an insert and a removal cost the same whatever the cache
// holds. Every page also sits in the most-recently-used list, most recent at
// the head; a lookup tries the two most recently used pages first, since most
// steps of a descent or a walk come back to the page just used.
//
// The pages that are neither dirty nor pinned sit besides in the idle list,
// in the order they became idle, so that the page to reuse is found in
// constant time however many dirty or pinned pages the cache holds. The
// index file reports the changes: a page leaves the list when it is pinned
// (Busy) and joins it when its last pin goes while it is clean, or when a
// write-back cleans it while it is not pinned (Idle). A page changes only
// while pinned, so those are the only moments its state can change; should
// a page on the list turn out dirty or pinned all the same, Evictable takes
// it off instead of returning it.
//
// The capacity is soft: the owner fills the cache up to its capacity, then
// reuses the least recently idle page, and raises the capacity when there is
// none (GrowCapacity).

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/storage/common/number_table.h"
#include "engine/storage/common/recency_list.h"
#include "engine/storage/index/btree_page.h"

namespace vevura {

class TPageCache {
 public:
  //! Capacity added when every cached page is dirty or pinned.
  static constexpr int kGrowth = 4;
  //! Most recently used pages tried before the search.
  static constexpr int kRecentChecks = 2;

  explicit TPageCache(int soft_capacity);
  TPageCache(const TPageCache&) = delete;
  TPageCache& operator=(const TPageCache&) = delete;

  //! Page n, moved to the head of the recency list; nullptr when not cached.
  TPage* Find(int32_t n);
  //! Adds a page not yet cached, at the head of the recency list, not idle.
  //! REQUIRES: no page with its number is cached.
  void Insert(std::unique_ptr<TPage> page);
  //! Takes the page out of every list; nullptr when this cache does not hold
  //! it (the caller reports the damage).
  std::unique_ptr<TPage> Remove(TPage* page);
  //! The page to reuse: the one idle longest, or nullptr.
  TPage* Evictable();
  //! Takes a cached page off the idle list (it is being pinned).
  void Busy(TPage* page);
  //! Puts a cached page that is neither dirty nor pinned at the head of the
  //! idle list; nothing for another page.
  void Idle(TPage* page);
  //! Takes every page out; pinned ones are handed to keep_pinned, the others
  //! to recycle.
  void Clear(const std::function<void(std::unique_ptr<TPage>)>& recycle,
             const std::function<void(std::unique_ptr<TPage>)>& keep_pinned);

  //! Pages cached, in no order.
  const std::vector<std::unique_ptr<TPage>>& Pages() const { return owned_; }
  //! True when page is one of this cache's.
  bool Holds(const TPage* page) const {
    return page->CacheSlot < owned_.size() && owned_[page->CacheSlot].get() == page;
  }
  int Size() const { return static_cast<int>(owned_.size()); }
  int Capacity() const { return capacity_; }
  void GrowCapacity() { capacity_ += kGrowth; }
  void SetCapacity(int capacity) { capacity_ = capacity; }
  int SoftCapacity() const { return soft_capacity_; }
  //! The most recently used page, or nullptr.
  TPage* MostRecent() const { return recent_.Newest(); }
  //! Lookups answered from the two most recently used pages.
  uint64_t RecentHits() const { return recent_hits_; }

 private:
  int soft_capacity_;                          //!< the session's index buffer size / 8192
  int capacity_;                               //!< pages before reuse; grows when all are busy
  std::vector<std::unique_ptr<TPage>> owned_;  //!< the cached pages, in no order
  TNumberTable<TPage> numbers_;                //!< the cached pages by page number
  TRecencyList<TPage> recent_;                 //!< cached pages by recency
  TRecencyList<TPage, TIdlePages> idle_;       //!< pages neither dirty nor pinned
  uint64_t recent_hits_ = 0;                   //!< found among the two most recent
};

}  // namespace vevura
