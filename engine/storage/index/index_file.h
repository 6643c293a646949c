#pragma once
// TIndexFile: the index file of one open table, its header image, its page
// caches and its free-page lists.
//
// The file is a 4096-byte header (index_header.h) followed by 4096-byte
// pages; every index is a B-tree of its own (btree.h) and the pages of all
// indexes are interleaved in the file. The pages of temporary indexes live in
// an in-memory file of their own, with its own page numbers, created when the
// first temporary index is defined and discarded when the table closes.
//
// Ownership: the table owns its TIndexFile; the index file owns the header
// image, one page cache per index (page_cache.h), the spare page objects
// (page_stack.h) and the memory file of temporary indexes. Pages handed out by
// FetchPage and AllocatePage stay owned by the caches; callers hold them
// pinned (TPageRef) for one operation. A page dropped from its cache while
// pinned stays alive until its last release.
//
// Caching: each index caches up to the session's index buffer size / 8192
// pages, then reuses its least recently used page that is neither dirty nor
// pinned, writing the dirty pages first when none is clean (unless the table
// holds its transaction lock; the cache then grows by 4). Dirty pages are
// written sorted by page number, each run of consecutive pages with one
// write (of at most 1 MiB when the pages are not journaled). Headers and
// pages are scrambled on disk when the table is encrypted. On a shared table
// each cached page also keeps its bytes in the file, so that the journal of
// a change takes its before-images from memory. Pages change only while
// pinned: releasing a dirty page puts it on the list of dirty pages that the
// next write-back works from.
//
// Errors: VEVURA_INDEXCORRUPT for damaged pages or page numbers,
// VEVURA_TABLEFULL beyond the file's limits, VEVURA_OLDVERSION and
// VEVURA_HEADERCORRUPT for a header that cannot be used, and the file layer's
// errors for failed reads and writes.
//
// Thread-safety: used by the thread of the session that owns the table.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/fields/field_descriptor.h"
#include "engine/storage/file/file_handler.h"
#include "engine/storage/index/index_file_host.h"
#include "engine/storage/index/index_header.h"
#include "engine/storage/index/page_cache.h"
#include "engine/storage/index/page_stack.h"
#include "engine/storage/index/page_store.h"

namespace vevura {

//! Highest page number of an index file.
inline constexpr int64_t kMaxIndexPageNumber = 2000000000;
//! Largest index file, in bytes.
inline constexpr int64_t kMaxIndexFileSize = 128000000000;
//! Byte range whose lock keeps every reader and other writer out.
inline constexpr int64_t kIndexWriteRegionOffset = 0xFFFEFFFF;
inline constexpr int64_t kIndexWriteRegionLength = 65536;
//! Offset of read slot s (1 to 65535) is this minus s; each slot is one byte.
inline constexpr int64_t kIndexReadSlotBase = 0xFFFFFFFF;
//! Bytes of index buffer per cached page.
inline constexpr int32_t kIndexBufferBytesPerPage = 8192;

//! Counters kept for diagnostics; nothing in the engine reads them.
struct TIndexFileStats {
  uint64_t PageReads = 0;   //!< pages read from a file
  uint64_t PageWrites = 0;  //!< pages written to a file
  uint64_t WriteCalls = 0;  //!< writes issued for runs of pages
  uint64_t CacheHits = 0;   //!< fetches answered from a cache
};

class TIndexFile : public TFileHandler, public TPageStore {
 public:
  //! A closed index file of the table behind host, with 33 empty caches.
  explicit TIndexFile(TIndexFileHost& host);
  ~TIndexFile() override;

  // ----- The file -----
  //! Creates the file and takes the header of a new index file as the image;
  //! the image is written by the next header write.
  void CreateFile() override;
  //! Opens the file and reads the header: VEVURA_OLDVERSION unless version 5,
  //! VEVURA_HEADERCORRUPT for more than 32 secondary indexes. Nothing when open.
  void Open() override;
  //! Removes the temporary indexes, forgets every cached page, closes.
  void Close() override;

  // ----- The header -----
  //! Takes the header on disk as the image and clears the modified marker.
  //! Temporary descriptors, which never reach the disk, are kept.
  void ReadIndexHeader();
  //! When modified or forced: raises the change counter and writes the header
  //! without its temporary indexes. Returns whether it wrote.
  bool WriteIndexHeader(bool force);
  //! Re-reads the header; when its change counter moved, adopts it and
  //! returns true.
  bool IndexHeaderChanged();
  //! Inside a transaction, instead of writing: raises the change counter and
  //! marks the header modified.
  void RecordIndexChange();
  const TIndexHeader& Header() const { return header_; }
  //! Opened for a repair, the header on disk could not be used: the image
  //! is that of a new file.
  bool HeaderUnreadable() const { return header_unreadable_; }
  int32_t GetChangeCounter() const { return header_.ChangeCounter; }
  bool Modified() const { return header_.Modified != 0; }
  //! Starts the file over for a rebuild from the records: every cached page
  //! is forgotten, the file is cut to its header, and image, with every
  //! index empty and no page in use, becomes the header (marked modified).
  void StartOver(TIndexHeader image);
  //! Checks the image against the table's fields (index_definitions.h).
  void VerifyIndexHeader(const std::vector<TFieldDescriptor>& fields) const;

  // ----- Index definitions -----
  void DefinePrimaryIndex(const TIndexDescriptor& d, const std::vector<TFieldDescriptor>& fields);
  //! Returns the number given to the new index.
  uint8_t AddSecondaryIndex(const TIndexDescriptor& d, const std::vector<TFieldDescriptor>& fields);
  void SetIndexDescriptor(uint8_t n, const TIndexDescriptor& d);
  //! Copy of descriptor n; all zero for an index number beyond 32.
  TIndexDescriptor GetIndexDescriptor(uint8_t n) const;
  //! Zeroes the temporary descriptors and discards their pages and the memory
  //! file. Nothing when the header's secondary-index count exceeds 32.
  void RemoveTemporaryIndexes();

  // ----- Table counts and flags -----
  int32_t GetActiveRecordCount() const { return header_.ActiveRecordCount; }
  void IncrementRecordCount();
  void DecrementRecordCount();
  void SetActiveRecordCount(int32_t count);
  bool GetNoPrimary() const { return header_.NoPrimary != 0; }
  //! Setting the flag zeroes descriptor 0.
  void SetNoPrimary(bool no_primary);

  // ----- Pages (TPageStore) -----
  TPage* FetchPage(uint8_t index, int32_t n, bool allocating) override;
  TPage* FetchCachedPage(uint8_t index, int32_t n) override;
  void ReleasePage(TPage* page) override;
  TPage* AllocatePage(uint8_t index) override;
  void FreePage(TPage* page) override;
  int32_t RootPage(uint8_t index) const override;
  void SetRootPage(uint8_t index, int32_t n) override;
  int32_t FreeListHead(uint8_t index) const override;
  int32_t FirstDataPage(uint8_t index) const override;
  void SetFirstDataPage(uint8_t index, int32_t n) override;
  int32_t PageLimit(uint8_t index) const override;
  TIndexShape Shape(uint8_t index) const override;
  const std::string& TableName() const override { return table_name_; }

  // ----- Buffers -----
  //! Writes every dirty, unpinned page of the temporary or of the persistent
  //! indexes (31 and 32 count as persistent), in runs. Returns whether it
  //! wrote anything. A program killed between two writes leaves exactly the
  //! writes made before, so the order is chosen for what such a crash
  //! leaves: first the pages allocated since the header was last written
  //! (nothing on disk names them yet), then roots, then other inner pages,
  //! then leaves and data pages, freed pages last. A split then never leaves a parent naming a
  //! page that was not written, nor a leaf that gave away keys its parent
  //! cannot reach; at worst keys are found twice.
  bool WriteDirtyPages(bool temporary);
  //! Forgets every cached page of the temporary or the persistent indexes,
  //! dirty or not.
  void DropPageBuffers(bool temporary);
  //! Shrinks every cache to its soft capacity, writing dirty pages when
  //! nothing else can be evicted.
  void TrimPageBuffers();

  //! Rolls the journal back (TFileHandler), then forgets the file images
  //! of the cached pages, which the rollback may have made untrue.
  bool RollBackJournal() override;

  // ----- Locks (single attempts; the protocol retries) -----
  bool LockWriteRegion(bool lock);
  bool LockReadSlot(bool lock, uint16_t slot);

  // ----- Diagnostics -----
  const TIndexFileStats& Stats() const { return stats_; }
  const TPageCache& Cache(uint8_t index) const { return *caches_[index]; }
  bool HasMemoryFile() const { return memory_file_ != nullptr; }

 private:
  bool IsTemporary(uint8_t index) const;
  TIndexDescriptor& Descriptor(uint8_t index);
  const TIndexDescriptor& Descriptor(uint8_t index) const;
  //! The file that keeps the pages of index.
  TFileHandler& FileOf(bool temporary);
  int32_t& NextPageOf(bool temporary);
  int SoftCapacity() const;
  [[noreturn]] void RaiseCorrupt() const;

  // Header helpers (index_file.cpp).
  TIndexHeader ReadHeaderFromDisk();
  void AdoptHeader(TIndexHeader disk);
  void EnsureMemoryFile();
  void DiscardMemoryFile();

  // Page helpers (index_pages.cpp).
  //! The cache of page's index.
  TPageCache& CacheOf(const TPage* page);
  TPage* AppendPage(uint8_t index, int32_t n);
  TPage* ReadPage(uint8_t index, int32_t n, bool allocating);
  std::unique_ptr<TPage> ObtainPage(uint8_t index);
  TPage* Pin(TPage* page);
  void DropCache(uint8_t index);
  bool CacheHasKind(int index, bool temporary) const;
  void WriteRun(bool temporary, std::vector<TPage*>::const_iterator first,
                std::vector<TPage*>::const_iterator last);
  //! Writes pages (dirty, unpinned, of one kind) in crash order, in runs.
  void WriteListedPages(bool temporary, std::vector<TPage*>& pages);
  //! Puts a dirty cached page on the list WriteDirtyPages works from.
  void ListDirty(TPage* page);
  bool TrimCache(uint8_t index);
  //! Pages of the persistent indexes of a shared table keep their bytes in
  //! the file (TPage::FileImage), so that the journal of a change need not
  //! read them back before it overwrites them.
  bool KeepsFileImages(bool temporary) const;
  void ForgetFileImages();

  TIndexFileHost& host_;                                         //!< the owning table
  std::string table_name_;                                       //!< named in errors
  TIndexHeader header_;                                          //!< the header image
  TPageStack stack_;                                             //!< spare page objects
  std::array<std::unique_ptr<TPageCache>, kIndexCount> caches_;  //!< one per index
  std::vector<std::unique_ptr<TPage>> orphans_;                  //!< dropped while pinned
  //! Cached pages that became dirty since they were last written (pages
  //! with Listed set); a page leaves the list when it is written or dropped.
  std::vector<TPage*> dirty_pages_;
  std::unique_ptr<TFileHandler> memory_file_;  //!< pages of temporary indexes
  int32_t memory_next_page_ = 1;               //!< next page of the memory file
  int32_t disk_next_page_ = 1;       //!< next page as the header on disk says: later ones are new
  std::vector<uint8_t> run_buffer_;  //!< the images of the run being written
  std::vector<uint8_t> long_run_buffer_;  //!< the same for runs of up to 1 MiB
  std::vector<TPage*> writing_pages_;     //!< room for the pages of a write-back
  TIndexFileStats stats_;                 //!< diagnostics
  bool header_unreadable_ = false;        //!< see HeaderUnreadable
};

}  // namespace vevura
