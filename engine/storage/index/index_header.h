#pragma once
// The header of an index file: its layout on disk and its decoded image.
//
// The index file begins with a 4096-byte header that describes the table's
// 33 indexes (0 the primary index, 1 to 30 secondary indexes, 31 the record
// slot index, 32 the word index) and keeps the table's active record count.
// The rest of the file is 4096-byte pages; page n lives at offset n * 4096.
//
// TIndexHeader is the decoded image the index file keeps in memory. Encoding
// and decoding are exact inverses for every field this system knows; reserved
// bytes are written as zeros. Nothing here touches a file.

#include <array>
#include <cstdint>
#include <string>

namespace vevura {

//! Size of the header and of every page of an index file.
inline constexpr int kIndexPageSize = 4096;
//! Number of index descriptors in the header: 0 primary, 1-30, 31 and 32.
inline constexpr int kIndexCount = 33;
//! Number of the last secondary index.
inline constexpr int kMaxSecondaryIndexes = 30;
//! The record slot index ("Sys Deleted").
inline constexpr uint8_t kSlotIndex = 31;
//! The word index ("Sys Text").
inline constexpr uint8_t kTextIndex = 32;
//! The index number of a cursor without a current index.
inline constexpr uint8_t kNoIndex = 255;
//! The only version of the index file this engine reads.
inline constexpr uint8_t kIndexFileVersion = 5;
//! Size of one index descriptor in the header.
inline constexpr int kIndexDescriptorSize = 120;
//! Fields an index may have.
inline constexpr int kMaxIndexFields = 16;
//! Characters of an index name.
inline constexpr size_t kMaxIndexNameLength = 30;
//! Longest key: 522 bytes of field slots and a 4-byte row-id tie-break.
inline constexpr uint16_t kMaxKeyLength = 526;

//! Leaf compression of an index.
enum TLeafCompression : uint8_t {
  lcNone = 0,           //!< key and reference as they are
  lcDuplicateByte = 1,  //!< leading bytes shared with the previous key left out
  lcTrailingByte = 2,   //!< zero bytes that end the key left out
  lcFull = 3,           //!< both
};

//! One index descriptor (120 bytes on disk).
struct TIndexDescriptor {
  std::string Name;              //!< up to 30 characters; empty for index 0
  uint16_t KeyLength = 0;        //!< bytes of every key of the index
  uint8_t Descending = 0;        //!< the whole index is in descending order
  uint8_t CaseInsensitive = 0;   //!< string fields compare without case
  uint8_t Unique = 0;            //!< no two keys equal; 1 for index 0
  uint8_t Compression = lcNone;  //!< TLeafCompression of the leaves
  uint8_t FieldCount = 0;        //!< 0 to 16
  std::array<uint8_t, kMaxIndexFields> FieldDescending{};  //!< per field, in index order
  std::array<uint16_t, kMaxIndexFields> FieldNumbers{};    //!< ends at the first 0
  int32_t RootPage = 0;                                    //!< 0 when the index is empty
  int32_t FreeListHead = 0;                                //!< first page of this index's free list
  int32_t FirstDataPage = 0;                               //!< first page of the parameter chain
  uint8_t NoCounts = 0;                                    //!< inner entries carry no key counts
  uint8_t Temporary = 0;                                   //!< lives only while the table is open

  bool operator==(const TIndexDescriptor&) const = default;
};

//! The decoded header of an index file.
struct TIndexHeader {
  int32_t ChangeCounter = 0;  //!< raised by every header write
  uint8_t Version = kIndexFileVersion;
  int32_t NextPage = 1;        //!< pages 1 to NextPage - 1 exist
  uint8_t SecondaryCount = 0;  //!< secondary indexes in use, 0 to 30
  std::array<TIndexDescriptor, kIndexCount> Descriptors{};
  int32_t ActiveRecordCount = 0;  //!< active records of the table
  uint8_t NoPrimary = 0;          //!< the table has no primary index
  uint8_t Modified = 0;           //!< the image differs from the file

  bool operator==(const TIndexHeader&) const = default;
};

//! Offsets of the header fields.
namespace index_header_layout {
inline constexpr int kChangeCounter = 0;
inline constexpr int kVersion = 8;
inline constexpr int kNextPage = 9;
inline constexpr int kSecondaryCount = 13;
inline constexpr int kDescriptors = 14;
inline constexpr int kActiveRecordCount = 3974;
inline constexpr int kNoPrimary = 3978;
inline constexpr int kModified = 3979;
}  // namespace index_header_layout

//! Writes the 120 bytes of a descriptor at out.
void EncodeIndexDescriptor(const TIndexDescriptor& descriptor, uint8_t* out);
//! Reads a descriptor from 120 bytes.
TIndexDescriptor DecodeIndexDescriptor(const uint8_t* in);

//! Writes the 4096 bytes of the header at out, exactly as the image says.
void EncodeIndexHeader(const TIndexHeader& header, uint8_t* out);
//! Reads a header from 4096 bytes. The modified marker is taken as stored;
//! callers that adopt a header from disk clear it.
TIndexHeader DecodeIndexHeader(const uint8_t* in);

//! The header of a new index file: version 5, next page 1, the two system
//! indexes described, and the modified marker set so the first flush writes it.
TIndexHeader NewIndexHeader();

//! The copy of the header that goes to disk: every temporary descriptor is
//! zeroed and left out of the secondary-index count.
TIndexHeader HeaderForDisk(const TIndexHeader& header);
//! Writes the 4096 bytes of HeaderForDisk(header) at out, without the copy.
void EncodeIndexHeaderForDisk(const TIndexHeader& header, uint8_t* out);

}  // namespace vevura
