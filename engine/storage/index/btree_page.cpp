#include "engine/storage/index/btree_page.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

#include "engine/base/engine_error.h"
#include "engine/storage/common/byte_order.h"

namespace vevura {

namespace {

// Offsets within an expanded slot of K + 10 bytes, after the key.
constexpr int kSlotReference = 0;
constexpr int kSlotKeyCount = 4;
constexpr int kSlotPrefix = 8;
constexpr int kSlotTrailing = 9;

constexpr int kMaxEntryCount = 65535;

}  // namespace

TPage::TPage(const std::string* table_name) : table_name_(table_name) {
  entries_.resize(kIndexPageSize);
}

void TPage::Reset(const TIndexShape& shape, int32_t page_number) {
  shape_ = shape;
  PageNumber = page_number;
  PinCount = 0;
  ClearContents();
  Dirty = false;
  file_image_known_ = false;
  changed_from_ = 1;
}

void TPage::KeepFileImage(const uint8_t* image) {
  file_image_.resize(kIndexPageSize);
  std::memcpy(file_image_.data(), image, kIndexPageSize);
  file_image_known_ = true;
}

void TPage::KeepFileImage(const uint8_t* image, size_t from, size_t to) {
  if (!file_image_known_) {
    KeepFileImage(image);
  } else {
    std::memcpy(file_image_.data() + from, image + from, to - from);
  }
  changed_from_ = kNoChange;
}

void TPage::ClearContents() {
  type_ = ptInnerRoot;
  previous_ = 0;
  next_ = 0;
  count_ = 0;
  encoded_size_ = 0;
  Freed = false;
  std::memset(entries_.data(), 0, kPageDataSize);
  Dirty = true;
  changed_from_ = 1;
}

void TPage::RaiseCorrupt() const {
  RaiseTableError(VEVURA_INDEXCORRUPT, *table_name_);
}

void TPage::SetPageType(uint8_t type) {
  type_ = type;
  RecomputeEncodedSize();
  Dirty = true;
  changed_from_ = 1;
}

void TPage::SetPrevious(int32_t page) {
  previous_ = page;
  Dirty = true;
}

void TPage::SetNext(int32_t page) {
  next_ = page;
  Dirty = true;
}

int TPage::Capacity() const {
  if (IsInner()) return shape_.InnerCapacity();
  if (IsCompressedLeaf()) return kMaxEntryCount;
  if (IsLeaf()) return shape_.LeafCapacity();
  return 0;
}

bool TPage::Overflows() const {
  if (IsCompressedLeaf()) return encoded_size_ > kPageDataSize;
  return count_ > Capacity();
}

bool TPage::Underflows() const {
  if (IsCompressedLeaf()) return false;
  return count_ < Capacity() / 2;
}

void TPage::CheckEntry(int entry) const {
  if (entry < 1 || entry > count_) RaiseCorrupt();
}

const uint8_t* TPage::Key(int entry) const {
  CheckEntry(entry);
  return Slot(entry);
}

uint32_t TPage::Reference(int entry) const {
  CheckEntry(entry);
  return GetUInt32(Slot(entry) + shape_.KeyLength + kSlotReference);
}

uint32_t TPage::KeyCount(int entry) const {
  CheckEntry(entry);
  return GetUInt32(Slot(entry) + shape_.KeyLength + kSlotKeyCount);
}

TLeafPacking TPage::Packing(int entry) const {
  CheckEntry(entry);
  const uint8_t* s = Slot(entry) + shape_.KeyLength;
  return {s[kSlotPrefix], s[kSlotTrailing]};
}

void TPage::SetPacking(int entry, TLeafPacking packing) {
  uint8_t* s = Slot(entry) + shape_.KeyLength;
  s[kSlotPrefix] = packing.Prefix;
  s[kSlotTrailing] = packing.Trailing;
}

void TPage::SetKey(int entry, const uint8_t* key) {
  CheckEntry(entry);
  std::memmove(Slot(entry), key, shape_.KeyLength);
  ChangedFrom(entry);
  if (IsCompressedLeaf()) {
    Repack(entry);
    if (entry < count_) Repack(entry + 1);
  }
  Dirty = true;
}

void TPage::SetReference(int entry, uint32_t reference) {
  CheckEntry(entry);
  PutUInt32(Slot(entry) + shape_.KeyLength + kSlotReference, reference);
  ChangedFrom(entry);
  Dirty = true;
}

void TPage::SetKeyCount(int entry, uint32_t count) {
  CheckEntry(entry);
  PutUInt32(Slot(entry) + shape_.KeyLength + kSlotKeyCount, count);
  ChangedFrom(entry);
  Dirty = true;
}

void TPage::Reserve(int entries) {
  size_t needed = static_cast<size_t>(entries) * SlotSize();
  if (entries_.size() < needed) entries_.resize(std::max(needed, entries_.size() * 2));
}

void TPage::Repack(int entry) {
  TLeafPacking old = Packing(entry);
  TLeafPacking now = PackingOf(shape_, entry == 1 ? nullptr : Key(entry - 1), Key(entry));
  SetPacking(entry, now);
  encoded_size_ += PackedEntrySize(shape_, now) - PackedEntrySize(shape_, old);
}

bool TPage::RecomputeEncodedSize() {
  encoded_size_ = 0;
  if (!IsCompressedLeaf()) return false;
  bool repacked = false;
  for (int e = 1; e <= count_; ++e) {
    TLeafPacking p = PackingOf(shape_, e == 1 ? nullptr : Slot(e - 1), Slot(e));
    repacked = repacked || !(p == Packing(e));
    SetPacking(e, p);
    encoded_size_ += PackedEntrySize(shape_, p);
  }
  return repacked;
}

void TPage::InsertEntry(int entry, const uint8_t* key, uint32_t reference, uint32_t key_count) {
  if (entry < 1 || entry > count_ + 1 || count_ >= kMaxEntryCount) RaiseCorrupt();
  Reserve(count_ + 1);
  const int slot = SlotSize();
  std::memmove(Slot(entry + 1), Slot(entry), static_cast<size_t>(count_ - entry + 1) * slot);
  ++count_;
  std::memcpy(Slot(entry), key, shape_.KeyLength);
  PutUInt32(Slot(entry) + shape_.KeyLength + kSlotReference, reference);
  PutUInt32(Slot(entry) + shape_.KeyLength + kSlotKeyCount, key_count);
  SetPacking(entry, {});
  if (IsCompressedLeaf()) {
    encoded_size_ += PackedEntrySize(shape_, {});
    Repack(entry);
    if (entry < count_) Repack(entry + 1);
  }
  ChangedFrom(entry);
  Dirty = true;
}

void TPage::RemoveEntry(int entry) {
  CheckEntry(entry);
  if (IsCompressedLeaf()) encoded_size_ -= PackedEntrySize(shape_, Packing(entry));
  const int slot = SlotSize();
  std::memmove(Slot(entry), Slot(entry + 1), static_cast<size_t>(count_ - entry) * slot);
  --count_;
  if (IsCompressedLeaf() && entry <= count_) Repack(entry);
  ChangedFrom(entry);
  Dirty = true;
}

void TPage::MoveTailTo(int from, TPage& dest) {
  if (from < 1 || from > count_ + 1 || !(dest.shape_ == shape_)) RaiseCorrupt();
  int moving = count_ - from + 1;
  if (dest.count_ + moving > kMaxEntryCount) RaiseCorrupt();
  dest.Reserve(dest.count_ + moving);
  std::memcpy(dest.Slot(dest.count_ + 1), Slot(from), static_cast<size_t>(moving) * SlotSize());
  dest.count_ = static_cast<uint16_t>(dest.count_ + moving);
  count_ = static_cast<uint16_t>(count_ - moving);
  RecomputeEncodedSize();
  dest.RecomputeEncodedSize();
  Dirty = true;
  dest.Dirty = true;
  changed_from_ = 1;
  dest.changed_from_ = 1;
}

void TPage::MoveHeadToEnd(int count, TPage& dest) {
  if (count < 0 || count > count_ || !(dest.shape_ == shape_)) RaiseCorrupt();
  if (dest.count_ + count > kMaxEntryCount) RaiseCorrupt();
  const int slot = SlotSize();
  dest.Reserve(dest.count_ + count);
  std::memcpy(dest.Slot(dest.count_ + 1), Slot(1), static_cast<size_t>(count) * slot);
  dest.count_ = static_cast<uint16_t>(dest.count_ + count);
  std::memmove(Slot(1), Slot(count + 1), static_cast<size_t>(count_ - count) * slot);
  count_ = static_cast<uint16_t>(count_ - count);
  RecomputeEncodedSize();
  dest.RecomputeEncodedSize();
  Dirty = true;
  dest.Dirty = true;
  changed_from_ = 1;
  dest.changed_from_ = 1;
}

void TPage::MoveTailToFront(int count, TPage& dest) {
  if (count < 0 || count > count_ || !(dest.shape_ == shape_)) RaiseCorrupt();
  if (count == 0) return;
  if (dest.count_ + count > kMaxEntryCount) RaiseCorrupt();
  const int slot = SlotSize();
  dest.Reserve(dest.count_ + count);
  std::memmove(dest.Slot(count + 1), dest.Slot(1), static_cast<size_t>(dest.count_) * slot);
  std::memcpy(dest.Slot(1), Slot(count_ - count + 1), static_cast<size_t>(count) * slot);
  dest.count_ = static_cast<uint16_t>(dest.count_ + count);
  count_ = static_cast<uint16_t>(count_ - count);
  RecomputeEncodedSize();
  dest.RecomputeEncodedSize();
  Dirty = true;
  dest.Dirty = true;
  changed_from_ = 1;
  dest.changed_from_ = 1;
}

uint64_t TPage::LeafEntriesBelow() const {
  if (IsLeaf()) return count_;
  if (shape_.NoCounts) return 0;
  uint64_t sum = 0;
  for (int e = 1; e <= count_; ++e) sum += KeyCount(e);
  return sum;
}

void TPage::EncodeHeader(uint8_t* out) const {
  namespace L = page_layout;
  std::memset(out, 0, kPageHeaderSize);
  out[L::kType] = type_;
  PutInt32(out + L::kPrevious, previous_);
  PutInt32(out + L::kNext, next_);
  if (type_ == ptData || Freed) return;
  PutUInt16(out + L::kEntryCount, count_);
  if (IsCompressedLeaf()) PutUInt16(out + L::kEncodedSize, static_cast<uint16_t>(encoded_size_));
}

void TPage::Encode(uint8_t* image) {
  if (type_ != ptData && !Freed && Overflows()) RaiseCorrupt();
  std::memset(image, 0, kIndexPageSize);
  EncodeHeader(image);
  if (type_ == ptData) {
    std::memcpy(image + kPageHeaderSize, entries_.data(), kPageDataSize);
  } else if (!Freed) {
    EncodeEntries(image + kPageHeaderSize);
  }
  Dirty = false;
}

size_t TPage::EncodedOffset(int entry) const {
  if (!IsCompressedLeaf()) {
    const int size = IsInner() ? shape_.InnerEntrySize() : shape_.LeafEntrySize();
    return kPageHeaderSize + static_cast<size_t>(entry - 1) * static_cast<size_t>(size);
  }
  size_t offset = kPageHeaderSize;
  for (int e = 1; e < entry; ++e)
    offset += static_cast<size_t>(PackedEntrySize(shape_, Packing(e)));
  return offset;
}

bool TPage::EncodeChanges(uint8_t* image, size_t* from, size_t* to) {
  namespace L = page_layout;
  if (!file_image_known_ || type_ == ptData || Freed || image[L::kType] != type_ || Overflows()) {
    return false;
  }
  // The entries the file holds end where its header says.
  const bool packed = IsCompressedLeaf();
  const size_t old_end = packed ? kPageHeaderSize + GetUInt16(image + L::kEncodedSize)
                                : EncodedOffset(GetUInt16(image + L::kEntryCount) + 1);
  const size_t new_end =
      packed ? kPageHeaderSize + static_cast<size_t>(encoded_size_) : EncodedOffset(count_ + 1);
  if (old_end > kIndexPageSize) return false;
  std::array<uint8_t, kPageHeaderSize> header;
  EncodeHeader(header.data());
  size_t lo = kIndexPageSize;
  size_t hi = 0;
  for (size_t i = 0; i < header.size(); ++i) {
    if (image[i] == header[i]) continue;
    lo = std::min(lo, i);
    hi = i + 1;
  }
  std::memcpy(image, header.data(), header.size());
  if (changed_from_ <= count_ || new_end != old_end) {
    const size_t first = EncodedOffset(std::min<int>(changed_from_, count_ + 1));
    if (changed_from_ <= count_) EncodeEntries(image + first, changed_from_);
    if (old_end > new_end) std::memset(image + new_end, 0, old_end - new_end);
    lo = std::min(lo, first);
    hi = std::max({hi, new_end, old_end});
  }
  *from = lo < hi ? lo : 0;
  *to = lo < hi ? hi : 0;
  Dirty = false;
  changed_from_ = kNoChange;
  return true;
}

void TPage::EncodeEntries(uint8_t* out, int first) const {
  const int k = shape_.KeyLength;
  if (IsCompressedLeaf()) {
    for (int e = first; e <= count_; ++e) {
      const uint8_t* s = Slot(e);
      TLeafPacking p = PackingOf(shape_, e == 1 ? nullptr : Slot(e - 1), s);
      out += PackEntry(shape_, s, GetUInt32(s + k + kSlotReference), p, out);
    }
    return;
  }
  // A slot begins with the entry as the page stores it: the key, the
  // reference and, on inner pages with counts, the key count.
  static_assert(kSlotReference == 0 && kSlotKeyCount == 4);
  const size_t entry_size =
      static_cast<size_t>(IsInner() ? shape_.InnerEntrySize() : shape_.LeafEntrySize());
  for (int e = first; e <= count_; ++e, out += entry_size) std::memcpy(out, Slot(e), entry_size);
}

void TPage::Decode(const uint8_t* image, bool header_only) {
  namespace L = page_layout;
  type_ = image[L::kType];
  previous_ = GetInt32(image + L::kPrevious);
  next_ = GetInt32(image + L::kNext);
  count_ = GetUInt16(image + L::kEntryCount);
  encoded_size_ = GetUInt16(image + L::kEncodedSize);
  Dirty = false;
  Freed = false;
  changed_from_ = kNoChange;
  if (type_ > ptData) RaiseCorrupt();
  if (header_only) {
    count_ = 0;
    encoded_size_ = 0;
    return;
  }
  if (type_ == ptData) {
    count_ = 0;
    encoded_size_ = 0;
    std::memcpy(entries_.data(), image + kPageHeaderSize, kPageDataSize);
    return;
  }
  if (count_ > 0 && !shape_.Valid()) RaiseCorrupt();
  if (IsCompressedLeaf()) {
    DecodePackedEntries(image);
  } else {
    DecodeEntries(image);
  }
}

void TPage::DecodeEntries(const uint8_t* image) {
  encoded_size_ = 0;
  if (count_ > Capacity()) RaiseCorrupt();
  const int k = shape_.KeyLength;
  const int entry_size = IsInner() ? shape_.InnerEntrySize() : shape_.LeafEntrySize();
  Reserve(count_);
  const uint8_t* in = image + kPageHeaderSize;
  for (int e = 1; e <= count_; ++e, in += entry_size) {
    uint8_t* s = Slot(e);
    std::memcpy(s, in, k);
    PutUInt32(s + k + kSlotReference, GetUInt32(in + k));
    uint32_t key_count = IsInner() && !shape_.NoCounts ? GetUInt32(in + k + 4) : 0;
    PutUInt32(s + k + kSlotKeyCount, key_count);
    SetPacking(e, {});
  }
}

void TPage::DecodePackedEntries(const uint8_t* image) {
  if (encoded_size_ > kPageDataSize) RaiseCorrupt();
  Reserve(count_);
  const uint8_t* in = image + kPageHeaderSize;
  size_t left = static_cast<size_t>(encoded_size_);
  for (int e = 1; e <= count_; ++e) {
    uint8_t* s = Slot(e);
    uint32_t reference = 0;
    TLeafPacking packing;
    int used = UnpackEntry(shape_, in, left, e == 1 ? nullptr : Slot(e - 1), s, &reference,
                           &packing, *table_name_);
    PutUInt32(s + shape_.KeyLength + kSlotReference, reference);
    PutUInt32(s + shape_.KeyLength + kSlotKeyCount, 0);
    SetPacking(e, packing);
    in += used;
    left -= static_cast<size_t>(used);
  }
  if (left != 0) RaiseCorrupt();
  // The stored lengths need not be the ones this engine would choose; keep
  // the size that matches the packing the page will be written with. Where
  // they differ, the page is written whole.
  if (RecomputeEncodedSize()) changed_from_ = 1;
}

}  // namespace vevura
