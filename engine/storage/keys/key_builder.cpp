#include "engine/storage/keys/key_builder.h"

#include <algorithm>
#include <cstring>

#include "engine/storage/common/byte_order.h"
#include "engine/storage/fields/record_layout.h"
#include "engine/storage/keys/key_encoding.h"
#include "engine/storage/language/collation.h"

namespace vevura {

namespace {

//! Copies the characters before the first zero, at most size - 1 of them
//! so that the value keeps a terminating zero, upper-cased when asked.
void PutKeyString(const TKeyContext& c, TConstRecordImage data, uint8_t* out, size_t size) {
  if (size == 0) return;
  const size_t room = std::min(size - 1, data.size());
  const auto* chars = reinterpret_cast<const char*>(data.data());
  const size_t length = strnlen(chars, room);
  std::memcpy(out, chars, length);
  if (c.CaseInsensitive) UpperText(c.LanguageId, c.SortId, reinterpret_cast<char*>(out), length);
}

//! Writes the value part of a slot from the field's stored bytes.
void PutKeyValue(const TKeyContext& c, const TKeySlot& slot, TConstRecordImage data, uint8_t* out) {
  const uint8_t* d = data.data();
  switch (slot.Field.Type) {
    case fcString:
      PutKeyString(c, data, out, slot.KeySize);
      return;
    case fcDate:
    case fcInteger:
    case fcTime:
      PutKeyInt32(out, GetInt32(d));
      return;
    case fcSmallInt:
      PutKeyInt16(out, GetInt16(d));
      return;
    case fcBoolean:
    case fcWord:
      PutKeyUInt16(out, GetUInt16(d));
      return;
    case fcFloat:
    case fcTimeStamp:
      PutKeyDouble(out, GetDouble(d));
      return;
    case fcBCD:
      PutKeyInt64(out, BcdToKeyFixed(DecodeBcd(d)));
      return;
    case fcLargeInt:
      PutKeyInt64(out, GetInt64(d));
      return;
    default:
      std::memcpy(out, d, std::min<size_t>(slot.KeySize, data.size()));
      return;
  }
}

//! Stored bytes a fixed-size encoding reads and key bytes it writes; 0 for
//! the kinds that copy what there is.
struct TEncodingSize {
  size_t in = 0;
  size_t out = 0;
};

TEncodingSize EncodingSizeOf(uint8_t type) {
  switch (type) {
    case fcDate:
    case fcInteger:
    case fcTime:
      return {4, 4};
    case fcSmallInt:
    case fcBoolean:
    case fcWord:
      return {2, 2};
    case fcFloat:
    case fcTimeStamp:
    case fcLargeInt:
      return {8, 8};
    case fcBCD:
      return {static_cast<size_t>(kBcdSize), static_cast<size_t>(kBcdKeyBytes)};
    default:
      return {};
  }
}

//! False for descriptors whose sizes disagree with their type (a damaged
//! header): the value part then stays zero rather than reaching past it.
bool EncodingFits(const TKeySlot& slot, size_t available) {
  TEncodingSize size = EncodingSizeOf(slot.Field.Type);
  return available >= size.in && slot.KeySize >= size.out;
}

void ComplementSlot(const TKeySlot& slot, uint8_t* key) {
  // The terminating zero of a string stays zero in every key.
  const uint16_t end = slot.IsString() ? slot.End() - 1 : slot.End();
  for (uint16_t i = slot.Start; i < end; ++i) key[i] = static_cast<uint8_t>(255 - key[i]);
}

void BuildSlot(const TKeyContext& c, const TKeySlot& slot, TConstRecordImage record, uint8_t* key) {
  const bool present = slot.Field.IsAutoInc() || !FieldIsNull(record, slot.Field);
  key[slot.Start] = present ? 1 : 0;
  TConstRecordImage data = FieldData(record, slot.Field);
  if (EncodingFits(slot, data.size())) PutKeyValue(c, slot, data, key + slot.ValueStart());
  if (!c.HasLanguage() && !c.Descending && slot.Descending) ComplementSlot(slot, key);
}

}  // namespace

void BuildKey(const TKeyContext& c, TConstRecordImage record, uint8_t* key) {
  std::memset(key, 0, c.KeyLength);
  for (const TKeySlot& slot : c.Slots) BuildSlot(c, slot, record, key);
  if (!c.Unique) PutKeyRowId(key + c.SlotsLength, RecordRowId(record));
}

std::vector<uint8_t> BuildKey(const TKeyContext& c, TConstRecordImage record) {
  std::vector<uint8_t> key(c.KeyLength);
  BuildKey(c, record, key.data());
  return key;
}

void BuildSlotKey(TConstRecordImage record, uint8_t* key) {
  key[0] = RecordStatus(record);
  PutKeyRowId(key + 1, RecordRowId(record));
}

void BuildTextKey(const TKeyContext& c, uint16_t field_number, std::string_view word,
                  int32_t row_id, uint8_t* key) {
  std::memset(key, 0, kTextKeyLength);
  key[0] = 1;
  PutKeyUInt16(key + 1, field_number);
  const size_t length = std::min<size_t>(word.size(), kTextWordSize);
  std::memcpy(key + kTextWordOffset, word.data(), length);
  UpperText(c.LanguageId, c.SortId, reinterpret_cast<char*>(key + kTextWordOffset), length);
  PutKeyRowId(key + kTextRowIdOffset, row_id);
}

}  // namespace vevura
