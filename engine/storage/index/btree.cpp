#include "engine/storage/index/btree.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/base/engine_error.h"

namespace vevura {

TBTree::TBTree(TPageStore& store, uint8_t index, const TKeyComparer& comparer, TBTreePath& path)
    : store_(store), index_(index), comparer_(comparer), path_(path), shape_(store.Shape(index)) {}

void TBTree::RaiseCorrupt() const {
  RaiseTableError(VEVURA_INDEXCORRUPT, store_.TableName());
}

void TBTree::CheckShape() const {
  if (!shape_.Valid()) RaiseCorrupt();
}

TPageRef TBTree::Fetch(int32_t n) {
  if (n <= 0) RaiseCorrupt();
  TPage* page = store_.FetchPage(index_, n, false);
  if (page == nullptr) throw TRestart{};
  return TPageRef(store_, page);
}

TPageRef TBTree::Allocate() {
  TPage* page = store_.AllocatePage(index_);
  if (page == nullptr) throw TRestart{};
  return TPageRef(store_, page);
}

TPageRef TBTree::FetchRoot() {
  path_.Clear();
  int32_t n = store_.RootPage(index_);
  if (n == 0) return {};
  TPageRef root = Fetch(n);
  if (!root->IsRoot()) RaiseCorrupt();
  if (root->EntryCount() == 0) RaiseCorrupt();
  path_.Depth = 1;
  path_.Page[1] = n;
  path_.Position[1] = 0;
  return root;
}

TPageRef TBTree::FetchChild(const TPage& parent, int entry, int depth) {
  if (depth > kMaxTreeDepth) RaiseCorrupt();
  uint32_t child = parent.Reference(entry);
  if (child == 0 || child > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
    RaiseCorrupt();
  }
  TPageRef page = Fetch(static_cast<int32_t>(child));
  if (page->PageType() != ptInner && page->PageType() != ptLeaf) RaiseCorrupt();
  if (page->EntryCount() == 0) RaiseCorrupt();
  path_.Depth = depth;
  path_.Page[depth] = static_cast<int32_t>(child);
  path_.Position[depth] = 0;
  return page;
}

int TBTree::Compare(const uint8_t* a, const uint8_t* b, size_t n) const {
  return comparer_.CompareKeys(a, b, n);
}

int TBTree::LowerBound(const TPage& page, const uint8_t* key, size_t n) const {
  int lo = 1;
  int hi = page.EntryCount() + 1;
  while (lo < hi) {
    int mid = (lo + hi) / 2;
    if (Compare(page.Key(mid), key, n) < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

int TBTree::UpperBound(const TPage& page, const uint8_t* key, size_t n) const {
  int lo = 1;
  int hi = page.EntryCount() + 1;
  while (lo < hi) {
    int mid = (lo + hi) / 2;
    if (Compare(page.Key(mid), key, n) <= 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

int TBTree::PositionIn(const TPage& page, const uint8_t* key, size_t n, TSearchMode mode) const {
  switch (mode) {
    case smInsert:
      return UpperBound(page, key, n) - 1;
    case smDelete:
      return std::max(1, UpperBound(page, key, n) - 1);
    case smNotBelow:
      if (page.IsInner()) return std::max(1, LowerBound(page, key, n) - 1);
      return LowerBound(page, key, n);
    case smNotAbove:
      if (page.IsInner()) return std::max(1, UpperBound(page, key, n) - 1);
      return UpperBound(page, key, n) - 1;
  }
  RaiseCorrupt();
}

uint64_t TBTree::CountBefore(const TPage& page, int entry) const {
  if (page.IsLeaf()) return static_cast<uint64_t>(std::max(0, entry - 1));
  uint64_t sum = 0;
  for (int e = 1; e < entry; ++e) sum += page.KeyCount(e);
  return sum;
}

TPageRef TBTree::PathPage(int depth) {
  if (depth < 1 || depth > path_.Depth) RaiseCorrupt();
  return Fetch(path_.Page[depth]);
}

void TBTree::PropagateFirstKey(int depth, const TPage& page) {
  std::vector<uint8_t> first(page.Key(1), page.Key(1) + shape_.KeyLength);
  for (int d = depth - 1; d >= 1; --d) {
    TPageRef parent = PathPage(d);
    int& position = path_.Position[d];
    if (position == 0) position = 1;
    if (std::memcmp(parent->Key(position), first.data(), first.size()) != 0) {
      parent->SetKey(position, first.data());
    }
    if (position != 1) break;
  }
}

void TBTree::FillPosition(const TPage& leaf, int entry, int64_t ordinal,
                          TIndexPosition* pos) const {
  pos->Page = leaf.PageNumber;
  pos->Entry = entry;
  pos->Ordinal = ordinal;
  pos->Reference = leaf.Reference(entry);
  pos->Key.assign(leaf.Key(entry), leaf.Key(entry) + shape_.KeyLength);
}

}  // namespace vevura
