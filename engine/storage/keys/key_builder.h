#pragma once
// Building the keys of a record for an index (key_context.h).
//
// Key of an ordinary index: zeros, then per field of the index its slot, a
// presence byte (1 value, 0 null; the auto-increment field always has a
// value) followed by the value in its key encoding (key_encoding.h): strings
// as their characters up to the terminating zero, upper-cased for a
// case-insensitive index, and zeros to the end of the value; integers,
// dates, times, doubles, BCD and large integers as numbers that compare as
// bytes; booleans and words as 16-bit big-endian values; every other kind as
// its stored bytes. A null field's value is built from its stored bytes all
// the same. An index that is not unique ends with the row id as tie-break.
//
// In a table without a language, a field of an ascending index with its own
// descending flag has its whole slot complemented (each byte b becomes
// 255 - b), except the last byte of a string slot, which stays zero; then a
// plain byte comparison of two keys gives the index order. Tables with a
// language keep the bytes as built and leave the order to CompareKeys.
//
// Building never fails on a record whose image fits the table's fields.

#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/storage/fields/field_codec.h"
#include "engine/storage/keys/key_context.h"

namespace vevura {

//! Writes the key of the record for the context's ordinary index into key,
//! which holds at least c.KeyLength bytes.
void BuildKey(const TKeyContext& c, TConstRecordImage record, uint8_t* key);
//! The same, as a new buffer of c.KeyLength bytes.
std::vector<uint8_t> BuildKey(const TKeyContext& c, TConstRecordImage record);

//! Writes the 5-byte key of index 31: the record's status byte and its row
//! id.
void BuildSlotKey(TConstRecordImage record, uint8_t* key);

//! Writes the 68-byte key of index 32 for one word of a field: 1, the field
//! number big-endian, the word (cut to 61 characters) upper-cased in the
//! context's language and padded with zeros, the row id.
void BuildTextKey(const TKeyContext& c, uint16_t field_number, std::string_view word,
                  int32_t row_id, uint8_t* key);

}  // namespace vevura
