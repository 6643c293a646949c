// Allocating and freeing index pages, and the page numbers kept in the index
// descriptors. Every index has a free list of its own, linked through the
// next links of its freed pages; freed pages are reused only by that index.

#include "engine/base/engine_error.h"
#include "engine/storage/index/index_file.h"
#include "engine/storage/index/index_shape.h"

namespace vevura {

TPage* TIndexFile::AllocatePage(uint8_t index) {
  TIndexDescriptor& d = Descriptor(index);
  const bool from_free_list = d.FreeListHead != 0;
  const int32_t n = from_free_list ? d.FreeListHead : NextPageOf(IsTemporary(index));
  TPage* page = FetchPage(index, n, /*allocating=*/true);
  if (page == nullptr) return nullptr;
  if (from_free_list) {
    // A cached page on the free list was freed by this engine; anything
    // else in use means the list is damaged.
    if (!page->Freed && page->EntryCount() != 0) {
      ReleasePage(page);
      RaiseCorrupt();
    }
    d.FreeListHead = page->Next();
  }
  page->ClearContents();
  header_.Modified = 1;
  return page;
}

void TIndexFile::FreePage(TPage* page) {
  TIndexDescriptor& d = Descriptor(page->Shape().IndexNumber);
  page->SetNext(d.FreeListHead);
  page->Freed = true;
  page->Dirty = true;
  d.FreeListHead = page->PageNumber;
  header_.Modified = 1;
}

int32_t TIndexFile::RootPage(uint8_t index) const {
  return Descriptor(index).RootPage;
}

void TIndexFile::SetRootPage(uint8_t index, int32_t n) {
  Descriptor(index).RootPage = n;
  header_.Modified = 1;
}

int32_t TIndexFile::FreeListHead(uint8_t index) const {
  return Descriptor(index).FreeListHead;
}

int32_t TIndexFile::FirstDataPage(uint8_t index) const {
  return Descriptor(index).FirstDataPage;
}

void TIndexFile::SetFirstDataPage(uint8_t index, int32_t n) {
  Descriptor(index).FirstDataPage = n;
  header_.Modified = 1;
}

int32_t TIndexFile::PageLimit(uint8_t index) const {
  return IsTemporary(index) ? memory_next_page_ : header_.NextPage;
}

TIndexShape TIndexFile::Shape(uint8_t index) const {
  return ShapeOf(index, Descriptor(index));
}

}  // namespace vevura
