#include "engine/storage/fields/field_codec.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "engine/base/engine_error.h"
#include "engine/storage/common/byte_order.h"
#include "engine/storage/common/trim.h"
#include "engine/storage/fields/record_layout.h"
#include "engine/storage/fields/value_text.h"
#include "platform/locale.h"

namespace vevura {
namespace {

//! Where a field's flag and data bytes lie in a record image.
struct TSlot {
  bool has_flag = false;  //!< false for the auto-increment field
  size_t flag = 0;        //!< offset of the null-flag byte
  size_t data = 0;        //!< offset of the first data byte
  size_t size = 0;        //!< number of data bytes
};

[[noreturn]] void RaiseFieldFault(uint16_t code, const TFieldDescriptor& field) {
  RaiseEngineError(code, "", "", "", "", field.Name, "", "");
}

//! The field's slot, checked to lie inside a record image of record_size
//! bytes and behind the record header.
TSlot SlotOf(size_t record_size, const TFieldDescriptor& field) {
  TSlot slot;
  if (field.IsAutoInc()) {
    slot.data = kRowIdOffset;
    slot.size = 4;
  } else {
    if (field.NoStorage != 0) RaiseFieldFault(VEVURA_INVALIDFLDTYPE, field);
    slot.has_flag = true;
    slot.flag = field.Offset;
    slot.data = slot.flag + 1;
    slot.size = static_cast<size_t>(StoredSize(field.Type, field.Size));
    if (slot.flag < kRecordHeaderSize) RaiseFieldFault(VEVURA_HEADERCORRUPT, field);
  }
  if (slot.data + slot.size > record_size) RaiseFieldFault(VEVURA_HEADERCORRUPT, field);
  return slot;
}

void RequireType(const TFieldDescriptor& field, std::initializer_list<uint8_t> types) {
  if (std::find(types.begin(), types.end(), field.Type) == types.end()) {
    RaiseFieldFault(VEVURA_INVALIDFLDTYPE, field);
  }
}

//! The data bytes of a field of one of types, for reading.
const uint8_t* ReadData(TConstRecordImage record, const TFieldDescriptor& field,
                        std::initializer_list<uint8_t> types) {
  RequireType(field, types);
  return record.data() + SlotOf(record.size(), field).data;
}

//! The data bytes of a field of one of types, zeroed and flagged as a value.
uint8_t* WriteData(TRecordImage record, const TFieldDescriptor& field,
                   std::initializer_list<uint8_t> types) {
  RequireType(field, types);
  TSlot slot = SlotOf(record.size(), field);
  if (slot.has_flag) {
    record[slot.flag] = 1;
    std::memset(record.data() + slot.data, 0, slot.size);
  }
  return record.data() + slot.data;
}

//! The characters a string field stores for text: cut to the declared
//! size, trailing blanks removed, character case applied.
std::string StoredString(const TFieldDescriptor& field, std::string_view text, uint32_t lcid) {
  std::string value = TrimTrailingBlanks(text.substr(0, field.Size));
  if (field.CharCase == ccUpperCase) {
    platform::UpperCaseBytes(lcid, value.data(), value.size());
  } else if (field.CharCase == ccLowerCase) {
    platform::LowerCaseBytes(lcid, value.data(), value.size());
  }
  return value;
}

//! Parses text as an integer of the field's width into data.
bool EncodeIntegerText(const TFieldDescriptor& field, std::string_view text, uint8_t* data) {
  int64_t value = 0;
  switch (field.Type) {
    case fcSmallInt:
      if (!ParseIntegerText(text, INT16_MIN, INT16_MAX, &value)) return false;
      PutInt16(data, static_cast<int16_t>(value));
      return true;
    case fcWord:
      if (!ParseIntegerText(text, 0, UINT16_MAX, &value)) return false;
      PutUInt16(data, static_cast<uint16_t>(value));
      return true;
    case fcLargeInt:
      if (!ParseIntegerText(text, INT64_MIN, INT64_MAX, &value)) return false;
      PutInt64(data, value);
      return true;
    default:
      if (!ParseIntegerText(text, INT32_MIN, INT32_MAX, &value)) return false;
      PutInt32(data, static_cast<int32_t>(value));
      return true;
  }
}

//! Encodes text for the field into data, which holds FieldDataSize bytes
//! and is zero.
bool EncodeText(const TFieldDescriptor& field, std::string_view text, uint8_t* data,
                uint32_t lcid) {
  switch (field.Type) {
    case fcString: {
      std::string value = StoredString(field, text, lcid);
      std::memcpy(data, value.data(), value.size());
      return true;
    }
    case fcDate: {
      int32_t day = 0;
      if (!ParseDateText(text, &day)) return false;
      PutInt32(data, day);
      return true;
    }
    case fcTime: {
      int32_t ms = 0;
      if (!ParseTimeText(text, &ms)) return false;
      PutInt32(data, ms);
      return true;
    }
    case fcTimeStamp: {
      double ts = 0;
      if (!ParseTimeStampText(text, &ts)) return false;
      PutDouble(data, ts);
      return true;
    }
    case fcBoolean: {
      bool value = false;
      if (!ParseBooleanText(text, &value)) return false;
      PutUInt16(data, value ? 1 : 0);
      return true;
    }
    case fcSmallInt:
    case fcInteger:
    case fcInteger32:
    case fcWord:
    case fcLargeInt:
      return EncodeIntegerText(field, text, data);
    case fcFloat: {
      double value = 0;
      if (!ParseFloatText(text, &value)) return false;
      PutDouble(data, value);
      return true;
    }
    case fcBCD: {
      TBcd value;
      if (!BcdFromText(text, field.Scale, &value)) return false;
      EncodeBcd(value, data);
      return true;
    }
    default:
      return true;  // bytes, BLOBs and kinds without a text form: zeros
  }
}

}  // namespace

size_t FieldDataSize(const TFieldDescriptor& field) {
  return field.IsAutoInc() ? 4 : static_cast<size_t>(StoredSize(field.Type, field.Size));
}

bool FieldIsNull(TConstRecordImage record, const TFieldDescriptor& field) {
  if (field.NoStorage != 0 && !field.IsAutoInc()) return true;
  TSlot slot = SlotOf(record.size(), field);
  return slot.has_flag && record[slot.flag] == 0;
}

void SetFieldNull(TRecordImage record, const TFieldDescriptor& field) {
  if (field.IsAutoInc() || field.NoStorage != 0) return;
  TSlot slot = SlotOf(record.size(), field);
  record[slot.flag] = 0;
  std::memset(record.data() + slot.data, 0, slot.size);
}

TConstRecordImage FieldData(TConstRecordImage record, const TFieldDescriptor& field) {
  TSlot slot = SlotOf(record.size(), field);
  return record.subspan(slot.data, slot.size);
}

std::string GetStringField(TConstRecordImage record, const TFieldDescriptor& field) {
  RequireType(field, {fcString});
  TSlot slot = SlotOf(record.size(), field);
  if (record[slot.flag] == 0) return std::string();
  const char* chars = reinterpret_cast<const char*>(record.data() + slot.data);
  // At most the declared size, even when a damaged record lacks the zero.
  size_t limit = std::min<size_t>(slot.size - 1, field.Size);
  return std::string(chars, strnlen(chars, limit));
}

void SetStringField(TRecordImage record, const TFieldDescriptor& field, std::string_view text,
                    uint32_t lcid) {
  RequireType(field, {fcString});
  // StoredString's steps, in place: this runs for every string of every post.
  std::string_view value = text.substr(0, field.Size);
  while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
  if (value.empty() || value[0] == '\0') {
    SetFieldNull(record, field);
    return;
  }
  auto* data = WriteData(record, field, {fcString});
  std::memcpy(data, value.data(), value.size());
  char* chars = reinterpret_cast<char*>(data);
  if (field.CharCase == ccUpperCase) {
    platform::UpperCaseBytes(lcid, chars, value.size());
  } else if (field.CharCase == ccLowerCase) {
    platform::LowerCaseBytes(lcid, chars, value.size());
  }
}

int32_t GetDateField(TConstRecordImage record, const TFieldDescriptor& field) {
  return GetInt32(ReadData(record, field, {fcDate}));
}
void SetDateField(TRecordImage record, const TFieldDescriptor& field, int32_t day_number) {
  PutInt32(WriteData(record, field, {fcDate}), day_number);
}

int32_t GetTimeField(TConstRecordImage record, const TFieldDescriptor& field) {
  return GetInt32(ReadData(record, field, {fcTime}));
}
void SetTimeField(TRecordImage record, const TFieldDescriptor& field, int32_t milliseconds) {
  PutInt32(WriteData(record, field, {fcTime}), milliseconds);
}

double GetTimeStampField(TConstRecordImage record, const TFieldDescriptor& field) {
  return GetDouble(ReadData(record, field, {fcTimeStamp}));
}
void SetTimeStampField(TRecordImage record, const TFieldDescriptor& field, double timestamp) {
  PutDouble(WriteData(record, field, {fcTimeStamp}), timestamp);
}

bool GetBooleanField(TConstRecordImage record, const TFieldDescriptor& field) {
  return GetUInt16(ReadData(record, field, {fcBoolean})) != 0;
}
void SetBooleanField(TRecordImage record, const TFieldDescriptor& field, uint16_t value) {
  PutUInt16(WriteData(record, field, {fcBoolean}), value == 0 ? 0 : 1);
}

int16_t GetSmallIntField(TConstRecordImage record, const TFieldDescriptor& field) {
  return GetInt16(ReadData(record, field, {fcSmallInt}));
}
void SetSmallIntField(TRecordImage record, const TFieldDescriptor& field, int16_t value) {
  PutInt16(WriteData(record, field, {fcSmallInt}), value);
}

int32_t GetIntegerField(TConstRecordImage record, const TFieldDescriptor& field) {
  return GetInt32(ReadData(record, field, {fcInteger, fcInteger32}));
}
void SetIntegerField(TRecordImage record, const TFieldDescriptor& field, int32_t value) {
  PutInt32(WriteData(record, field, {fcInteger, fcInteger32}), value);
}

uint16_t GetWordField(TConstRecordImage record, const TFieldDescriptor& field) {
  return GetUInt16(ReadData(record, field, {fcWord}));
}
void SetWordField(TRecordImage record, const TFieldDescriptor& field, uint16_t value) {
  PutUInt16(WriteData(record, field, {fcWord}), value);
}

int64_t GetLargeIntField(TConstRecordImage record, const TFieldDescriptor& field) {
  return GetInt64(ReadData(record, field, {fcLargeInt}));
}
void SetLargeIntField(TRecordImage record, const TFieldDescriptor& field, int64_t value) {
  PutInt64(WriteData(record, field, {fcLargeInt}), value);
}

double GetFloatField(TConstRecordImage record, const TFieldDescriptor& field) {
  return GetDouble(ReadData(record, field, {fcFloat}));
}
void SetFloatField(TRecordImage record, const TFieldDescriptor& field, double value) {
  PutDouble(WriteData(record, field, {fcFloat}), value);
}

TBcd GetBcdField(TConstRecordImage record, const TFieldDescriptor& field) {
  return DecodeBcd(ReadData(record, field, {fcBCD}));
}
void SetBcdField(TRecordImage record, const TFieldDescriptor& field, const TBcd& value) {
  EncodeBcd(value, WriteData(record, field, {fcBCD}));
}

std::vector<uint8_t> GetBytesField(TConstRecordImage record, const TFieldDescriptor& field) {
  RequireType(field, {fcBytes, fcVarBytes, fcTenBytes});
  if (FieldIsNull(record, field)) return {};
  TConstRecordImage data = FieldData(record, field);
  return std::vector<uint8_t>(data.begin(), data.end());
}

void SetBytesField(TRecordImage record, const TFieldDescriptor& field,
                   std::span<const uint8_t> bytes) {
  uint8_t* data = WriteData(record, field, {fcBytes, fcVarBytes, fcTenBytes});
  size_t count = std::min(bytes.size(), FieldDataSize(field));
  if (count > 0) std::memcpy(data, bytes.data(), count);
}

TBlobReference GetBlobField(TConstRecordImage record, const TFieldDescriptor& field) {
  const uint8_t* data = ReadData(record, field, {fcBlob});
  return TBlobReference{GetInt32(data), GetInt32(data + 4)};
}

void SetBlobField(TRecordImage record, const TFieldDescriptor& field,
                  const TBlobReference& reference, bool has_data) {
  uint8_t* data = WriteData(record, field, {fcBlob});
  PutInt32(data, reference.FirstBlock);
  PutInt32(data + 4, reference.BlobId);
  record[field.Offset] = has_data ? 1 : 0;
}

bool EncodeValueText(const TFieldDescriptor& field, std::string_view text, std::span<uint8_t> data,
                     uint32_t lcid) {
  const size_t size = FieldDataSize(field);
  if (data.size() < size) RaiseFieldFault(VEVURA_HEADERCORRUPT, field);
  std::fill(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(size), 0);
  if (EncodeText(field, text, data.data(), lcid)) return true;
  std::fill(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(size), 0);
  return false;
}

bool SetFieldFromText(TRecordImage record, const TFieldDescriptor& field, std::string_view text,
                      uint32_t lcid) {
  if (field.Type == fcString) {
    SetStringField(record, field, text, lcid);
    return true;
  }
  TSlot slot = SlotOf(record.size(), field);
  bool parsed = EncodeValueText(field, text, record.subspan(slot.data, slot.size), lcid);
  if (slot.has_flag) record[slot.flag] = parsed ? 1 : 0;
  return parsed;
}

std::string GetFieldText(TConstRecordImage record, const TFieldDescriptor& field) {
  if (FieldIsNull(record, field)) return std::string();
  switch (field.Type) {
    case fcString:
      return GetStringField(record, field);
    case fcDate:
      return DateText(GetDateField(record, field));
    case fcTime:
      return TimeText(GetTimeField(record, field));
    case fcTimeStamp:
      return TimeStampText(GetTimeStampField(record, field));
    case fcBoolean:
      return BooleanText(GetBooleanField(record, field));
    case fcSmallInt:
      return std::to_string(GetSmallIntField(record, field));
    case fcInteger:
    case fcInteger32:
      return std::to_string(GetIntegerField(record, field));
    case fcWord:
      return std::to_string(GetWordField(record, field));
    case fcLargeInt:
      return std::to_string(GetLargeIntField(record, field));
    case fcFloat:
      return FloatText(GetFloatField(record, field));
    case fcBCD:
      return BcdToText(GetBcdField(record, field));
    default: {
      TConstRecordImage data = FieldData(record, field);
      return std::string(data.begin(), data.end());
    }
  }
}

}  // namespace vevura
