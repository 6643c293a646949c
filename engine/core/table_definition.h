#pragma once
// TTableDefinition: everything a new table is made from, and the checks a
// definition must pass before any of the table's files is touched.
//
// A definition names the table's locale and user version, its encryption,
// description and BLOB block size, its fields (one 768-byte descriptor each,
// field_descriptor.h), its indexes (33 index descriptor slots,
// index_header.h: slot 0 the primary index, 1 to SecondaryIndexCount the
// secondary indexes, 32 the word index) and the word index's parameters.
//
// ValidateTableDefinition checks and completes a definition in place, in
// this order, raising the first broken rule:
//   1. general limits: password of an encrypted table, installed language,
//      at most 1024 fields, at most 32 secondary indexes, BLOB block size of
//      at least 64 (field_validation.h, CheckNewTableLimits);
//   2. fields, one by one: name, uniqueness, number, type and size, value
//      texts; then their layout, whose record size must fit the header's
//      16-bit record size (VEVURA_FLDLIMIT above 65535);
//   3. indexes: at most 30 secondary indexes (VEVURA_INDEXLIMIT); the
//      secondary index names (VEVURA_INVALIDINDEXNAME, VEVURA_INDEXEXISTS);
//      then each ordinary index's field list (VEVURA_INVALIDIDXDESC,
//      VEVURA_SEARCHCOLREQD) and key length (VEVURA_INVALIDKEY); last the
//      word index's fields (strings and memos only).
// Completing means: field names trimmed and cut to 30 characters, sizes and
// decimals cleared where the type has none, offsets and stored sizes laid
// out; each index descriptor given its field count and key length, its
// entries after the list's end zeroed, no pages, and never the temporary
// flag (a table is created with permanent indexes only).
//
// Errors name the table, and the field or index where the message has one.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/storage/data/data_header.h"
#include "engine/storage/fields/field_descriptor.h"
#include "engine/storage/index/index_data_pages.h"
#include "engine/storage/index/index_header.h"
#include "engine/storage/keys/word_keys.h"

namespace vevura {

//! Key length of every word index.
inline constexpr uint16_t kTextIndexKeyLength = 68;

struct TTableDefinition {
  uint16_t LanguageId = 0;               //!< 0 with sort id 0: no locale, byte order
  uint16_t SortId = 0;                   //!< sort identifier of the locale
  int16_t UserMajorVersion = 1;          //!< stored in the data header
  int16_t UserMinorVersion = 0;          //!< stored in the data header
  bool Encrypted = false;                //!< the table's files are scrambled
  std::string Password;                  //!< 1 to 15 characters after trimming when encrypted
  std::string Description;               //!< free text; 50 characters are kept
  uint16_t BlobBlockSize = 512;          //!< bytes per BLOB block, at least 64
  std::vector<TFieldDescriptor> Fields;  //!< field i has field number i + 1
  uint8_t SecondaryIndexCount = 0;       //!< secondary indexes in slots 1 to this
  std::array<TIndexDescriptor, kIndexCount> Indexes{};  //!< slot 0 primary, 32 word index
  //! An all-zero slot 0 stands for a table without a primary index.
  bool AllowNoPrimaryIndex = false;
  //! Words the word index leaves out; nothing: the default list.
  std::optional<std::vector<std::string>> StopWords;
  TCharSet SpaceCharacters{};    //!< word separators; all clear: the default set
  TCharSet IncludeCharacters{};  //!< word characters; all clear: the default set
  bool Overwrite = false;        //!< replace the files of an existing table
};

//! Checks and completes definition in place (see above). Returns the record
//! size of the laid-out fields.
uint32_t ValidateTableDefinition(TTableDefinition& definition, const std::string& table);

//! The data header parameters of a definition.
TNewTableHeader NewTableHeaderOf(const TTableDefinition& definition);

//! The word index parameters a definition settles on: the default stop
//! words unless a list is given, each default character set unless the
//! given one has a character in it.
TTextIndexParameters SettledTextIndexParameters(const TTableDefinition& definition);

}  // namespace vevura
