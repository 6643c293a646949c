#pragma once
// Field values as the tool writes and reads them: one text form per field
// type, shared by every output format and by the import.
//
//   strings and memos   UTF-8, converted from the table language's code page
//   integers, floats    decimal numbers (floats the shortest form that reads
//                       back as the same double)
//   BCD                 the exact decimal ("-12.3450" is written "-12.345")
//   booleans            true, false
//   dates               YYYY-MM-DD (years before 1000 with leading zeros)
//   times               HH:MM:SS.mmm
//   timestamps          YYYY-MM-DDTHH:MM:SS.mmm
//   bytes, binary BLOBs base64
// Null has no text; what stands for it is the format's business. Reading
// takes the same forms (dates, times and timestamps also in the engine's
// looser forms, booleans also as 1 and 0) and refuses what does not fit the
// field: too long, out of range, too many decimals, a character the code
// page lacks.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/data_cursor.h"
#include "engine/storage/fields/field_descriptor.h"

namespace vevura::tool {

//! How a value's text is to be taken.
enum TValueKind {
  vkNull,     //!< no value; the text is empty
  vkNumber,   //!< a decimal number
  vkBoolean,  //!< "true" or "false"
  vkText,     //!< text (strings, memos, dates, times, decimals)
  vkBinary,   //!< base64 of bytes
};

//! A memo (its BLOB holds text) rather than binary data.
bool IsTextBlob(const TFieldDescriptor& field);
//! The engine's name of a field type and subtype ("string", "memo", "autoinc").
std::string TypeName(const TFieldDescriptor& field);

std::string Base64Encode(std::span<const uint8_t> bytes);
//! False for a text that is not base64 (whitespace is not allowed).
bool Base64Decode(std::string_view text, std::vector<uint8_t>* bytes);

//! Reads and writes the values of one open table's fields.
class TFieldValues {
 public:
  explicit TFieldValues(TDataCursor& cursor);

  //! The value of field in record (the cursor's current record when the
  //! field is a BLOB) as text (replaced), and how to take it.
  TValueKind Read(const TFieldDescriptor& field, TRecordImage record, std::string& text);

  //! Sets field of record from its text form; "" makes it null. BLOB values
  //! are only checked unless write_blobs, which writes them into the
  //! cursor's BLOB buffer for record, left open for the post that saves it. False with *error ("is
  //! not a date") when the text does not fit; the field is then left as it was.
  bool Write(const TFieldDescriptor& field, TRecordImage record, std::string_view text,
             bool write_blobs, std::string* error);

 private:
  void ReadBlob(const TFieldDescriptor& field, TRecordImage record, std::string& bytes);
  void ReadString(std::string_view stored, std::string& text) const;
  bool WriteBlob(const TFieldDescriptor& field, TRecordImage record, std::string_view text,
                 bool write_blobs, std::string* error);
  bool ToCodePage(std::string_view text, std::string* stored, std::string* error) const;

  TDataCursor& cursor_;
  uint16_t language_ = 0;       //!< the table's language
  uint32_t lcid_ = 0;           //!< its locale, for character case
  std::string blob_;            //!< scratch for BLOB contents
  std::vector<uint8_t> bytes_;  //!< scratch for decoded bytes
};

}  // namespace vevura::tool
