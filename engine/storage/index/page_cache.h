#pragma once
// TPageCache: the cached pages of one index.
//
// The cache owns its page objects. It keeps them in a list sorted by page
// number, with the numbers alone in a parallel list that the binary search
// reads (a large cache would otherwise touch a cold page object at every
// step), and in a most-recently-used list, most recent at the head. A lookup
// tries the two most recently used pages first, since most steps of a
// descent or a walk come back to the page just used.
//
// The capacity is soft: the owner fills the cache up to its capacity, then
// reuses the least recently used page that is neither dirty nor pinned, and
// raises the capacity when there is none (GrowCapacity).

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

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
  //! Adds a page not yet cached, at the head of the recency list.
  //! REQUIRES: no page with its number is cached.
  void Insert(std::unique_ptr<TPage> page);
  //! Takes the page out of both lists; nullptr when it is not in the sorted
  //! list (the caller reports the damage).
  std::unique_ptr<TPage> Remove(TPage* page);
  //! The least recently used page that is neither dirty nor pinned, or nullptr.
  TPage* Evictable() const;
  //! Takes every page out; pinned ones are handed to keep_pinned, the others
  //! to recycle.
  void Clear(const std::function<void(std::unique_ptr<TPage>)>& recycle,
             const std::function<void(std::unique_ptr<TPage>)>& keep_pinned);

  //! Pages cached, in page-number order.
  const std::vector<std::unique_ptr<TPage>>& Pages() const { return sorted_; }
  int Size() const { return static_cast<int>(sorted_.size()); }
  int Capacity() const { return capacity_; }
  void GrowCapacity() { capacity_ += kGrowth; }
  void SetCapacity(int capacity) { capacity_ = capacity; }
  int SoftCapacity() const { return soft_capacity_; }
  //! The most recently used page, or nullptr.
  TPage* MostRecent() const { return recent_.Newest(); }
  //! Lookups answered from the two most recently used pages.
  uint64_t RecentHits() const { return recent_hits_; }

 private:
  //! Position of the first page numbered n or more in the sorted list.
  size_t LowerBound(int32_t n) const;

  int soft_capacity_;                           //!< the session's index buffer size / 8192
  int capacity_;                                //!< pages before reuse; grows when all are busy
  std::vector<std::unique_ptr<TPage>> sorted_;  //!< by page number
  std::vector<int32_t> numbers_;                //!< the page numbers of sorted_
  TRecencyList<TPage> recent_;                  //!< cached pages by recency
  uint64_t recent_hits_ = 0;                    //!< found among the two most recent
};

}  // namespace vevura
