#pragma once
// TPageStore: what the B-tree needs from the file that keeps its pages.
//
// The index file (TIndexFile) is the store of a table; tests may put a
// simpler store underneath the B-tree. A store hands out pinned page objects
// that it owns; every fetch is matched by one release (TPageRef does this).
//
// A fetch may report a restart instead of a page: reading the page from disk
// showed that another program changed the table, and every cached page was
// dropped. The B-tree then starts its operation again from the root.

#include <cstdint>
#include <string>

#include "engine/storage/common/pinned.h"
#include "engine/storage/index/btree_page.h"
#include "engine/storage/index/index_shape.h"

namespace vevura {

class TPageStore {
 public:
  virtual ~TPageStore() = default;

  //! Page n of index, pinned; nullptr reports a restart. An allocating fetch
  //! (of a page about to be reused) decodes only the page header. Raises
  //! VEVURA_INDEXCORRUPT for a page number that does not exist.
  virtual TPage* FetchPage(uint8_t index, int32_t n, bool allocating) = 0;
  //! Page n of index, pinned, when the store has it in memory; nullptr
  //! otherwise (nothing is read). Raises nothing.
  virtual TPage* FetchCachedPage(uint8_t index, int32_t n) = 0;
  //! Lowers the pin count of a fetched page.
  virtual void ReleasePage(TPage* page) = 0;
  //! A page for index taken from its free list or from the end of the file,
  //! pinned and cleared (type 0, no entries, links 0); nullptr reports a
  //! restart. Raises VEVURA_TABLEFULL beyond the file's limits.
  virtual TPage* AllocatePage(uint8_t index) = 0;
  //! Puts the page on the free list of its index. The caller still releases it.
  virtual void FreePage(TPage* page) = 0;

  virtual int32_t RootPage(uint8_t index) const = 0;
  virtual void SetRootPage(uint8_t index, int32_t n) = 0;
  virtual int32_t FreeListHead(uint8_t index) const = 0;
  virtual int32_t FirstDataPage(uint8_t index) const = 0;
  virtual void SetFirstDataPage(uint8_t index, int32_t n) = 0;
  //! One past the last page number that exists in the file of index.
  virtual int32_t PageLimit(uint8_t index) const = 0;
  //! The shape of index as its descriptor gives it.
  virtual TIndexShape Shape(uint8_t index) const = 0;
  //! The table, named in errors.
  virtual const std::string& TableName() const = 0;
};

//! A pinned page, released when the reference goes.
using TPageRef = TPinned<TPage, TPageStore, &TPageStore::ReleasePage>;

}  // namespace vevura
