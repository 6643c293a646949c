// The catalog table created from the definitions the table component passes:
// every byte of its data file and index file, and no BLOB file.

#include <cmath>
#include <cstring>

#include "engine/core/data_table.h"
#include "engine/storage/fields/date_encoding.h"
#include "engine/storage/index/index_header.h"
#include "platform/date_time.h"
#include "tests/engine/core/table_create_support.h"

namespace vevura::test {
namespace {

struct ExpectedField {
  const char* name;
  uint8_t type, subtype, size, stored_size;
  uint16_t offset;
  uint8_t required;
};

// Offsets: RECID lives in the record header; every other field follows the
// 9-byte record header with its null flag and stored bytes.
constexpr ExpectedField kCatalogFields[] = {
    {"RECID", 6, 29, 0, 4, 5, 1},
    {"API", 1, 0, 18, 19, 9, 0},
    {"TLI", 7, 0, 0, 8, 29, 0},
    {"BLI", 7, 0, 0, 8, 38, 0},
    {"Measure", 1, 0, 10, 11, 47, 0},
    {"IndexUOM", 1, 0, 10, 11, 59, 0},
    {"LogMnems", 1, 0, 50, 51, 71, 0},
    {"TIFF_Filename", 1, 0, 250, 251, 123, 0},
    {"LIC_Filename", 1, 0, 250, 251, 375, 0},
    {"Path", 1, 0, 250, 251, 627, 0},
};
constexpr uint16_t kCatalogRecordSize = 879;

class CatalogTableTest : public TableFilesTest {};

void ExpectDataHeader(const std::vector<uint8_t>& b) {
  EXPECT_EQ(U32At(b, 0), 1u) << "one header write at close";
  EXPECT_EQ(U32At(b, 4), 512u) << "BLOB block size";
  EXPECT_EQ(b[8], 5) << "version";
  EXPECT_EQ(U32At(b, 9), 0u) << "first free record";
  EXPECT_EQ(U32At(b, 13), 1u) << "next record number";
  EXPECT_EQ(U32At(b, 17), 0u) << "last auto-increment value";
  EXPECT_EQ(U16At(b, 21), kCatalogRecordSize);
  EXPECT_EQ(U16At(b, 23), 10) << "field count";
  EXPECT_EQ(U16At(b, 25), 0) << "BLOB fields";
  double last_update = 0;
  std::memcpy(&last_update, &b[27], sizeof last_update);
  EXPECT_LT(std::fabs(last_update - (platform::Now() - kDayNumberOfZeroDay)), 1.0);
  EXPECT_TRUE(ZeroBetween(b, 35, 86)) << "no description";
  EXPECT_EQ(b[86], 0) << "not encrypted";
  EXPECT_TRUE(ZeroBetween(b, 87, 107)) << "no password, no language, sort id 0";
  EXPECT_EQ(U16At(b, 107), 1) << "user major version";
  EXPECT_EQ(U16At(b, 109), 0) << "user minor version";
  EXPECT_EQ(b[111], 1) << "written as a change";
  EXPECT_EQ(U32At(b, 112), 0u) << "last BLOB id";
  EXPECT_EQ(U32At(b, 116), 33000u);
  EXPECT_TRUE(ZeroBetween(b, 120, 127));
}

void ExpectFieldDescriptor(const std::vector<uint8_t>& b, int i) {
  const ExpectedField& f = kCatalogFields[i];
  const size_t at = 127 + static_cast<size_t>(i) * 768;
  SCOPED_TRACE(f.name);
  EXPECT_EQ(U16At(b, at), i + 1) << "field number";
  EXPECT_EQ(StringAt(b, at + 2), f.name);
  EXPECT_TRUE(ZeroBetween(b, at + 3 + b[at + 2], at + 84)) << "name padding and bytes 33 to 83";
  EXPECT_EQ(b[at + 84], f.type);
  EXPECT_EQ(b[at + 85], f.subtype);
  EXPECT_EQ(b[at + 86], f.size);
  EXPECT_EQ(b[at + 87], 0) << "scale";
  EXPECT_EQ(b[at + 88], f.stored_size);
  EXPECT_EQ(b[at + 89], 0) << "stored scale";
  EXPECT_EQ(U16At(b, at + 90), f.offset);
  EXPECT_EQ(b[at + 92], f.required);
  EXPECT_TRUE(ZeroBetween(b, at + 93, at + 768)) << "case, value texts, flags, result-set bytes";
}

//! Descriptor n of the index header at b.
size_t DescriptorAt(int n) {
  return index_header_layout::kDescriptors + static_cast<size_t>(n) * kIndexDescriptorSize;
}

void ExpectIndexDescriptor(const std::vector<uint8_t>& b, int n, const std::string& name,
                           uint16_t key_length, uint8_t case_insensitive, uint8_t unique,
                           uint8_t compression, std::vector<uint16_t> fields) {
  SCOPED_TRACE("index " + std::to_string(n));
  const size_t at = DescriptorAt(n);
  EXPECT_EQ(StringAt(b, at), name);
  EXPECT_TRUE(ZeroBetween(b, at + 1 + b[at], at + 31)) << "name padding";
  EXPECT_EQ(U16At(b, at + 31), key_length);
  EXPECT_EQ(b[at + 33], 0) << "descending";
  EXPECT_EQ(b[at + 34], case_insensitive);
  EXPECT_EQ(b[at + 35], unique);
  EXPECT_EQ(b[at + 36], compression);
  EXPECT_EQ(b[at + 37], fields.size());
  EXPECT_TRUE(ZeroBetween(b, at + 38, at + 54)) << "per-field descending flags";
  for (size_t k = 0; k < 16; ++k) {
    EXPECT_EQ(U16At(b, at + 54 + 2 * k), k < fields.size() ? fields[k] : 0) << "entry " << k;
  }
  EXPECT_TRUE(ZeroBetween(b, at + 86, at + 120)) << "no pages, no flags";
}

TEST_F(CatalogTableTest, CatalogDefinitionGivesTheDocumentedFilesByteForByte) {
  Create("LICCATALOG", CatalogDefinition());

  EXPECT_FALSE(OnDisk("LICCATALOG.BLB")) << "a table without BLOB fields has no BLOB file";
  EXPECT_EQ(FilesOnDisk().size(), 2u);
  EXPECT_TRUE(directory_->Tables().empty()) << "creation leaves no table object behind";

  std::vector<uint8_t> data = FileBytes(PathOf("LICCATALOG.DAT"));
  ASSERT_EQ(data.size(), 127u + 10 * 768) << "header and ten descriptors, no records";
  ExpectDataHeader(data);
  for (int i = 0; i < 10; ++i) ExpectFieldDescriptor(data, i);

  std::vector<uint8_t> index = FileBytes(PathOf("LICCATALOG.IDX"));
  ASSERT_EQ(index.size(), 4096u) << "the header only: no page";
  EXPECT_EQ(U32At(index, 0), 1u) << "one header write at close";
  EXPECT_EQ(U32At(index, 4), 0u);
  EXPECT_EQ(index[8], 5) << "version";
  EXPECT_EQ(U32At(index, 9), 1u) << "next page";
  EXPECT_EQ(index[13], 1) << "secondary indexes";
  // The primary index over RECID: an integer slot of 4 + 1 bytes, unique.
  ExpectIndexDescriptor(index, 0, "", 5, 0, 1, 0, {1});
  // "API" over the 18-character string: a slot of 19 + 1 bytes and the
  // 4-byte row id of a non-unique index.
  ExpectIndexDescriptor(index, 1, "API", 24, 1, 0, 0, {2});
  EXPECT_TRUE(ZeroBetween(index, DescriptorAt(2), DescriptorAt(31))) << "unused slots";
  ExpectIndexDescriptor(index, 31, "Sys Deleted", 5, 0, 0, 0, {});
  ExpectIndexDescriptor(index, 32, "Sys Text", 68, 0, 0, 3, {});
  EXPECT_EQ(U32At(index, 3974), 0u) << "active records";
  EXPECT_EQ(index[3978], 0) << "the table has a primary index";
  EXPECT_EQ(index[3979], 1) << "written as modified";
  EXPECT_TRUE(ZeroBetween(index, 3980, 4096));
}

TEST_F(CatalogTableTest, CreatedCatalogOpensAndVerifies) {
  Create("LICCATALOG", CatalogDefinition());
  ASSERT_TRUE(directory_->TableExists("LICCATALOG", false));
  TTableOpenRequest request;
  TDataTable* table = nullptr;
  ASSERT_EQ(directory_->OpenTableObject("LICCATALOG", request, &table), 0);
  EXPECT_NO_THROW(table->VerifyHeaders());
  EXPECT_EQ(table->DataFile().RecordSize(), kCatalogRecordSize);
  EXPECT_FALSE(table->HasBlobFields());
  EXPECT_FALSE(table->IndexFile().GetNoPrimary());
  EXPECT_EQ(table->IndexFile().Header().SecondaryCount, 1);
  EXPECT_EQ(table->IndexFile().GetIndexDescriptor(1).Name, "API");
  EXPECT_EQ(directory_->CloseTableObject(table, false), 0);
}

}  // namespace
}  // namespace vevura::test
