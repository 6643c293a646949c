#pragma once
// The 768-byte field descriptor of the data file: one per field, in field
// order, right after the 127-byte header.
//
// TFieldDescriptor holds the interpreted parts as members and the parts this
// layer does not interpret (kept for query result sets and copies) as raw
// bytes, so that decoding and encoding again gives back every byte (strings
// are length-prefixed on disk, byte_order.h; their padding is rewritten as
// zeros).
//
// Layout (offset, size): 0 2 field number; 2 31 name; 33 51 not interpreted;
// 84 type code; 85 subtype; 86 declared size; 87 declared scale; 88 stored
// size; 89 stored scale; 90 2 offset of the null-flag byte in the record;
// 92 required; 93 character case; 94 51 minimum; 145 51 maximum; 196 51
// default; 247 no-storage flag; 248 4 result-set data; 252 hidden flag;
// 253 515 result-set and copy data (the position of a looked-up copy at 357).

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/storage/fields/field_types.h"

namespace vevura {

inline constexpr size_t kFieldDescriptorSize = 768;
//! Longest field (and index) name.
inline constexpr size_t kMaxFieldNameLength = 30;
//! Longest minimum, maximum or default value text.
inline constexpr size_t kMaxValueTextLength = 50;
//! Offset, within a descriptor, of the field's position in copies handed out
//! by the field lookups of the data file.
inline constexpr size_t kCopyPositionOffset = 357;

//! Character case applied to a string field's values when they are stored.
enum TCharCase : uint8_t { ccNormal = 0, ccLowerCase = 1, ccUpperCase = 2 };

struct TFieldDescriptor {
  uint16_t FieldNumber = 0;               //!< 1-based; equals the field's position
  std::string Name;                       //!< at most 30 characters
  std::array<uint8_t, 51> Unused33{};     //!< bytes 33 to 83, not interpreted
  uint8_t Type = fcNone;                  //!< TFieldCode
  uint8_t Subtype = fsNone;               //!< TFieldSubtype
  uint8_t Size = 0;                       //!< declared size (strings, bytes, variable bytes)
  uint8_t Scale = 0;                      //!< declared decimals (BCD)
  uint8_t PhysicalSize = 0;               //!< stored size: data bytes after the null flag
  uint8_t PhysicalScale = 0;              //!< copy of the declared scale
  uint16_t Offset = 0;                    //!< null-flag byte in the record; 5 for auto-increment
  uint8_t Required = 0;                   //!< the field may not be null
  uint8_t CharCase = ccNormal;            //!< TCharCase, strings only
  std::string MinValue;                   //!< value text, empty for none
  std::string MaxValue;                   //!< value text, empty for none
  std::string DefaultValue;               //!< value text, empty for none
  uint8_t NoStorage = 0;                  //!< the field takes no room in the record
  std::array<uint8_t, 4> ResultSet248{};  //!< bytes 248 to 251, result sets only
  uint8_t Hidden = 0;                     //!< left out of field lists
  std::array<uint8_t, 515> Extra253{};    //!< bytes 253 to 767, result sets and copies

  bool IsAutoInc() const { return IsAutoIncField(Type, Subtype); }
  //! True when the field has a slot of its own in the record.
  bool HasStorage() const { return !IsAutoInc() && NoStorage == 0; }
  bool IsBlob() const { return Type == fcBlob; }
  //! The position recorded in a looked-up copy (0 in a stored descriptor).
  uint16_t CopyPosition() const;
  void SetCopyPosition(uint16_t position);
};

//! Writes the descriptor's 768 bytes at out; strings longer than their room
//! are cut.
void EncodeFieldDescriptor(const TFieldDescriptor& descriptor, uint8_t* out);
//! Reads a descriptor from 768 bytes at in; any byte values are accepted.
TFieldDescriptor DecodeFieldDescriptor(const uint8_t* in);

}  // namespace vevura
