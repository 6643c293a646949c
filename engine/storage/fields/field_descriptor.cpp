#include "engine/storage/fields/field_descriptor.h"

#include <cstring>

#include "engine/storage/common/byte_order.h"

namespace vevura {
namespace {

// Offsets of the descriptor's parts.
constexpr size_t kNumberAt = 0;
constexpr size_t kNameAt = 2;
constexpr size_t kUnusedAt = 33;
constexpr size_t kTypeAt = 84;
constexpr size_t kSubtypeAt = 85;
constexpr size_t kSizeAt = 86;
constexpr size_t kScaleAt = 87;
constexpr size_t kPhysicalSizeAt = 88;
constexpr size_t kPhysicalScaleAt = 89;
constexpr size_t kOffsetAt = 90;
constexpr size_t kRequiredAt = 92;
constexpr size_t kCharCaseAt = 93;
constexpr size_t kMinAt = 94;
constexpr size_t kMaxAt = 145;
constexpr size_t kDefaultAt = 196;
constexpr size_t kNoStorageAt = 247;
constexpr size_t kResultSetAt = 248;
constexpr size_t kHiddenAt = 252;
constexpr size_t kExtraAt = 253;
constexpr size_t kPositionInExtra = kCopyPositionOffset - kExtraAt;

template <size_t N>
void CopyOut(const std::array<uint8_t, N>& from, uint8_t* to) {
  std::memcpy(to, from.data(), N);
}
template <size_t N>
void CopyIn(const uint8_t* from, std::array<uint8_t, N>& to) {
  std::memcpy(to.data(), from, N);
}

}  // namespace

uint16_t TFieldDescriptor::CopyPosition() const {
  return GetUInt16(Extra253.data() + kPositionInExtra);
}

void TFieldDescriptor::SetCopyPosition(uint16_t position) {
  PutUInt16(Extra253.data() + kPositionInExtra, position);
}

void EncodeFieldDescriptor(const TFieldDescriptor& d, uint8_t* out) {
  PutUInt16(out + kNumberAt, d.FieldNumber);
  PutPrefixedString(out + kNameAt, kMaxFieldNameLength, d.Name);
  CopyOut(d.Unused33, out + kUnusedAt);
  out[kTypeAt] = d.Type;
  out[kSubtypeAt] = d.Subtype;
  out[kSizeAt] = d.Size;
  out[kScaleAt] = d.Scale;
  out[kPhysicalSizeAt] = d.PhysicalSize;
  out[kPhysicalScaleAt] = d.PhysicalScale;
  PutUInt16(out + kOffsetAt, d.Offset);
  out[kRequiredAt] = d.Required;
  out[kCharCaseAt] = d.CharCase;
  PutPrefixedString(out + kMinAt, kMaxValueTextLength, d.MinValue);
  PutPrefixedString(out + kMaxAt, kMaxValueTextLength, d.MaxValue);
  PutPrefixedString(out + kDefaultAt, kMaxValueTextLength, d.DefaultValue);
  out[kNoStorageAt] = d.NoStorage;
  CopyOut(d.ResultSet248, out + kResultSetAt);
  out[kHiddenAt] = d.Hidden;
  CopyOut(d.Extra253, out + kExtraAt);
}

TFieldDescriptor DecodeFieldDescriptor(const uint8_t* in) {
  TFieldDescriptor d;
  d.FieldNumber = GetUInt16(in + kNumberAt);
  d.Name = GetPrefixedString(in + kNameAt, kMaxFieldNameLength);
  CopyIn(in + kUnusedAt, d.Unused33);
  d.Type = in[kTypeAt];
  d.Subtype = in[kSubtypeAt];
  d.Size = in[kSizeAt];
  d.Scale = in[kScaleAt];
  d.PhysicalSize = in[kPhysicalSizeAt];
  d.PhysicalScale = in[kPhysicalScaleAt];
  d.Offset = GetUInt16(in + kOffsetAt);
  d.Required = in[kRequiredAt];
  d.CharCase = in[kCharCaseAt];
  d.MinValue = GetPrefixedString(in + kMinAt, kMaxValueTextLength);
  d.MaxValue = GetPrefixedString(in + kMaxAt, kMaxValueTextLength);
  d.DefaultValue = GetPrefixedString(in + kDefaultAt, kMaxValueTextLength);
  d.NoStorage = in[kNoStorageAt];
  CopyIn(in + kResultSetAt, d.ResultSet248);
  d.Hidden = in[kHiddenAt];
  CopyIn(in + kExtraAt, d.Extra253);
  return d;
}

}  // namespace vevura
