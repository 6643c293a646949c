#pragma once
// TRecencyList: the most-recently-used order of a cache's buffers, as an
// intrusive doubly linked list.
//
// A buffer type derives from TRecencyLink<itself>, which holds its two links;
// the list keeps only its newest and oldest element. Linking, unlinking and
// moving to the front cost O(1) and allocate nothing, so a cache can touch
// the list on every lookup.
//
// A buffer that sits in two lists at once derives from a second link with a
// tag type of its own (TRecencyLink<T, Tag>), and the second list names the
// same tag.
//
// Rules: the list never owns its elements; the cache that owns them keeps
// them alive while they are listed and takes them out (Remove, Clear) before
// it frees or recycles them. An element is in at most one list at a time,
// and its links are null while it is in none.
//
// Thread-safety: none; it belongs to its cache.

namespace vevura {

template <typename T, typename Tag = void>
class TRecencyList;

//! The links a buffer of a recency list carries. T derives from it publicly.
template <typename T, typename Tag = void>
class TRecencyLink {
 public:
  TRecencyLink(const TRecencyLink&) = delete;
  TRecencyLink& operator=(const TRecencyLink&) = delete;

  //! Neighbours in the list (nullptr at its ends and outside a list).
  T* Older() const { return older_; }
  T* Newer() const { return newer_; }

 protected:
  TRecencyLink() = default;
  ~TRecencyLink() = default;

 private:
  friend class TRecencyList<T, Tag>;

  T* older_ = nullptr;  //!< next less recently used element
  T* newer_ = nullptr;  //!< next more recently used element
};

template <typename T, typename Tag>
class TRecencyList {
 public:
  TRecencyList() = default;
  TRecencyList(const TRecencyList&) = delete;
  TRecencyList& operator=(const TRecencyList&) = delete;

  bool Empty() const { return newest_ == nullptr; }
  //! The most and the least recently used element, nullptr when empty.
  T* Newest() const { return newest_; }
  T* Oldest() const { return oldest_; }

  //! Links item as the most recently used. REQUIRES: item is in no list.
  void PushFront(T* item) {
    Link(item).newer_ = nullptr;
    Link(item).older_ = newest_;
    if (newest_ != nullptr) Link(newest_).newer_ = item;
    newest_ = item;
    if (oldest_ == nullptr) oldest_ = item;
  }
  //! Unlinks item. REQUIRES: item is in this list.
  void Remove(T* item) {
    TRecencyLink<T, Tag>& link = Link(item);
    if (link.newer_ != nullptr) {
      Link(link.newer_).older_ = link.older_;
    } else {
      newest_ = link.older_;
    }
    if (link.older_ != nullptr) {
      Link(link.older_).newer_ = link.newer_;
    } else {
      oldest_ = link.newer_;
    }
    link.older_ = link.newer_ = nullptr;
  }
  //! Makes item, listed here, the most recently used.
  void MoveToFront(T* item) {
    if (item == newest_) return;
    Remove(item);
    PushFront(item);
  }
  //! Makes item, listed here, the least recently used: the next one reused.
  void MoveToBack(T* item) {
    if (item == oldest_) return;
    Remove(item);
    Link(item).older_ = nullptr;
    Link(item).newer_ = oldest_;
    if (oldest_ != nullptr) Link(oldest_).older_ = item;
    oldest_ = item;
    if (newest_ == nullptr) newest_ = item;
  }
  //! Unlinks every element: O(size).
  void Clear() {
    for (T* item = newest_; item != nullptr;) {
      TRecencyLink<T, Tag>& link = Link(item);
      item = link.older_;
      link.older_ = link.newer_ = nullptr;
    }
    newest_ = oldest_ = nullptr;
  }

  //! The most recent of the count newest elements for which match holds, or
  //! nullptr: the short look a cache takes before it searches.
  template <typename Match>
  T* FindNewest(int count, Match match) const {
    T* item = newest_;
    for (int i = 0; i < count && item != nullptr; ++i, item = Link(item).older_) {
      if (match(*item)) return item;
    }
    return nullptr;
  }
  //! The least recently used element for which match holds, or nullptr: the
  //! buffer a cache reuses first.
  template <typename Match>
  T* FindOldest(Match match) const {
    for (T* item = oldest_; item != nullptr; item = Link(item).newer_) {
      if (match(*item)) return item;
    }
    return nullptr;
  }

 private:
  static TRecencyLink<T, Tag>& Link(T* item) { return *item; }

  T* newest_ = nullptr;  //!< most recently used
  T* oldest_ = nullptr;  //!< least recently used
};

}  // namespace vevura
