#pragma once
// Field values as index keys hold them.
//
// Keys are compared as unsigned bytes from the first (for tables without a
// language), so every number is kept most significant byte first and signed
// numbers have their sign bit inverted: -1, 0 and 1 as 32-bit integers are
// 7F FF FF FF, 80 00 00 00 and 80 00 00 01. A double of 0 or above is kept
// with its sign bit set, a negative one with all bits complemented, which
// orders doubles as numbers. A BCD value becomes a 64-bit number with four
// decimal places.

#include <cstdint>

#include "engine/storage/fields/bcd.h"

namespace vevura {

//! Bytes of a BCD value in a key.
inline constexpr int kBcdKeyBytes = 8;

inline void PutKeyUInt16(uint8_t* out, uint16_t v) {
  out[0] = static_cast<uint8_t>(v >> 8);
  out[1] = static_cast<uint8_t>(v);
}
inline void PutKeyUInt32(uint8_t* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
inline void PutKeyUInt64(uint8_t* out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(v >> (56 - 8 * i));
}

//! Signed integers: big-endian with the sign bit inverted.
inline void PutKeyInt16(uint8_t* out, int16_t v) {
  PutKeyUInt16(out, static_cast<uint16_t>(static_cast<uint16_t>(v) ^ 0x8000u));
}
inline void PutKeyInt32(uint8_t* out, int32_t v) {
  PutKeyUInt32(out, static_cast<uint32_t>(v) ^ 0x80000000u);
}
inline void PutKeyInt64(uint8_t* out, int64_t v) {
  PutKeyUInt64(out, static_cast<uint64_t>(v) ^ 0x8000000000000000u);
}
//! The row id as every key holds it.
inline void PutKeyRowId(uint8_t* out, int32_t row_id) {
  PutKeyInt32(out, row_id);
}

//! Doubles: 0 and above with the sign bit set, negatives complemented.
void PutKeyDouble(uint8_t* out, double v);

//! The BCD value times 10000 (further decimals cut off), saturated to the
//! 64-bit range; 0 for a precision of 0.
int64_t BcdToKeyFixed(const TBcd& value);

}  // namespace vevura
