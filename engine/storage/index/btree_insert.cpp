// Inserting into a B-tree: descent with key counts, first-key propagation and
// splits that climb the descent path.

#include <algorithm>
#include <vector>

#include "engine/base/engine_error.h"
#include "engine/storage/index/btree.h"

namespace vevura {

void TBTree::InsertKey(const uint8_t* key, uint32_t reference) {
  Retrying([&] { InsertOnce(key, reference); });
}

void TBTree::InsertOnce(const uint8_t* key, uint32_t reference) {
  CheckShape();
  if (store_.RootPage(index_) == 0) {
    TPageRef page = Allocate();
    page->SetPageType(ptLeafRoot);
    page->InsertEntry(1, key, reference, 0);
    store_.SetRootPage(index_, page->PageNumber);
    path_.Depth = 1;
    path_.Page[1] = page->PageNumber;
    path_.Position[1] = 1;
    return;
  }
  TPageRef page = FetchRoot();
  int depth = 1;
  int counted = 0;  // depths whose count this insert raised
  try {
    while (page->IsInner()) {
      int p = PositionIn(*page, key, shape_.KeyLength, smInsert);
      path_.Position[depth] = p;
      // A key below every key of the subtree goes down the first child.
      int through = std::max(1, p);
      if (HasCounts()) page->SetKeyCount(through, page->KeyCount(through) + 1);
      counted = depth;
      TPageRef child = FetchChild(*page, through, depth + 1);
      page = std::move(child);
      ++depth;
    }
  } catch (...) {
    // A child that could not be read: the counts raised so far are lowered
    // again, so that inserting the key once more counts it once.
    LowerCountsOnPath(counted);
    throw;
  }
  int p = PositionIn(*page, key, shape_.KeyLength, smInsert);
  path_.Position[depth] = p;
  InsertIntoPage(depth, std::move(page), p, key, reference, 0);
}

void TBTree::LowerCountsOnPath(int depth) noexcept {
  if (!HasCounts()) return;
  try {
    for (int d = 1; d <= depth; ++d) {
      TPageRef page = PathPage(d);
      const int through = std::max(1, path_.Position[d]);
      page->SetKeyCount(through, page->KeyCount(through) - 1);
    }
  } catch (...) {
    // A page that cannot be read again keeps its raised count; the whole-table
    // check reports it.
  }
}

void TBTree::InsertIntoPage(int depth, TPageRef page, int position, const uint8_t* key,
                            uint32_t reference, uint32_t key_count) {
  int entry = position + 1;
  page->InsertEntry(entry, key, reference, key_count);
  path_.Position[depth] = entry;
  if (entry == 1 && depth > 1) PropagateFirstKey(depth, *page);
  if (page->Overflows()) Split(depth, std::move(page));
}

void TBTree::Split(int depth, TPageRef page) {
  if (page->IsRoot()) {
    if (depth != 1) RaiseTableError(VEVURA_TABLEFULL, store_.TableName());
    SplitRoot(std::move(page));
    return;
  }
  const bool leaf = page->IsLeaf();
  TPageRef fresh = Allocate();
  fresh->SetPageType(leaf ? ptLeaf : ptInner);
  page->SetPageType(leaf ? ptLeaf : ptInner);
  // A key added at the end of the rightmost page of its level is an append
  // in ascending order (an auto-increment key, the record-slot index): the
  // page stays full and the new page starts with the last entry alone, so
  // ascending appends fill their pages instead of leaving them half empty.
  const bool right_edge = page->Next() == 0 && path_.Position[depth] == page->EntryCount();
  const int keep = right_edge ? page->EntryCount() - 1 : (page->EntryCount() + 1) / 2;
  page->MoveTailTo(keep + 1, *fresh);
  if (page->IsCompressedLeaf()) BalanceCompressedSplit(*page, *fresh);
  LinkAfter(*page, *fresh);
  if (depth <= 1) RaiseCorrupt();
  TPageRef parent = PathPage(depth - 1);
  const int q = std::max(1, path_.Position[depth - 1]);
  if (HasCounts()) parent->SetKeyCount(q, static_cast<uint32_t>(page->LeafEntriesBelow()));
  std::vector<uint8_t> first(fresh->Key(1), fresh->Key(1) + shape_.KeyLength);
  const int32_t fresh_number = fresh->PageNumber;
  const auto fresh_count = static_cast<uint32_t>(fresh->LeafEntriesBelow());
  page.Release();
  fresh.Release();
  InsertIntoPage(depth - 1, std::move(parent), q, first.data(), static_cast<uint32_t>(fresh_number),
                 fresh_count);
}

void TBTree::BalanceCompressedSplit(TPage& old_page, TPage& new_page) {
  auto move_last_to_new = [&] {
    int last = old_page.EntryCount();
    new_page.InsertEntry(1, old_page.Key(last), old_page.Reference(last), 0);
    old_page.RemoveEntry(last);
  };
  auto move_first_to_old = [&] {
    old_page.InsertEntry(old_page.EntryCount() + 1, new_page.Key(1), new_page.Reference(1), 0);
    new_page.RemoveEntry(1);
  };
  if (old_page.EncodedSize() > kPageDataSize) {
    while (old_page.EncodedSize() > kPageDataSize && old_page.EntryCount() > 1) move_last_to_new();
    if (new_page.EncodedSize() > kPageDataSize || old_page.Overflows()) RaiseCorrupt();
    return;
  }
  while (new_page.EncodedSize() > kPageDataSize && new_page.EntryCount() > 1) move_first_to_old();
  if (old_page.EncodedSize() > kPageDataSize || new_page.Overflows()) RaiseCorrupt();
}

void TBTree::LinkAfter(TPage& old_page, TPage& new_page) {
  new_page.SetPrevious(old_page.PageNumber);
  new_page.SetNext(old_page.Next());
  if (old_page.Next() != 0) {
    TPageRef after = Fetch(old_page.Next());
    after->SetPrevious(new_page.PageNumber);
  }
  old_page.SetNext(new_page.PageNumber);
}

void TBTree::SplitRoot(TPageRef root) {
  // The root keeps its page: both halves move to new pages and the root
  // becomes the inner page above them. The index header's root never
  // changes with a split, so a program killed before the root page was
  // written leaves the old root whole.
  const uint8_t type = root->IsLeaf() ? ptLeaf : ptInner;
  TPageRef left = Allocate();
  TPageRef right = Allocate();
  left->SetPageType(type);
  right->SetPageType(type);
  root->MoveTailTo(1, *left);
  const int keep = (left->EntryCount() + 1) / 2;
  left->MoveTailTo(keep + 1, *right);
  if (left->IsCompressedLeaf()) BalanceCompressedSplit(*left, *right);
  LinkAfter(*left, *right);
  root->SetPageType(ptInnerRoot);
  root->InsertEntry(1, left->Key(1), static_cast<uint32_t>(left->PageNumber),
                    static_cast<uint32_t>(left->LeafEntriesBelow()));
  root->InsertEntry(2, right->Key(1), static_cast<uint32_t>(right->PageNumber),
                    static_cast<uint32_t>(right->LeafEntriesBelow()));
}

}  // namespace vevura
