#pragma once
// Shared pieces of the key and collation tests: small tables of chosen
// fields, record images filled through the field codec, index contexts over
// chosen fields, and hex texts of keys.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "engine/storage/fields/field_codec.h"
#include "engine/storage/fields/record_layout.h"
#include "engine/storage/keys/key_builder.h"
#include "engine/storage/keys/key_compare.h"
#include "engine/storage/keys/key_context.h"
#include "tests/engine/storage/table_definition_support.h"

namespace vevura::test {

//! Bytes written as hex pairs separated by blanks ("01 80 00 00 01").
inline std::vector<uint8_t> Hex(const std::string& text) {
  std::vector<uint8_t> bytes;
  std::istringstream in(text);
  std::string pair;
  while (in >> pair) bytes.push_back(static_cast<uint8_t>(std::stoul(pair, nullptr, 16)));
  return bytes;
}

inline std::string HexOf(const uint8_t* bytes, size_t n) {
  std::string text;
  char pair[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : " %02X", bytes[i]);
    text += pair;
  }
  return text;
}
inline std::string HexOf(const std::vector<uint8_t>& bytes) {
  return HexOf(bytes.data(), bytes.size());
}

//! The fields of a test table, laid out as a data file lays them out.
class TTestTable {
 public:
  explicit TTestTable(std::vector<TFieldDescriptor> fields, uint16_t language_id = 0,
                      uint16_t sort_id = 0)
      : fields_(std::move(fields)), language_id_(language_id), sort_id_(sort_id) {
    record_size_ = LayOutFields(fields_);
  }

  const std::vector<TFieldDescriptor>& Fields() const { return fields_; }
  const TFieldDescriptor& Field(uint16_t number) const { return fields_[number - 1]; }
  uint16_t LanguageId() const { return language_id_; }
  uint16_t SortId() const { return sort_id_; }

  //! A record image with every field null and the given row id.
  std::vector<uint8_t> NewRecord(int32_t row_id) const {
    std::vector<uint8_t> record(record_size_, 0);
    SetRecordRowId(record, row_id);
    return record;
  }

  //! A descriptor of an index over fields (numbers), with its key length.
  TIndexDescriptor Index(const std::vector<uint16_t>& numbers, bool unique,
                         bool case_insensitive = false, bool descending = false,
                         const std::vector<bool>& field_descending = {}) const {
    TIndexDescriptor d;
    d.Name = "IX";
    d.Unique = unique ? 1 : 0;
    d.CaseInsensitive = case_insensitive ? 1 : 0;
    d.Descending = descending ? 1 : 0;
    d.FieldCount = static_cast<uint8_t>(numbers.size());
    for (size_t i = 0; i < numbers.size(); ++i) {
      d.FieldNumbers[i] = numbers[i];
      d.FieldDescending[i] = i < field_descending.size() && field_descending[i] ? 1 : 0;
    }
    d.KeyLength = OrdinaryKeyLength(d, fields_, "T");
    return d;
  }

  TKeyContext Context(uint8_t n, const TIndexDescriptor& d) const {
    return MakeKeyContext(language_id_, sort_id_, n, d, fields_, "T");
  }
  //! Context of index 1 over fields.
  TKeyContext Context(const std::vector<uint16_t>& numbers, bool unique,
                      bool case_insensitive = false, bool descending = false,
                      const std::vector<bool>& field_descending = {}) const {
    return Context(1, Index(numbers, unique, case_insensitive, descending, field_descending));
  }
  //! Context of index 31 or 32.
  TKeyContext SystemContext(uint8_t n) const {
    TIndexDescriptor d;
    d.KeyLength = n == kSlotIndex ? kSlotKeyLength : kTextKeyLength;
    return Context(n, d);
  }

 private:
  std::vector<TFieldDescriptor> fields_;
  uint16_t language_id_;
  uint16_t sort_id_;
  uint32_t record_size_ = 0;
};

inline TFieldDescriptor TestField(uint16_t number, uint8_t type, uint8_t size = 0,
                                  uint8_t subtype = fsNone) {
  return FieldDefinition(number, "F" + std::to_string(number), type, subtype, size, false);
}

}  // namespace vevura::test
