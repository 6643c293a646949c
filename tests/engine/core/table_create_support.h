#pragma once
// Shared pieces of the table creation and deletion tests: a started engine
// with a session and a data directory on a scratch directory, the catalog
// table's definition as the table component passes it, and small helpers to
// build definitions and look at the files.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/catalog_table.h"
#include "engine/base/engine_error.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "engine/core/engine.h"
#include "engine/core/table_create.h"
#include "engine/core/table_delete.h"
#include "tests/platform/platform_test_support.h"
#include "tests/support/raised.h"

namespace vevura::test {

inline TFieldDescriptor FieldDef(uint16_t number, const std::string& name, uint8_t type,
                                 uint8_t subtype = fsNone, uint8_t size = 0,
                                 bool required = false) {
  TFieldDescriptor d;
  d.FieldNumber = number;
  d.Name = name;
  d.Type = type;
  d.Subtype = subtype;
  d.Size = size;
  d.Required = required ? 1 : 0;
  return d;
}

//! An index descriptor over field numbers, as the table component makes one.
inline TIndexDescriptor IndexDef(const std::string& name, std::vector<uint16_t> fields,
                                 bool unique = false, bool case_insensitive = false) {
  TIndexDescriptor d;
  d.Name = name;
  d.Unique = unique ? 1 : 0;
  d.CaseInsensitive = case_insensitive ? 1 : 0;
  for (size_t i = 0; i < fields.size() && i < d.FieldNumbers.size(); ++i) {
    d.FieldNumbers[i] = fields[i];
  }
  return d;
}

//! The word index slot the table component always fills.
inline TIndexDescriptor TextIndexSlot() {
  TIndexDescriptor d;
  d.Name = "Sys Text";
  d.Compression = lcFull;
  return d;
}

//! A definition as the table component passes one: user version 1.0, BLOB
//! blocks of 512, no primary index allowed, default word index parameters.
inline TTableDefinition ComponentDefinition(std::vector<TFieldDescriptor> fields) {
  TTableDefinition d;
  d.UserMajorVersion = 1;
  d.UserMinorVersion = 0;
  d.BlobBlockSize = 512;
  d.Fields = std::move(fields);
  d.AllowNoPrimaryIndex = true;
  d.Indexes[kTextIndex] = TextIndexSlot();
  return d;
}

//! The catalog table, as the catalog builder defines it.
inline TTableDefinition CatalogDefinition() {
  return app::CatalogTableDefinition();
}

//! Fields named F1... of type string with the given sizes.
inline std::vector<TFieldDescriptor> StringFields(const std::vector<uint8_t>& sizes) {
  std::vector<TFieldDescriptor> fields;
  for (size_t i = 0; i < sizes.size(); ++i) {
    fields.push_back(FieldDef(static_cast<uint16_t>(i + 1), "F" + std::to_string(i + 1), fcString,
                              fsNone, sizes[i]));
  }
  return fields;
}

//! The whole contents of a file; empty when it cannot be read.
inline std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline uint32_t U32At(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
inline uint16_t U16At(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
//! A length-prefixed string at at.
inline std::string StringAt(const std::vector<uint8_t>& b, size_t at) {
  return std::string(b.begin() + static_cast<std::ptrdiff_t>(at + 1),
                     b.begin() + static_cast<std::ptrdiff_t>(at + 1 + b[at]));
}
//! True when the bytes first to last - 1 are all zero.
inline bool ZeroBetween(const std::vector<uint8_t>& b, size_t first, size_t last) {
  for (size_t i = first; i < last; ++i) {
    if (b[i] != 0) return false;
  }
  return true;
}

//! A started engine, one session and the data directory of a scratch directory.
class TableFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.path().empty());
    StartEngine();
    session_ = std::make_unique<TDataSession>();
    directory_ = session_->OpenDataDirectory("", scratch_.path());
  }
  void TearDown() override {
    session_.reset();
    StopEngine();
  }

  //! The cursor properties of a creating cursor.
  static TTableTarget Creating(const std::string& name, bool in_memory = false) {
    TTableTarget t;
    t.TableName = name;
    t.Exclusive = true;
    t.InMemory = in_memory;
    return t;
  }
  //! The cursor properties of a deleting cursor.
  static TTableTarget Deleting(const std::string& name, bool in_memory = false) {
    return Creating(name, in_memory);
  }
  void Create(const std::string& name, const TTableDefinition& definition) {
    CreateTable(*directory_, Creating(name), definition);
  }
  void Delete(const std::string& name, const TPasswordRequest& request = nullptr) {
    DeleteTable(*directory_, Deleting(name), request);
  }

  std::string PathOf(const std::string& file) const { return scratch_ / file; }
  bool OnDisk(const std::string& file) const { return std::filesystem::exists(PathOf(file)); }
  //! Names of the files in the scratch directory.
  std::vector<std::string> FilesOnDisk() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(scratch_.path())) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  platform::testing::ScratchDir scratch_;
  std::unique_ptr<TDataSession> session_;
  TDataDirectory* directory_ = nullptr;
};

}  // namespace vevura::test
