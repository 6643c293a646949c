#pragma once
// The 127-byte header at the start of a data file.
//
// The header carries the table's identity and counters: the change counter
// other users watch, the record counts and free-record chain head, the
// auto-increment counter, the record size, the locale, the encryption flag
// with the scrambled password, the user version and the BLOB block size. It is
// never scrambled. TDataHeader holds it as members in the on-disk layout; the
// password and description are kept as they are on disk (scrambled when the
// table is encrypted, see PlainPassword). All integers are little-endian.
//
// Layout (offset, size): 0 4 change counter; 4 4 BLOB block size; 8 1
// version (5); 9 4 first free record; 13 4 next record number; 17 4 last
// auto-increment value; 21 2 record size; 23 2 field count; 25 2 BLOB field
// count; 27 8 last update; 35 51 description; 86 1 encrypted flag; 87 16
// password; 103 2 language id; 105 2 sort id; 107 2 user major version; 109 2
// user minor version; 111 1 header-changed flag; 112 4 last BLOB id; 116 4
// written as 33000; 120 4 written as 0; 124 3 reserved.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/storage/fields/field_descriptor.h"

namespace vevura {

inline constexpr size_t kDataHeaderSize = 127;
inline constexpr uint8_t kDataFileVersion = 5;
inline constexpr uint16_t kMaxFieldCount = 1024;
inline constexpr int kMaxBlobFields = 128;
inline constexpr uint32_t kMinBlobBlockSize = 64;
//! Block size of a BLOB file whose header says 0.
inline constexpr uint32_t kDefaultBlobBlockSize = 512;
//! Longest table description.
inline constexpr size_t kMaxDescriptionLength = 50;
//! Written at offset 116 of every header write; never read.
inline constexpr uint32_t kHeaderMark116 = 33000;

struct TDataHeader {
  int32_t ChangeCounter = 0;     //!< incremented before every header write
  uint32_t BlobBlockSize = 0;    //!< 0 stands for 512
  uint8_t Version = 0;           //!< kDataFileVersion in a valid file
  int32_t FirstFreeRecord = 0;   //!< head of the free-record chain, 0 when empty
  int32_t NextRecordNumber = 0;  //!< record slots + 1
  int32_t LastAutoIncValue = 0;  //!< last row id handed out
  uint16_t RecordSize = 0;       //!< bytes per record
  uint16_t FieldCount = 0;       //!< number of field descriptors
  int16_t BlobFieldCount = 0;    //!< fields of type fcBlob
  double LastUpdate = 0;         //!< local day count of the last write, minus 693594
  std::string Description;       //!< up to 50 characters, scrambled when encrypted
  uint8_t Encrypted = 0;         //!< records, descriptors, BLOB and index files scrambled
  std::string Password;          //!< up to 15 characters, scrambled; empty when plain
  uint16_t LanguageId = 0;       //!< 0: no locale, byte order
  uint16_t SortId = 0;           //!< sort identifier of the locale
  int16_t UserMajorVersion = 0;  //!< the table's user version
  int16_t UserMinorVersion = 0;
  uint8_t HeaderChanged = 0;             //!< the writer's header-changed flag when writing
  int32_t LastBlobId = 0;                //!< last BLOB identifier handed out
  uint32_t Mark116 = 0;                  //!< written as 33000, not read
  uint32_t Mark120 = 0;                  //!< written as 0, not read
  std::array<uint8_t, 3> Reserved124{};  //!< reserved, kept as read (zero when created)

  //! The block size to use: the stored one, 512 when it is 0.
  uint32_t EffectiveBlobBlockSize() const {
    return BlobBlockSize == 0 ? kDefaultBlobBlockSize : BlobBlockSize;
  }
  //! The stored password in plain text; empty when the table is not encrypted,
  //! whatever the password bytes hold.
  std::string PlainPassword() const;
  //! The description in plain text.
  std::string PlainDescription() const;
};

//! Writes the header's 127 bytes at out.
void EncodeDataHeader(const TDataHeader& header, uint8_t* out);
//! Reads a header from 127 bytes at in; any byte values are accepted.
TDataHeader DecodeDataHeader(const uint8_t* in);

//! What a new table's header is made from.
struct TNewTableHeader {
  uint16_t LanguageId = 0;
  uint16_t SortId = 0;
  uint32_t BlobBlockSize = kDefaultBlobBlockSize;
  std::string Description;
  std::string Password;  //!< checked by CheckNewTablePassword when encrypted
  bool Encrypted = false;
  int16_t UserMinorVersion = 0;
  int16_t UserMajorVersion = 1;
};

//! The header of a new, empty table with these field descriptors (already
//! validated and laid out): version 5, no records, no free record, counters
//! 0; password and description cut to 15 and 50 characters and scrambled when
//! encrypted, the password empty otherwise. Raises VEVURA_FLDLIMIT for more
//! than 1024 fields, VEVURA_BLOBLIMIT for a 129th BLOB field and
//! VEVURA_RECTOOBIG for a record size above 65535, naming the table.
TDataHeader MakeNewDataHeader(const TNewTableHeader& params,
                              const std::vector<TFieldDescriptor>& fields,
                              const std::string& table);

}  // namespace vevura
