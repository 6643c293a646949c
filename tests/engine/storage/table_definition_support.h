#pragma once
// Shared pieces of the storage tests: the catalog table's field definitions
// as the table component passes them, and the code of a raised engine error.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/base/engine_error.h"
#include "engine/storage/fields/field_descriptor.h"

namespace vevura::test {

//! The engine error code fn raises; 0 when it returns normally.
inline uint16_t ErrorCodeOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const EVEVURAEngineError& e) {
    return e.ErrorCode;
  }
  return 0;
}

inline TFieldDescriptor FieldDefinition(uint16_t number, const std::string& name, uint8_t type,
                                        uint8_t subtype, uint8_t size, bool required) {
  TFieldDescriptor d;
  d.FieldNumber = number;
  d.Name = name;
  d.Type = type;
  d.Subtype = subtype;
  d.Size = size;
  d.Required = required ? 1 : 0;
  return d;
}

//! The ten fields of LICCATALOG: an auto-increment RECID, strings and floats.
inline std::vector<TFieldDescriptor> CatalogFields() {
  return {
      FieldDefinition(1, "RECID", fcInteger, fsAutoInc, 0, true),
      FieldDefinition(2, "API", fcString, fsNone, 18, false),
      FieldDefinition(3, "TLI", fcFloat, fsNone, 0, false),
      FieldDefinition(4, "BLI", fcFloat, fsNone, 0, false),
      FieldDefinition(5, "Measure", fcString, fsNone, 10, false),
      FieldDefinition(6, "IndexUOM", fcString, fsNone, 10, false),
      FieldDefinition(7, "LogMnems", fcString, fsNone, 50, false),
      FieldDefinition(8, "TIFF_Filename", fcString, fsNone, 250, false),
      FieldDefinition(9, "LIC_Filename", fcString, fsNone, 250, false),
      FieldDefinition(10, "Path", fcString, fsNone, 250, false),
  };
}

}  // namespace vevura::test
