#pragma once
// VerifyIndexFile: a structural check of every B-tree, free list and data
// chain of an index file, for tools and tests that check a table's files.
//
// The check reads every page it can reach through the store (so it sees
// cached changes not yet written) and reports what it finds wrong instead of
// raising; a page that cannot be read becomes a problem too. It checks:
//   - page types: a root of type 0 or 3, pages below of type 1 or 2, leaves
//     all at one depth, no tree deeper than 64, no empty page, no inner root
//     with a single entry, no page over its capacity;
//   - key order within pages and from leaf to leaf (strict in a unique
//     index), by the comparison the caller supplies for each index;
//   - that each inner entry's key is its child's first key and (unless the
//     index has no counts) its count the number of leaf entries below it;
//   - the previous and next links of every level;
//   - the free list of every index: pages inside the file, no cycle, no
//     entries, and no page both free and in use;
//   - the data page chain of every index;
//   - that no page is used twice.
// Pages that belong to no tree, free list or chain are counted, not reported.
//
// The caller holds the table's read lock (or has the table to itself).

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/storage/index/index_header.h"
#include "engine/storage/index/key_comparer.h"
#include "engine/storage/index/page_store.h"

namespace vevura {

//! One thing found wrong.
struct TIndexProblem {
  uint8_t Index = 0;  //!< the index concerned
  int32_t Page = 0;   //!< the page concerned; 0 when about no single page
  std::string Text;   //!< what is wrong
};

//! What the check found.
struct TIndexVerifyReport {
  std::vector<TIndexProblem> Problems;
  std::array<int64_t, kIndexCount> Keys{};  //!< leaf entries found per index
  int64_t TreePages = 0;                    //!< pages of all trees
  int64_t FreePages = 0;                    //!< pages on free lists
  int64_t DataPages = 0;                    //!< pages of data chains
  int64_t UnreachedPages = 0;               //!< pages of the index file in none of them

  bool Ok() const { return Problems.empty(); }
  //! Every problem, one line each: "index i, page p: text".
  std::string Describe() const;
};

//! The comparison of an index, or nullptr to leave its key order unchecked.
using TComparerOf = std::function<const TKeyComparer*(uint8_t index)>;

//! Checks the indexes listed (all 33 when the list is empty) of the store.
//! Indexes for which temporary(index) is true keep their pages in a space of
//! their own and are left out of the count of unreached pages.
TIndexVerifyReport VerifyIndexFile(TPageStore& store, const TComparerOf& comparer_of,
                                   const std::function<bool(uint8_t index)>& temporary = {},
                                   const std::vector<uint8_t>& indexes = {});

}  // namespace vevura
