#include "engine/storage/keys/key_compare.h"

#include <algorithm>
#include <cstring>

#include "engine/storage/language/collation.h"

namespace vevura {

namespace {

int CompareBytes(const uint8_t* a, const uint8_t* b, size_t k) {
  if (k == 0) return 0;
  const int c = std::memcmp(a, b, k);
  return (c > 0) - (c < 0);
}

int CompareWords(const TKeyContext& c, const uint8_t* a, const uint8_t* b, size_t m) {
  return CompareText(c.LanguageId, c.SortId, reinterpret_cast<const char*>(a),
                     reinterpret_cast<const char*>(b), false, m);
}

int CompareTextKeys(const TKeyContext& c, const uint8_t* a, const uint8_t* b) {
  if (int r = CompareBytes(a, b, kTextWordOffset)) return r;
  const uint8_t* wa = a + kTextWordOffset;
  const uint8_t* wb = b + kTextWordOffset;
  if (int r = CompareWords(c, wa, wb, kTextWordSize)) return r;
  return CompareBytes(a + kTextRowIdOffset, b + kTextRowIdOffset, kRowIdKeySize);
}

//! Compares one slot from byte s over at most n - s bytes; advances s past
//! the bytes that took part.
int CompareSlot(const TKeyContext& c, const TKeySlot& slot, const uint8_t* a, const uint8_t* b,
                size_t n, size_t* s) {
  const bool negate = c.Descending || slot.Descending;
  int r = 0;
  if (slot.IsString()) {
    r = CompareBytes(a + *s, b + *s, 1);
    const size_t m = std::min<size_t>(slot.KeySize, n - *s - 1);
    // A count that ends right after the presence byte compares no text at
    // all (a length of 0 would mean the whole strings).
    if (r == 0 && m > 0) r = CompareWords(c, a + *s + 1, b + *s + 1, m);
    *s += m + 1;
  } else {
    const size_t m = std::min<size_t>(slot.KeySize + 1u, n - *s);
    r = CompareBytes(a + *s, b + *s, m);
    *s += m;
  }
  return negate ? -r : r;
}

int CompareLanguageKeys(const TKeyContext& c, const uint8_t* a, const uint8_t* b, size_t n) {
  size_t s = 0;
  for (const TKeySlot& slot : c.Slots) {
    if (s >= n) return 0;
    if (int r = CompareSlot(c, slot, a, b, n, &s)) return r;
  }
  if (s >= n) return 0;
  const int r = CompareBytes(a + s, b + s, n - s);
  return c.Descending ? -r : r;
}

}  // namespace

int CompareKeys(const TKeyContext& c, const uint8_t* a, const uint8_t* b, size_t n) {
  n = std::min<size_t>(n, c.KeyLength);
  switch (c.Kind) {
    case kkSlot:
      return CompareBytes(a, b, n);
    case kkText:
      return CompareTextKeys(c, a, b);
    case kkOrdinary:
      break;
  }
  if (c.HasLanguage()) return CompareLanguageKeys(c, a, b, n);
  const int r = CompareBytes(a, b, n);
  return c.Descending ? -r : r;
}

int TIndexKeyComparer::CompareKeys(const uint8_t* a, const uint8_t* b, size_t n) const {
  return vevura::CompareKeys(context_, a, b, n);
}

}  // namespace vevura
