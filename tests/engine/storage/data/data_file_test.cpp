#include "engine/storage/data/data_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <utility>

#include "engine/storage/common/byte_order.h"
#include "engine/storage/common/scramble.h"
#include "engine/storage/data/field_validation.h"
#include "tests/engine/storage/file_layer_support.h"
#include "tests/engine/storage/table_definition_support.h"

namespace vevura {
namespace {

using test::CatalogFields;
using test::CodeRaisedBy;
using test::ContentsOf;
using test::MakeFile;

class DataFileTest : public test::FileLayerTest {
 protected:
  //! A data file object on name with the table's name for errors.
  std::unique_ptr<TDataFile> DataFile(const std::string& name, bool in_memory = false) {
    auto file = std::make_unique<TDataFile>();
    file->SetFileName(name);
    file->SetInMemory(in_memory);
    file->SetTableName("LICCATALOG");
    return file;
  }

  //! Creates the catalog table's data file with header and descriptors
  //! written, as closing a new table does.
  void CreateCatalog(const std::string& name, bool in_memory = false,
                     TNewTableHeader params = TNewTableHeader()) {
    std::vector<TFieldDescriptor> fields = CatalogFields();
    ValidateNewFields(fields, "LICCATALOG");
    auto file = DataFile(name, in_memory);
    file->CreateHeader(params, fields);
    EXPECT_TRUE(file->WriteHeader(false));
    EXPECT_TRUE(file->WriteFieldDescriptors());
    file->Close();
  }
};

TEST_F(DataFileTest, CatalogHeaderAndDescriptorsAreWrittenAndReadBackIdentically) {
  const std::string path = PathOf("LICCATALOG.DAT");
  CreateCatalog(path);
  std::vector<uint8_t> disk = ContentsOf(path);
  ASSERT_EQ(disk.size(), 7807u) << "header and ten descriptors, no records";
  EXPECT_EQ(GetInt32(&disk[0]), 1) << "one header write";
  EXPECT_EQ(GetUInt32(&disk[116]), 33000u);
  EXPECT_EQ(GetUInt32(&disk[120]), 0u);
  EXPECT_EQ(disk[111], 1) << "written because it changed";
  EXPECT_EQ(GetUInt16(&disk[21]), 879);
  EXPECT_EQ(GetUInt16(&disk[127 + 768 * 9 + 90]), 627) << "offset of Path";

  auto file = DataFile(path);
  file->Open();
  EXPECT_FALSE(file->HeaderChanged());
  EXPECT_EQ(file->RecordSize(), 879);
  EXPECT_EQ(file->FieldCount(), 10);
  EXPECT_EQ(file->ChangeCounter(), 1);
  EXPECT_EQ(file->GetBlobBlockSize(), 512u);
  EXPECT_EQ(file->GetPassword(), "");
  std::array<uint8_t, kDataHeaderSize> header = file->HeaderBytes();
  EXPECT_EQ(header[111], 0) << "reading clears the header-changed flag";
  header[111] = 1;
  EXPECT_TRUE(std::equal(header.begin(), header.end(), disk.begin()));

  std::vector<TFieldDescriptor> expected = CatalogFields();
  ValidateNewFields(expected, "LICCATALOG");
  ASSERT_EQ(file->Fields().size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    std::array<uint8_t, kFieldDescriptorSize> a{}, b{};
    EncodeFieldDescriptor(expected[i], a.data());
    EncodeFieldDescriptor(file->GetFieldDescriptor(static_cast<int>(i + 1)), b.data());
    EXPECT_EQ(a, b) << expected[i].Name;
  }
  EXPECT_NO_THROW(file->VerifyHeader());

  // The run writes "TIFF_FileName"; lookups ignore case.
  EXPECT_EQ(file->FieldPosition("TIFF_FileName"), 8);
  EXPECT_EQ(file->FieldPosition("Nothing"), 0);
  TFieldDescriptor found;
  ASSERT_TRUE(file->FindFieldByName("lic_filename", &found));
  EXPECT_EQ(found.Name, "LIC_Filename");
  EXPECT_EQ(found.CopyPosition(), 9);
  ASSERT_TRUE(file->FindFieldByNumber(2, &found));
  EXPECT_EQ(found.Name, "API");
  EXPECT_EQ(found.CopyPosition(), 2);
  EXPECT_FALSE(file->FindFieldByNumber(11, &found));
  EXPECT_EQ(file->GetFieldDescriptor(2).CopyPosition(), 0) << "stored descriptors stay clean";
}

TEST_F(DataFileTest, HeaderWritesAreSkippedUnlessChangedOrForced) {
  const std::string name = "T.DAT";
  CreateCatalog(name, true);
  auto file = DataFile(name, true);
  int written_notices = 0;
  file->SetHeaderWrittenHook([&] { ++written_notices; });
  file->Open();
  EXPECT_FALSE(file->WriteHeader(false));
  EXPECT_FALSE(file->WriteFieldDescriptors());
  EXPECT_EQ(written_notices, 0);
  EXPECT_TRUE(file->WriteHeader(true));
  EXPECT_EQ(file->ChangeCounter(), 2) << "a forced write still counts";
  EXPECT_EQ(ContentsOf(name, true)[111], 0) << "forced without a change";

  EXPECT_EQ(file->NextAutoIncValue(), 1);
  EXPECT_TRUE(file->HeaderChanged());
  EXPECT_TRUE(file->WriteHeader(false));
  EXPECT_FALSE(file->HeaderChanged());
  std::vector<uint8_t> disk = ContentsOf(name, true);
  EXPECT_EQ(GetInt32(&disk[0]), 3);
  EXPECT_EQ(GetInt32(&disk[17]), 1);
  EXPECT_EQ(written_notices, 2);

  file->MarkHeaderChanged();  // deferred: counted now, written later
  EXPECT_EQ(file->ChangeCounter(), 4);
  EXPECT_EQ(written_notices, 3);
  EXPECT_EQ(GetInt32(&ContentsOf(name, true)[0]), 3);
}

TEST_F(DataFileTest, CountersWrapFromTheLargestValueToOne) {
  CreateCatalog("T.DAT", true);
  auto file = DataFile("T.DAT", true);
  file->Open();
  file->SetLastAutoIncValue(2147483646);
  EXPECT_EQ(file->NextAutoIncValue(), 2147483647);
  EXPECT_EQ(file->NextAutoIncValue(), 1);
  file->MutableHeader().LastBlobId = 2147483647;
  EXPECT_EQ(file->NextBlobId(), 1);
  EXPECT_EQ(file->NextBlobId(), 2);
  file->WriteHeader(false);
  file->SetLastAutoIncValue(1);
  EXPECT_FALSE(file->HeaderChanged()) << "an unchanged value changes nothing";
}

TEST_F(DataFileTest, AnotherUsersHeaderWriteIsNoticedByItsChangeCounter) {
  const std::string path = PathOf("SHARED.DAT");
  CreateCatalog(path);
  auto mine = DataFile(path);
  auto theirs = DataFile(path);
  mine->Open();
  theirs->Open();
  EXPECT_FALSE(mine->ReloadHeaderIfChanged());

  theirs->NextAutoIncValue();
  theirs->WriteHeader(false);
  EXPECT_TRUE(mine->ReloadHeaderIfChanged());
  EXPECT_EQ(mine->LastAutoIncValue(), 1);
  EXPECT_EQ(mine->ChangeCounter(), theirs->ChangeCounter());
  EXPECT_TRUE(mine->HeaderChanged()) << "byte 111 of the writer comes along";
  EXPECT_FALSE(mine->ReloadHeaderIfChanged());
}

TEST_F(DataFileTest, EncryptedDescriptorsAreScrambledOnDiskAndThePasswordGuardsTheTable) {
  TNewTableHeader params;
  params.Encrypted = true;
  params.Password = "Open Sesame";
  params.Description = "catalog";
  CreateCatalog("E.DAT", true, params);
  std::vector<uint8_t> disk = ContentsOf("E.DAT", true);
  EXPECT_EQ(disk[86], 1);
  EXPECT_NE(GetUInt16(&disk[127]), 1) << "descriptor 1 is not plain";
  std::vector<uint8_t> descriptors(disk.begin() + 127, disk.end());
  UnscrambleRun(descriptors.data(), descriptors.size(), kTableDataSeeds);
  EXPECT_EQ(GetUInt16(&descriptors[0]), 1);
  EXPECT_EQ(descriptors[3], 'R');

  auto file = DataFile("E.DAT", true);
  file->Open();
  EXPECT_EQ(file->GetFieldDescriptor(8).Name, "TIFF_Filename");
  EXPECT_EQ(file->GetPassword(), "Open Sesame");
  EXPECT_EQ(file->Header().PlainDescription(), "catalog");
  file->Close();

  TDataHeader closed = ReadClosedTableHeader("E.DAT", true);
  std::vector<std::string> known = {"open sesame"};
  auto has = [&](const std::string& p) { return std::count(known.begin(), known.end(), p) > 0; };
  EXPECT_EQ(CodeRaisedBy([&] { CheckTablePassword(closed.PlainPassword(), has, nullptr, "E"); }),
            VEVURA_NOTSUFFTABLERIGHTS);
  known.push_back("Open Sesame");
  EXPECT_EQ(CodeRaisedBy([&] { CheckTablePassword(closed.PlainPassword(), has, nullptr, "E"); }),
            0);
}

TEST_F(DataFileTest, ClosedTableHeaderOfAnotherVersionReadsAsZeros) {
  CreateCatalog("V.DAT", true);
  std::vector<uint8_t> disk = ContentsOf("V.DAT", true);
  disk[8] = 4;
  MakeFile("V.DAT", disk, true);
  TDataHeader header = ReadClosedTableHeader("V.DAT", true);
  EXPECT_EQ(header.Version, 4);
  EXPECT_EQ(header.RecordSize, 0);
  EXPECT_EQ(header.FieldCount, 0);
  EXPECT_EQ(CodeRaisedBy([] { ReadClosedTableHeader("MISSING.DAT", true); }), VEVURA_OSENOENT);
}

TEST_F(DataFileTest, DamagedOrShortFilesFailToOpenWithTheirCodesAndStayClosed) {
  CreateCatalog("G.DAT", true);
  const std::vector<uint8_t> good = ContentsOf("G.DAT", true);
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
    uint16_t code;
  };
  const Case cases[] = {
      {"empty file", [](auto& d) { d.clear(); }, VEVURA_READERR},
      {"short header", [](auto& d) { d.resize(100); }, VEVURA_READERR},
      {"short descriptors", [](auto& d) { d.resize(127 + 768 * 9); }, VEVURA_READERR},
      {"old version", [](auto& d) { d[8] = 4; }, VEVURA_OLDVERSION},
      {"too many fields", [](auto& d) { PutUInt16(&d[23], 1025); }, VEVURA_HEADERCORRUPT},
      {"record size zero", [](auto& d) { PutUInt16(&d[21], 0); }, VEVURA_HEADERCORRUPT},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> damaged = good;
    c.damage(damaged);
    MakeFile("D.DAT", damaged, true);
    auto file = DataFile("D.DAT", true);
    EXPECT_EQ(CodeRaisedBy([&] { file->Open(); }), c.code) << c.what;
    EXPECT_FALSE(file->IsOpen()) << c.what;
  }
}

TEST_F(DataFileTest, HeaderCountsAreCheckedAgainstTheFileSizeWhenRead) {
  CreateCatalog("R.DAT", true);
  std::vector<uint8_t> disk = ContentsOf("R.DAT", true);
  disk.resize(disk.size() + 2 * 879 + 879 / 2);  // two and a half records
  // Next record number (13) and first free record (9) that the file cannot
  // hold are refused as the header is read, before they size the record
  // bitmaps or enter arithmetic.
  const std::pair<int, int32_t> counts[] = {{13, 4}, {13, 0x7FFFFFF0}, {13, INT32_MIN},
                                            {13, 0}, {9, 3},           {9, INT32_MIN}};
  for (const auto& [offset, value] : counts) {
    PutInt32(&disk[13], 3);
    PutInt32(&disk[9], 0);
    PutInt32(&disk[offset], value);
    MakeFile("R.DAT", disk, true);
    auto file = DataFile("R.DAT", true);
    auto error = test::RaisedBy([&] { file->Open(); });
    ASSERT_TRUE(error.has_value()) << offset << " " << value;
    EXPECT_EQ(error->ErrorCode, VEVURA_HEADERCORRUPT);
    EXPECT_EQ(error->ErrorTable, "LICCATALOG");
    EXPECT_FALSE(file->IsOpen());
  }
  PutInt32(&disk[9], 0);

  // So is another user's header: the header read before stays.
  const std::string path = PathOf("S.DAT");
  PutInt32(&disk[13], 3);
  MakeFile(path, disk);
  auto mine = DataFile(path);
  mine->Open();
  auto theirs = test::Handler(path);
  theirs->Open();
  uint8_t damaged[4];
  PutInt32(damaged, mine->ChangeCounter() + 1);
  theirs->WriteAt(0, damaged, 4);
  PutInt32(damaged, INT32_MIN);
  theirs->WriteAt(13, damaged, 4);
  EXPECT_EQ(CodeRaisedBy([&] { mine->ReloadHeaderIfChanged(); }), VEVURA_HEADERCORRUPT);
  EXPECT_EQ(CodeRaisedBy([&] { mine->ReadHeader(); }), VEVURA_HEADERCORRUPT);
  EXPECT_EQ(mine->Header().NextRecordNumber, 3);
  mine->Close();

  auto file = DataFile("R.DAT", true);

  // Fewer slots than the file holds: the rest is what an append killed
  // before its header write left behind.
  MakeFile("R.DAT", disk, true);
  file->Open();
  EXPECT_NO_THROW(file->VerifyHeader());
  file->Close();
  disk.resize(disk.size() - 879 / 2);
  MakeFile("R.DAT", disk, true);
  file->Open();
  EXPECT_NO_THROW(file->VerifyHeader());
}

// Random damage to header and descriptors: every outcome is a clean open, or
// one of the corruption and read errors, never a crash (run under the
// sanitizers).
TEST_F(DataFileTest, RandomlyDamagedHeadersNeverCrashOpenOrVerification) {
  CreateCatalog("F.DAT", true);
  std::vector<uint8_t> good = ContentsOf("F.DAT", true);
  good.resize(good.size() + 3 * 879, 0);
  PutInt32(&good[13], 4);
  std::mt19937 rng(20240611);
  int refused = 0;
  for (int round = 0; round < 2000; ++round) {
    std::vector<uint8_t> damaged = good;
    int flips = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < flips; ++i) {
      // Mostly the header, sometimes the descriptors.
      size_t at = rng() % 4 == 0 ? 127 + rng() % (768 * 10) : rng() % 127;
      damaged[at] = static_cast<uint8_t>(rng());
    }
    if (rng() % 10 == 0) damaged.resize(rng() % damaged.size());
    MakeFile("F.DAT", damaged, true);
    auto file = DataFile("F.DAT", true);
    uint16_t code = CodeRaisedBy([&] {
      file->Open();
      file->VerifyHeader();
      ReadClosedTableHeader("F.DAT", true);
    });
    EXPECT_TRUE(code == 0 || code == VEVURA_HEADERCORRUPT || code == VEVURA_READERR ||
                code == VEVURA_OLDVERSION || code == VEVURA_CANNOTLOADLDDRV)
        << "round " << round << " code " << code;
    if (code != 0) ++refused;
  }
  EXPECT_GT(refused, 500) << "most damage is noticed";
}

}  // namespace
}  // namespace vevura
