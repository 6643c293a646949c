#pragma once
// The search state of B-tree operations, held by the cursor that runs them.
//
// TBTreePath records one descent: the page and the entry taken at each depth
// (1 at the root). Pages carry no parent links, so first-key propagation,
// splits and merges climb the tree through this path. TIndexPosition is one
// leaf entry of an index as a cursor stands on it, with its place in index
// order when known.

#include <array>
#include <cstdint>
#include <vector>

namespace vevura {

//! Deepest tree the engine descends; a deeper one is damaged.
inline constexpr int kMaxTreeDepth = 64;

struct TBTreePath {
  int Depth = 0;                                  //!< depth of the last page reached; 0: none
  std::array<int32_t, kMaxTreeDepth + 1> Page{};  //!< page at depths 1..Depth
  std::array<int, kMaxTreeDepth + 1> Position{};  //!< entry taken at depths 1..Depth

  //! The page one level above depth d; 0 at the root.
  int32_t Parent(int d) const { return d > 1 ? Page[d - 1] : 0; }
  void Clear() { Depth = 0; }
};

struct TIndexPosition {
  int32_t Page = 0;          //!< leaf page of the entry; 0 when on no entry
  int Entry = 0;             //!< the entry's number on that page, from 1
  int64_t Ordinal = -1;      //!< 0-based place in index order; -1 when not known
  uint32_t Reference = 0;    //!< record number of the entry
  std::vector<uint8_t> Key;  //!< the entry's key, key-length bytes
  //! Leaf links followed in a row in one direction (forward positive) since
  //! the position was sought.
  int32_t LeafSteps = 0;

  bool OnEntry() const { return Page != 0; }
  void Clear() { *this = TIndexPosition{}; }
};

}  // namespace vevura
