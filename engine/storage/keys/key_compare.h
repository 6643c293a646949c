#pragma once
// The order of an index's keys (key_context.h).
//
// Byte comparison of k bytes compares unsigned bytes from the first; the
// first difference decides. By index:
//   - index 31: byte comparison;
//   - index 32, whatever the count: bytes 0 to 2 as bytes, then the 61-byte
//     word by CompareText in the table's language (case-sensitive), then the
//     row id as bytes;
//   - ordinary index of a table without a language: byte comparison, negated
//     for a descending index (descending fields are complemented in the key);
//   - ordinary index of a table with a language: field by field, the
//     presence byte as a byte and a string value by CompareText over the
//     bytes that take part, any other slot as bytes; each result negated when
//     the index or the field is descending. The bytes after the slots (the
//     tie-break) compare as bytes, negated for a descending index.
// Only the first n bytes take part, so a search over the leading fields of
// an index (or the leading characters of a string) passes their length.

#include <cstddef>
#include <cstdint>

#include "engine/storage/index/key_comparer.h"
#include "engine/storage/keys/key_context.h"

namespace vevura {

//! -1, 0 or 1 as key a comes before, equals or comes after key b in the
//! order of the context's index, looking at their first n bytes (at most
//! the key length).
int CompareKeys(const TKeyContext& c, const uint8_t* a, const uint8_t* b, size_t n);

//! The comparer the B-tree uses for the context's index. The context is
//! borrowed and must outlive the comparer.
class TIndexKeyComparer final : public TKeyComparer {
 public:
  explicit TIndexKeyComparer(const TKeyContext& c) : context_(c) {}
  int CompareKeys(const uint8_t* a, const uint8_t* b, size_t n) const override;

 private:
  const TKeyContext& context_;  //!< the index whose order this is
};

}  // namespace vevura
