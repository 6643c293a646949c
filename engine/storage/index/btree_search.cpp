// Searching, stepping and counting in a B-tree.

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/storage/index/btree.h"

namespace vevura {

TPageRef TBTree::Descend(const uint8_t* key, size_t n, TSearchMode mode, int64_t* ordinal) {
  CheckShape();
  TPageRef page = FetchRoot();
  if (!page) return page;
  uint64_t before = 0;
  int depth = 1;
  while (page->IsInner()) {
    int p = PositionIn(*page, key, n, mode);
    path_.Position[depth] = p;
    if (ordinal != nullptr && HasCounts()) before += CountBefore(*page, p);
    TPageRef child = FetchChild(*page, p, depth + 1);
    page = std::move(child);
    ++depth;
  }
  path_.Position[depth] = PositionIn(*page, key, n, mode);
  if (ordinal != nullptr) *ordinal = HasCounts() ? static_cast<int64_t>(before) : -1;
  return page;
}

namespace {

int64_t Plus(int64_t ordinal, int64_t delta) {
  return ordinal < 0 ? -1 : ordinal + delta;
}

}  // namespace

bool TBTree::LocateKey(const uint8_t* key) {
  return Retrying([&] {
    TPageRef leaf = Descend(key, shape_.KeyLength, smDelete, nullptr);
    if (!leaf) return false;
    int p = LowerBound(*leaf, key, shape_.KeyLength);
    return p <= leaf->EntryCount() && Compare(leaf->Key(p), key, shape_.KeyLength) == 0;
  });
}

bool TBTree::SeekNotBelow(const uint8_t* key, size_t n, TIndexPosition* pos) {
  return Retrying([&] { return SeekNotBelowOnce(key, n, pos); });
}

bool TBTree::SeekNotBelowOnce(const uint8_t* key, size_t n, TIndexPosition* pos) {
  int64_t ordinal = 0;
  TPageRef leaf = Descend(key, n, smNotBelow, &ordinal);
  pos->Clear();
  if (!leaf) return false;
  int p = path_.Position[path_.Depth];
  if (p <= leaf->EntryCount()) {
    FillPosition(*leaf, p, Plus(ordinal, p - 1), pos);
    return true;
  }
  // Every entry of this leaf is below the key: the answer opens the next leaf.
  int32_t next = leaf->Next();
  int64_t next_ordinal = Plus(ordinal, leaf->EntryCount());
  if (next == 0) return false;
  leaf = Fetch(next);
  if (!leaf->IsLeaf() || leaf->EntryCount() == 0) RaiseCorrupt();
  FillPosition(*leaf, 1, next_ordinal, pos);
  return true;
}

bool TBTree::SeekNotAbove(const uint8_t* key, size_t n, TIndexPosition* pos) {
  return Retrying([&] { return SeekNotAboveOnce(key, n, pos); });
}

bool TBTree::SeekNotAboveOnce(const uint8_t* key, size_t n, TIndexPosition* pos) {
  int64_t ordinal = 0;
  TPageRef leaf = Descend(key, n, smNotAbove, &ordinal);
  pos->Clear();
  if (!leaf) return false;
  int p = path_.Position[path_.Depth];
  if (p >= 1) {
    FillPosition(*leaf, p, Plus(ordinal, p - 1), pos);
    return true;
  }
  // Every entry of this leaf is above the key: the answer closes the previous leaf.
  int32_t previous = leaf->Previous();
  if (previous == 0) return false;
  leaf = Fetch(previous);
  if (!leaf->IsLeaf() || leaf->EntryCount() == 0) RaiseCorrupt();
  FillPosition(*leaf, leaf->EntryCount(), Plus(ordinal, -1), pos);
  return true;
}

bool TBTree::First(TIndexPosition* pos) {
  return Retrying([&] { return EdgeOnce(false, pos); });
}

bool TBTree::Last(TIndexPosition* pos) {
  return Retrying([&] { return EdgeOnce(true, pos); });
}

bool TBTree::EdgeOnce(bool last, TIndexPosition* pos) {
  CheckShape();
  pos->Clear();
  TPageRef page = FetchRoot();
  if (!page) return false;
  uint64_t before = 0;
  int depth = 1;
  while (page->IsInner()) {
    int p = last ? page->EntryCount() : 1;
    path_.Position[depth] = p;
    if (HasCounts()) before += CountBefore(*page, p);
    TPageRef child = FetchChild(*page, p, depth + 1);
    page = std::move(child);
    ++depth;
  }
  int p = last ? page->EntryCount() : 1;
  path_.Position[depth] = p;
  FillPosition(*page, p, HasCounts() ? static_cast<int64_t>(before) + p - 1 : -1, pos);
  return true;
}

bool TBTree::Next(TIndexPosition* pos) {
  if (!pos->OnEntry()) return First(pos);
  return Retrying([&] { return StepOnce(true, pos); });
}

bool TBTree::Prior(TIndexPosition* pos) {
  if (!pos->OnEntry()) return Last(pos);
  return Retrying([&] { return StepOnce(false, pos); });
}

bool TBTree::StepOnce(bool forward, TIndexPosition* pos) {
  CheckShape();
  TPageRef page = Fetch(pos->Page);
  bool same = page->IsLeaf() && pos->Entry >= 1 && pos->Entry <= page->EntryCount() &&
              pos->Key.size() == shape_.KeyLength &&
              std::memcmp(page->Key(pos->Entry), pos->Key.data(), shape_.KeyLength) == 0 &&
              page->Reference(pos->Entry) == pos->Reference;
  if (!same) {
    // The page changed under the position: find the entry again by its key.
    page.Release();
    TIndexPosition found;
    std::vector<uint8_t> key = pos->Key;
    key.resize(shape_.KeyLength);
    bool any = forward ? SeekNotBelowOnce(key.data(), key.size(), &found)
                       : SeekNotAboveOnce(key.data(), key.size(), &found);
    if (!any) return false;
    if (found.Key != key || found.Reference != pos->Reference) {
      *pos = std::move(found);
      return true;
    }
    *pos = std::move(found);
    return StepOnce(forward, pos);
  }
  if (forward) {
    if (pos->Entry < page->EntryCount()) {
      FillPosition(*page, pos->Entry + 1, Plus(pos->Ordinal, 1), pos);
      return true;
    }
    int32_t next = page->Next();
    if (next == 0) return false;
    TPageRef neighbour = Fetch(next);
    CheckLeafLink(*page, *neighbour, true, pos);
    FillPosition(*neighbour, 1, Plus(pos->Ordinal, 1), pos);
    return true;
  }
  if (pos->Entry > 1) {
    FillPosition(*page, pos->Entry - 1, Plus(pos->Ordinal, -1), pos);
    return true;
  }
  int32_t previous = page->Previous();
  if (previous == 0) return false;
  TPageRef neighbour = Fetch(previous);
  CheckLeafLink(*page, *neighbour, false, pos);
  FillPosition(*neighbour, neighbour->EntryCount(), Plus(pos->Ordinal, -1), pos);
  return true;
}

bool TBTree::Skip(bool forward, TIndexPosition* pos,
                  const std::function<bool(const uint8_t*, uint32_t)>& skip) {
  return Retrying([&] { return SkipOnce(forward, pos, skip); });
}

bool TBTree::SkipOnce(bool forward, TIndexPosition* pos,
                      const std::function<bool(const uint8_t*, uint32_t)>& skip) {
  // The first step finds pos again when its page changed; the rest walks
  // the leaves and fills a position only for the entry it stops at.
  TIndexPosition at = *pos;
  if (!StepOnce(forward, &at)) return false;
  TPageRef page = Fetch(at.Page);
  int entry = at.Entry;
  int64_t ordinal = at.Ordinal;
  const int step = forward ? 1 : -1;
  while (skip(page->Key(entry), page->Reference(entry))) {
    ordinal = Plus(ordinal, step);
    if (forward ? entry < page->EntryCount() : entry > 1) {
      entry += step;
      continue;
    }
    const int32_t link = forward ? page->Next() : page->Previous();
    if (link == 0) return false;
    TPageRef neighbour = Fetch(link);
    CheckLeafLink(*page, *neighbour, forward, &at);
    page = std::move(neighbour);
    entry = forward ? 1 : page->EntryCount();
  }
  FillPosition(*page, entry, ordinal, &at);
  *pos = std::move(at);
  return true;
}

void TBTree::EntriesAhead(const TIndexPosition& pos, bool forward, int max_leaves,
                          const std::function<bool(const uint8_t*, uint32_t)>& visit) {
  if (!pos.OnEntry() || pos.Key.size() != shape_.KeyLength) return;
  TPageRef page(store_, store_.FetchCachedPage(index_, pos.Page));
  if (!page || !page->IsLeaf() || pos.Entry < 1 || pos.Entry > page->EntryCount() ||
      page->Reference(pos.Entry) != pos.Reference ||
      std::memcmp(page->Key(pos.Entry), pos.Key.data(), shape_.KeyLength) != 0) {
    return;
  }
  int entry = pos.Entry;
  for (int leaves = 0;;) {
    for (entry += forward ? 1 : -1; entry >= 1 && entry <= page->EntryCount();
         entry += forward ? 1 : -1) {
      if (!visit(page->Key(entry), page->Reference(entry))) return;
    }
    if (++leaves >= max_leaves) return;
    const int32_t neighbour = forward ? page->Next() : page->Previous();
    if (neighbour <= 0 || neighbour == page->PageNumber) return;
    page = TPageRef(store_, store_.FetchCachedPage(index_, neighbour));
    if (!page || !page->IsLeaf()) return;
    entry = forward ? 0 : page->EntryCount() + 1;
  }
}

void TBTree::CheckLeafLink(const TPage& from, const TPage& to, bool forward,
                           TIndexPosition* pos) const {
  // A link that does not lead on in key order (to the page itself, or back)
  // would make a walk endless; so would a run of more leaves in one
  // direction than the file has pages, which only a cycle through equal
  // keys can make.
  if (!to.IsLeaf() || to.EntryCount() == 0 || to.PageNumber == from.PageNumber) RaiseCorrupt();
  const TPage& lower = forward ? from : to;
  const TPage& upper = forward ? to : from;
  const int order = Compare(lower.Key(lower.EntryCount()), upper.Key(1), shape_.KeyLength);
  if (order > 0 || (order == 0 && shape_.Unique)) RaiseCorrupt();
  pos->LeafSteps = forward ? std::max(pos->LeafSteps, 0) + 1 : std::min(pos->LeafSteps, 0) - 1;
  if (std::abs(pos->LeafSteps) > store_.PageLimit(index_)) RaiseCorrupt();
}

bool TBTree::SeekOrdinal(int64_t ordinal, TIndexPosition* pos) {
  return Retrying([&] { return SeekOrdinalOnce(ordinal, pos); });
}

bool TBTree::SeekOrdinalOnce(int64_t ordinal, TIndexPosition* pos) {
  CheckShape();
  pos->Clear();
  if (ordinal < 0) return false;
  TPageRef page = FetchRoot();
  if (!page) return false;
  if (!HasCounts()) {
    // Without counts: walk the leaves from the left.
    page.Release();
    if (!EdgeOnce(false, pos)) return false;
    int64_t left = ordinal;
    int32_t limit = store_.PageLimit(index_);
    for (int32_t steps = 0;; ++steps) {
      TPageRef leaf = Fetch(pos->Page);
      if (!leaf->IsLeaf() || leaf->EntryCount() == 0 || steps > limit) RaiseCorrupt();
      if (left < leaf->EntryCount()) {
        FillPosition(*leaf, static_cast<int>(left) + 1, -1, pos);
        return true;
      }
      left -= leaf->EntryCount();
      if (leaf->Next() == 0) {
        pos->Clear();
        return false;
      }
      pos->Page = leaf->Next();
    }
  }
  uint64_t left = static_cast<uint64_t>(ordinal);
  int depth = 1;
  while (page->IsInner()) {
    int p = 1;
    while (p < page->EntryCount() && left >= page->KeyCount(p)) left -= page->KeyCount(p++);
    if (left >= page->KeyCount(p)) return false;
    path_.Position[depth] = p;
    TPageRef child = FetchChild(*page, p, depth + 1);
    page = std::move(child);
    ++depth;
  }
  if (left >= page->EntryCount()) return false;
  int p = static_cast<int>(left) + 1;
  path_.Position[depth] = p;
  FillPosition(*page, p, ordinal, pos);
  return true;
}

int64_t TBTree::KeyTotal() {
  return Retrying([&] { return KeyTotalOnce(); });
}

int64_t TBTree::KeyTotalOnce() {
  CheckShape();
  TPageRef root = FetchRoot();
  if (!root) return 0;
  if (root->IsLeaf()) return root->EntryCount();
  if (HasCounts()) return static_cast<int64_t>(root->LeafEntriesBelow());
  root.Release();
  TIndexPosition last;
  if (!EdgeOnce(true, &last)) return 0;
  return WalkOrdinal(last.Page, last.Entry) + 1;
}

int64_t TBTree::WalkOrdinal(int32_t leaf_number, int entry) {
  int64_t ordinal = entry - 1;
  int32_t limit = store_.PageLimit(index_);
  TPageRef leaf = Fetch(leaf_number);
  for (int32_t steps = 0; leaf->Previous() != 0; ++steps) {
    if (steps > limit) RaiseCorrupt();
    leaf = Fetch(leaf->Previous());
    if (!leaf->IsLeaf()) RaiseCorrupt();
    ordinal += leaf->EntryCount();
  }
  return ordinal;
}

int64_t TBTree::OrdinalOf(TIndexPosition* pos) {
  if (pos->Ordinal >= 0 || !pos->OnEntry()) return pos->Ordinal;
  pos->Ordinal = Retrying([&] { return WalkOrdinal(pos->Page, pos->Entry); });
  return pos->Ordinal;
}

int64_t TBTree::CountRange(const uint8_t* low, const uint8_t* high, size_t n) {
  TIndexPosition first;
  TIndexPosition last;
  if (!SeekNotBelow(low, n, &first) || !SeekNotAbove(high, n, &last)) return 0;
  int64_t from = OrdinalOf(&first);
  int64_t to = OrdinalOf(&last);
  return std::max<int64_t>(0, to - from + 1);
}

void TBTree::CollectReferences(const uint8_t* low, const uint8_t* high, size_t n,
                               const std::function<void(uint32_t)>& sink) {
  std::vector<uint32_t> found;
  Retrying([&] {
    found.clear();
    CollectOnce(low, high, n, [&](uint32_t r) { found.push_back(r); });
  });
  for (uint32_t r : found) sink(r);
}

void TBTree::CollectOnce(const uint8_t* low, const uint8_t* high, size_t n,
                         const std::function<void(uint32_t)>& sink) {
  TIndexPosition pos;
  if (!SeekNotBelowOnce(low, n, &pos)) return;
  int32_t limit = store_.PageLimit(index_);
  TPageRef leaf = Fetch(pos.Page);
  int e = pos.Entry;
  for (int32_t steps = 0;; ++steps) {
    for (; e <= leaf->EntryCount(); ++e) {
      if (Compare(leaf->Key(e), high, n) > 0) return;
      sink(leaf->Reference(e));
    }
    if (leaf->Next() == 0) return;
    if (steps > limit) RaiseCorrupt();
    leaf = Fetch(leaf->Next());
    if (!leaf->IsLeaf()) RaiseCorrupt();
    e = 1;
  }
}

}  // namespace vevura
