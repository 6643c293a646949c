#pragma once
// TBTree: the operations on one index's B-tree, run for one caller.
//
// A TBTree binds a page store, an index number, the comparison of that index
// and the caller's descent path for the length of one or more operations; it
// keeps no state of its own between calls. Inner pages hold, per child, the
// child's first key, its page number and the number of leaf entries below it
// (unless the index has no counts); leaves hold keys with record numbers.
// Pages of one level are doubly linked.
//
// Invariants kept by every change (and checked by VerifyIndexFile):
//   - entries are in key order; a parent entry's key is its child's first key;
//   - a parent entry's count is the number of leaf entries under its child;
//   - no page other than the root is empty, and an inner root has at least
//     two entries;
//   - underflowing pages are rebalanced only with a neighbour under the same
//     parent.
//
// Ordinals (0-based places in index order) come from the counts along the
// path of a descent; an index without counts finds them by walking its leaves.
//
// Every operation releases the pages it fetched, also on failure; changes made
// to cached pages before a failure stay (undoing them is the caller's work).
// Damaged pages raise VEVURA_INDEXCORRUPT; a store that reports a restart
// makes the operation start again from the root.
//
// Thread-safety: one thread per store (the table's owner thread).

#include <cstddef>
#include <cstdint>
#include <functional>

#include "engine/storage/index/btree_path.h"
#include "engine/storage/index/key_comparer.h"
#include "engine/storage/index/page_store.h"

namespace vevura {

class TBTree {
 public:
  TBTree(TPageStore& store, uint8_t index, const TKeyComparer& comparer, TBTreePath& path);

  // ----- Changes -----
  //! True when an entry equal to key (over the whole key length) exists.
  bool LocateKey(const uint8_t* key);
  //! Adds an entry; an equal key already present is kept before the new one.
  void InsertKey(const uint8_t* key, uint32_t reference);
  //! Removes one entry equal to key; VEVURA_INDEXCORRUPT when there is none
  //! (nothing is changed then).
  void DeleteKey(const uint8_t* key);

  // ----- Positioning -----
  //! The first entry of the index; false when the index is empty.
  bool First(TIndexPosition* pos);
  //! The last entry of the index; false when the index is empty.
  bool Last(TIndexPosition* pos);
  //! Steps to the following entry; false (pos unchanged) at the end. When the
  //! page of pos changed since pos was taken, pos is found again by its key.
  //! A leaf link that does not lead on in key order is VEVURA_INDEXCORRUPT.
  bool Next(TIndexPosition* pos);
  //! Steps to the preceding entry; false (pos unchanged) at the beginning.
  bool Prior(TIndexPosition* pos);
  //! Steps (forward: as Next, else as Prior) past every entry for which
  //! skip(key, record number) holds, to the first for which it does not, in
  //! one walk of the leaves; false (pos unchanged) when the index ends first.
  bool Skip(bool forward, TIndexPosition* pos,
            const std::function<bool(const uint8_t* key, uint32_t reference)>& skip);
  //! The first entry whose first n bytes are not below key; false when every
  //! entry is below it.
  bool SeekNotBelow(const uint8_t* key, size_t n, TIndexPosition* pos);
  //! The last entry whose first n bytes are not above key; false when every
  //! entry is above it.
  bool SeekNotAbove(const uint8_t* key, size_t n, TIndexPosition* pos);
  //! The entry at a 0-based ordinal; false when ordinal is outside the index.
  bool SeekOrdinal(int64_t ordinal, TIndexPosition* pos);

  //! Calls visit with the key and record number of each entry after pos
  //! (forward) or before it, in that order, on pos's leaf and on the leaves
  //! beyond it that the store holds in memory, at most max_leaves of them,
  //! until visit returns false. Reads nothing and raises nothing: a hint for
  //! read-ahead, empty when pos's leaf is not in memory or no longer holds
  //! pos's entry at its place.
  void EntriesAhead(const TIndexPosition& pos, bool forward, int max_leaves,
                    const std::function<bool(const uint8_t* key, uint32_t reference)>& visit);

  // ----- Counting -----
  //! Entries in the index.
  int64_t KeyTotal();
  //! The ordinal of pos, filled in when it was not known.
  int64_t OrdinalOf(TIndexPosition* pos);
  //! Entries whose first n bytes lie between low and high (both included).
  int64_t CountRange(const uint8_t* low, const uint8_t* high, size_t n);
  //! Calls sink with the record number of every entry whose first n bytes lie
  //! between low and high (both included), in index order.
  void CollectReferences(const uint8_t* low, const uint8_t* high, size_t n,
                         const std::function<void(uint32_t)>& sink);

 private:
  //! How a page search picks its entry.
  enum TSearchMode { smInsert, smDelete, smNotBelow, smNotAbove };

  //! Thrown inside an operation when the store reports a restart.
  struct TRestart {};
  //! Runs op until it completes without a restart.
  template <typename Op>
  auto Retrying(Op op) -> decltype(op()) {
    for (;;) {
      try {
        return op();
      } catch (const TRestart&) {
        path_.Clear();
      }
    }
  }

  // Shared steps (btree.cpp).
  TPageRef Fetch(int32_t n);
  TPageRef Allocate();
  TPageRef FetchRoot();
  TPageRef FetchChild(const TPage& parent, int entry, int depth);
  void CheckShape() const;
  [[noreturn]] void RaiseCorrupt() const;
  int Compare(const uint8_t* a, const uint8_t* b, size_t n) const;
  int LowerBound(const TPage& page, const uint8_t* key, size_t n) const;
  int UpperBound(const TPage& page, const uint8_t* key, size_t n) const;
  int PositionIn(const TPage& page, const uint8_t* key, size_t n, TSearchMode mode) const;
  uint64_t CountBefore(const TPage& page, int entry) const;
  bool HasCounts() const { return !shape_.NoCounts; }
  TPageRef PathPage(int depth);
  void PropagateFirstKey(int depth, const TPage& page);
  void FillPosition(const TPage& leaf, int entry, int64_t ordinal, TIndexPosition* pos) const;
  //! VEVURA_INDEXCORRUPT unless the step from leaf from to its neighbour to
  //! (forward: the next leaf) leads on in key order; counts the step in pos.
  void CheckLeafLink(const TPage& from, const TPage& to, bool forward, TIndexPosition* pos) const;

  // Searching (btree_search.cpp).
  //! The leaf for key, the path filled in; ordinal (nullptr when not
  //! wanted: summing the counts costs a walk of each inner page) gets the
  //! keys before the leaf, -1 without counts.
  TPageRef Descend(const uint8_t* key, size_t n, TSearchMode mode, int64_t* ordinal);
  bool SeekNotBelowOnce(const uint8_t* key, size_t n, TIndexPosition* pos);
  bool SeekNotAboveOnce(const uint8_t* key, size_t n, TIndexPosition* pos);
  bool EdgeOnce(bool last, TIndexPosition* pos);
  bool StepOnce(bool forward, TIndexPosition* pos);
  bool SkipOnce(bool forward, TIndexPosition* pos,
                const std::function<bool(const uint8_t*, uint32_t)>& skip);
  bool SeekOrdinalOnce(int64_t ordinal, TIndexPosition* pos);
  int64_t KeyTotalOnce();
  int64_t WalkOrdinal(int32_t leaf, int entry);
  void CollectOnce(const uint8_t* low, const uint8_t* high, size_t n,
                   const std::function<void(uint32_t)>& sink);

  // Inserting (btree_insert.cpp).
  void InsertOnce(const uint8_t* key, uint32_t reference);
  //! Takes one from the count of each inner entry the descent path took at
  //! depths 1 to depth: the counts an insert raised before it failed.
  void LowerCountsOnPath(int depth) noexcept;
  void InsertIntoPage(int depth, TPageRef page, int position, const uint8_t* key,
                      uint32_t reference, uint32_t key_count);
  void Split(int depth, TPageRef page);
  void BalanceCompressedSplit(TPage& old_page, TPage& new_page);
  void LinkAfter(TPage& old_page, TPage& new_page);
  void SplitRoot(TPageRef root);

  // Deleting (btree_delete.cpp).
  void DeleteOnce(const uint8_t* key);
  void DecrementCountsOnPath();
  void RemoveFromPage(int depth, TPageRef page, int position);
  void HandleUnderflow(int depth, TPageRef page);
  void RemoveEmptyPage(int depth, TPageRef page);
  void CollapseRoot(TPageRef root);
  void Unlink(TPage& page);
  void JoinLeft(int depth, TPageRef page, TPageRef parent, TPageRef left, int q);
  void JoinRight(int depth, TPageRef page, TPageRef parent, TPageRef right, int q);

  TPageStore& store_;
  uint8_t index_;
  const TKeyComparer& comparer_;
  TBTreePath& path_;
  TIndexShape shape_;
};

}  // namespace vevura
