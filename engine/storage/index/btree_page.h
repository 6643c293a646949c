#pragma once
// TPage: the in-memory form of one index page.
//
// On disk a page is a 13-byte header (type, entry count, previous and next
// page of the same level, encoded size of a compressed leaf) and 4083 bytes
// of entries. In memory the entries are expanded into slots numbered from 1,
// each K + 10 bytes: the key, the reference (child page or record number),
// the key count (inner pages) and the prefix and trailing lengths of the
// packed form (compressed leaves). A data page keeps its 4083 raw bytes.
//
// The page keeps the encoded size of a compressed leaf up to date on every
// change of its entries, so overflow is known without encoding.
//
// Every change marks the page dirty. A page object is owned by the page cache
// of its index; the B-tree borrows it pinned (TPageRef) and never keeps it
// beyond one operation. Entry accessors check the entry number and raise
// VEVURA_INDEXCORRUPT for one outside 1..EntryCount, so a damaged tree is
// reported instead of read beyond.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/storage/common/recency_list.h"
#include "engine/storage/index/index_shape.h"
#include "engine/storage/index/leaf_compression.h"

namespace vevura {

//! Type byte of a page.
enum TPageType : uint8_t {
  ptInnerRoot = 0,  //!< inner page that is the root
  ptInner = 1,      //!< inner page below the root
  ptLeaf = 2,       //!< leaf below the root
  ptLeafRoot = 3,   //!< the whole tree is this one leaf
  ptData = 4,       //!< raw bytes of an index's parameter chain
};

//! Offsets of the page header fields.
namespace page_layout {
inline constexpr int kType = 0;
inline constexpr int kEntryCount = 1;
inline constexpr int kPrevious = 3;
inline constexpr int kNext = 7;
inline constexpr int kEncodedSize = 11;
}  // namespace page_layout

//! Tag of the second list a cached page sits in: its cache's idle pages.
struct TIdlePages;

class TPage : public TRecencyLink<TPage>, public TRecencyLink<TPage, TIdlePages> {
 public:
  //! A page object for table (named in errors); holds no page yet.
  explicit TPage(const std::string* table_name);
  TPage(const TPage&) = delete;
  TPage& operator=(const TPage&) = delete;

  //! Gives the object to a page of the index with this shape and clears it:
  //! type 0, no entries, links 0, not dirty, not freed, not pinned.
  void Reset(const TIndexShape& shape, int32_t page_number);
  //! Clears the contents (type 0, no entries, links 0, not freed), keeping
  //! number, shape and pins; marks the page dirty.
  void ClearContents();

  // ----- State kept by the cache -----
  bool Dirty = false;      //!< changed since it was last encoded for writing
  uint16_t PinCount = 0;   //!< fetches not yet released; a pinned page stays
  int32_t PageNumber = 0;  //!< the page's number in its file
  bool Freed = false;      //!< on a free list; written with no entries
  bool Listed = false;     //!< on the index file's list of dirty pages
  bool Idle = false;       //!< on its cache's list of pages it may reuse
  //! Place in its cache's list of pages, or kNoCacheSlot.
  size_t CacheSlot = kNoCacheSlot;
  static constexpr size_t kNoCacheSlot = SIZE_MAX;

  // ----- Header fields -----
  uint8_t PageType() const { return type_; }
  void SetPageType(uint8_t type);
  int32_t Previous() const { return previous_; }
  void SetPrevious(int32_t page);
  int32_t Next() const { return next_; }
  void SetNext(int32_t page);
  uint16_t EntryCount() const { return count_; }
  //! Encoded size of the entries of a compressed leaf; 0 for other pages.
  int EncodedSize() const { return encoded_size_; }
  const TIndexShape& Shape() const { return shape_; }
  const std::string& TableName() const { return *table_name_; }

  bool IsLeaf() const { return type_ == ptLeaf || type_ == ptLeafRoot; }
  bool IsInner() const { return type_ == ptInnerRoot || type_ == ptInner; }
  bool IsRoot() const { return type_ == ptInnerRoot || type_ == ptLeafRoot; }
  //! A leaf whose entries are packed.
  bool IsCompressedLeaf() const { return IsLeaf() && shape_.Compression != lcNone; }
  //! Entries an inner page or uncompressed leaf holds at most; compressed
  //! leaves are bounded by their encoded size instead.
  int Capacity() const;
  //! More entries (or encoded bytes) than the page can hold.
  bool Overflows() const;
  //! Fewer entries than half the capacity; compressed leaves never underflow.
  bool Underflows() const;

  // ----- Entries, numbered 1 to EntryCount -----
  const uint8_t* Key(int entry) const;
  uint32_t Reference(int entry) const;
  uint32_t KeyCount(int entry) const;
  TLeafPacking Packing(int entry) const;
  void SetKey(int entry, const uint8_t* key);
  void SetReference(int entry, uint32_t reference);
  void SetKeyCount(int entry, uint32_t count);
  //! Inserts an entry so that it becomes number entry (1 to EntryCount + 1).
  void InsertEntry(int entry, const uint8_t* key, uint32_t reference, uint32_t key_count);
  void RemoveEntry(int entry);
  //! Moves the entries from..EntryCount of this page to the end of dest.
  void MoveTailTo(int from, TPage& dest);
  //! Moves the first count entries of this page to the end of dest.
  void MoveHeadToEnd(int count, TPage& dest);
  //! Moves the last count entries of this page to the front of dest.
  void MoveTailToFront(int count, TPage& dest);
  //! Leaf entries under this page: its entry count for a leaf, the sum of its
  //! key counts for an inner page (0 without counts).
  uint64_t LeafEntriesBelow() const;

  // ----- Data pages -----
  //! The 4083 raw bytes of a data page.
  uint8_t* Data() { return entries_.data(); }
  const uint8_t* Data() const { return entries_.data(); }
  //! Marks a change made through Data(), or one not said where.
  void Touch() {
    Dirty = true;
    changed_from_ = 1;
  }

  // ----- The bytes in the file -----
  //! The 4096 bytes the file holds for the page (scrambled when the table is
  //! encrypted), as kept at its last read or write; nullptr when not kept.
  //! They stay true while the page is cached: another writer's change
  //! drops the cache, and a rolled-back journal forgets them.
  const uint8_t* FileImage() const { return file_image_known_ ? file_image_.data() : nullptr; }
  //! Keeps image, the bytes the file holds for the page, as read and decoded.
  void KeepFileImage(const uint8_t* image);
  //! Takes bytes from..to of image (the page's whole new encoding) as what
  //! the file now holds there; the whole image when none is kept yet.
  void KeepFileImage(const uint8_t* image, size_t from, size_t to);
  void ForgetFileImage() { file_image_known_ = false; }

  // ----- Disk image -----
  //! Writes the 4096-byte image; clears the dirty flag. A freed page is
  //! written with entry count 0 and no entries.
  void Encode(uint8_t* image);
  //! Given image holding a copy of the kept file image (not scrambled),
  //! re-encodes only the header and the entries changed since that image
  //! was kept, so that image becomes what Encode would write save for
  //! bytes past the entries, which stay as they are. Sets from..to to the
  //! bytes that may differ (from == to: none) and clears the dirty flag.
  //! False, image untouched, when the page must be encoded whole: no image
  //! kept, a data or freed page, or a change of page type.
  bool EncodeChanges(uint8_t* image, size_t* from, size_t* to);
  //! Takes the page from a 4096-byte image. With header_only the entries are
  //! left out (a page about to be reused). Raises VEVURA_INDEXCORRUPT when the
  //! header or the entries do not fit the index's shape.
  void Decode(const uint8_t* image, bool header_only);

 private:
  int SlotSize() const { return shape_.KeyLength + 10; }
  uint8_t* Slot(int entry) { return entries_.data() + (entry - 1) * SlotSize(); }
  const uint8_t* Slot(int entry) const { return entries_.data() + (entry - 1) * SlotSize(); }
  void CheckEntry(int entry) const;
  void Reserve(int entries);
  void SetPacking(int entry, TLeafPacking packing);
  //! Recomputes the packing of entry from its predecessor and adjusts the
  //! encoded size.
  void Repack(int entry);
  //! True when some entry's packing changed.
  bool RecomputeEncodedSize();
  //! Where entry (1 to EntryCount + 1) begins in the encoded page.
  size_t EncodedOffset(int entry) const;
  void DecodeEntries(const uint8_t* image);
  void DecodePackedEntries(const uint8_t* image);
  //! Writes the 13 header bytes at out, as Encode does.
  void EncodeHeader(uint8_t* out) const;
  //! Encodes entries first..EntryCount at out.
  void EncodeEntries(uint8_t* out, int first = 1) const;
  //! Entries from this one on may differ from the kept file image.
  void ChangedFrom(int entry) { changed_from_ = std::min(changed_from_, entry); }
  [[noreturn]] void RaiseCorrupt() const;

  const std::string* table_name_;
  TIndexShape shape_;
  uint8_t type_ = 0;
  int32_t previous_ = 0;
  int32_t next_ = 0;
  uint16_t count_ = 0;
  int encoded_size_ = 0;
  std::vector<uint8_t> entries_;     //!< slots, or the raw bytes of a data page
  std::vector<uint8_t> file_image_;  //!< see FileImage; allocated when first kept
  bool file_image_known_ = false;    //!< file_image_ holds the page's bytes in the file
  //! The first entry whose encoding may differ from the kept file image;
  //! kNoChange when none does.
  int changed_from_ = 1;
  static constexpr int kNoChange = 1 << 20;
};

}  // namespace vevura
