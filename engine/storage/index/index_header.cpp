#include "engine/storage/index/index_header.h"

#include <cstring>

#include "engine/storage/common/byte_order.h"

namespace vevura {

namespace {

// Offsets within one descriptor.
constexpr int kName = 0;
constexpr int kKeyLength = 31;
constexpr int kDescending = 33;
constexpr int kCaseInsensitive = 34;
constexpr int kUnique = 35;
constexpr int kCompression = 36;
constexpr int kFieldCount = 37;
constexpr int kFieldDescending = 38;
constexpr int kFieldNumbers = 54;
constexpr int kRootPage = 86;
constexpr int kFreeListHead = 90;
constexpr int kFirstDataPage = 96;
constexpr int kNoCounts = 100;
constexpr int kTemporary = 101;

constexpr const char* kSlotIndexName = "Sys Deleted";
constexpr uint16_t kSlotIndexKeyLength = 5;
constexpr const char* kTextIndexName = "Sys Text";
constexpr uint16_t kTextIndexKeyLength = 68;

uint8_t* DescriptorAt(uint8_t* header, int n) {
  return header + index_header_layout::kDescriptors + n * kIndexDescriptorSize;
}

const uint8_t* DescriptorAt(const uint8_t* header, int n) {
  return header + index_header_layout::kDescriptors + n * kIndexDescriptorSize;
}

}  // namespace

void EncodeIndexDescriptor(const TIndexDescriptor& d, uint8_t* out) {
  std::memset(out, 0, kIndexDescriptorSize);
  PutPrefixedString(out + kName, kMaxIndexNameLength, d.Name);
  PutUInt16(out + kKeyLength, d.KeyLength);
  out[kDescending] = d.Descending;
  out[kCaseInsensitive] = d.CaseInsensitive;
  out[kUnique] = d.Unique;
  out[kCompression] = d.Compression;
  out[kFieldCount] = d.FieldCount;
  for (int i = 0; i < kMaxIndexFields; ++i) {
    out[kFieldDescending + i] = d.FieldDescending[i];
    PutUInt16(out + kFieldNumbers + 2 * i, d.FieldNumbers[i]);
  }
  PutInt32(out + kRootPage, d.RootPage);
  PutInt32(out + kFreeListHead, d.FreeListHead);
  PutInt32(out + kFirstDataPage, d.FirstDataPage);
  out[kNoCounts] = d.NoCounts;
  out[kTemporary] = d.Temporary;
}

TIndexDescriptor DecodeIndexDescriptor(const uint8_t* in) {
  TIndexDescriptor d;
  d.Name = GetPrefixedString(in + kName, kMaxIndexNameLength);
  d.KeyLength = GetUInt16(in + kKeyLength);
  d.Descending = in[kDescending];
  d.CaseInsensitive = in[kCaseInsensitive];
  d.Unique = in[kUnique];
  d.Compression = in[kCompression];
  d.FieldCount = in[kFieldCount];
  for (int i = 0; i < kMaxIndexFields; ++i) {
    d.FieldDescending[i] = in[kFieldDescending + i];
    d.FieldNumbers[i] = GetUInt16(in + kFieldNumbers + 2 * i);
  }
  d.RootPage = GetInt32(in + kRootPage);
  d.FreeListHead = GetInt32(in + kFreeListHead);
  d.FirstDataPage = GetInt32(in + kFirstDataPage);
  d.NoCounts = in[kNoCounts];
  d.Temporary = in[kTemporary];
  return d;
}

namespace {

//! The header's bytes; with for_disk, temporary descriptors are left out.
void EncodeHeader(const TIndexHeader& h, bool for_disk, uint8_t* out) {
  namespace L = index_header_layout;
  std::memset(out, 0, kIndexPageSize);
  PutInt32(out + L::kChangeCounter, h.ChangeCounter);
  out[L::kVersion] = h.Version;
  PutInt32(out + L::kNextPage, h.NextPage);
  uint8_t secondary_count = h.SecondaryCount;
  for (int n = 0; n < kIndexCount; ++n) {
    const TIndexDescriptor& d = h.Descriptors[n];
    if (for_disk && d.Temporary && n <= kMaxSecondaryIndexes) {
      if (n >= 1 && secondary_count > 0) --secondary_count;
      continue;
    }
    EncodeIndexDescriptor(d, DescriptorAt(out, n));
  }
  out[L::kSecondaryCount] = secondary_count;
  PutInt32(out + L::kActiveRecordCount, h.ActiveRecordCount);
  out[L::kNoPrimary] = h.NoPrimary;
  out[L::kModified] = h.Modified;
}

}  // namespace

void EncodeIndexHeader(const TIndexHeader& h, uint8_t* out) {
  EncodeHeader(h, false, out);
}

void EncodeIndexHeaderForDisk(const TIndexHeader& h, uint8_t* out) {
  EncodeHeader(h, true, out);
}

TIndexHeader DecodeIndexHeader(const uint8_t* in) {
  namespace L = index_header_layout;
  TIndexHeader h;
  h.ChangeCounter = GetInt32(in + L::kChangeCounter);
  h.Version = in[L::kVersion];
  h.NextPage = GetInt32(in + L::kNextPage);
  h.SecondaryCount = in[L::kSecondaryCount];
  for (int n = 0; n < kIndexCount; ++n)
    h.Descriptors[n] = DecodeIndexDescriptor(DescriptorAt(in, n));
  h.ActiveRecordCount = GetInt32(in + L::kActiveRecordCount);
  h.NoPrimary = in[L::kNoPrimary];
  h.Modified = in[L::kModified];
  return h;
}

TIndexHeader NewIndexHeader() {
  TIndexHeader h;
  h.Version = kIndexFileVersion;
  h.NextPage = 1;
  h.Descriptors[kSlotIndex].Name = kSlotIndexName;
  h.Descriptors[kSlotIndex].KeyLength = kSlotIndexKeyLength;
  h.Descriptors[kSlotIndex].Compression = lcNone;
  h.Descriptors[kTextIndex].Name = kTextIndexName;
  h.Descriptors[kTextIndex].KeyLength = kTextIndexKeyLength;
  h.Descriptors[kTextIndex].Compression = lcFull;
  h.Modified = 1;
  return h;
}

TIndexHeader HeaderForDisk(const TIndexHeader& header) {
  TIndexHeader copy = header;
  for (int n = 0; n <= kMaxSecondaryIndexes; ++n) {
    if (!copy.Descriptors[n].Temporary) continue;
    copy.Descriptors[n] = TIndexDescriptor{};
    if (n >= 1 && copy.SecondaryCount > 0) --copy.SecondaryCount;
  }
  return copy;
}

}  // namespace vevura
