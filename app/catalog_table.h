#pragma once
// The catalog table "LICCATALOG" as the catalog builder creates it: ten
// fields (the engine numbers RECID; "Path" is never set) and two indexes, the
// unique primary index over RECID and the case-insensitive secondary index
// "API". The definition is the one the table component hands the engine:
// user version 1.0, BLOB blocks of 512 bytes, the word index slot named and
// empty. Tests and benchmarks make their catalog tables from it too.

#include <string>
#include <vector>

#include "engine/core/table_definition.h"
#include "engine/storage/fields/field_descriptor.h"
#include "engine/storage/fields/field_types.h"
#include "engine/storage/index/index_header.h"

namespace vevura::app {

inline constexpr const char* kCatalogTableName = "LICCATALOG";

//! The catalog's fields, numbered from 1.
inline std::vector<TFieldDescriptor> CatalogFields() {
  struct TField {
    const char* name;
    uint8_t type;
    uint8_t subtype;
    uint8_t size;
    bool required;
  };
  static constexpr TField kFields[] = {
      {"RECID", fcInteger, fsAutoInc, 0, true},
      {"API", fcString, fsNone, 18, false},
      {"TLI", fcFloat, fsNone, 0, false},
      {"BLI", fcFloat, fsNone, 0, false},
      {"Measure", fcString, fsNone, 10, false},
      {"IndexUOM", fcString, fsNone, 10, false},
      {"LogMnems", fcString, fsNone, 50, false},
      {"TIFF_Filename", fcString, fsNone, 250, false},
      {"LIC_Filename", fcString, fsNone, 250, false},
      {"Path", fcString, fsNone, 250, false},
  };
  std::vector<TFieldDescriptor> fields;
  for (const TField& f : kFields) {
    TFieldDescriptor d;
    d.FieldNumber = static_cast<uint16_t>(fields.size() + 1);
    d.Name = f.name;
    d.Type = f.type;
    d.Subtype = f.subtype;
    d.Size = f.size;
    d.Required = f.required ? 1 : 0;
    fields.push_back(d);
  }
  return fields;
}

//! The whole definition of a new catalog table.
inline TTableDefinition CatalogTableDefinition() {
  TTableDefinition d;
  d.UserMajorVersion = 1;
  d.UserMinorVersion = 0;
  d.BlobBlockSize = 512;
  d.Fields = CatalogFields();
  d.AllowNoPrimaryIndex = true;
  TIndexDescriptor& primary = d.Indexes[0];
  primary.Unique = 1;
  primary.FieldNumbers[0] = 1;
  TIndexDescriptor& api = d.Indexes[1];
  api.Name = "API";
  api.CaseInsensitive = 1;
  api.FieldNumbers[0] = 2;
  d.SecondaryIndexCount = 1;
  d.Indexes[kTextIndex].Name = "Sys Text";
  d.Indexes[kTextIndex].Compression = lcFull;
  return d;
}

}  // namespace vevura::app
