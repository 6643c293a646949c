#include "engine/storage/index/leaf_compression.h"

#include <algorithm>
#include <cstring>

#include "engine/base/engine_error.h"
#include "engine/storage/common/byte_order.h"

namespace vevura {

namespace {

bool UsesPrefix(const TIndexShape& shape) {
  return shape.Compression == lcDuplicateByte || shape.Compression == lcFull;
}

bool UsesTrailing(const TIndexShape& shape) {
  return shape.Compression == lcTrailingByte || shape.Compression == lcFull;
}

int LengthBytes(const TIndexShape& shape) {
  return (UsesPrefix(shape) ? 1 : 0) + (UsesTrailing(shape) ? 1 : 0);
}

// End of the bytes that trailing-zero suppression may cover.
int TrailingRegionEnd(const TIndexShape& shape) {
  return shape.KeyLength - shape.TieBreakBytes();
}

// Zero bytes that end key[from, to), at most kMaxPackedLength.
int TrailingZeros(const uint8_t* key, int from, int to) {
  int n = 0;
  while (to - n > from && key[to - n - 1] == 0 && n < kMaxPackedLength) ++n;
  return n;
}

int CommonPrefix(const uint8_t* a, const uint8_t* b, int length) {
  int limit = std::min(length, kMaxPackedLength);
  int n = 0;
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

// The explicit head of a packed key is [P, head_end); zeros follow up to the
// tie-break, whose bytes [tail_start, K) follow the head.
struct TPackedSpans {
  int HeadEnd;
  int TailStart;
};

TPackedSpans SpansOf(const TIndexShape& shape, TLeafPacking p) {
  int region_end = TrailingRegionEnd(shape);
  int head_end = std::max<int>(p.Prefix, region_end - p.Trailing);
  int tail_start = std::max<int>(p.Prefix, region_end);
  return {head_end, tail_start};
}

[[noreturn]] void RaiseCorrupt(const std::string& table) {
  RaiseTableError(VEVURA_INDEXCORRUPT, table);
}

}  // namespace

TLeafPacking PackingOf(const TIndexShape& shape, const uint8_t* prev, const uint8_t* key) {
  TLeafPacking p;
  if (UsesPrefix(shape) && prev != nullptr) {
    p.Prefix = static_cast<uint8_t>(CommonPrefix(prev, key, shape.KeyLength));
  }
  if (UsesTrailing(shape)) {
    int region_end = TrailingRegionEnd(shape);
    if (p.Prefix < region_end) {
      p.Trailing = static_cast<uint8_t>(TrailingZeros(key, p.Prefix, region_end));
    }
  }
  return p;
}

int PackedEntrySize(const TIndexShape& shape, TLeafPacking p) {
  return LengthBytes(shape) + shape.KeyLength - p.Prefix - p.Trailing + 4;
}

int PackEntry(const TIndexShape& shape, const uint8_t* key, uint32_t reference, TLeafPacking p,
              uint8_t* out) {
  uint8_t* o = out;
  if (UsesPrefix(shape)) *o++ = p.Prefix;
  if (UsesTrailing(shape)) *o++ = p.Trailing;
  TPackedSpans s = SpansOf(shape, p);
  std::memcpy(o, key + p.Prefix, s.HeadEnd - p.Prefix);
  o += s.HeadEnd - p.Prefix;
  std::memcpy(o, key + s.TailStart, shape.KeyLength - s.TailStart);
  o += shape.KeyLength - s.TailStart;
  PutUInt32(o, reference);
  o += 4;
  return static_cast<int>(o - out);
}

int UnpackEntry(const TIndexShape& shape, const uint8_t* in, size_t avail, const uint8_t* prev,
                uint8_t* key, uint32_t* reference, TLeafPacking* packing,
                const std::string& table) {
  const int k = shape.KeyLength;
  const int length_bytes = LengthBytes(shape);
  if (avail < static_cast<size_t>(length_bytes)) RaiseCorrupt(table);
  TLeafPacking p;
  const uint8_t* i = in;
  if (UsesPrefix(shape)) p.Prefix = *i++;
  if (UsesTrailing(shape)) p.Trailing = *i++;
  int region_end = TrailingRegionEnd(shape);
  // A prefix needs a previous key; trailing zeros must lie before the
  // tie-break and after the prefix.
  if (p.Prefix > k || (p.Prefix > 0 && prev == nullptr)) RaiseCorrupt(table);
  if (p.Trailing > std::max(0, region_end - p.Prefix)) RaiseCorrupt(table);
  int size = PackedEntrySize(shape, p);
  if (avail < static_cast<size_t>(size)) RaiseCorrupt(table);

  TPackedSpans s = SpansOf(shape, p);
  if (p.Prefix > 0) std::memmove(key, prev, p.Prefix);
  std::memcpy(key + p.Prefix, i, s.HeadEnd - p.Prefix);
  i += s.HeadEnd - p.Prefix;
  if (region_end > s.HeadEnd) std::memset(key + s.HeadEnd, 0, region_end - s.HeadEnd);
  std::memcpy(key + s.TailStart, i, k - s.TailStart);
  i += k - s.TailStart;
  *reference = GetUInt32(i);
  *packing = p;
  return size;
}

}  // namespace vevura
