#pragma once
// TKeyComparer: the order of one index, supplied by whoever runs a B-tree
// operation (the cursor, for its current index).
//
// The B-tree never interprets key bytes itself; every comparison in its page
// searches goes through the comparer of the index being searched.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vevura {

class TKeyComparer {
 public:
  virtual ~TKeyComparer() = default;
  //! -1, 0 or 1 as key a comes before, equals or comes after key b, looking
  //! at their first n bytes.
  virtual int CompareKeys(const uint8_t* a, const uint8_t* b, size_t n) const = 0;
};

//! Unsigned byte order, reversed for a descending index: the order of every
//! index of a table without a language.
class TByteKeyComparer final : public TKeyComparer {
 public:
  explicit TByteKeyComparer(bool descending = false) : descending_(descending) {}
  int CompareKeys(const uint8_t* a, const uint8_t* b, size_t n) const override {
    int c = std::memcmp(a, b, n);
    int sign = (c > 0) - (c < 0);
    return descending_ ? -sign : sign;
  }

 private:
  bool descending_;
};

}  // namespace vevura
