// Deleting from a B-tree: removal, first-key propagation, and the handling of
// pages that become empty or underflow.
//
// An underflowing page is joined with (or takes entries from) a neighbour
// that hangs from the same parent, never across parents: when it is the only
// child of its parent, the parent is handled at its level instead. An empty
// page is always removed, and an inner root left with one entry gives way to
// its only child.

#include <algorithm>

#include "engine/storage/index/btree.h"

namespace vevura {

void TBTree::DeleteKey(const uint8_t* key) {
  Retrying([&] { DeleteOnce(key); });
}

void TBTree::DeleteOnce(const uint8_t* key) {
  CheckShape();
  if (store_.RootPage(index_) == 0) RaiseCorrupt();
  TPageRef leaf = Descend(key, shape_.KeyLength, smDelete, nullptr);
  int p = LowerBound(*leaf, key, shape_.KeyLength);
  // Nothing is changed before the key is known to be there.
  if (p > leaf->EntryCount() || Compare(leaf->Key(p), key, shape_.KeyLength) != 0) {
    RaiseCorrupt();
  }
  const int depth = path_.Depth;
  path_.Position[depth] = p;
  DecrementCountsOnPath();
  RemoveFromPage(depth, std::move(leaf), p);
}

void TBTree::DecrementCountsOnPath() {
  if (!HasCounts()) return;
  for (int d = 1; d < path_.Depth; ++d) {
    TPageRef page = PathPage(d);
    int e = path_.Position[d];
    uint32_t count = page->KeyCount(e);
    page->SetKeyCount(e, count > 0 ? count - 1 : 0);
  }
}

void TBTree::RemoveFromPage(int depth, TPageRef page, int position) {
  page->RemoveEntry(position);
  const int count = page->EntryCount();
  path_.Position[depth] = std::min(position, count);
  if (count > 0 && position == 1 && depth > 1) PropagateFirstKey(depth, *page);
  HandleUnderflow(depth, std::move(page));
}

void TBTree::HandleUnderflow(int depth, TPageRef page) {
  if (page->EntryCount() == 0) {
    RemoveEmptyPage(depth, std::move(page));
    return;
  }
  if (depth == 1) {
    if (page->IsInner() && page->EntryCount() == 1) CollapseRoot(std::move(page));
    return;
  }
  if (!page->Underflows()) return;
  TPageRef parent = PathPage(depth - 1);
  const int q = path_.Position[depth - 1];
  const int m = parent->EntryCount();
  if (q < 1 || q > m || parent->Reference(q) != static_cast<uint32_t>(page->PageNumber)) {
    RaiseCorrupt();
  }
  if (m == 1) {
    // No neighbour under this parent: the parent, holding this one entry,
    // is thin itself and is handled at its own level instead.
    page.Release();
    HandleUnderflow(depth - 1, std::move(parent));
    return;
  }
  const bool use_left = q > 1;
  TPageRef neighbour = Fetch(static_cast<int32_t>(parent->Reference(use_left ? q - 1 : q + 1)));
  bool linked =
      use_left ? neighbour->Next() == page->PageNumber && page->Previous() == neighbour->PageNumber
               : neighbour->Previous() == page->PageNumber && page->Next() == neighbour->PageNumber;
  if (!linked || neighbour->PageType() != page->PageType()) RaiseCorrupt();
  if (use_left) {
    JoinLeft(depth, std::move(page), std::move(parent), std::move(neighbour), q);
  } else {
    JoinRight(depth, std::move(page), std::move(parent), std::move(neighbour), q);
  }
}

void TBTree::RemoveEmptyPage(int depth, TPageRef page) {
  if (depth == 1) {
    store_.FreePage(page.get());
    store_.SetRootPage(index_, 0);
    return;
  }
  Unlink(*page);
  store_.FreePage(page.get());
  page.Release();
  TPageRef parent = PathPage(depth - 1);
  const int q = path_.Position[depth - 1];
  RemoveFromPage(depth - 1, std::move(parent), q);
}

void TBTree::CollapseRoot(TPageRef root) {
  // The root keeps its page: it takes over its only child's entries and the
  // child is freed, so the index header's root stays as it is and a program
  // killed part way through leaves at worst an unused page.
  for (;;) {
    const uint32_t child_number = root->Reference(1);
    TPageRef child = Fetch(static_cast<int32_t>(child_number));
    if (child->PageType() != ptInner && child->PageType() != ptLeaf) RaiseCorrupt();
    if (child->EntryCount() == 0) {
      store_.FreePage(child.get());
      store_.FreePage(root.get());
      store_.SetRootPage(index_, 0);
      return;
    }
    root->RemoveEntry(1);
    root->SetPageType(child->IsInner() ? ptInnerRoot : ptLeafRoot);
    child->MoveTailTo(1, *root);
    store_.FreePage(child.get());
    if (!root->IsInner() || root->EntryCount() != 1) return;
  }
}

void TBTree::Unlink(TPage& page) {
  if (page.Previous() != 0) Fetch(page.Previous())->SetNext(page.Next());
  if (page.Next() != 0) Fetch(page.Next())->SetPrevious(page.Previous());
}

void TBTree::JoinLeft(int depth, TPageRef page, TPageRef parent, TPageRef left, int q) {
  const int a = left->EntryCount();
  const int b = page->EntryCount();
  if (a + b < page->Capacity()) {
    page->MoveHeadToEnd(b, *left);
    Unlink(*page);
    store_.FreePage(page.get());
    page.Release();
    if (HasCounts()) parent->SetKeyCount(q - 1, static_cast<uint32_t>(left->LeafEntriesBelow()));
    left.Release();
    RemoveFromPage(depth - 1, std::move(parent), q);
    return;
  }
  const int keep = (a + b + 1) / 2;
  left->MoveTailToFront(a - keep, *page);
  parent->SetKey(q, page->Key(1));
  if (HasCounts()) {
    parent->SetKeyCount(q, static_cast<uint32_t>(page->LeafEntriesBelow()));
    parent->SetKeyCount(q - 1, static_cast<uint32_t>(left->LeafEntriesBelow()));
  }
}

void TBTree::JoinRight(int depth, TPageRef page, TPageRef parent, TPageRef right, int q) {
  const int a = page->EntryCount();
  const int b = right->EntryCount();
  if (a + b < page->Capacity()) {
    page->MoveTailToFront(a, *right);
    Unlink(*page);
    store_.FreePage(page.get());
    page.Release();
    parent->SetKey(q + 1, right->Key(1));
    if (HasCounts()) parent->SetKeyCount(q + 1, static_cast<uint32_t>(right->LeafEntriesBelow()));
    right.Release();
    RemoveFromPage(depth - 1, std::move(parent), q);
    return;
  }
  const int keep = (a + b) / 2;
  right->MoveHeadToEnd(keep - a, *page);
  parent->SetKey(q + 1, right->Key(1));
  if (HasCounts()) {
    parent->SetKeyCount(q, static_cast<uint32_t>(page->LeafEntriesBelow()));
    parent->SetKeyCount(q + 1, static_cast<uint32_t>(right->LeafEntriesBelow()));
  }
}

}  // namespace vevura
