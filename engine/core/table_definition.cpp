// Checking and completing the definition of a new table.

#include "engine/core/table_definition.h"

#include <algorithm>

#include "engine/base/engine_error.h"
#include "engine/storage/common/trim.h"
#include "engine/storage/data/field_validation.h"
#include "engine/storage/fields/record_layout.h"
#include "engine/storage/keys/key_context.h"
#include "platform/locale.h"

namespace vevura {
namespace {

[[noreturn]] void RaiseIndexError(uint16_t code, const std::string& table,
                                  const TIndexDescriptor& d, const std::string& field) {
  RaiseEngineError(code, "", "", "", table, field, TrimText(d.Name), "");
}

// ----- Fields -----

void CheckFields(TTableDefinition& definition, const std::string& table, uint32_t* record_size) {
  *record_size = ValidateNewFields(definition.Fields, table);
  // The header keeps the record size in 16 bits: a larger record would make
  // every record offset computed from it wrong.
  if (*record_size > kMaxRecordSize) RaiseTableError(VEVURA_FLDLIMIT, table);
}

// ----- Index names -----

void CheckSecondaryNames(TTableDefinition& definition, const std::string& table) {
  for (int n = 1; n <= definition.SecondaryIndexCount; ++n) {
    TIndexDescriptor& d = definition.Indexes[n];
    d.Name = TrimText(d.Name);
    if (!IsValidNameStart(platform::UpperCase(platform::SystemLcid(), d.Name))) {
      RaiseIndexError(VEVURA_INVALIDINDEXNAME, table, d, "");
    }
    for (int other = 1; other < n; ++other) {
      if (platform::SameTextSystem(definition.Indexes[other].Name, d.Name)) {
        RaiseIndexError(VEVURA_INDEXEXISTS, table, d, "");
      }
    }
  }
}

// ----- Index field lists -----

//! A field an ordinary index may use: anything but a BLOB.
bool OrdinaryKeyField(const TFieldDescriptor& field) {
  return !field.IsBlob();
}

//! A field the word index may use: a string or a memo.
bool TextKeyField(const TFieldDescriptor& field) {
  return field.Type == fcString || (field.Type == fcBlob && field.Subtype == fsMemo);
}

//! The field numbers of an index: its entries up to the first 0 that is
//! followed by another 0 (or the 16th entry). A 0 followed by a field
//! number, or a number beyond the fields, ends the list when lenient and is
//! VEVURA_INVALIDIDXDESC otherwise; a field the index may not use is
//! VEVURA_SEARCHCOLREQD.
std::vector<uint16_t> ReadFieldList(const TIndexDescriptor& d,
                                    const std::vector<TFieldDescriptor>& fields, bool lenient,
                                    bool (*usable)(const TFieldDescriptor&),
                                    const std::string& table) {
  std::vector<uint16_t> list;
  for (int i = 0; i < kMaxIndexFields; ++i) {
    const uint16_t number = d.FieldNumbers[i];
    const bool ends = i + 1 == kMaxIndexFields || d.FieldNumbers[i + 1] == 0;
    if (number == 0 && ends) break;
    if (number == 0 || number > fields.size()) {
      if (lenient) break;
      RaiseIndexError(VEVURA_INVALIDIDXDESC, table, d, std::to_string(number));
    }
    const TFieldDescriptor& field = fields[number - 1];
    if (!usable(field)) RaiseIndexError(VEVURA_SEARCHCOLREQD, table, d, field.Name);
    list.push_back(number);
  }
  return list;
}

//! Puts list into d as its fields, zeroing the entries after it.
void SetFieldList(TIndexDescriptor& d, const std::vector<uint16_t>& list) {
  d.FieldNumbers.fill(0);
  std::copy(list.begin(), list.end(), d.FieldNumbers.begin());
  d.FieldCount = static_cast<uint8_t>(list.size());
}

//! A definition starts with no pages and is never temporary.
void ClearPages(TIndexDescriptor& d) {
  d.RootPage = 0;
  d.FreeListHead = 0;
  d.FirstDataPage = 0;
  d.Temporary = 0;
}

//! Leaf compression this engine knows how to store.
void CheckCompression(const TIndexDescriptor& d, const std::string& table) {
  if (d.Compression > lcFull) RaiseIndexError(VEVURA_INVALIDIDXDESC, table, d, "");
}

void CompleteOrdinaryIndex(TTableDefinition& definition, int n, const std::string& table) {
  TIndexDescriptor& d = definition.Indexes[n];
  const bool primary = n == 0;
  const bool may_be_empty = primary && definition.AllowNoPrimaryIndex;
  if (primary) {
    d.Name.clear();
    d.Unique = 1;
  }
  SetFieldList(d, ReadFieldList(d, definition.Fields, may_be_empty, OrdinaryKeyField, table));
  d.KeyLength = OrdinaryKeyLength(d, definition.Fields, table, may_be_empty);
  CheckCompression(d, table);
  ClearPages(d);
}

void CompleteTextIndex(TTableDefinition& definition, const std::string& table) {
  TIndexDescriptor& d = definition.Indexes[kTextIndex];
  SetFieldList(d, ReadFieldList(d, definition.Fields, false, TextKeyField, table));
  d.KeyLength = kTextIndexKeyLength;
  CheckCompression(d, table);
  ClearPages(d);
}

void CheckIndexes(TTableDefinition& definition, const std::string& table) {
  if (definition.SecondaryIndexCount > kMaxSecondaryIndexes) {
    RaiseTableError(VEVURA_INDEXLIMIT, table);
  }
  CheckSecondaryNames(definition, table);
  for (int n = 0; n <= definition.SecondaryIndexCount; ++n) {
    CompleteOrdinaryIndex(definition, n, table);
  }
  CompleteTextIndex(definition, table);
}

}  // namespace

TNewTableHeader NewTableHeaderOf(const TTableDefinition& definition) {
  TNewTableHeader params;
  params.LanguageId = definition.LanguageId;
  params.SortId = definition.SortId;
  params.BlobBlockSize = definition.BlobBlockSize;
  params.Description = definition.Description;
  params.Password = definition.Password;
  params.Encrypted = definition.Encrypted;
  params.UserMajorVersion = definition.UserMajorVersion;
  params.UserMinorVersion = definition.UserMinorVersion;
  return params;
}

uint32_t ValidateTableDefinition(TTableDefinition& definition, const std::string& table) {
  CheckNewTableLimits(NewTableHeaderOf(definition), definition.Fields.size(),
                      definition.SecondaryIndexCount, table);
  uint32_t record_size = 0;
  CheckFields(definition, table, &record_size);
  CheckIndexes(definition, table);
  return record_size;
}

TTextIndexParameters SettledTextIndexParameters(const TTableDefinition& definition) {
  TTextIndexParameters parameters = DefaultTextIndexParameters();
  const auto empty = [](const TCharSet& set) {
    return std::all_of(set.begin(), set.end(), [](uint8_t byte) { return byte == 0; });
  };
  if (definition.StopWords) parameters.StopWords = *definition.StopWords;
  if (!empty(definition.SpaceCharacters)) parameters.FirstSet = definition.SpaceCharacters;
  if (!empty(definition.IncludeCharacters)) parameters.SecondSet = definition.IncludeCharacters;
  return parameters;
}

}  // namespace vevura
