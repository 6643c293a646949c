#pragma once
// TPageStack: a small pool of spare page objects.
//
// Page objects evicted or dropped from a page cache come back here instead of
// being destroyed, and the next page a cache needs is taken from here before
// a new object is made. The pool keeps at most four; more are destroyed.

#include <memory>
#include <string>
#include <vector>

#include "engine/storage/index/btree_page.h"

namespace vevura {

class TPageStack {
 public:
  //! Spare objects kept at most.
  static constexpr size_t kMaxSpares = 4;

  //! Page objects made by this pool name table in their errors.
  explicit TPageStack(const std::string* table_name) : table_name_(table_name) {}
  TPageStack(const TPageStack&) = delete;
  TPageStack& operator=(const TPageStack&) = delete;

  //! A spare object, or a new one when there is none.
  std::unique_ptr<TPage> Take() {
    if (spares_.empty()) return std::make_unique<TPage>(table_name_);
    std::unique_ptr<TPage> page = std::move(spares_.back());
    spares_.pop_back();
    return page;
  }
  //! Keeps the object as a spare, or destroys it when four are kept.
  void Give(std::unique_ptr<TPage> page) {
    if (spares_.size() < kMaxSpares) {
      page->PinCount = 0;
      page->Dirty = false;
      spares_.push_back(std::move(page));
    }
  }
  size_t Size() const { return spares_.size(); }

 private:
  const std::string* table_name_;               //!< the owning table's name
  std::vector<std::unique_ptr<TPage>> spares_;  //!< at most kMaxSpares
};

}  // namespace vevura
