#pragma once
// The engine's field type codes and subtypes, and the size each type takes in
// a record.
//
// A field descriptor (field_descriptor.h) names its type by one code byte and
// one subtype byte. The stored size is the number of data bytes that follow
// the field's null-flag byte in a record (record_layout.h); for strings,
// fixed bytes and variable bytes it follows from the declared size, for every
// other code it is fixed. Type bytes read from a file may hold any value, so
// every function here accepts any byte.

#include <cstdint>

namespace vevura {

//! Engine field type codes as the data file keeps them.
enum TFieldCode : uint8_t {
  fcNone = 0,        //!< no type: refused in every definition
  fcString = 1,      //!< zero-terminated text
  fcDate = 2,        //!< day number
  fcBlob = 3,        //!< reference into the BLOB file
  fcBoolean = 4,     //!< 16-bit 0 or 1
  fcSmallInt = 5,    //!< signed 16-bit integer
  fcInteger = 6,     //!< signed 32-bit integer; subtype 29 is the auto-increment field
  fcFloat = 7,       //!< IEEE 754 double; subtype 21 is money
  fcBCD = 8,         //!< binary-coded decimal of precision 32
  fcBytes = 9,       //!< fixed bytes
  fcTime = 10,       //!< milliseconds since midnight
  fcTimeStamp = 11,  //!< milliseconds since 0001-01-01 as a double
  fcWord = 12,       //!< unsigned 16-bit integer
  fcInteger32 = 13,  //!< 32-bit integer kept for query result sets
  fcTenBytes = 14,   //!< ten bytes kept as they are
  fcVarBytes = 15,   //!< variable bytes within the declared size
  fcCursor = 17,     //!< no data bytes
  fcLargeInt = 18,   //!< signed 64-bit integer
  fcInt64 = 19,      //!< no data bytes
  fcADT = 20,        //!< structured kinds 20 to 23: no data bytes
  fcArray = 21,
  fcReference = 22,
  fcDataSet = 23,
};

//! Subtype codes; 0 is plain.
enum TFieldSubtype : uint8_t {
  fsNone = 0,
  fsMoney = 21,
  fsMemo = 22,
  fsBinary = 23,
  fsFmtMemo = 24,
  fsBlob25 = 25,  //!< shown as a plain BLOB
  fsGraphic = 26,
  fsBlob27 = 27,  //!< shown as a plain BLOB
  fsTypedBinary = 28,
  fsAutoInc = 29,
  fsFixedChar = 31,
  fsWideString = 32,
};

//! Longest declared size of a string, bytes or variable-bytes field.
inline constexpr int kMaxDeclaredSize = 250;
//! Digits of a BCD value, and so the most decimals a BCD field can have.
inline constexpr int kBcdPrecision = 32;
//! Data bytes of a BCD value: precision byte, sign-and-places byte, 32 digit bytes.
inline constexpr int kBcdSize = 34;

//! True for the codes whose size is declared: strings, bytes, variable bytes.
inline bool HasDeclaredSize(uint8_t code) {
  return code == fcString || code == fcBytes || code == fcVarBytes;
}
//! True for the one field kept in the record header instead of a slot.
inline bool IsAutoIncField(uint8_t code, uint8_t subtype) {
  return code == fcInteger && subtype == fsAutoInc;
}

//! Data bytes a field of this code and declared size takes after its null
//! flag: string = declared size + 1, bytes and variable bytes = declared size,
//! the fixed sizes of the other codes, and the declared size for codes
//! without data (which is 0 in a valid definition).
inline int StoredSize(uint8_t code, int declared_size) {
  switch (code) {
    case fcString:
      return declared_size + 1;
    case fcDate:
      return 4;
    case fcBlob:
      return 8;
    case fcBoolean:
      return 2;
    case fcSmallInt:
      return 2;
    case fcInteger:
      return 4;
    case fcFloat:
      return 8;
    case fcBCD:
      return kBcdSize;
    case fcTime:
      return 4;
    case fcTimeStamp:
      return 8;
    case fcWord:
      return 2;
    case fcInteger32:
      return 4;
    case fcTenBytes:
      return 10;
    case fcLargeInt:
      return 8;
    default:
      return declared_size;  // bytes, variable bytes, kinds without data
  }
}

//! Bytes of a field's value in an index key: 8 for BCD (a fixed-point
//! number), the stored size for every other code.
inline int KeySize(uint8_t code, int declared_size) {
  return code == fcBCD ? 8 : StoredSize(code, declared_size);
}

}  // namespace vevura
