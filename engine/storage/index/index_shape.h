#pragma once
// What a page needs to know about its index: key length and the flags that
// decide the layout of its entries and its capacity.
//
// A page object copies the shape of the index it serves whenever it is given
// to a page of that index; the shape is taken from the index descriptor.

#include <cstdint>

#include "engine/storage/index/index_header.h"

namespace vevura {

//! Bytes of the page header: type, entry count, previous, next, encoded size.
inline constexpr int kPageHeaderSize = 13;
//! Bytes of a page that hold entries (or raw data in a data page).
inline constexpr int kPageDataSize = kIndexPageSize - kPageHeaderSize;
//! Bytes of the record-id tie-break that ends every key of an index that is
//! not unique.
inline constexpr int kTieBreakSize = 4;

struct TIndexShape {
  uint8_t IndexNumber = 0;       //!< 0 to 32
  uint16_t KeyLength = 0;        //!< K, bytes of every key
  bool Descending = false;       //!< the whole index sorts in descending order
  bool Unique = false;           //!< keys carry no tie-break
  bool NoCounts = false;         //!< inner entries carry no key counts
  uint8_t Compression = lcNone;  //!< TLeafCompression of the leaves

  bool operator==(const TIndexShape&) const = default;

  //! Bytes of one inner entry: key, child page and (unless no-counts) count.
  int InnerEntrySize() const { return KeyLength + (NoCounts ? 4 : 8); }
  //! Bytes of one entry of an uncompressed leaf: key and record number.
  int LeafEntrySize() const { return KeyLength + 4; }
  //! Most entries of an inner page.
  int InnerCapacity() const { return kPageDataSize / InnerEntrySize(); }
  //! Most entries of an uncompressed leaf.
  int LeafCapacity() const { return kPageDataSize / LeafEntrySize(); }
  //! Trailing key bytes that compression never suppresses.
  int TieBreakBytes() const {
    if (Unique) return 0;
    return KeyLength < kTieBreakSize ? KeyLength : kTieBreakSize;
  }
  //! A key length and compression this engine can hold in pages: at least
  //! two entries fit into every kind of page.
  bool Valid() const {
    return KeyLength >= 1 && KeyLength <= kMaxKeyLength && Compression <= lcFull;
  }
};

//! The shape of index number n as described by d. The word index never
//! carries key counts.
inline TIndexShape ShapeOf(uint8_t n, const TIndexDescriptor& d) {
  TIndexShape s;
  s.IndexNumber = n;
  s.KeyLength = d.KeyLength;
  s.Descending = d.Descending != 0;
  s.Unique = d.Unique != 0;
  s.NoCounts = d.NoCounts != 0 || n == kTextIndex;
  s.Compression = d.Compression;
  return s;
}

}  // namespace vevura
