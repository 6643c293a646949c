// The index file's page caches: fetching, reading, reusing, writing back,
// dropping and trimming pages.

#include <algorithm>
#include <array>
#include <cstring>
#include <tuple>
#include <utility>

#include "engine/base/engine_error.h"
#include "engine/storage/common/byte_order.h"
#include "engine/storage/common/scramble.h"
#include "engine/storage/index/index_file.h"

namespace vevura {

namespace {

//! Runs up to this many bytes are encoded into a buffer the file keeps.
constexpr size_t kKeptRunBytes = 64 * 1024;
//! Pages that are not journaled are written in runs of at most this many
//! (1 MiB), each encoded into a second buffer the file keeps, so that a large
//! write-back neither allocates per run nor encodes more than the processor's
//! caches hold before the write.
constexpr std::ptrdiff_t kLongRunPages = 256;
constexpr size_t kLongRunBytes = size_t{kLongRunPages} * kIndexPageSize;

int64_t OffsetOfPage(int32_t n) {
  return static_cast<int64_t>(n) * kIndexPageSize;
}

//! The bytes a run of pages overwrites, from the images its pages keep.
class TRunFileImages final : public TKnownBytes {
 public:
  TRunFileImages(std::vector<TPage*>::const_iterator first,
                 std::vector<TPage*>::const_iterator last)
      : first_(first), last_(last) {}

  bool CopyKnown(int64_t position, int64_t length, uint8_t* out) const override {
    const int64_t run_start = OffsetOfPage((*first_)->PageNumber);
    const int64_t run_end = run_start + (last_ - first_) * int64_t{kIndexPageSize};
    if (position < run_start || length < 0 || position + length > run_end) return false;
    int64_t at = position;
    while (at < position + length) {
      const int64_t index = (at - run_start) / kIndexPageSize;
      const uint8_t* image = first_[index]->FileImage();
      if (image == nullptr) return false;
      const int64_t within = (at - run_start) % kIndexPageSize;
      const int64_t count = std::min<int64_t>(kIndexPageSize - within, position + length - at);
      std::memcpy(out + (at - position), image + within, static_cast<size_t>(count));
      at += count;
    }
    return true;
  }

 private:
  std::vector<TPage*>::const_iterator first_;
  std::vector<TPage*>::const_iterator last_;
};

//! The first and one past the last byte where two images of length bytes
//! differ; first == last when they are equal.
std::pair<size_t, size_t> ChangedBytes(const uint8_t* a, const uint8_t* b, size_t length) {
  constexpr size_t kBlock = 64;
  size_t first = 0;
  while (first + kBlock <= length && std::memcmp(a + first, b + first, kBlock) == 0)
    first += kBlock;
  while (first < length && a[first] == b[first]) ++first;
  if (first == length) return {length, length};
  size_t last = length;
  while (last >= first + kBlock && std::memcmp(a + last - kBlock, b + last - kBlock, kBlock) == 0) {
    last -= kBlock;
  }
  while (a[last - 1] == b[last - 1]) --last;
  return {first, last};
}

}  // namespace

bool TIndexFile::KeepsFileImages(bool temporary) const {
  // Only a shared table journals its writes; the memory file never does.
  return !temporary && !Exclusive() && !ReadOnly();
}

void TIndexFile::ForgetFileImages() {
  for (const auto& cache : caches_) {
    for (const auto& page : cache->Pages()) page->ForgetFileImage();
  }
}

bool TIndexFile::RollBackJournal() {
  const bool restored = TFileHandler::RollBackJournal();
  // The pages written since the journal began hold their old bytes again.
  ForgetFileImages();
  return restored;
}

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
  if (page->Idle) CacheOf(page).Busy(page);
  ++page->PinCount;
  return page;
}

TPageCache& TIndexFile::CacheOf(const TPage* page) {
  const uint8_t index = page->Shape().IndexNumber;
  if (index >= kIndexCount) RaiseCorrupt();
  return *caches_[index];
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
  const bool keep_image = KeepsFileImages(temporary);
  std::array<uint8_t, kIndexPageSize> in_file;
  if (keep_image && host_.Encrypted()) in_file = image;
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
  if (keep_image) page->KeepFileImage(host_.Encrypted() ? in_file.data() : image.data());
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
  auto it = std::find_if(orphans_.begin(), orphans_.end(),
                         [page](const std::unique_ptr<TPage>& p) { return p.get() == page; });
  if (it == orphans_.end()) {
    // Pages change only while pinned, so a page that became dirty is seen
    // here, when its user lets it go.
    if (page->Dirty) {
      ListDirty(page);
    } else if (page->PinCount == 0) {
      CacheOf(page).Idle(page);
    }
    return;
  }
  if (page->PinCount > 0) return;
  std::unique_ptr<TPage> owned = std::move(*it);
  orphans_.erase(it);
  stack_.Give(std::move(owned));
}

void TIndexFile::ListDirty(TPage* page) {
  if (page->Listed) return;
  page->Listed = true;
  dirty_pages_.push_back(page);
}

bool TIndexFile::CacheHasKind(int index, bool temporary) const {
  if (index > kMaxSecondaryIndexes) return !temporary;
  return IsTemporary(static_cast<uint8_t>(index)) == temporary;
}

bool TIndexFile::WriteDirtyPages(bool temporary) {
  if (header_.SecondaryCount > kIndexCount - 1) return false;
  // The pages to write leave the list; pinned ones and those of the other
  // kind stay on it. The room of their list is borrowed from the last one.
  std::vector<TPage*> pages;
  pages.swap(writing_pages_);
  pages.clear();
  size_t kept = 0;
  for (TPage* page : dirty_pages_) {
    if (!page->Dirty) {
      page->Listed = false;
    } else if (page->PinCount == 0 && CacheHasKind(page->Shape().IndexNumber, temporary)) {
      page->Listed = false;
      pages.push_back(page);
    } else {
      dirty_pages_[kept++] = page;
    }
  }
  dirty_pages_.resize(kept);
  const bool any = !pages.empty();
  if (any) {
    try {
      WriteListedPages(temporary, pages);
    } catch (...) {
      // What was not written stays listed, for the next write-back.
      for (TPage* page : pages) {
        if (page->Dirty) ListDirty(page);
      }
      throw;
    }
    host_.SetHeaderWritten();
  }
  writing_pages_.swap(pages);
  return any;
}

void TIndexFile::WriteListedPages(bool temporary, std::vector<TPage*>& pages) {
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
  const bool journaled = KeepsFileImages(temporary);
  auto run = pages.cbegin();
  while (run != pages.cend()) {
    auto end = run + 1;
    while (end != pages.cend() && (journaled || end - run < kLongRunPages) &&
           (*end)->PageNumber == (*(end - 1))->PageNumber + 1 && rank(*end) == rank(*run)) {
      ++end;
    }
    WriteRun(temporary, run, end);
    run = end;
  }
}

void TIndexFile::WriteRun(bool temporary, std::vector<TPage*>::const_iterator first,
                          std::vector<TPage*>::const_iterator last) {
  const size_t count = static_cast<size_t>(last - first);
  // Every image is encoded whole, so a buffer kept from an earlier run needs
  // no clearing. Short runs (a shared table's posts) and the pieces of a
  // write-back that is not journaled keep theirs.
  const size_t bytes = count * kIndexPageSize;
  std::vector<uint8_t> long_run;
  std::vector<uint8_t>& room = bytes <= kKeptRunBytes   ? run_buffer_
                               : bytes <= kLongRunBytes ? long_run_buffer_
                                                        : long_run;
  if (room.size() < bytes) room.resize(bytes);
  uint8_t* const buffer = room.data();
  const bool keep_images = KeepsFileImages(temporary);
  // With the file's images of the pages at hand, only the span from the first
  // to the last changed byte is written: a post changes a key count here and
  // an entry there, and the bytes around them are already in the file.
  size_t from = bytes;
  size_t to = 0;
  try {
    uint8_t* image = buffer;
    for (auto it = first; it != last; ++it, image += kIndexPageSize) {
      TPage& page = **it;
      const size_t at = static_cast<size_t>(image - buffer);
      const uint8_t* in_file = keep_images ? page.FileImage() : nullptr;
      size_t lo = 0;
      size_t hi = kIndexPageSize;
      // A page the file holds in clear is patched: its image, with only the
      // entries changed since re-encoded.
      bool patched = false;
      if (in_file != nullptr && !host_.Encrypted()) {
        std::memcpy(image, in_file, kIndexPageSize);
        patched = page.EncodeChanges(image, &lo, &hi);
      }
      if (!patched) {
        page.Encode(image);
        if (host_.Encrypted()) ScrambleRun(image, kIndexPageSize, kTableDataSeeds);
        if (in_file != nullptr) std::tie(lo, hi) = ChangedBytes(image, in_file, kIndexPageSize);
      }
      if (lo == hi) continue;
      from = std::min(from, at + lo);
      to = std::max(to, at + hi);
    }
    if (from < to) {
      const TRunFileImages before(first, last);
      FileOf(temporary).WriteAt(OffsetOfPage((*first)->PageNumber) + static_cast<int64_t>(from),
                                buffer + from, static_cast<int64_t>(to - from), &before);
    }
  } catch (...) {
    // Nothing of the run reached the file: its pages stay dirty. What the
    // file holds for them is not known any more.
    for (auto it = first; it != last; ++it) {
      (*it)->Dirty = true;
      (*it)->ForgetFileImage();
    }
    throw;
  }
  // The pages written that nobody holds may be reused from now on.
  for (auto it = first; it != last; ++it) CacheOf(*it).Idle(*it);
  if (keep_images && from < to) {
    size_t at = 0;
    for (auto it = first; it != last; ++it, at += kIndexPageSize) {
      const size_t lo = std::max(from, at);
      const size_t hi = std::min(to, at + kIndexPageSize);
      if (lo < hi) (*it)->KeepFileImage(buffer + at, lo - at, hi - at);
    }
  }
  stats_.PageWrites += count;
  if (from < to) ++stats_.WriteCalls;
}

void TIndexFile::DropCache(uint8_t index) {
  const auto& pages = caches_[index]->Pages();
  if (std::any_of(pages.begin(), pages.end(), [](const auto& page) { return page->Listed; })) {
    for (const auto& page : pages) page->Listed = false;
    std::erase_if(dirty_pages_, [](const TPage* page) { return !page->Listed; });
  }
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
