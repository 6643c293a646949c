#pragma once
// The range of buffer numbers a read is filling, which a flush must not
// write while the read is under way. The record storage and the BLOB file
// both keep one.

#include <cstdint>

namespace vevura {

//! Marks buffers first..last as being read for the life of this object and
//! clears the mark (to the empty range 0..-1) on every way out.
class TReadWindow {
 public:
  TReadWindow(int32_t& first, int32_t& last, int32_t from, int32_t to)
      : first_(first), last_(last) {
    first_ = from;
    last_ = to;
  }
  ~TReadWindow() {
    first_ = 0;
    last_ = -1;
  }
  TReadWindow(const TReadWindow&) = delete;
  TReadWindow& operator=(const TReadWindow&) = delete;

 private:
  int32_t& first_;
  int32_t& last_;
};

}  // namespace vevura
