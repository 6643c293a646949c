// Every check of a new table's definition: its error code and context, the
// order of the checks, and that a refused definition touches no file.

#include "engine/core/data_table.h"
#include "engine/storage/data/data_file.h"
#include "platform/locale.h"
#include "tests/engine/core/table_create_support.h"

namespace vevura::test {
namespace {

class TableValidationTest : public TableFilesTest {
 protected:
  //! Creates T from definition expecting a refusal: returns the error and
  //! checks that no file was made.
  EVEVURAEngineError Refused(const TTableDefinition& definition,
                             const TTableTarget& target = Creating("T")) {
    EVEVURAEngineError e = RaisedBy([&] { CreateTable(*directory_, target, definition); }).value();
    EXPECT_NE(e.ErrorCode, 0) << "the definition was accepted";
    EXPECT_TRUE(FilesOnDisk().empty()) << "a refused definition left files";
    EXPECT_TRUE(directory_->Tables().empty());
    return e;
  }
  uint16_t RefusedCode(const TTableDefinition& definition) { return Refused(definition).ErrorCode; }

  //! Creates T, returns its stored field descriptors and deletes it again.
  std::vector<TFieldDescriptor> CreatedFields(const TTableDefinition& definition) {
    Create("T", definition);
    TDataTable* table = nullptr;
    EXPECT_EQ(directory_->OpenTableObject("T", TTableOpenRequest{}, &table), 0);
    std::vector<TFieldDescriptor> fields = table->DataFile().Fields();
    EXPECT_NO_THROW(table->VerifyHeaders());
    directory_->CloseTableObject(table, false);
    Delete("T");
    return fields;
  }

  //! Creates T, returns its stored index header and deletes it again.
  TIndexHeader CreatedIndexes(const TTableDefinition& definition) {
    Create("T", definition);
    TDataTable* table = nullptr;
    EXPECT_EQ(directory_->OpenTableObject("T", TTableOpenRequest{}, &table), 0);
    TIndexHeader header = table->IndexFile().Header();
    EXPECT_NO_THROW(table->VerifyHeaders());
    directory_->CloseTableObject(table, false);
    Delete("T");
    return header;
  }
};

TEST_F(TableValidationTest, CursorMustBeExclusiveAndWritable) {
  TTableTarget shared = Creating("T");
  shared.Exclusive = false;
  EVEVURAEngineError e = Refused(CatalogDefinition(), shared);
  EXPECT_EQ(e.ErrorCode, VEVURA_NEEDEXCLACCESS);
  EXPECT_EQ(e.ErrorTable, "T");

  TTableTarget read_only = Creating("T");
  read_only.ReadOnly = true;
  EXPECT_EQ(Refused(CatalogDefinition(), read_only).ErrorCode, VEVURA_OSEACCES);

  // The cursor is checked before the definition.
  TTableDefinition bad = CatalogDefinition();
  bad.Fields[0].Type = fcNone;
  EXPECT_EQ(Refused(bad, shared).ErrorCode, VEVURA_NEEDEXCLACCESS);
}

TEST_F(TableValidationTest, GeneralLimitsComeFirstAndInOrder) {
  TTableDefinition d = CatalogDefinition();
  d.Encrypted = true;
  d.Password = "   ";
  EXPECT_EQ(RefusedCode(d), VEVURA_INVALIDPASSWORD);
  d.Password = "sixteen-letters!";
  EXPECT_EQ(RefusedCode(d), VEVURA_INVALIDPASSWORD);
  // A bad password is reported before an unknown language.
  d.LanguageId = 0x7ABC;
  EXPECT_EQ(RefusedCode(d), VEVURA_INVALIDPASSWORD);
  d.Encrypted = false;
  EVEVURAEngineError e = Refused(d);
  EXPECT_EQ(e.ErrorCode, VEVURA_CANNOTLOADLDDRV);
  EXPECT_EQ(e.ErrorTable, "T");
  d.LanguageId = 0;

  TTableDefinition many = ComponentDefinition(StringFields(std::vector<uint8_t>(1025, 1)));
  EXPECT_EQ(RefusedCode(many), VEVURA_FLDLIMIT);
  many.BlobBlockSize = 10;  // the field count is checked first
  EXPECT_EQ(RefusedCode(many), VEVURA_FLDLIMIT);

  d.SecondaryIndexCount = 33;
  EXPECT_EQ(RefusedCode(d), VEVURA_INDEXLIMIT);
  d.SecondaryIndexCount = 1;

  d.BlobBlockSize = 63;
  EXPECT_EQ(RefusedCode(d), VEVURA_BLOBLIMIT);
  d.BlobBlockSize = 64;
  EXPECT_NO_THROW(Create("T", d));
}

TEST_F(TableValidationTest, InstalledLanguageIsStored) {
  const uint16_t english_us = 0x0409;
  ASSERT_TRUE(platform::LocaleInstalled(platform::MakeLcid(english_us, 0)));
  TTableDefinition d = CatalogDefinition();
  d.LanguageId = english_us;
  Create("T", d);
  TDataHeader header = ReadClosedTableHeader(PathOf("T.DAT"), false);
  EXPECT_EQ(header.LanguageId, english_us);
  EXPECT_EQ(header.SortId, 0);
}

TEST_F(TableValidationTest, FieldNamesAreTrimmedCutAndChecked) {
  TTableDefinition d = ComponentDefinition(StringFields({10, 10, 10}));
  d.Fields[0].Name = "  API \t";
  d.Fields[1].Name = std::string(40, 'N');
  d.Fields[2].Name = "\xC4rger";  // a character above 127 may begin a name
  std::vector<TFieldDescriptor> stored = CreatedFields(d);
  ASSERT_EQ(stored.size(), 3u);
  EXPECT_EQ(stored[0].Name, "API");
  EXPECT_EQ(stored[1].Name, std::string(30, 'N'));
  EXPECT_EQ(stored[2].Name, "\xC4rger");

  for (const char* bad : {"", "   ", "1ABC", "-X", "\xFFX"}) {
    SCOPED_TRACE(bad);
    TTableDefinition b = ComponentDefinition(StringFields({10}));
    b.Fields[0].Name = bad;
    EVEVURAEngineError e = Refused(b);
    EXPECT_EQ(e.ErrorCode, VEVURA_INVALIDFIELDNAME);
    EXPECT_EQ(e.ErrorTable, "T");
  }

  TTableDefinition dup = ComponentDefinition(StringFields({10, 10}));
  dup.Fields[0].Name = "API";
  dup.Fields[1].Name = " api";
  EVEVURAEngineError e = Refused(dup);
  EXPECT_EQ(e.ErrorCode, VEVURA_INVALIDFIELDNAME);
  EXPECT_EQ(e.ErrorField, "API");

  // The name is checked before the type of the same field.
  TTableDefinition both = ComponentDefinition(StringFields({10}));
  both.Fields[0].Name = "9";
  both.Fields[0].Type = fcNone;
  EXPECT_EQ(RefusedCode(both), VEVURA_INVALIDFIELDNAME);
}

TEST_F(TableValidationTest, FieldTypesNumbersAndSizes) {
  for (uint8_t size : {0, 251, 255}) {
    SCOPED_TRACE(int{size});
    EVEVURAEngineError e = Refused(ComponentDefinition(StringFields({size})));
    EXPECT_EQ(e.ErrorCode, VEVURA_INVALIDFLDTYPE);
    EXPECT_EQ(e.ErrorField, "F1");
  }
  TTableDefinition bytes = ComponentDefinition({FieldDef(1, "B", fcBytes, fsNone, 0)});
  EXPECT_EQ(RefusedCode(bytes), VEVURA_INVALIDFLDTYPE);
  TTableDefinition untyped = ComponentDefinition({FieldDef(1, "U", fcNone)});
  EXPECT_EQ(RefusedCode(untyped), VEVURA_INVALIDFLDTYPE);
  TTableDefinition renumbered = ComponentDefinition(StringFields({10, 10}));
  renumbered.Fields[1].FieldNumber = 1;
  EXPECT_EQ(RefusedCode(renumbered), VEVURA_INVALIDFLDTYPE);

  TTableDefinition d = ComponentDefinition({
      FieldDef(1, "S", fcString, fsNone, 250),
      FieldDef(2, "I", fcInteger, fsNone, 7),
      FieldDef(3, "N", fcBCD, fsNone, 0),
      FieldDef(4, "F", fcFloat),
  });
  d.Fields[2].Scale = 4;
  d.Fields[3].Scale = 2;
  std::vector<TFieldDescriptor> stored = CreatedFields(d);
  ASSERT_EQ(stored.size(), 4u);
  EXPECT_EQ(stored[0].Size, 250);
  EXPECT_EQ(stored[0].PhysicalSize, 251);
  EXPECT_EQ(stored[1].Size, 0) << "a size given to an integer is dropped";
  EXPECT_EQ(stored[1].PhysicalSize, 4);
  EXPECT_EQ(stored[2].Scale, 4) << "BCD keeps its decimals";
  EXPECT_EQ(stored[3].Scale, 0) << "other types have none";
}

TEST_F(TableValidationTest, ValueTextsMustSuitTheirType) {
  TTableDefinition d = ComponentDefinition({
      FieldDef(1, "D", fcDate),
      FieldDef(2, "TS", fcTimeStamp),
      FieldDef(3, "S", fcString, fsNone, 5),
      FieldDef(4, "I", fcInteger),
  });
  d.Fields[0].DefaultValue = "current_date";
  d.Fields[1].DefaultValue = "CURRENT_TIME";
  d.Fields[2].DefaultValue = "anything at all";
  d.Fields[3].MinValue = "-5";
  d.Fields[3].MaxValue = "2147483647";
  std::vector<TFieldDescriptor> stored = CreatedFields(d);
  ASSERT_EQ(stored.size(), 4u);
  EXPECT_EQ(stored[0].DefaultValue, "current_date");
  EXPECT_EQ(stored[3].MaxValue, "2147483647");

  for (auto [field, text] : {std::pair{3, "abc"}, std::pair{3, "2147483648"}, std::pair{0, "x"}}) {
    SCOPED_TRACE(text);
    TTableDefinition b = d;
    b.Fields[field].DefaultValue = text;
    EVEVURAEngineError e = Refused(b);
    EXPECT_EQ(e.ErrorCode, VEVURA_INVALIDVCHKSTRUCT);
    EXPECT_EQ(e.ErrorField, b.Fields[field].Name);
  }
  TTableDefinition bad_min = d;
  bad_min.Fields[1].MinValue = "CURRENT_WEEK";
  EXPECT_EQ(RefusedCode(bad_min), VEVURA_INVALIDVCHKSTRUCT);
}

// 260 strings of 250 characters take 260 * 252 bytes; with the 9-byte record
// header that leaves room for a last field of 6 bytes (5 data bytes).
TEST_F(TableValidationTest, RecordSizeMustFitSixteenBits) {
  std::vector<TFieldDescriptor> fields = StringFields(std::vector<uint8_t>(260, 250));
  fields.push_back(FieldDef(261, "LAST", fcBytes, fsNone, 5));
  TTableDefinition fits = ComponentDefinition(fields);
  Create("T", fits);
  TDataHeader header = ReadClosedTableHeader(PathOf("T.DAT"), false);
  EXPECT_EQ(header.RecordSize, 65535);
  Delete("T");

  TTableDefinition too_big = fits;
  too_big.Fields.back().Size = 6;  // a record of 65536 bytes
  EVEVURAEngineError e = Refused(too_big);
  EXPECT_EQ(e.ErrorCode, VEVURA_FLDLIMIT);
  EXPECT_EQ(e.ErrorTable, "T");
}

TEST_F(TableValidationTest, BlobFieldCountIsLimited) {
  std::vector<TFieldDescriptor> fields;
  for (uint16_t n = 1; n <= 129; ++n) {
    fields.push_back(FieldDef(n, "M" + std::to_string(n), fcBlob, fsMemo));
  }
  EXPECT_EQ(RefusedCode(ComponentDefinition(fields)), VEVURA_BLOBLIMIT);
  fields.pop_back();
  Create("T", ComponentDefinition(fields));
  EXPECT_TRUE(OnDisk("T.BLB"));
}

TEST_F(TableValidationTest, SecondaryIndexCountAndNames) {
  TTableDefinition d = ComponentDefinition(StringFields({4}));
  d.SecondaryIndexCount = 30;
  for (int n = 1; n <= 30; ++n) d.Indexes[n] = IndexDef("IX" + std::to_string(n), {1});
  TIndexHeader header = CreatedIndexes(d);
  EXPECT_EQ(header.SecondaryCount, 30);
  EXPECT_EQ(header.Descriptors[30].Name, "IX30");
  EXPECT_EQ(header.NoPrimary, 1) << "slot 0 left empty";

  d.SecondaryIndexCount = 31;
  d.Indexes[31] = IndexDef("IX31", {1});
  EXPECT_EQ(RefusedCode(d), VEVURA_INDEXLIMIT);

  TTableDefinition named = ComponentDefinition(StringFields({4}));
  named.SecondaryIndexCount = 2;
  named.Indexes[1] = IndexDef("Good", {1});
  for (const char* bad : {"", "  ", "2nd", "#X"}) {
    SCOPED_TRACE(bad);
    named.Indexes[2] = IndexDef(bad, {1});
    EXPECT_EQ(RefusedCode(named), VEVURA_INVALIDINDEXNAME);
  }
  named.Indexes[2] = IndexDef(" good ", {1});
  EVEVURAEngineError e = Refused(named);
  EXPECT_EQ(e.ErrorCode, VEVURA_INDEXEXISTS);
  EXPECT_EQ(e.ErrorIndex, "good");
  EXPECT_EQ(e.ErrorTable, "T");

  // Names are checked before any index's fields.
  named.Indexes[1] = IndexDef("Good", {9});
  EXPECT_EQ(RefusedCode(named), VEVURA_INDEXEXISTS);

  named.Indexes[1] = IndexDef("Good", {1});
  named.Indexes[2] = IndexDef(" _Other ", {1});
  EXPECT_EQ(CreatedIndexes(named).Descriptors[2].Name, "_Other") << "stored trimmed";
}

TEST_F(TableValidationTest, IndexFieldListsAreChecked) {
  std::vector<TFieldDescriptor> fields = {FieldDef(1, "A", fcInteger),
                                          FieldDef(2, "B", fcString, fsNone, 10),
                                          FieldDef(3, "MEMO", fcBlob, fsMemo)};
  TTableDefinition d = ComponentDefinition(fields);
  d.SecondaryIndexCount = 1;

  d.Indexes[1] = IndexDef("GAP", {1, 0, 2});
  EVEVURAEngineError gap = Refused(d);
  EXPECT_EQ(gap.ErrorCode, VEVURA_INVALIDIDXDESC);
  EXPECT_EQ(gap.ErrorIndex, "GAP");
  EXPECT_EQ(gap.ErrorField, "0");

  d.Indexes[1] = IndexDef("FAR", {2, 4});
  EVEVURAEngineError far = Refused(d);
  EXPECT_EQ(far.ErrorCode, VEVURA_INVALIDIDXDESC);
  EXPECT_EQ(far.ErrorField, "4");

  d.Indexes[1] = IndexDef("BLOBBY", {1, 3});
  EVEVURAEngineError blob = Refused(d);
  EXPECT_EQ(blob.ErrorCode, VEVURA_SEARCHCOLREQD);
  EXPECT_EQ(blob.ErrorField, "MEMO");
  EXPECT_EQ(blob.ErrorIndex, "BLOBBY");

  d.Indexes[1] = IndexDef("NONE", {});
  EXPECT_EQ(RefusedCode(d), VEVURA_INVALIDKEY) << "an index needs a field";

  // A field count given by the caller is replaced by the list's length.
  d.Indexes[1] = IndexDef("AB", {1, 2});
  d.Indexes[1].FieldCount = 9;
  d.Indexes[1].Temporary = 1;
  d.Indexes[1].RootPage = 7;
  TIndexHeader header = CreatedIndexes(d);
  EXPECT_EQ(header.Descriptors[1].FieldCount, 2);
  EXPECT_EQ(header.Descriptors[1].KeyLength, 5 + 12 + 4);
  EXPECT_EQ(header.Descriptors[1].Temporary, 0);
  EXPECT_EQ(header.Descriptors[1].RootPage, 0);
  EXPECT_EQ(header.SecondaryCount, 1);

  d.Indexes[1].Compression = 4;
  EXPECT_EQ(RefusedCode(d), VEVURA_INVALIDIDXDESC) << "an unknown leaf compression";
}

TEST_F(TableValidationTest, PrimaryIndexMayBeAbsentOnlyWhenAllowed) {
  std::vector<TFieldDescriptor> fields = {FieldDef(1, "A", fcInteger),
                                          FieldDef(2, "B", fcString, fsNone, 10)};
  TTableDefinition d = ComponentDefinition(fields);
  d.Indexes[0].Name = "ignored";
  TIndexHeader none = CreatedIndexes(d);
  EXPECT_EQ(none.NoPrimary, 1);
  EXPECT_EQ(none.Descriptors[0], TIndexDescriptor{});

  // With no primary allowed, a field number naming no field ends the list.
  d.Indexes[0] = IndexDef("ignored", {2, 9, 1});
  TIndexHeader shortened = CreatedIndexes(d);
  EXPECT_EQ(shortened.NoPrimary, 0);
  EXPECT_EQ(shortened.Descriptors[0].Name, "");
  EXPECT_EQ(shortened.Descriptors[0].Unique, 1) << "the primary index is always unique";
  EXPECT_EQ(shortened.Descriptors[0].FieldCount, 1);
  EXPECT_EQ(shortened.Descriptors[0].FieldNumbers[1], 0);
  EXPECT_EQ(shortened.Descriptors[0].KeyLength, 12);

  d.AllowNoPrimaryIndex = false;
  EXPECT_EQ(RefusedCode(d), VEVURA_INVALIDIDXDESC);
  d.Indexes[0] = TIndexDescriptor{};
  EXPECT_EQ(RefusedCode(d), VEVURA_INVALIDKEY);
  d.Indexes[0] = IndexDef("", {1});
  EXPECT_EQ(CreatedIndexes(d).Descriptors[0].KeyLength, 5);
}

// A string of size s takes a slot of s + 2 bytes: s + 1 stored bytes and the
// presence byte.
TEST_F(TableValidationTest, KeyLengthIsLimited) {
  TTableDefinition d = ComponentDefinition(StringFields({250, 250, 16}));
  d.SecondaryIndexCount = 1;
  d.Indexes[1] = IndexDef("LONG", {1, 2, 3});
  EXPECT_EQ(CreatedIndexes(d).Descriptors[1].KeyLength, 526) << "522 slot bytes and the row id";

  d.Fields[2].Size = 17;
  EVEVURAEngineError e = Refused(d);
  EXPECT_EQ(e.ErrorCode, VEVURA_INVALIDKEY);
  EXPECT_EQ(e.ErrorIndex, "LONG");
  EXPECT_EQ(e.ErrorTable, "T");

  d.SecondaryIndexCount = 0;
  d.Indexes[0] = IndexDef("", {1, 2, 3});
  EXPECT_EQ(RefusedCode(d), VEVURA_INVALIDKEY) << "the primary index too";
}

TEST_F(TableValidationTest, TextIndexTakesStringsAndMemosOnly) {
  TTableDefinition d = ComponentDefinition(
      {FieldDef(1, "I", fcInteger), FieldDef(2, "S", fcString, fsNone, 40),
       FieldDef(3, "MEMO", fcBlob, fsMemo), FieldDef(4, "PIC", fcBlob, fsGraphic)});
  d.Indexes[kTextIndex].FieldNumbers = {2, 3};
  d.Indexes[kTextIndex].KeyLength = 3;
  TIndexHeader header = CreatedIndexes(d);
  EXPECT_EQ(header.Descriptors[kTextIndex].Name, "Sys Text");
  EXPECT_EQ(header.Descriptors[kTextIndex].FieldCount, 2);
  EXPECT_EQ(header.Descriptors[kTextIndex].KeyLength, 68);
  EXPECT_EQ(header.Descriptors[kTextIndex].Compression, lcFull);

  for (uint16_t wrong : {1, 4}) {
    d.Indexes[kTextIndex].FieldNumbers = {2, wrong};
    EVEVURAEngineError e = Refused(d);
    EXPECT_EQ(e.ErrorCode, VEVURA_SEARCHCOLREQD);
    EXPECT_EQ(e.ErrorField, d.Fields[wrong - 1].Name);
  }
  d.Indexes[kTextIndex].FieldNumbers = {2, 0, 3};
  EXPECT_EQ(RefusedCode(d), VEVURA_INVALIDIDXDESC);
}

}  // namespace
}  // namespace vevura::test
