#pragma once
// TPinned: a pinned item borrowed from the store that owns it, unpinned when
// the reference goes.
//
// Caches hand out their buffers (blocks, records, pages) pinned: a pinned
// buffer is never reused, refreshed or written behind its user's back. Every
// pin must be matched by one call of the owner's release function; TPinned
// makes that call when it is released, reassigned or destroyed.
//
// Rules: the owner keeps owning the item; the reference only holds one pin
// of it and must not outlive the owner. It is move-only, so that a pin is
// released exactly once. Detach gives the pin up without releasing it: the
// caller then holds the pin and releases it through the owner itself.

#include <utility>

namespace vevura {

template <typename Item, typename Owner, void (Owner::*ReleaseItem)(Item*)>
class TPinned {
 public:
  TPinned() = default;
  //! Takes over one pin of item, which owner released it through.
  TPinned(Owner& owner, Item* item) : owner_(&owner), item_(item) {}
  TPinned(TPinned&& other) noexcept
      : owner_(other.owner_), item_(std::exchange(other.item_, nullptr)) {}
  TPinned& operator=(TPinned&& other) noexcept {
    if (this != &other) {
      Release();
      owner_ = other.owner_;
      item_ = std::exchange(other.item_, nullptr);
    }
    return *this;
  }
  TPinned(const TPinned&) = delete;
  TPinned& operator=(const TPinned&) = delete;
  ~TPinned() { Release(); }

  //! Unpins the item now; the reference is empty afterwards.
  void Release() {
    if (item_ != nullptr) (owner_->*ReleaseItem)(std::exchange(item_, nullptr));
  }
  //! Gives up the reference without unpinning: the caller now holds the pin.
  Item* Detach() { return std::exchange(item_, nullptr); }

  Item* get() const { return item_; }
  Item* operator->() const { return item_; }
  Item& operator*() const { return *item_; }
  explicit operator bool() const { return item_ != nullptr; }

 private:
  Owner* owner_ = nullptr;
  Item* item_ = nullptr;
};

}  // namespace vevura
