// The index file header: its bytes, index definitions and their errors, and
// the check of a header read from disk.

#include "engine/storage/index/index_header.h"

#include <gtest/gtest.h>

#include <random>

#include "engine/storage/common/byte_order.h"
#include "engine/storage/fields/field_types.h"
#include "engine/storage/index/index_definitions.h"
#include "tests/engine/storage/file_layer_support.h"

namespace vevura::test {
namespace {

const uint8_t* DescriptorBytes(const std::vector<uint8_t>& header, int n) {
  return header.data() + 14 + n * kIndexDescriptorSize;
}

std::vector<uint8_t> Encoded(const TIndexHeader& h) {
  std::vector<uint8_t> bytes(kIndexPageSize);
  EncodeIndexHeader(h, bytes.data());
  return bytes;
}

TFieldDescriptor Field(uint16_t number, const std::string& name, uint8_t type, uint8_t size,
                       uint8_t subtype = fsNone) {
  TFieldDescriptor f;
  f.FieldNumber = number;
  f.Name = name;
  f.Type = type;
  f.Subtype = subtype;
  f.Size = size;
  f.PhysicalSize = static_cast<uint8_t>(StoredSize(type, size));
  return f;
}

// 1 NAME string(20), 2 NUM integer, 3 NOTES memo, 4 AMOUNT BCD, 5-7 long strings.
std::vector<TFieldDescriptor> Fields() {
  return {Field(1, "NAME", fcString, 20),       Field(2, "NUM", fcInteger, 0),
          Field(3, "NOTES", fcBlob, 0, fsMemo), Field(4, "AMOUNT", fcBCD, 0),
          Field(5, "LONG1", fcString, 250),     Field(6, "LONG2", fcString, 250),
          Field(7, "LONG3", fcString, 250)};
}

TIndexDescriptor Index(const std::string& name, std::vector<uint16_t> fields, bool unique = false) {
  TIndexDescriptor d;
  d.Name = name;
  d.KeyLength = 40;
  d.Unique = unique ? 1 : 0;
  d.FieldCount = static_cast<uint8_t>(fields.size());
  for (size_t i = 0; i < fields.size() && i < kMaxIndexFields; ++i) d.FieldNumbers[i] = fields[i];
  return d;
}

TEST(IndexHeaderTest, NewHeaderHasVersionFirstPageAndTheTwoSystemIndexes) {
  TIndexHeader h = NewIndexHeader();
  std::vector<uint8_t> bytes = Encoded(h);
  EXPECT_EQ(bytes[8], 5);
  EXPECT_EQ(GetInt32(bytes.data() + 9), 1);
  EXPECT_EQ(bytes[13], 0);
  EXPECT_EQ(GetInt32(bytes.data() + 3974), 0);
  EXPECT_EQ(bytes[3979], 1) << "modified, so that the first flush writes it";
  const uint8_t* slot = DescriptorBytes(bytes, 31);
  EXPECT_EQ(GetPrefixedString(slot, 30), "Sys Deleted");
  EXPECT_EQ(GetUInt16(slot + 31), 5);
  EXPECT_EQ(slot[36], lcNone);
  const uint8_t* text = DescriptorBytes(bytes, 32);
  EXPECT_EQ(GetPrefixedString(text, 30), "Sys Text");
  EXPECT_EQ(GetUInt16(text + 31), 68);
  EXPECT_EQ(text[36], lcFull);
  for (int n = 0; n < 31; ++n) {
    const uint8_t* d = DescriptorBytes(bytes, n);
    EXPECT_TRUE(std::all_of(d, d + kIndexDescriptorSize, [](uint8_t b) { return b == 0; }));
  }
  EXPECT_TRUE(std::all_of(bytes.begin() + 3980, bytes.end(), [](uint8_t b) { return b == 0; }));
}

TEST(IndexHeaderTest, EveryFieldSurvivesEncodingAtItsOffset) {
  std::mt19937 rng(7);
  for (int round = 0; round < 50; ++round) {
    TIndexHeader h;
    h.ChangeCounter = static_cast<int32_t>(rng());
    h.NextPage = static_cast<int32_t>(rng() % 100000);
    h.SecondaryCount = static_cast<uint8_t>(rng() % 31);
    h.ActiveRecordCount = static_cast<int32_t>(rng());
    h.NoPrimary = rng() % 2;
    h.Modified = rng() % 2;
    for (TIndexDescriptor& d : h.Descriptors) {
      d.Name = std::string(rng() % 31, static_cast<char>('A' + rng() % 26));
      d.KeyLength = static_cast<uint16_t>(rng());
      d.Descending = rng() % 2;
      d.CaseInsensitive = rng() % 2;
      d.Unique = rng() % 2;
      d.Compression = rng() % 4;
      d.FieldCount = rng() % 17;
      for (auto& f : d.FieldDescending) f = rng() % 2;
      for (auto& f : d.FieldNumbers) f = static_cast<uint16_t>(rng());
      d.RootPage = static_cast<int32_t>(rng());
      d.FreeListHead = static_cast<int32_t>(rng());
      d.FirstDataPage = static_cast<int32_t>(rng());
      d.NoCounts = rng() % 2;
      d.Temporary = rng() % 2;
    }
    std::vector<uint8_t> bytes = Encoded(h);
    ASSERT_EQ(DecodeIndexHeader(bytes.data()), h);
    const TIndexDescriptor& d7 = h.Descriptors[7];
    const uint8_t* raw = DescriptorBytes(bytes, 7);
    EXPECT_EQ(GetUInt16(raw + 31), d7.KeyLength);
    EXPECT_EQ(GetInt32(raw + 86), d7.RootPage);
    EXPECT_EQ(GetInt32(raw + 90), d7.FreeListHead);
    EXPECT_EQ(GetInt32(raw + 96), d7.FirstDataPage);
    EXPECT_EQ(GetUInt16(raw + 54 + 2 * 15), d7.FieldNumbers[15]);
    EXPECT_EQ(raw[100], d7.NoCounts);
    EXPECT_EQ(raw[101], d7.Temporary);
  }
}

TEST(IndexHeaderTest, DiskCopyLeavesTemporaryIndexesOut) {
  TIndexHeader h = NewIndexHeader();
  h.SecondaryCount = 2;
  h.Descriptors[1] = Index("KEPT", {1});
  h.Descriptors[2] = Index("SCRATCH", {2});
  h.Descriptors[2].Temporary = 1;
  TIndexHeader disk = HeaderForDisk(h);
  EXPECT_EQ(disk.SecondaryCount, 1);
  EXPECT_EQ(disk.Descriptors[1], h.Descriptors[1]);
  EXPECT_EQ(disk.Descriptors[2], TIndexDescriptor{});
  std::vector<uint8_t> copied(kIndexPageSize), direct(kIndexPageSize, 0xEE);
  EncodeIndexHeader(disk, copied.data());
  EncodeIndexHeaderForDisk(h, direct.data());
  EXPECT_EQ(direct, copied);
}

TEST(IndexDefinitionsTest, PrimaryIndexIsUniqueUnnamedAndDefinedOnce) {
  const std::string table = "CUSTOMER";
  TIndexHeader h = NewIndexHeader();
  h.Modified = 0;
  TIndexDescriptor d = Index("ignored", {2});
  d.RootPage = 9;
  DefinePrimaryIndex(h, d, Fields(), table);
  EXPECT_EQ(h.Descriptors[0].Name, "");
  EXPECT_EQ(h.Descriptors[0].Unique, 1);
  EXPECT_EQ(h.Descriptors[0].RootPage, 0);
  EXPECT_EQ(h.Descriptors[0].FieldNumbers[0], 2);
  EXPECT_EQ(h.NoPrimary, 0);
  EXPECT_EQ(h.Modified, 1);
  EXPECT_EQ(CodeRaisedBy([&] { DefinePrimaryIndex(h, d, Fields(), table); }),
            VEVURA_PRIMARYKEYREDEFINE);

  TIndexHeader none = NewIndexHeader();
  DefinePrimaryIndex(none, Index("", {}), Fields(), table);
  EXPECT_EQ(none.NoPrimary, 1);
  EXPECT_EQ(none.Descriptors[0], TIndexDescriptor{});

  TIndexHeader wide = NewIndexHeader();
  TIndexDescriptor seventeen = Index("", {1});
  seventeen.FieldCount = 17;
  EXPECT_EQ(CodeRaisedBy([&] { DefinePrimaryIndex(wide, seventeen, Fields(), table); }),
            VEVURA_INDEXLIMIT);

  TIndexHeader blob = NewIndexHeader();
  auto error = RaisedBy([&] { DefinePrimaryIndex(blob, Index("", {1, 3}), Fields(), table); });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->ErrorCode, VEVURA_SEARCHCOLREQD);
  EXPECT_EQ(error->ErrorField, "NOTES");
  EXPECT_EQ(error->ErrorTable, table);
}

TEST(IndexDefinitionsTest, SecondaryIndexesAreCheckedAndNumberedInOrder) {
  const std::string table = "CUSTOMER";
  TIndexHeader h = NewIndexHeader();
  EXPECT_EQ(AddSecondaryIndex(h, Index("ByName", {1}), Fields(), table), 1);
  EXPECT_EQ(AddSecondaryIndex(h, Index("_hidden", {2}), Fields(), table), 2);
  EXPECT_EQ(AddSecondaryIndex(h, Index("\xC4rger", {2}), Fields(), table), 3);
  std::string long_name(40, 'x');
  EXPECT_EQ(AddSecondaryIndex(h, Index(long_name, {2}), Fields(), table), 4);
  EXPECT_EQ(h.Descriptors[4].Name, std::string(30, 'x'));
  EXPECT_EQ(h.SecondaryCount, 4);

  EXPECT_EQ(CodeRaisedBy([&] { AddSecondaryIndex(h, Index("  ", {1}), Fields(), table); }),
            VEVURA_INDEXNAMEREQUIRED);
  auto invalid = RaisedBy([&] { AddSecondaryIndex(h, Index("1st", {1}), Fields(), table); });
  ASSERT_TRUE(invalid);
  EXPECT_EQ(invalid->ErrorCode, VEVURA_INVALIDINDEXNAME);
  EXPECT_EQ(invalid->ErrorIndex, "1st");
  EXPECT_EQ(CodeRaisedBy([&] { AddSecondaryIndex(h, Index(" BYNAME ", {2}), Fields(), table); }),
            VEVURA_INDEXEXISTS);
  EXPECT_EQ(CodeRaisedBy([&] { AddSecondaryIndex(h, Index("ByNotes", {3}), Fields(), table); }),
            VEVURA_SEARCHCOLREQD);
  EXPECT_EQ(h.SecondaryCount, 4) << "refused definitions leave the count alone";

  while (h.SecondaryCount < 30) {
    AddSecondaryIndex(h, Index("I" + std::to_string(h.SecondaryCount), {2}), Fields(), table);
  }
  EXPECT_EQ(CodeRaisedBy([&] { AddSecondaryIndex(h, Index("ONEMORE", {2}), Fields(), table); }),
            VEVURA_INDEXLIMIT);
}

class VerifyIndexHeaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    h_ = NewIndexHeader();
    h_.Descriptors[0] = Index("", {2}, true);
    h_.SecondaryCount = 2;
    h_.Descriptors[1] = Index("BYNAME", {1, 2});
    h_.Descriptors[2] = Index("BYAMOUNT", {4});
    h_.Descriptors[kTextIndex].FieldNumbers[0] = 1;
    h_.Descriptors[kTextIndex].FieldNumbers[1] = 3;
    h_.NextPage = 11;
    h_.Descriptors[1].RootPage = 10;
  }
  uint16_t Check() {
    return CodeRaisedBy([&] { VerifyIndexHeader(h_, Fields(), "T"); });
  }
  TIndexHeader h_;
};

TEST_F(VerifyIndexHeaderTest, AcceptsAHeaderThatFitsTheFields) {
  EXPECT_EQ(Check(), 0);
  h_.Descriptors[0] = TIndexDescriptor{};
  h_.NoPrimary = 1;
  EXPECT_EQ(Check(), 0) << "a table without a primary index";
}

TEST_F(VerifyIndexHeaderTest, RefusesEveryKindOfDamage) {
  const std::vector<std::pair<const char*, std::function<void(TIndexHeader&)>>> damages = {
      {"primary named", [](TIndexHeader& h) { h.Descriptors[0].Name = "P"; }},
      {"primary not unique", [](TIndexHeader& h) { h.Descriptors[0].Unique = 0; }},
      {"name starts with a digit", [](TIndexHeader& h) { h.Descriptors[2].Name = "9X"; }},
      {"names equal but for case", [](TIndexHeader& h) { h.Descriptors[2].Name = "byname"; }},
      {"gap in the field list", [](TIndexHeader& h) { h.Descriptors[1].FieldNumbers[3] = 2; }},
      {"unknown field", [](TIndexHeader& h) { h.Descriptors[1].FieldNumbers[0] = 40; }},
      {"BLOB field", [](TIndexHeader& h) { h.Descriptors[2].FieldNumbers[0] = 3; }},
      {"17 fields", [](TIndexHeader& h) { h.Descriptors[1].FieldCount = 17; }},
      {"slots beyond 522 bytes",
       [](TIndexHeader& h) {
         h.Descriptors[2].FieldNumbers = {5, 6, 7};
       }},
      {"root beyond the pages", [](TIndexHeader& h) { h.Descriptors[1].RootPage = 11; }},
      {"negative free list", [](TIndexHeader& h) { h.Descriptors[2].FreeListHead = -1; }},
      {"pages in a file without pages",
       [](TIndexHeader& h) {
         h.NextPage = 1;
         h.Descriptors[1].RootPage = 1;
       }},
      {"word index over a number",
       [](TIndexHeader& h) { h.Descriptors[kTextIndex].FieldNumbers[0] = 2; }},
      {"word index data page beyond the pages",
       [](TIndexHeader& h) { h.Descriptors[kTextIndex].FirstDataPage = 12; }},
      {"31 secondary indexes", [](TIndexHeader& h) { h.SecondaryCount = 31; }},
  };
  for (const auto& [what, damage] : damages) {
    SetUp();
    damage(h_);
    EXPECT_EQ(Check(), VEVURA_HEADERCORRUPT) << what;
  }
  SetUp();
  h_.Version = 4;
  EXPECT_EQ(Check(), VEVURA_OLDVERSION);
}

}  // namespace
}  // namespace vevura::test
