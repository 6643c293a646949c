#pragma once
// Reading and writing the integers, floats and short strings of the table
// files at a byte address.
//
// Every integer in the table files is little-endian, whatever the machine.
// These helpers are the one way to read or write them: never cast a struct
// onto a file buffer. A length-prefixed string is one length byte followed by
// its characters, zero-padded to its full size; a length byte larger than the
// room behind it (a damaged file) is read as that room.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace vevura {

//! value + by, wrapping around instead of overflowing: the counters a file
//! keeps (change counters, counts) may hold anything a damaged file gives.
inline int32_t WrappingAdd(int32_t value, int32_t by) {
  return static_cast<int32_t>(static_cast<uint32_t>(value) + static_cast<uint32_t>(by));
}

inline uint16_t GetUInt16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline int16_t GetInt16(const uint8_t* p) {
  return static_cast<int16_t>(GetUInt16(p));
}
inline uint32_t GetUInt32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline int32_t GetInt32(const uint8_t* p) {
  return static_cast<int32_t>(GetUInt32(p));
}
inline uint64_t GetUInt64(const uint8_t* p) {
  return static_cast<uint64_t>(GetUInt32(p)) | (static_cast<uint64_t>(GetUInt32(p + 4)) << 32);
}
inline int64_t GetInt64(const uint8_t* p) {
  return static_cast<int64_t>(GetUInt64(p));
}
//! An IEEE 754 double kept as its 8 little-endian bytes.
inline double GetDouble(const uint8_t* p) {
  return std::bit_cast<double>(GetUInt64(p));
}

inline void PutUInt16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutInt16(uint8_t* p, int16_t v) {
  PutUInt16(p, static_cast<uint16_t>(v));
}
inline void PutUInt32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutInt32(uint8_t* p, int32_t v) {
  PutUInt32(p, static_cast<uint32_t>(v));
}
inline void PutUInt64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutInt64(uint8_t* p, int64_t v) {
  PutUInt64(p, static_cast<uint64_t>(v));
}
inline void PutDouble(uint8_t* p, double v) {
  PutUInt64(p, std::bit_cast<uint64_t>(v));
}

//! The characters of a length-prefixed string of up to max_chars characters
//! (max_chars + 1 bytes at p).
inline std::string GetPrefixedString(const uint8_t* p, size_t max_chars) {
  size_t n = p[0] < max_chars ? p[0] : max_chars;
  return std::string(reinterpret_cast<const char*>(p + 1), n);
}
//! Writes text cut to max_chars characters as a length-prefixed string and
//! zero-fills the rest of its max_chars + 1 bytes.
inline void PutPrefixedString(uint8_t* p, size_t max_chars, std::string_view text) {
  size_t n = text.size() < max_chars ? text.size() : max_chars;
  if (n > 255) n = 255;
  std::memset(p, 0, max_chars + 1);
  p[0] = static_cast<uint8_t>(n);
  std::memcpy(p + 1, text.data(), n);
}

}  // namespace vevura
