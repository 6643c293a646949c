#pragma once
// Packing of the entries of compressed leaf pages.
//
// A compressed leaf stores each entry as its key with some bytes left out,
// then the 4-byte record number:
//   duplicate-byte: P, key bytes P..K-1
//   trailing-byte:  T, key without its last T (zero) bytes
//   full:           P, T, key bytes P..K-T-1
// P is the number of leading bytes the key shares with the previous key of
// the same page (0 for the first entry); T the number of zero bytes that end
// the key. The 4-byte tie-break that ends the keys of an index that is not
// unique is never suppressed as trailing bytes: T then counts the zeros that
// end the bytes before it, and the tie-break bytes follow the shortened key.
// P and T are each at most 254.
//
// Unpacking checks every length against the key length and the bytes left,
// so a damaged page is reported (VEVURA_INDEXCORRUPT) instead of read beyond.

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/storage/index/index_shape.h"

namespace vevura {

//! Largest prefix or trailing length one entry records.
inline constexpr int kMaxPackedLength = 254;

//! The two lengths of one packed entry.
struct TLeafPacking {
  uint8_t Prefix = 0;    //!< P: leading bytes taken from the previous key
  uint8_t Trailing = 0;  //!< T: zero bytes left out before the tie-break

  bool operator==(const TLeafPacking&) const = default;
};

//! The lengths for key after prev (nullptr for the first entry of a page)
//! under the shape's compression (lcNone gives 0 and 0).
TLeafPacking PackingOf(const TIndexShape& shape, const uint8_t* prev, const uint8_t* key);

//! Bytes one packed entry takes, record number included.
int PackedEntrySize(const TIndexShape& shape, TLeafPacking packing);

//! Writes one packed entry at out; returns the bytes written
//! (PackedEntrySize). REQUIRES: packing is PackingOf for this key.
int PackEntry(const TIndexShape& shape, const uint8_t* key, uint32_t reference,
              TLeafPacking packing, uint8_t* out);

//! Reads one packed entry from the avail bytes at in. prev is the previously
//! unpacked key of the page (nullptr for the first entry). Fills key (K bytes),
//! reference and packing; returns the bytes read. Raises VEVURA_INDEXCORRUPT
//! naming table when the entry does not fit the key length or the bytes left.
int UnpackEntry(const TIndexShape& shape, const uint8_t* in, size_t avail, const uint8_t* prev,
                uint8_t* key, uint32_t* reference, TLeafPacking* packing, const std::string& table);

}  // namespace vevura
