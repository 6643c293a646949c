// The `vevura` command run in-process against tables written through the
// engine: dump in every format, info, verify, export read back through
// SQLite, import round-tripping a dump, and the error paths.

#include "tools/vevura/vevura_tool.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#if VEVURA_WITH_SQLITE
#include <sqlite3.h>
#endif

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/data_cursor.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "engine/core/engine.h"
#include "engine/core/table_create.h"
#include "engine/storage/fields/date_encoding.h"
#include "tests/engine/core/core_test_support.h"
#include "tests/platform/platform_test_support.h"

namespace vevura::tool {
namespace {

enum : uint16_t {
  kId = 1,
  kName,
  kBorn,
  kNotes,
  kActive,
  kSmall,
  kCount,
  kDepth,
  kPrice,
  kAmount,
  kCode,
  kAlarm,
  kSeen,
  kFlags,
  kBig,
  kImage,
};

constexpr size_t kImageSize = 100000;

using test::Field;

TIndexDescriptor Index(const std::string& name, std::vector<uint16_t> fields) {
  TIndexDescriptor d;
  d.Name = name;
  for (size_t i = 0; i < fields.size(); ++i) d.FieldNumbers[i] = fields[i];
  return d;
}

//! A field of every type with storage, in a Western-language table, with
//! indexes of every option.
TTableDefinition AllTypes() {
  TTableDefinition d;
  d.LanguageId = 1033;
  d.Description = "every field type";
  d.AllowNoPrimaryIndex = true;
  d.Fields = {Field(kId, "ID", fcInteger, fsAutoInc),
              Field(kName, "NAME", fcString, fsNone, 20),
              Field(kBorn, "BORN", fcDate),
              Field(kNotes, "NOTES", fcBlob, fsMemo),
              Field(kActive, "ACTIVE", fcBoolean),
              Field(kSmall, "SMALL", fcSmallInt),
              Field(kCount, "COUNT", fcInteger),
              Field(kDepth, "DEPTH", fcFloat),
              Field(kPrice, "PRICE", fcFloat, fsMoney),
              Field(kAmount, "AMOUNT", fcBCD),
              Field(kCode, "CODE", fcBytes, fsNone, 4),
              Field(kAlarm, "ALARM", fcTime),
              Field(kSeen, "SEEN", fcTimeStamp),
              Field(kFlags, "FLAGS", fcWord),
              Field(kBig, "BIG", fcLargeInt),
              Field(kImage, "IMAGE", fcBlob)};
  d.Fields[kAmount - 1].Scale = 4;
  d.Fields[kSmall - 1].MinValue = "-100";
  d.Fields[kSmall - 1].DefaultValue = "3";
  d.Fields[kName - 1].Required = 1;
  d.Indexes[0] = Index("", {kId});
  d.Indexes[0].Unique = 1;
  d.Indexes[1] = Index("ByName", {kName});
  d.Indexes[1].CaseInsensitive = 1;
  d.Indexes[2] = Index("ByBorn", {kBorn, kAmount});
  d.Indexes[2].FieldDescending[0] = 1;
  d.Indexes[3] = Index("ByCount", {kCount});
  d.Indexes[3].Unique = 1;
  d.Indexes[3].Descending = 1;
  d.Indexes[3].Compression = lcFull;
  d.SecondaryIndexCount = 3;
  d.Indexes[kTextIndex] = Index("Sys Text", {kName});
  return d;
}

std::vector<uint8_t> ImageBytes() {
  std::vector<uint8_t> image(kImageSize);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i % 251);
  return image;
}

int32_t Day(int year, int month, int day) {
  int32_t n = 0;
  EXPECT_TRUE(DayNumberFromDate(year, month, day, &n));
  return n;
}

int32_t Ms(int hour, int minute, int second, int ms) {
  int32_t n = 0;
  EXPECT_TRUE(MillisecondsFromTime(hour, minute, second, ms, &n));
  return n;
}

class VevuraToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StartEngine();
    session_ = std::make_unique<TDataSession>();
    session_->AddPassword("Open Sesame");
    directory_ = session_->OpenDataDirectory("", dir_.path());
  }
  void TearDown() override {
    session_.reset();
    StopEngine();
  }

  void Create(const std::string& name, TTableDefinition definition) {
    TTableTarget target;
    target.TableName = name;
    target.Exclusive = true;
    CreateTable(*directory_, target, std::move(definition));
  }
  std::unique_ptr<TDataCursor> OpenTable(const std::string& name) {
    auto cursor = std::make_unique<TDataCursor>(*directory_);
    cursor->SetTableName(name);
    cursor->OpenCursor();
    return cursor;
  }
  //! Writes bytes as the BLOB of record; the post saves it (closing first would drop it).
  static void SetBlob(TDataCursor& c, std::vector<uint8_t>& record, uint16_t field,
                      const std::string& bytes) {
    int32_t length = 0;
    ASSERT_EQ(c.OpenBlob(field, record, boWrite, &length), 0);
    ASSERT_EQ(c.WriteBlob(field, record, 0, static_cast<int32_t>(bytes.size()),
                          reinterpret_cast<const uint8_t*>(bytes.data())),
              0);
  }

  //! ALLTYPES with three records: every field set (8-bit text, a date
  //! before 1900, a BCD of 24 digits, a 100000-byte BLOB), every field but
  //! NAME null, and a third for the orders.
  void CreateAllTypes(const std::string& name = "ALLTYPES") {
    Create(name, AllTypes());
    auto c = OpenTable(name);
    const std::vector<TFieldDescriptor>& f = c->Fields();
    std::vector<uint8_t> r(c->RecordSize());
    c->InitRecord(r);
    SetStringField(r, f[kName - 1], "M\xFCller & \"Co\", x", 0);
    SetDateField(r, f[kBorn - 1], Day(1850, 3, 1));
    SetBlob(*c, r, kNotes, "line1\nline2");
    SetBooleanField(r, f[kActive - 1], 1);
    SetSmallIntField(r, f[kSmall - 1], -5);
    SetIntegerField(r, f[kCount - 1], 42);
    SetFloatField(r, f[kDepth - 1], 1234.5);
    SetFloatField(r, f[kPrice - 1], 9.99);
    TBcd amount;
    ASSERT_TRUE(BcdFromText("-12345678901234567890.1234", 4, &amount));
    SetBcdField(r, f[kAmount - 1], amount);
    const uint8_t code[] = {0, 1, 2, 255};
    SetBytesField(r, f[kCode - 1], code);
    SetTimeField(r, f[kAlarm - 1], Ms(13, 5, 7, 250));
    SetTimeStampField(r, f[kSeen - 1],
                      Day(1899, 12, 30) * static_cast<double>(kMsPerDay) + Ms(23, 59, 59, 999));
    SetWordField(r, f[kFlags - 1], 65535);
    SetLargeIntField(r, f[kBig - 1], -9007199254740993);
    const std::vector<uint8_t> image = ImageBytes();
    SetBlob(*c, r, kImage, std::string(image.begin(), image.end()));
    c->InsertRecord(r, false);

    c->InitRecord(r);
    SetStringField(r, f[kName - 1], "Zed", 0);
    SetFieldNull(r, f[kSmall - 1]);
    c->InsertRecord(r, false);

    c->InitRecord(r);
    SetStringField(r, f[kName - 1], "anna", 0);
    SetIntegerField(r, f[kCount - 1], 7);
    c->InsertRecord(r, false);
  }

  //! Runs vevura; out and err receive what it wrote.
  int Run(std::vector<std::string> args, const TTerminal& terminal = TTerminal{}) {
    std::ostringstream out, err;
    const int status = RunVevura(args, out, err, terminal);
    out_ = out.str();
    err_ = err.str();
    return status;
  }
  std::string Dir() const { return dir_.path(); }

  platform::testing::ScratchDir dir_;
  std::unique_ptr<TDataSession> session_;
  TDataDirectory* directory_ = nullptr;
  std::string out_, err_;
};

//! The lines of text (CRLF or LF ends).
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(VevuraToolTest, DumpWritesEveryFieldTypeInEachFormat) {
  CreateAllTypes();
  ASSERT_EQ(Run({"dump", Dir(), "ALLTYPES", "--format", "json"}), 0) << err_;
  std::vector<std::string> lines = Lines(out_);
  ASSERT_EQ(lines.size(), 3u);
  const std::string first = lines[0];
  const std::string image_start = "\"IMAGE\":\"AAECAwQF";
  EXPECT_EQ(first.substr(0, first.find(image_start)),
            "{\"ID\":1,\"NAME\":\"M\xC3\xBCller & \\\"Co\\\", x\",\"BORN\":\"1850-03-01\","
            "\"NOTES\":\"line1\\nline2\",\"ACTIVE\":true,\"SMALL\":-5,\"COUNT\":42,"
            "\"DEPTH\":1234.5,\"PRICE\":9.99,\"AMOUNT\":\"-12345678901234567890.1234\","
            "\"CODE\":\"AAEC/w==\",\"ALARM\":\"13:05:07.250\","
            "\"SEEN\":\"1899-12-30T23:59:59.999\",\"FLAGS\":65535,"
            "\"BIG\":-9007199254740993,");
  ASSERT_TRUE(Contains(first, image_start));
  // 100000 bytes are 33334 groups of four base64 digits, the last padded.
  const size_t image_at = first.find(image_start) + 9;
  EXPECT_EQ(first.size() - image_at, 133336u + 2u);
  EXPECT_EQ(first.substr(first.size() - 6), "ZQ==\"}");  // the last byte, 101
  EXPECT_EQ(lines[1],
            "{\"ID\":2,\"NAME\":\"Zed\",\"BORN\":null,\"NOTES\":null,\"ACTIVE\":null,"
            "\"SMALL\":null,\"COUNT\":null,\"DEPTH\":null,\"PRICE\":null,\"AMOUNT\":null,"
            "\"CODE\":null,\"ALARM\":null,\"SEEN\":null,\"FLAGS\":null,\"BIG\":null,"
            "\"IMAGE\":null}");

  ASSERT_EQ(Run({"dump", Dir(), "ALLTYPES", "--format=csv", "--fields", "id,NAME,NOTES,small"}), 0);
  EXPECT_EQ(out_,
            "ID,NAME,NOTES,SMALL\r\n"
            "1,\"M\xC3\xBCller & \"\"Co\"\", x\",\"line1\nline2\",-5\r\n"
            "2,Zed,,\r\n"
            "3,anna,,3\r\n");

  // The progress bar goes to err only, drawn and wiped.
  TTerminal terminal;
  terminal.Progress = true;
  ASSERT_EQ(Run({"dump", Dir(), "ALLTYPES", "--fields", "NAME,BORN"}, terminal), 0);
  EXPECT_EQ(err_.substr(0, 7), "\rdump [") << err_;
  EXPECT_EQ(err_.back(), '\r');
  EXPECT_EQ(out_,
            "#1\nNAME: M\xC3\xBCller & \"Co\", x\nBORN: 1850-03-01\n\n"
            "#2\nNAME: Zed\nBORN: (null)\n\n#3\nNAME: anna\nBORN: (null)\n\n");
}

TEST_F(VevuraToolTest, DumpFollowsTheChosenOrderRangeAndFilter) {
  CreateAllTypes();
  auto names = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = {"dump", Dir(),      "ALLTYPES", "--format",
                                     "csv",  "--fields", "NAME"};
    args.insert(args.end(), extra.begin(), extra.end());
    EXPECT_EQ(Run(args), 0) << err_;
    std::vector<std::string> lines = Lines(out_);
    return std::vector<std::string>(lines.begin() + 1, lines.end());
  };
  const std::string mueller = "\"M\xC3\xBCller & \"\"Co\"\", x\"";
  using V = std::vector<std::string>;
  EXPECT_EQ(names({"--index", "ByName"}), (V{"anna", mueller, "Zed"}));
  EXPECT_EQ(names({"--index", "byname", "--range", "b..Z"}), (V{mueller}));
  EXPECT_EQ(names({"--index", "ByName", "--range", "..m"}), (V{"anna"}));
  EXPECT_EQ(names({"--index", "ByName", "--range", "n.."}), (V{"Zed"}));
  // ByCount is descending: the range runs from the larger value (42 comes
  // before 40).
  EXPECT_EQ(names({"--index", "ByCount", "--range", "40..5"}), (V{"anna"}));
  EXPECT_EQ(names({"--index", "ByCount"}), (V{mueller, "anna", "Zed"}));
  EXPECT_EQ(names({"--index", "ByCount", "--range", "50..5"}), (V{mueller, "anna"}));
  EXPECT_EQ(names({"--recno", "--filter", "COUNT > 10 OR NAME = 'Zed'"}), (V{mueller, "Zed"}));
  EXPECT_EQ(names({"--filter", "NAME = 'M\xC3\xBCller*'"}), (V{mueller}));

  EXPECT_EQ(Run({"dump", Dir(), "ALLTYPES", "--recno", "--range", "1..2"}), 2);
  EXPECT_EQ(Run({"dump", Dir(), "ALLTYPES", "--index", "NoSuchIndex"}), 1);
  EXPECT_TRUE(Contains(err_, "VEVURA Engine Error")) << err_;
  EXPECT_EQ(Run({"dump", Dir(), "ALLTYPES", "--fields", "NAME,NOPE"}), 1);
  EXPECT_TRUE(Contains(err_, "no field NOPE")) << err_;
  EXPECT_EQ(Run({"dump", Dir(), "ALLTYPES", "--format", "xml"}), 2);
}

TEST_F(VevuraToolTest, InfoShowsHeaderFieldsAndIndexes) {
  CreateAllTypes();
  ASSERT_EQ(Run({"info", Dir(), "alltypes"}), 0) << err_;
  const std::vector<std::string> expected = {
      "Version              5",
      "Active records       3",
      "Language             1033, sort 0 (en_US)",
      "Code page            windows-1252",
      "Encrypted            no",
      "Description          every field type",
      "Last auto-increment  3",
      "  #   NAME    TYPE       CODE  SIZE  REQUIRED  DEFAULT  MINIMUM  MAXIMUM  CASE",
      "  2   NAME    string     1/0   20    yes\n",
      "  6   SMALL   smallint   5/0         no        3        -100\n",
      "  9   PRICE   money      7/21        no\n",
      "  10  AMOUNT  BCD        8/0   32,4  no\n",
      "  16  IMAGE   BLOB       3/0         no\n",
      "  4   NOTES   memo       3/22        no\n",
      "  #   NAME            FIELDS            OPTIONS                       KEY LENGTH  DEPTH  "
      "KEYS",
      "  0   (primary)       ID                unique                        5           1      3",
      "  1   ByName          NAME              case-insensitive              26          1      3",
      "  2   ByBorn          BORN desc,AMOUNT                                18          1      3",
      "  3   ByCount         COUNT             unique,descending,compressed  5           1      3",
      "  31  (record slots)",
      "  32  (words)         NAME                                            68          1      5",
  };
  for (const std::string& line : expected)
    EXPECT_TRUE(Contains(out_, line)) << line << "\n" << out_;
  ASSERT_EQ(Run({"tables", Dir()}), 0);
  EXPECT_TRUE(Contains(out_, "ALLTYPES  3")) << out_;
}

TEST_F(VevuraToolTest, VerifyGivesTheVerdictAndItsExitStatus) {
  CreateAllTypes();
  EXPECT_EQ(Run({"verify", Dir(), "ALLTYPES"}), 0);
  EXPECT_EQ(out_, "ALLTYPES: sound (3 records, 0 free slots)\n");
  EXPECT_EQ(Run({"verify", Dir(), "ALLTYPES", "--quiet"}), 0);
  EXPECT_EQ(out_, "");
  // The active record count in the index header, one too high.
  {
    std::fstream idx(Dir() + "ALLTYPES.IDX", std::ios::in | std::ios::out | std::ios::binary);
    idx.seekp(3974);
    idx.put(4);
  }
  EXPECT_EQ(Run({"verify", Dir(), "ALLTYPES"}), 1);
  EXPECT_EQ(Lines(out_).back(), "ALLTYPES: damaged: 1 problem found") << out_;
  EXPECT_TRUE(Contains(out_, "active record count 4 for 3 live records")) << out_;
  EXPECT_EQ(Run({"verify", Dir(), "ALLTYPES", "--quiet"}), 1);
  EXPECT_EQ(out_, "");
}

TEST_F(VevuraToolTest, RepairBacksUpMendsAndLeavesASoundTableAlone) {
  CreateAllTypes();
  const std::string idx = Dir() + "ALLTYPES.IDX";
  auto bytes = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string sound = bytes(idx);
  EXPECT_EQ(Run({"repair", Dir(), "ALLTYPES"}), 0);
  EXPECT_EQ(out_, "ALLTYPES: sound (3 records); nothing was changed\n");
  EXPECT_EQ(bytes(idx), sound);

  // The active record count one short, as a killed append leaves it.
  std::string damaged = sound;
  damaged[3974] = 2;
  std::ofstream(idx, std::ios::binary | std::ios::trunc) << damaged;
  const std::string backup = Dir() + "saved";
  EXPECT_EQ(Run({"repair", Dir(), "ALLTYPES", "--backup", backup}), 0) << out_ << err_;
  EXPECT_EQ(Lines(out_).front(), "the table's files were copied to " + backup + "/") << out_;
  EXPECT_EQ(Lines(out_).back(), "ALLTYPES: repaired: sound (3 records, 0 free slots)") << out_;
  EXPECT_EQ(bytes(backup + "/ALLTYPES.IDX"), damaged);
  EXPECT_EQ(Run({"verify", Dir(), "ALLTYPES", "--quiet"}), 0);
  EXPECT_EQ(Run({"dump", Dir(), "ALLTYPES", "--format", "csv", "--fields", "ID"}), 0);
  EXPECT_EQ(out_, "ID\r\n1\r\n2\r\n3\r\n");
}

#if VEVURA_WITH_SQLITE
TEST_F(VevuraToolTest, ExportReadsBackThroughSqlite) {
  CreateAllTypes();
  const std::string file = Dir() + "out.sqlite";
  ASSERT_EQ(Run({"export", Dir(), "ALLTYPES", "--sqlite", file}), 0) << err_;
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  auto rows = [&](const std::string& sql) {
    std::vector<std::string> result;
    sqlite3_stmt* s = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr), SQLITE_OK) << sql;
    while (sqlite3_step(s) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < sqlite3_column_count(s); ++i) {
        const auto* text = sqlite3_column_text(s, i);
        row += (i > 0 ? "|" : "") + std::string(text != nullptr ? (const char*)text : "NULL");
      }
      result.push_back(row);
    }
    sqlite3_finalize(s);
    return result;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(rows("SELECT ID, NAME, BORN, NOTES, ACTIVE, SMALL, DEPTH, AMOUNT, hex(CODE), ALARM, "
                 "SEEN, FLAGS, BIG, length(IMAGE), hex(substr(IMAGE, 252, 3)) FROM ALLTYPES "
                 "WHERE ID = 1"),
            (V{"1|M\xC3\xBCller & \"Co\", x|1850-03-01|line1\nline2|1|-5|1234.5|"
               "-12345678901234567890.1234|000102FF|13:05:07.250|1899-12-30T23:59:59.999|65535|"
               "-9007199254740993|100000|000102"}));
  EXPECT_EQ(rows("SELECT NAME, typeof(BORN), typeof(IMAGE) FROM ALLTYPES ORDER BY ID"),
            (V{"M\xC3\xBCller & \"Co\", x|text|blob", "Zed|null|null", "anna|null|null"}));
  EXPECT_EQ(rows("SELECT sql FROM sqlite_master WHERE type = 'index' ORDER BY name"),
            (V{"CREATE INDEX \"ALLTYPES_ByBorn\" ON \"ALLTYPES\" (\"BORN\" DESC, \"AMOUNT\")",
               "CREATE UNIQUE INDEX \"ALLTYPES_ByCount\" ON \"ALLTYPES\" (\"COUNT\" DESC)",
               "CREATE INDEX \"ALLTYPES_ByName\" ON \"ALLTYPES\" (\"NAME\" COLLATE NOCASE)",
               "CREATE UNIQUE INDEX \"ALLTYPES_primary\" ON \"ALLTYPES\" (\"ID\")"}));
  // The case-insensitive index orders as the table's does.
  EXPECT_EQ(rows("SELECT NAME FROM ALLTYPES INDEXED BY ALLTYPES_ByName ORDER BY NAME "
                 "COLLATE NOCASE"),
            (V{"anna", "M\xC3\xBCller & \"Co\", x", "Zed"}));
  sqlite3_close(db);
  // A second export into the same file is refused and leaves it as it was.
  EXPECT_EQ(Run({"export", Dir(), "ALLTYPES", "--sqlite", file}), 1);
  EXPECT_TRUE(Contains(err_, "already exists")) << err_;
}
#endif

TEST_F(VevuraToolTest, ImportRoundTripsADumpAndRefusesBadRowsWhole) {
  CreateAllTypes();
  ASSERT_EQ(Run({"dump", Dir(), "ALLTYPES", "--format", "csv"}), 0);
  const std::string dumped = out_;
  const std::string csv = Dir() + "all.csv";
  std::ofstream(csv, std::ios::binary) << dumped;
  Create("COPY", AllTypes());
  ASSERT_EQ(Run({"import", Dir(), "COPY", "--csv", csv}), 0) << err_;
  EXPECT_EQ(out_, "3 records imported into COPY\n");
  ASSERT_EQ(Run({"dump", Dir(), "COPY", "--format", "csv"}), 0);
  EXPECT_EQ(out_, dumped);
  EXPECT_EQ(Run({"verify", Dir(), "COPY", "--quiet"}), 0);

  // Values that do not fit: every one is reported, nothing is imported.
  const std::string bad = Dir() + "bad.csv";
  std::ofstream(bad, std::ios::binary)
      << "name,DEPTH,small,AMOUNT\nok,1.5,,\nbad,abc,,\n\"long\nname\",2,40000,1.23456\n";
  EXPECT_EQ(Run({"import", Dir(), "COPY", "--csv", bad}), 1);
  EXPECT_TRUE(Contains(err_, "row 2 (line 3), field DEPTH: \"abc\" is not a number")) << err_;
  EXPECT_TRUE(Contains(err_, "row 3 (line 4), field SMALL: \"40000\" is outside -32768 to 32767"))
      << err_;
  EXPECT_TRUE(Contains(err_, "row 3 (line 4), field AMOUNT: \"1.23456\" has more than 4 decimals"))
      << err_;
  EXPECT_TRUE(Contains(err_, "nothing was imported")) << err_;
  // A row the table refuses (COUNT is unique) takes back the rows before it.
  std::ofstream(bad, std::ios::binary) << "NAME,COUNT\nnew,1000\ndup,42\n";
  EXPECT_EQ(Run({"import", Dir(), "COPY", "--csv", bad}), 1);
  EXPECT_TRUE(Contains(err_, "row 2 (line 3): ")) << err_;
  std::ofstream(bad, std::ios::binary) << "NAME,WIDTH\nx,1\n";
  EXPECT_EQ(Run({"import", Dir(), "COPY", "--csv", bad}), 1);
  EXPECT_TRUE(Contains(err_, "column WIDTH")) << err_;
  ASSERT_EQ(Run({"dump", Dir(), "COPY", "--format", "csv"}), 0);
  EXPECT_EQ(out_, dumped);
  EXPECT_EQ(Run({"verify", Dir(), "COPY"}), 0) << out_;
  EXPECT_EQ(out_, "COPY: sound (3 records, 1 free slots)\n");
}

TEST_F(VevuraToolTest, MissingTablesPasswordsAndUsageErrors) {
  TTableDefinition secret = AllTypes();
  secret.Encrypted = true;
  secret.Password = "Open Sesame";
  Create("SECRET", secret);
  EXPECT_EQ(Run({"dump", Dir(), "SECRET", "--password", "open sesame"}), 1);
  EXPECT_TRUE(Contains(err_, "VEVURA Engine Error")) << err_;
  EXPECT_EQ(Run({"verify", Dir(), "SECRET"}), 1);
  EXPECT_TRUE(Contains(err_, "VEVURA Engine Error")) << err_;
  EXPECT_EQ(Run({"info", Dir(), "SECRET", "--password", "Open Sesame"}), 0) << err_;
  EXPECT_TRUE(Contains(out_, "Encrypted            yes")) << out_;
  EXPECT_EQ(Run({"verify", Dir(), "SECRET", "--password=Open Sesame"}), 0) << out_;

  // On a terminal the password is asked once.
  int asked = 0;
  TTerminal terminal;
  terminal.ReadPassword = [&](const std::string& table, std::string* password) {
    EXPECT_EQ(table, "SECRET");
    *password = ++asked == 1 ? "Open Sesame" : "wrong";
    return true;
  };
  EXPECT_EQ(Run({"dump", Dir(), "SECRET"}, terminal), 0) << err_;
  EXPECT_EQ(asked, 1);
  terminal.ReadPassword = [&](const std::string&, std::string* password) {
    *password = "wrong";
    return ++asked < 10;
  };
  EXPECT_EQ(Run({"info", Dir(), "SECRET"}, terminal), 1);
  EXPECT_EQ(asked, 2);

  EXPECT_EQ(Run({"dump", Dir(), "NOPE"}), 1);
  EXPECT_TRUE(Contains(err_, "no table NOPE")) << err_;
  EXPECT_EQ(Run({"info", Dir() + "missing", "NOPE"}), 1);
  EXPECT_EQ(Run({"dump", Dir()}), 2);
  EXPECT_EQ(Run({"dump", Dir(), "SECRET", "--bogus"}), 2);
  EXPECT_EQ(Run({"frobnicate"}), 2);
  EXPECT_EQ(Run({"dump", "--help"}), 0);
  EXPECT_TRUE(Contains(out_, "usage: vevura dump DIR TABLE")) << out_;

  // The program itself: exit statuses through the shell.
  const std::string program = VEVURA_TOOL_PATH;
  EXPECT_EQ(std::system((program + " verify " + Dir() +
                         " SECRET --quiet --password 'Open "
                         "Sesame' </dev/null")
                            .c_str()),
            0);
  EXPECT_EQ(WEXITSTATUS(std::system((program + " dump " + Dir() + " NOPE 2>/dev/null").c_str())),
            1);
  EXPECT_EQ(WEXITSTATUS(std::system((program + " dump 2>/dev/null").c_str())), 2);
}

}  // namespace
}  // namespace vevura::tool
