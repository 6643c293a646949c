#include "engine/storage/data/data_header.h"

#include <cstring>

#include "engine/base/engine_error.h"
#include "engine/storage/common/byte_order.h"
#include "engine/storage/common/scramble.h"
#include "engine/storage/fields/record_layout.h"

namespace vevura {
namespace {

// Offsets of the header's parts.
constexpr size_t kChangeCounterAt = 0;
constexpr size_t kBlobBlockSizeAt = 4;
constexpr size_t kVersionAt = 8;
constexpr size_t kFirstFreeAt = 9;
constexpr size_t kNextRecordAt = 13;
constexpr size_t kLastAutoIncAt = 17;
constexpr size_t kRecordSizeAt = 21;
constexpr size_t kFieldCountAt = 23;
constexpr size_t kBlobFieldCountAt = 25;
constexpr size_t kLastUpdateAt = 27;
constexpr size_t kDescriptionAt = 35;
constexpr size_t kEncryptedAt = 86;
constexpr size_t kPasswordAt = 87;
constexpr size_t kLanguageAt = 103;
constexpr size_t kSortAt = 105;
constexpr size_t kMajorAt = 107;
constexpr size_t kMinorAt = 109;
constexpr size_t kHeaderChangedAt = 111;
constexpr size_t kLastBlobIdAt = 112;
constexpr size_t kMark116At = 116;
constexpr size_t kMark120At = 120;
constexpr size_t kReservedAt = 124;

}  // namespace

std::string TDataHeader::PlainPassword() const {
  if (Encrypted == 0) return std::string();
  return ScrambleHeaderText(Password);
}

std::string TDataHeader::PlainDescription() const {
  return Encrypted == 0 ? Description : ScrambleHeaderText(Description);
}

void EncodeDataHeader(const TDataHeader& h, uint8_t* out) {
  PutInt32(out + kChangeCounterAt, h.ChangeCounter);
  PutUInt32(out + kBlobBlockSizeAt, h.BlobBlockSize);
  out[kVersionAt] = h.Version;
  PutInt32(out + kFirstFreeAt, h.FirstFreeRecord);
  PutInt32(out + kNextRecordAt, h.NextRecordNumber);
  PutInt32(out + kLastAutoIncAt, h.LastAutoIncValue);
  PutUInt16(out + kRecordSizeAt, h.RecordSize);
  PutUInt16(out + kFieldCountAt, h.FieldCount);
  PutInt16(out + kBlobFieldCountAt, h.BlobFieldCount);
  PutDouble(out + kLastUpdateAt, h.LastUpdate);
  PutPrefixedString(out + kDescriptionAt, kMaxDescriptionLength, h.Description);
  out[kEncryptedAt] = h.Encrypted;
  PutPrefixedString(out + kPasswordAt, kMaxPasswordLength, h.Password);
  PutUInt16(out + kLanguageAt, h.LanguageId);
  PutUInt16(out + kSortAt, h.SortId);
  PutInt16(out + kMajorAt, h.UserMajorVersion);
  PutInt16(out + kMinorAt, h.UserMinorVersion);
  out[kHeaderChangedAt] = h.HeaderChanged;
  PutInt32(out + kLastBlobIdAt, h.LastBlobId);
  PutUInt32(out + kMark116At, h.Mark116);
  PutUInt32(out + kMark120At, h.Mark120);
  std::memcpy(out + kReservedAt, h.Reserved124.data(), h.Reserved124.size());
}

TDataHeader DecodeDataHeader(const uint8_t* in) {
  TDataHeader h;
  h.ChangeCounter = GetInt32(in + kChangeCounterAt);
  h.BlobBlockSize = GetUInt32(in + kBlobBlockSizeAt);
  h.Version = in[kVersionAt];
  h.FirstFreeRecord = GetInt32(in + kFirstFreeAt);
  h.NextRecordNumber = GetInt32(in + kNextRecordAt);
  h.LastAutoIncValue = GetInt32(in + kLastAutoIncAt);
  h.RecordSize = GetUInt16(in + kRecordSizeAt);
  h.FieldCount = GetUInt16(in + kFieldCountAt);
  h.BlobFieldCount = GetInt16(in + kBlobFieldCountAt);
  h.LastUpdate = GetDouble(in + kLastUpdateAt);
  h.Description = GetPrefixedString(in + kDescriptionAt, kMaxDescriptionLength);
  h.Encrypted = in[kEncryptedAt];
  h.Password = GetPrefixedString(in + kPasswordAt, kMaxPasswordLength);
  h.LanguageId = GetUInt16(in + kLanguageAt);
  h.SortId = GetUInt16(in + kSortAt);
  h.UserMajorVersion = GetInt16(in + kMajorAt);
  h.UserMinorVersion = GetInt16(in + kMinorAt);
  h.HeaderChanged = in[kHeaderChangedAt];
  h.LastBlobId = GetInt32(in + kLastBlobIdAt);
  h.Mark116 = GetUInt32(in + kMark116At);
  h.Mark120 = GetUInt32(in + kMark120At);
  std::memcpy(h.Reserved124.data(), in + kReservedAt, h.Reserved124.size());
  return h;
}

TDataHeader MakeNewDataHeader(const TNewTableHeader& params,
                              const std::vector<TFieldDescriptor>& fields,
                              const std::string& table) {
  if (fields.size() > kMaxFieldCount) RaiseTableError(VEVURA_FLDLIMIT, table);
  TDataHeader h;
  h.LanguageId = params.LanguageId;
  h.SortId = params.SortId;
  h.UserMajorVersion = params.UserMajorVersion;
  h.UserMinorVersion = params.UserMinorVersion;
  h.Encrypted = params.Encrypted ? 1 : 0;
  std::string description = params.Description.substr(0, kMaxDescriptionLength);
  if (params.Encrypted) {
    h.Password = ScrambleHeaderText(PasswordToStore(params.Password));
    h.Description = ScrambleHeaderText(description);
  } else {
    h.Description = description;
  }
  h.FieldCount = static_cast<uint16_t>(fields.size());
  h.BlobBlockSize = params.BlobBlockSize;
  for (const TFieldDescriptor& field : fields) {
    if (!field.IsBlob()) continue;
    if (h.BlobFieldCount == kMaxBlobFields) RaiseTableError(VEVURA_BLOBLIMIT, table);
    ++h.BlobFieldCount;
  }
  h.Version = kDataFileVersion;
  h.NextRecordNumber = 1;
  uint32_t record_size = RecordSizeOf(fields);
  if (record_size > kMaxRecordSize) RaiseTableError(VEVURA_RECTOOBIG, table);
  h.RecordSize = static_cast<uint16_t>(record_size);
  return h;
}

}  // namespace vevura
