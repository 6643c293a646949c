#include "engine/storage/data/data_header.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "engine/storage/common/byte_order.h"
#include "engine/storage/common/scramble.h"
#include "engine/storage/data/data_header_verify.h"
#include "engine/storage/data/field_validation.h"
#include "engine/storage/fields/record_layout.h"
#include "tests/engine/storage/table_definition_support.h"

namespace vevura {
namespace {

using test::CatalogFields;
using test::CodeRaisedBy;
using test::FieldDefinition;

//! The catalog's fields, validated and laid out, and its new header.
struct CatalogTable {
  std::vector<TFieldDescriptor> fields = CatalogFields();
  TDataHeader header;
  CatalogTable() {
    ValidateNewFields(fields, "LICCATALOG");
    TNewTableHeader params;  // what the table component passes
    params.UserMajorVersion = 1;
    params.UserMinorVersion = 0;
    params.BlobBlockSize = 512;
    header = MakeNewDataHeader(params, fields, "LICCATALOG");
  }
};

TEST(DataHeader, CatalogHeaderHasTheLayoutsOffsetsAndValues) {
  CatalogTable table;
  std::array<uint8_t, kDataHeaderSize> bytes;
  bytes.fill(0xEE);
  EncodeDataHeader(table.header, bytes.data());

  EXPECT_EQ(GetInt32(&bytes[0]), 0) << "change counter";
  EXPECT_EQ(GetUInt32(&bytes[4]), 512u) << "BLOB block size";
  EXPECT_EQ(bytes[8], 5) << "version";
  EXPECT_EQ(GetInt32(&bytes[9]), 0) << "first free record";
  EXPECT_EQ(GetInt32(&bytes[13]), 1) << "next record number";
  EXPECT_EQ(GetInt32(&bytes[17]), 0) << "last auto-increment value";
  EXPECT_EQ(GetUInt16(&bytes[21]), 879) << "record size";
  EXPECT_EQ(GetUInt16(&bytes[23]), 10) << "field count";
  EXPECT_EQ(GetInt16(&bytes[25]), 0) << "BLOB fields";
  for (size_t i = 35; i < 103; ++i) EXPECT_EQ(bytes[i], 0) << "description, flag, password " << i;
  EXPECT_EQ(GetInt16(&bytes[103]), 0) << "language";
  EXPECT_EQ(GetInt16(&bytes[105]), 0) << "sort";
  EXPECT_EQ(GetInt16(&bytes[107]), 1) << "user major version";
  EXPECT_EQ(GetInt16(&bytes[109]), 0) << "user minor version";
  EXPECT_EQ(GetInt32(&bytes[112]), 0) << "last BLOB id";
  for (size_t i = 124; i < 127; ++i) EXPECT_EQ(bytes[i], 0) << "reserved " << i;

  // The first record starts after the header and ten descriptors.
  EXPECT_EQ(kDataHeaderSize + table.fields.size() * kFieldDescriptorSize, 7807u);
}

TEST(DataHeader, CatalogFieldsAreLaidOutWithTheirNullFlagOffsets) {
  CatalogTable table;
  const uint16_t expected_offsets[] = {5, 9, 29, 38, 47, 59, 71, 123, 375, 627};
  const uint8_t expected_stored[] = {4, 19, 8, 8, 11, 11, 51, 251, 251, 251};
  for (size_t i = 0; i < table.fields.size(); ++i) {
    EXPECT_EQ(table.fields[i].Offset, expected_offsets[i]) << table.fields[i].Name;
    EXPECT_EQ(table.fields[i].PhysicalSize, expected_stored[i]) << table.fields[i].Name;
  }
  EXPECT_EQ(RecordSizeOf(table.fields), 879u);
}

TEST(DataHeader, CatalogDescriptorsEncodeByteExactlyAndDecodeIdentically) {
  CatalogTable table;
  std::vector<uint8_t> block(table.fields.size() * kFieldDescriptorSize, 0xEE);
  for (size_t i = 0; i < table.fields.size(); ++i) {
    EncodeFieldDescriptor(table.fields[i], &block[i * kFieldDescriptorSize]);
  }
  const uint8_t* recid = &block[0];
  EXPECT_EQ(GetUInt16(recid + 0), 1);
  EXPECT_EQ(recid[2], 5);
  EXPECT_EQ(std::memcmp(recid + 3, "RECID", 5), 0);
  EXPECT_EQ(recid[84], fcInteger);
  EXPECT_EQ(recid[85], fsAutoInc);
  EXPECT_EQ(recid[86], 0);
  EXPECT_EQ(recid[88], 4);
  EXPECT_EQ(GetUInt16(recid + 90), 5);
  EXPECT_EQ(recid[92], 1) << "RECID is required";

  const uint8_t* tiff = &block[7 * kFieldDescriptorSize];
  EXPECT_EQ(GetUInt16(tiff + 0), 8);
  EXPECT_EQ(tiff[2], 13);
  EXPECT_EQ(std::memcmp(tiff + 3, "TIFF_Filename", 13), 0);
  for (size_t i = 16; i < 33; ++i) EXPECT_EQ(tiff[i], 0) << "name padding " << i;
  EXPECT_EQ(tiff[84], fcString);
  EXPECT_EQ(tiff[85], 0);
  EXPECT_EQ(tiff[86], 250);
  EXPECT_EQ(tiff[87], 0);
  EXPECT_EQ(tiff[88], 251);
  EXPECT_EQ(GetUInt16(tiff + 90), 123);
  EXPECT_EQ(tiff[92], 0);
  EXPECT_EQ(tiff[93], 0);

  // Every byte not named above is zero, as the table component leaves it.
  for (size_t f = 0; f < table.fields.size(); ++f) {
    const uint8_t* d = &block[f * kFieldDescriptorSize];
    for (size_t i = 94; i < kFieldDescriptorSize; ++i) ASSERT_EQ(d[i], 0) << f << ":" << i;
    for (size_t i = 33; i < 84; ++i) ASSERT_EQ(d[i], 0) << f << ":" << i;
  }

  for (size_t i = 0; i < table.fields.size(); ++i) {
    TFieldDescriptor back = DecodeFieldDescriptor(&block[i * kFieldDescriptorSize]);
    std::array<uint8_t, kFieldDescriptorSize> again;
    EncodeFieldDescriptor(back, again.data());
    EXPECT_EQ(std::memcmp(again.data(), &block[i * kFieldDescriptorSize], kFieldDescriptorSize), 0);
    EXPECT_EQ(back.Name, table.fields[i].Name);
    EXPECT_EQ(back.Offset, table.fields[i].Offset);
  }
}

TEST(DataHeader, EveryHeaderByteSurvivesDecodeAndEncode) {
  std::array<uint8_t, kDataHeaderSize> bytes{};
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
  // Keep the two strings well formed (length within their room, zero padding).
  bytes[35] = 3;
  std::memset(&bytes[39], 0, 86 - 39);
  bytes[87] = 2;
  std::memset(&bytes[90], 0, 103 - 90);
  TDataHeader header = DecodeDataHeader(bytes.data());
  std::array<uint8_t, kDataHeaderSize> again{};
  EncodeDataHeader(header, again.data());
  EXPECT_EQ(again, bytes);
}

TEST(DataHeader, DescriptorKeepsBytesItDoesNotInterpret) {
  std::array<uint8_t, kFieldDescriptorSize> bytes{};
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 13 + 5);
  bytes[2] = 4;
  std::memset(&bytes[7], 0, 33 - 7);
  for (size_t at : {94u, 145u, 196u}) {
    bytes[at] = 2;
    std::memset(&bytes[at + 3], 0, 48);
  }
  TFieldDescriptor d = DecodeFieldDescriptor(bytes.data());
  std::array<uint8_t, kFieldDescriptorSize> again{};
  EncodeFieldDescriptor(d, again.data());
  EXPECT_EQ(again, bytes);

  d.SetCopyPosition(0x0203);
  EncodeFieldDescriptor(d, again.data());
  EXPECT_EQ(again[357], 0x03);
  EXPECT_EQ(again[358], 0x02);
  EXPECT_EQ(d.CopyPosition(), 0x0203);
}

TEST(DataHeader, DamagedStringLengthsAreReadWithinTheirRoom) {
  std::array<uint8_t, kDataHeaderSize> bytes{};
  bytes[35] = 255;  // description length beyond its 50 characters
  bytes[87] = 200;  // password length beyond its 15
  bytes[86] = 1;
  TDataHeader header = DecodeDataHeader(bytes.data());
  EXPECT_EQ(header.Description.size(), 50u);
  EXPECT_EQ(header.Password.size(), 15u);
  EXPECT_EQ(header.PlainPassword().size(), 15u);
}

TEST(DataHeader, EncryptedHeadersScrambleOnlyPasswordAndDescriptionCharacters) {
  std::vector<TFieldDescriptor> fields = {FieldDefinition(1, "NAME", fcString, 0, 10, false)};
  ValidateNewFields(fields, "T");
  TNewTableHeader params;
  params.Encrypted = true;
  params.Password = "Sesame";
  params.Description = std::string(60, 'd');
  TDataHeader header = MakeNewDataHeader(params, fields, "T");
  std::array<uint8_t, kDataHeaderSize> bytes{};
  EncodeDataHeader(header, bytes.data());

  EXPECT_EQ(bytes[86], 1);
  EXPECT_EQ(bytes[87], 6) << "the length byte stays plain";
  EXPECT_NE(std::string(reinterpret_cast<char*>(&bytes[88]), 6), "Sesame");
  EXPECT_EQ(bytes[35], 50) << "description cut to 50";
  EXPECT_NE(bytes[36], 'd');
  TDataHeader back = DecodeDataHeader(bytes.data());
  EXPECT_EQ(back.PlainPassword(), "Sesame");
  EXPECT_EQ(back.PlainDescription(), std::string(50, 'd'));

  // One string field of size 10: 9 + 12 bytes.
  EXPECT_EQ(back.RecordSize, 21);

  // Not encrypted: no password reported, whatever bytes 87 to 102 hold.
  bytes[86] = 0;
  EXPECT_EQ(DecodeDataHeader(bytes.data()).PlainPassword(), "");
  params.Encrypted = false;
  params.Description = "plain";
  TDataHeader plain = MakeNewDataHeader(params, fields, "T");
  EXPECT_EQ(plain.Password, "");
  EXPECT_EQ(plain.Description, "plain");
}

TEST(DataHeader, NewHeaderLimitsOnBlobFieldsAndRecordSize) {
  std::vector<TFieldDescriptor> blobs;
  for (int i = 1; i <= 129; ++i) {
    blobs.push_back(FieldDefinition(i, "B" + std::to_string(i), fcBlob, 0, 0, false));
  }
  TNewTableHeader params;
  std::vector<TFieldDescriptor> fields(blobs.begin(), blobs.end() - 1);
  ValidateNewFields(fields, "T");
  EXPECT_EQ(MakeNewDataHeader(params, fields, "T").BlobFieldCount, 128);
  ValidateNewFields(blobs, "T");
  EXPECT_EQ(CodeRaisedBy([&] { MakeNewDataHeader(params, blobs, "T"); }), VEVURA_BLOBLIMIT);

  // 260 strings of 250 characters: 9 + 260 * 252 = 65529 fits; one more does not.
  std::vector<TFieldDescriptor> wide;
  for (int i = 1; i <= 261; ++i) {
    wide.push_back(FieldDefinition(i, "S" + std::to_string(i), fcString, 0, 250, false));
  }
  std::vector<TFieldDescriptor> fits(wide.begin(), wide.end() - 1);
  EXPECT_EQ(ValidateNewFields(fits, "T"), 65529u);
  EXPECT_EQ(MakeNewDataHeader(params, fits, "T").RecordSize, 65529);
  EXPECT_EQ(ValidateNewFields(wide, "T"), 65781u);
  EXPECT_EQ(CodeRaisedBy([&] { MakeNewDataHeader(params, wide, "T"); }), VEVURA_RECTOOBIG);
}

//! A header and descriptors as a freshly created catalog has them.
struct VerifiedCatalog : CatalogTable {
  int64_t FileSize(int records) const {
    return int64_t{kDataHeaderSize} + 10 * kFieldDescriptorSize + int64_t{records} * 879;
  }
  uint16_t Verify(const TDataHeader& h, std::vector<TFieldDescriptor> f, int64_t size) const {
    return CodeRaisedBy([&] { VerifyDataHeader(h, f, size, "LICCATALOG"); });
  }
};

TEST(DataHeader, VerificationAcceptsAConsistentTableAndNamesEachBreak) {
  VerifiedCatalog t;
  EXPECT_EQ(t.Verify(t.header, t.fields, t.FileSize(0)), 0);
  TDataHeader three = t.header;
  three.NextRecordNumber = 4;
  three.FirstFreeRecord = 3;
  EXPECT_EQ(t.Verify(three, t.fields, t.FileSize(3)), 0);

  EXPECT_EQ(t.Verify(three, t.fields, t.FileSize(3) - 879 / 2), VEVURA_HEADERCORRUPT)
      << "a partial record";
  EXPECT_EQ(t.Verify(three, t.fields, t.FileSize(2)), VEVURA_HEADERCORRUPT) << "count differs";
  // What an append killed between its record and its header leaves: more
  // bytes than the header counts, whole records or not.
  EXPECT_EQ(t.Verify(three, t.fields, t.FileSize(4)), 0);
  EXPECT_EQ(t.Verify(three, t.fields, t.FileSize(4) - 879 / 2), 0);
  EXPECT_EQ(t.Verify(t.header, t.fields, t.FileSize(0) - 1), VEVURA_HEADERCORRUPT)
      << "descriptors cut short";
  three.FirstFreeRecord = 4;
  EXPECT_EQ(t.Verify(three, t.fields, t.FileSize(3)), VEVURA_HEADERCORRUPT);

  TDataHeader old = t.header;
  old.Version = 4;
  EXPECT_EQ(t.Verify(old, t.fields, t.FileSize(0)), VEVURA_OLDVERSION);

  TDataHeader sized = t.header;
  sized.RecordSize = 880;
  EXPECT_EQ(t.Verify(sized, t.fields, int64_t{kDataHeaderSize} + 10 * kFieldDescriptorSize),
            VEVURA_HEADERCORRUPT);

  TDataHeader unknown_language = t.header;
  unknown_language.LanguageId = 0x7FFF;
  EXPECT_EQ(t.Verify(unknown_language, t.fields, t.FileSize(0)), VEVURA_CANNOTLOADLDDRV);
}

TEST(DataHeader, VerificationRefusesEveryBrokenDescriptorRule) {
  VerifiedCatalog t;
  using Breaker = void (*)(std::vector<TFieldDescriptor>&);
  const Breaker breakers[] = {
      [](std::vector<TFieldDescriptor>& f) { f[1].Name = ""; },
      [](std::vector<TFieldDescriptor>& f) { f[1].Name = "9API"; },
      [](std::vector<TFieldDescriptor>& f) { f[1].Name = "tli"; },      // duplicate name
      [](std::vector<TFieldDescriptor>& f) { f[2].FieldNumber = 2; },   // duplicate number
      [](std::vector<TFieldDescriptor>& f) { f[2].FieldNumber = 11; },  // not its position
      [](std::vector<TFieldDescriptor>& f) { f[2].Type = fcNone; },
      [](std::vector<TFieldDescriptor>& f) { f[1].Size = 251; },
      [](std::vector<TFieldDescriptor>& f) { f[2].Size = 1; },   // a float with a size
      [](std::vector<TFieldDescriptor>& f) { f[2].Scale = 2; },  // decimals on a float
      [](std::vector<TFieldDescriptor>& f) { f[2].DefaultValue = "abc"; },
      [](std::vector<TFieldDescriptor>& f) { f[2].MinValue = "1..2"; },
      [](std::vector<TFieldDescriptor>& f) { f[0].Offset = 9; },  // auto-increment not at 5
      [](std::vector<TFieldDescriptor>& f) { f[4].Offset = 48; },
      [](std::vector<TFieldDescriptor>& f) { f[1].Size = 19; },  // sizes no longer add up
  };
  for (size_t i = 0; i < std::size(breakers); ++i) {
    std::vector<TFieldDescriptor> fields = t.fields;
    breakers[i](fields);
    EXPECT_EQ(t.Verify(t.header, fields, t.FileSize(0)), VEVURA_HEADERCORRUPT) << "rule " << i;
  }
  // Stored sizes are recomputed rather than trusted.
  std::vector<TFieldDescriptor> fields = t.fields;
  fields[1].PhysicalSize = 200;
  VerifyDataHeader(t.header, fields, t.FileSize(0), "LICCATALOG");
  EXPECT_EQ(fields[1].PhysicalSize, 19);
}

}  // namespace
}  // namespace vevura
