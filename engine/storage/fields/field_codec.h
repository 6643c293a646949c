#pragma once
// Reading and writing field values in a record image.
//
// Every field with storage has a slot at its descriptor's offset: a null-flag
// byte (1 value, 0 null) and its data bytes (record_layout.h). A null field
// has flag 0 and all data bytes zero. The auto-increment field has no slot of
// its own: its value is the row id at offset 5 and it is never null.
//
// Encodings (little-endian): strings are the characters and a zero byte,
// zero-padded; dates a signed 32-bit day number (0001-01-01 is 1); times
// signed 32-bit milliseconds since midnight; timestamps a double, day number ×
// 86400000 + milliseconds; booleans unsigned 16-bit 0 or 1; small integers,
// integers, words and large integers their fixed-width integers; floats and
// money doubles; BCD the 34-byte decimal (bcd.h); bytes, variable bytes and
// the ten-byte kind their bytes as given; BLOB references the first block and
// the BLOB identifier, two signed 32-bit numbers.
//
// Each accessor accepts only the field types named in its comment and raises
// VEVURA_INVALIDFLDTYPE naming the field for any other. A slot that does not
// fit inside the image (descriptors that disagree with the record size)
// raises VEVURA_HEADERCORRUPT naming the field; no byte outside the image is
// ever touched.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/fields/bcd.h"
#include "engine/storage/fields/field_descriptor.h"

namespace vevura {

using TRecordImage = std::span<uint8_t>;
using TConstRecordImage = std::span<const uint8_t>;

//! Where a BLOB's data lies in the BLOB file.
struct TBlobReference {
  int32_t FirstBlock = 0;  //!< first block of the BLOB, 0 when it has none
  int32_t BlobId = 0;      //!< the BLOB's identifier
};

//! True when the field holds no value (never for the auto-increment field).
bool FieldIsNull(TConstRecordImage record, const TFieldDescriptor& field);
//! Makes the field null: flag and data bytes zero. The auto-increment field
//! cannot be null and is left as it is.
void SetFieldNull(TRecordImage record, const TFieldDescriptor& field);
//! The field's data bytes (bytes 5 to 8 for the auto-increment field).
TConstRecordImage FieldData(TConstRecordImage record, const TFieldDescriptor& field);

//! Strings (type 1): the characters before the zero byte; "" when null.
std::string GetStringField(TConstRecordImage record, const TFieldDescriptor& field);
//! Strings: the text cut to the declared size, trailing blanks removed, the
//! field's character case applied under the locale lcid (English (USA) rules
//! for language 0); an empty result is stored as null.
void SetStringField(TRecordImage record, const TFieldDescriptor& field, std::string_view text,
                    uint32_t lcid);

//! Dates (type 2): the day number.
int32_t GetDateField(TConstRecordImage record, const TFieldDescriptor& field);
void SetDateField(TRecordImage record, const TFieldDescriptor& field, int32_t day_number);
//! Times (type 10): milliseconds since midnight.
int32_t GetTimeField(TConstRecordImage record, const TFieldDescriptor& field);
void SetTimeField(TRecordImage record, const TFieldDescriptor& field, int32_t milliseconds);
//! Timestamps (type 11): day number × 86400000 + milliseconds.
double GetTimeStampField(TConstRecordImage record, const TFieldDescriptor& field);
void SetTimeStampField(TRecordImage record, const TFieldDescriptor& field, double timestamp);

//! Booleans (type 4).
bool GetBooleanField(TConstRecordImage record, const TFieldDescriptor& field);
//! Booleans: 0 is false; any other value is stored as 1.
void SetBooleanField(TRecordImage record, const TFieldDescriptor& field, uint16_t value);

//! Small integers (type 5).
int16_t GetSmallIntField(TConstRecordImage record, const TFieldDescriptor& field);
void SetSmallIntField(TRecordImage record, const TFieldDescriptor& field, int16_t value);
//! Integers (types 6 and 13); the auto-increment field reads and writes the
//! row id.
int32_t GetIntegerField(TConstRecordImage record, const TFieldDescriptor& field);
void SetIntegerField(TRecordImage record, const TFieldDescriptor& field, int32_t value);
//! Words (type 12).
uint16_t GetWordField(TConstRecordImage record, const TFieldDescriptor& field);
void SetWordField(TRecordImage record, const TFieldDescriptor& field, uint16_t value);
//! Large integers (type 18).
int64_t GetLargeIntField(TConstRecordImage record, const TFieldDescriptor& field);
void SetLargeIntField(TRecordImage record, const TFieldDescriptor& field, int64_t value);
//! Floats and money (type 7).
double GetFloatField(TConstRecordImage record, const TFieldDescriptor& field);
void SetFloatField(TRecordImage record, const TFieldDescriptor& field, double value);
//! Decimals (type 8), kept as given.
TBcd GetBcdField(TConstRecordImage record, const TFieldDescriptor& field);
void SetBcdField(TRecordImage record, const TFieldDescriptor& field, const TBcd& value);

//! Bytes, variable bytes and ten-byte values (types 9, 15, 14): all data
//! bytes; empty when null.
std::vector<uint8_t> GetBytesField(TConstRecordImage record, const TFieldDescriptor& field);
//! The bytes cut to the field's size, the rest zero-filled; a value even
//! when empty.
void SetBytesField(TRecordImage record, const TFieldDescriptor& field,
                   std::span<const uint8_t> bytes);

//! BLOB references (type 3).
TBlobReference GetBlobField(TConstRecordImage record, const TFieldDescriptor& field);
//! The flag says whether the BLOB has data: an empty BLOB is null.
void SetBlobField(TRecordImage record, const TFieldDescriptor& field,
                  const TBlobReference& reference, bool has_data);

//! Encodes a value text (value_text.h) into the field's data bytes
//! (FieldDataSize of them at data): strings as SetStringField would store
//! them, numbers, booleans, dates, times and timestamps parsed, BCD with the
//! field's decimals; bytes, BLOBs and kinds without a text form give zeros.
//! A text that does not parse gives zeros and false.
bool EncodeValueText(const TFieldDescriptor& field, std::string_view text, std::span<uint8_t> data,
                     uint32_t lcid);
//! Sets the field from a value text: a value (flag 1) with the encoded
//! bytes, except that a string that ends up empty is null. False, with the
//! field null, when the text does not parse.
bool SetFieldFromText(TRecordImage record, const TFieldDescriptor& field, std::string_view text,
                      uint32_t lcid);
//! The field's value in its text form; "" when null.
std::string GetFieldText(TConstRecordImage record, const TFieldDescriptor& field);

//! Number of data bytes of the field (4 for the auto-increment field).
size_t FieldDataSize(const TFieldDescriptor& field);

}  // namespace vevura
