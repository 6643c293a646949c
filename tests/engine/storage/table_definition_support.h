#pragma once
// Shared pieces of the storage tests: the catalog table's field definitions
// as the table component passes them, and the code of a raised engine error.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/catalog_table.h"
#include "engine/base/engine_error.h"
#include "engine/storage/fields/field_descriptor.h"
#include "tests/support/raised.h"

namespace vevura::test {

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

//! The fields of LICCATALOG, as the catalog builder defines them.
using app::CatalogFields;

}  // namespace vevura::test
