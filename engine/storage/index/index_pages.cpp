// The index file's page caches: fetching, reading, reusing, writing back,
// dropping and trimming pages.

#include <algorithm>
#include <array>

#include "engine/base/engine_error.h"
#include "engine/storage/common/byte_order.h"
#include "engine/storage/common/scramble.h"
#include "engine/storage/index/index_file.h"

namespace vevura {

namespace {

int64_t OffsetOfPage(int32_t n) {
  return static_cast<int64_t>(n) * kIndexPageSize;
}

}  // namespace

TFileHandler& TIndexFile::FileOf(bool temporary) {
  if (!temporary) return *this;
  EnsureMemoryFile();
  return *memory_file_;
}

int32_t& TIndexFile::NextPageOf(bool temporary) {
  return temporary ? memory_next_page_ : header_.NextPage;
}

TPage* TIndexFile::Pin(TPage* page) {
  if (page->PinCount == UINT16_MAX) RaiseCorrupt();
  ++page->PinCount;
  return page;
}

TPage* TIndexFile::FetchPage(uint8_t index, int32_t n, bool allocating) {
  if (index >= kIndexCount || n <= 0) RaiseCorrupt();
  const int32_t next = NextPageOf(IsTemporary(index));
  if (n == next && allocating) return AppendPage(index, n);
  // Only an allocation may name the page after the last; any other page
  // number beyond the file comes from a damaged link.
  if (n >= next) RaiseCorrupt();
  if (TPage* page = caches_[index]->Find(n)) {
    ++stats_.CacheHits;
    return Pin(page);
  }
  return ReadPage(index, n, allocating);
}

TPage* TIndexFile::FetchCachedPage(uint8_t index, int32_t n) {
  if (index >= kIndexCount || n <= 0) return nullptr;
  TPage* page = caches_[index]->Find(n);
  return page == nullptr ? nullptr : Pin(page);
}

TPage* TIndexFile::AppendPage(uint8_t index, int32_t n) {
  if (n > kMaxIndexPageNumber || OffsetOfPage(n) + kIndexPageSize > kMaxIndexFileSize) {
    RaiseTableError(VEVURA_TABLEFULL, table_name_);
  }
  std::unique_ptr<TPage> page = ObtainPage(index);
  page->Reset(Shape(index), n);
  page->Dirty = true;
  TPage* raw = page.get();
  caches_[index]->Insert(std::move(page));
  ++NextPageOf(IsTemporary(index));
  header_.Modified = 1;
  return Pin(raw);
}

TPage* TIndexFile::ReadPage(uint8_t index, int32_t n, bool allocating) {
  // Only pages of the shared file can have been changed by another program;
  // the memory file of temporary indexes is this table's alone.
  const bool temporary = IsTemporary(index);
  if (!temporary && !host_.BeforePageRead()) return nullptr;
  std::array<uint8_t, kIndexPageSize> image{};
  int64_t got = FileOf(IsTemporary(index))
                    .ReadAt(OffsetOfPage(n), image.data(), kIndexPageSize,
                            /*allow_short=*/true);
  if (got != kIndexPageSize) RaiseCorrupt();
  ++stats_.PageReads;
  if (host_.Encrypted()) UnscrambleRun(image.data(), image.size(), kTableDataSeeds);
  // A page about to be reused must be a freed one, which has no entries.
  if (allocating && GetUInt16(image.data() + page_layout::kEntryCount) != 0) RaiseCorrupt();
  std::unique_ptr<TPage> page = ObtainPage(index);
  page->Reset(Shape(index), n);
  try {
    page->Decode(image.data(), allocating);
  } catch (...) {
    stack_.Give(std::move(page));
    throw;
  }
  TPage* raw = page.get();
  caches_[index]->Insert(std::move(page));
  return Pin(raw);
}

std::unique_ptr<TPage> TIndexFile::ObtainPage(uint8_t index) {
  TPageCache& cache = *caches_[index];
  if (cache.Size() < cache.Capacity()) return stack_.Take();
  const bool temporary = IsTemporary(index);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (TPage* victim = cache.Evictable()) {
      std::unique_ptr<TPage> owned = cache.Remove(victim);
      if (owned == nullptr) RaiseCorrupt();
      return owned;
    }
    if (attempt > 0 || host_.DefersPageWrites()) break;
    WriteDirtyPages(temporary);
  }
  cache.GrowCapacity();
  return stack_.Take();
}

void TIndexFile::ReleasePage(TPage* page) {
  if (page->PinCount > 0) --page->PinCount;
  if (page->PinCount > 0 || orphans_.empty()) return;
  auto it = std::find_if(orphans_.begin(), orphans_.end(),
                         [page](const std::unique_ptr<TPage>& p) { return p.get() == page; });
  if (it == orphans_.end()) return;
  std::unique_ptr<TPage> owned = std::move(*it);
  orphans_.erase(it);
  stack_.Give(std::move(owned));
}

bool TIndexFile::CacheHasKind(int index, bool temporary) const {
  if (index > kMaxSecondaryIndexes) return !temporary;
  return IsTemporary(static_cast<uint8_t>(index)) == temporary;
}

bool TIndexFile::WriteDirtyPages(bool temporary) {
  if (header_.SecondaryCount > kIndexCount - 1) return false;
  std::vector<TPage*> pages;
  for (int i = 0; i < kIndexCount; ++i) {
    if (!CacheHasKind(i, temporary)) continue;
    for (const auto& page : caches_[i]->Pages()) {
      if (page->Dirty && page->PinCount == 0) pages.push_back(page.get());
    }
  }
  if (pages.empty()) return false;
  const int32_t first_new = temporary ? 0 : disk_next_page_;
  auto rank = [first_new](const TPage* page) {
    if (first_new == 0 || page->PageNumber >= first_new) return 0;
    if (page->Freed) return 4;
    if (page->IsRoot()) return 1;
    if (page->IsInner()) return 2;
    return 3;
  };
  std::sort(pages.begin(), pages.end(), [&](const TPage* a, const TPage* b) {
    const int ra = rank(a);
    const int rb = rank(b);
    return ra != rb ? ra < rb : a->PageNumber < b->PageNumber;
  });
  auto run = pages.cbegin();
  while (run != pages.cend()) {
    auto end = run + 1;
    while (end != pages.cend() && (*end)->PageNumber == (*(end - 1))->PageNumber + 1 &&
           rank(*end) == rank(*run)) {
      ++end;
    }
    WriteRun(temporary, run, end);
    run = end;
  }
  host_.SetHeaderWritten();
  return true;
}

void TIndexFile::WriteRun(bool temporary, std::vector<TPage*>::const_iterator first,
                          std::vector<TPage*>::const_iterator last) {
  const size_t count = static_cast<size_t>(last - first);
  std::vector<uint8_t> buffer(count * kIndexPageSize);
  try {
    uint8_t* image = buffer.data();
    for (auto it = first; it != last; ++it, image += kIndexPageSize) {
      (*it)->Encode(image);
      if (host_.Encrypted()) ScrambleRun(image, kIndexPageSize, kTableDataSeeds);
    }
    FileOf(temporary).WriteAt(OffsetOfPage((*first)->PageNumber), buffer.data(),
                              static_cast<int64_t>(buffer.size()));
  } catch (...) {
    // Nothing of the run reached the file: its pages stay dirty.
    for (auto it = first; it != last; ++it) (*it)->Dirty = true;
    throw;
  }
  stats_.PageWrites += count;
  ++stats_.WriteCalls;
}

void TIndexFile::DropCache(uint8_t index) {
  caches_[index]->Clear(
      [this](std::unique_ptr<TPage> page) { stack_.Give(std::move(page)); },
      [this](std::unique_ptr<TPage> page) { orphans_.push_back(std::move(page)); });
}

void TIndexFile::DropPageBuffers(bool temporary) {
  for (int i = 0; i < kIndexCount; ++i) {
    if (CacheHasKind(i, temporary)) DropCache(static_cast<uint8_t>(i));
  }
}

bool TIndexFile::TrimCache(uint8_t index) {
  TPageCache& cache = *caches_[index];
  bool evicted = false;
  while (cache.Size() > cache.SoftCapacity()) {
    TPage* victim = cache.Evictable();
    if (victim == nullptr) {
      WriteDirtyPages(CacheHasKind(index, true));
      victim = cache.Evictable();
      if (victim == nullptr) break;
    }
    std::unique_ptr<TPage> owned = cache.Remove(victim);
    if (owned == nullptr) RaiseCorrupt();
    stack_.Give(std::move(owned));
    evicted = true;
  }
  cache.SetCapacity(std::max(cache.Size(), cache.SoftCapacity()));
  return evicted;
}

void TIndexFile::TrimPageBuffers() {
  for (int i = 0; i < kIndexCount; ++i) TrimCache(static_cast<uint8_t>(i));
}

}  // namespace vevura
