#include "engine/storage/keys/key_encoding.h"

#include <algorithm>
#include <bit>
#include <limits>

namespace vevura {

namespace {

//! Decimal places of the fixed-point form of a BCD value in a key.
constexpr int kKeyPlaces = 4;

}  // namespace

void PutKeyDouble(uint8_t* out, double v) {
  uint64_t bits = std::bit_cast<uint64_t>(v);
  bits = v >= 0.0 ? (bits | 0x8000000000000000u) : ~bits;
  PutKeyUInt64(out, bits);
}

int64_t BcdToKeyFixed(const TBcd& value) {
  // Precision and digits of a damaged value are held to what a record can
  // keep, so the digits always fit 128 bits.
  const int precision = std::min<int>(value.Precision, kBcdPrecision);
  if (precision == 0) return 0;
  unsigned __int128 n = 0;
  for (int i = 0; i < precision; ++i)
    n = n * 10 + static_cast<unsigned>(std::min(value.Digit(i), 9));
  const int places = value.Places();
  for (int p = places; p < kKeyPlaces; ++p) n *= 10;
  for (int p = kKeyPlaces; p < places && n != 0; ++p) n /= 10;
  const auto limit = static_cast<unsigned __int128>(std::numeric_limits<int64_t>::max());
  const int64_t magnitude = static_cast<int64_t>(std::min(n, limit));
  return value.IsNegative() ? -magnitude : magnitude;
}

}  // namespace vevura
