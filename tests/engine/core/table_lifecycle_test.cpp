// Table existence, overwriting, deletion, BLOB files, encryption, in-memory
// tables, word index parameters, and cleaning up after a failed creation.

#include <filesystem>

#include "engine/core/data_cursor.h"
#include "engine/core/data_table.h"
#include "engine/storage/blob/blob_header.h"
#include "engine/storage/data/data_file.h"
#include "engine/storage/index/index_data_pages.h"
#include "tests/engine/core/table_create_support.h"
#include "tests/support/fault_file_system.h"

namespace vevura::test {
namespace {

class TableLifecycleTest : public TableFilesTest {
 protected:
  //! A table with a memo field, and so a BLOB file.
  static TTableDefinition MemoDefinition() {
    TTableDefinition d = ComponentDefinition(
        {FieldDef(1, "ID", fcInteger, fsAutoInc), FieldDef(2, "NOTES", fcBlob, fsMemo)});
    d.Indexes[0] = IndexDef("", {1}, true);
    return d;
  }
  //! Opens T's table object in directory and returns it.
  static TDataTable* OpenObject(TDataDirectory& directory, const std::string& name,
                                bool in_memory = false) {
    TTableOpenRequest request;
    request.InMemory = in_memory;
    TDataTable* table = nullptr;
    EXPECT_EQ(directory.OpenTableObject(name, request, &table), 0);
    return table;
  }
};

TEST_F(TableLifecycleTest, ExistingTableIsKeptUnlessOverwritten) {
  Create("T", CatalogDefinition());
  std::vector<uint8_t> data = FileBytes(PathOf("T.DAT"));
  std::vector<uint8_t> index = FileBytes(PathOf("T.IDX"));

  EVEVURAEngineError e = RaisedBy([&] { Create("t.dat", MemoDefinition()); }).value();
  EXPECT_EQ(e.ErrorCode, VEVURA_TABLEEXISTS);
  EXPECT_EQ(e.ErrorTable, "t");
  EXPECT_EQ(FileBytes(PathOf("T.DAT")), data) << "the old files are untouched";
  EXPECT_EQ(FileBytes(PathOf("T.IDX")), index);
  EXPECT_FALSE(OnDisk("T.BLB"));

  TTableDefinition replacing = MemoDefinition();
  replacing.Overwrite = true;
  Create("T", replacing);
  TDataHeader header = ReadClosedTableHeader(PathOf("T.DAT"), false);
  EXPECT_EQ(header.FieldCount, 2) << "the new definition replaced the old one";
  EXPECT_EQ(header.BlobFieldCount, 1);
  EXPECT_EQ(FileBytes(PathOf("T.IDX")).size(), 4096u);
  EXPECT_TRUE(OnDisk("T.BLB"));

  // Replacing it with a table without BLOB fields takes its BLOB file away.
  TTableDefinition plain = CatalogDefinition();
  plain.Overwrite = true;
  Create("T", plain);
  EXPECT_FALSE(OnDisk("T.BLB"));
  EXPECT_EQ(ReadClosedTableHeader(PathOf("T.DAT"), false).FieldCount, 10);
}

TEST_F(TableLifecycleTest, BlobTableGetsItsBlobFileWithTheBlockSize) {
  TTableDefinition d = MemoDefinition();
  d.BlobBlockSize = 1024;
  Create("NOTES", d);
  std::vector<uint8_t> blob = FileBytes(PathOf("NOTES.BLB"));
  ASSERT_GE(blob.size(), 4u);
  EXPECT_EQ(U32At(blob, 0), 1u) << "the BLOB header was written once at close";
  EXPECT_EQ(ReadClosedTableHeader(PathOf("NOTES.DAT"), false).BlobBlockSize, 1024u);

  TDataTable* table = OpenObject(*directory_, "NOTES");
  ASSERT_NE(table, nullptr);
  EXPECT_NO_THROW(table->VerifyHeaders());
  EXPECT_TRUE(table->BlobFile().IsOpen());
  EXPECT_EQ(table->ChangeCounters(), (TChangeCounters{1, 1, 1}));
  directory_->CloseTableObject(table, false);

  Delete("NOTES");
  EXPECT_TRUE(FilesOnDisk().empty()) << "deletion takes all three files";
}

TEST_F(TableLifecycleTest, ExistenceIsTheDataFileAlone) {
  Create("T", CatalogDefinition());
  EXPECT_TRUE(directory_->TableExists("T", false));
  EXPECT_TRUE(directory_->TableExists("t.DAT", false));
  EXPECT_FALSE(directory_->TableExists("T", true)) << "not an in-memory table";

  std::filesystem::remove(PathOf("T.IDX"));
  EXPECT_TRUE(directory_->TableExists("T", false)) << "a missing index file does not count";
  Delete("T");
  EXPECT_FALSE(directory_->TableExists("T", false));
  EXPECT_TRUE(FilesOnDisk().empty());

  std::ofstream(PathOf("ORPHAN.IDX")) << "x";
  EXPECT_FALSE(directory_->TableExists("ORPHAN", false)) << "only the data file counts";
  std::filesystem::create_directory(PathOf("DIR.DAT"));
  EXPECT_FALSE(directory_->TableExists("DIR", false)) << "a directory is no data file";
}

TEST_F(TableLifecycleTest, DeletionRefusals) {
  EVEVURAEngineError missing = RaisedBy([&] { Delete("NOWHERE"); }).value();
  EXPECT_EQ(missing.ErrorCode, VEVURA_OSENOENT);

  Create("T", CatalogDefinition());
  TTableTarget open_cursor = Deleting("T");
  open_cursor.CursorOpen = true;
  EXPECT_EQ(CodeRaisedBy([&] { DeleteTable(*directory_, open_cursor, nullptr); }),
            VEVURA_TABLEOPEN);

  // Open through a cursor of the same directory.
  TDataTable* table = OpenObject(*directory_, "T");
  EVEVURAEngineError in_use = RaisedBy([&] { Delete("T"); }).value();
  EXPECT_EQ(in_use.ErrorCode, VEVURA_OSEACCES);
  EXPECT_EQ(in_use.ErrorTable, "T");
  EXPECT_EQ(CodeRaisedBy([&] {
              TTableDefinition d = CatalogDefinition();
              d.Overwrite = true;
              Create("T", d);
            }),
            VEVURA_OSEACCES)
      << "an open table cannot be replaced either";
  directory_->CloseTableObject(table, false);
  EXPECT_TRUE(OnDisk("T.DAT"));
  EXPECT_TRUE(OnDisk("T.IDX"));

  // Open through another session of the same program.
  TDataSession other;
  TDataDirectory* elsewhere = other.OpenDataDirectory("", scratch_.path());
  TDataTable* held = OpenObject(*elsewhere, "T");
  EXPECT_EQ(CodeRaisedBy([&] { Delete("T"); }), VEVURA_OSEACCES);
  EXPECT_TRUE(OnDisk("T.DAT"));
  elsewhere->CloseTableObject(held, false);

  Delete("T");
  EXPECT_TRUE(FilesOnDisk().empty()) << "deleted without a BLOB file to delete";
}

TEST_F(TableLifecycleTest, EncryptedTableKeepsItsPasswordAndNeedsIt) {
  TTableDefinition d = CatalogDefinition();
  d.Encrypted = true;
  d.Password = "Secret";
  d.Description = "well logs";
  Create("SAFE", d);

  TDataHeader header = ReadClosedTableHeader(PathOf("SAFE.DAT"), false);
  EXPECT_EQ(header.Encrypted, 1);
  EXPECT_EQ(header.PlainPassword(), "Secret");
  EXPECT_EQ(header.PlainDescription(), "well logs");
  std::vector<uint8_t> bytes = FileBytes(PathOf("SAFE.DAT"));
  std::string text(bytes.begin(), bytes.end());
  EXPECT_EQ(text.find("Secret"), std::string::npos) << "the password is scrambled";
  EXPECT_EQ(text.find("TIFF_Filename"), std::string::npos) << "so are the descriptors";

  // Without the password and nobody to ask, the table stays.
  EVEVURAEngineError refused = RaisedBy([&] { Delete("SAFE"); }).value();
  EXPECT_EQ(refused.ErrorCode, VEVURA_NOTSUFFTABLERIGHTS);
  EXPECT_EQ(refused.ErrorTable, "SAFE");
  int asked = 0;
  EXPECT_EQ(CodeRaisedBy([&] { Delete("SAFE", [&] { return ++asked < 0; }); }),
            VEVURA_NOTSUFFTABLERIGHTS);
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(OnDisk("SAFE.DAT"));

  // A request that supplies a wrong password first and then the right one.
  asked = 0;
  Delete("SAFE", [&] {
    session_->AddPassword(++asked == 1 ? "secret" : "Secret");
    return true;
  });
  EXPECT_EQ(asked, 2);
  EXPECT_TRUE(FilesOnDisk().empty());

  // A cursor opens the table only once its session knows the password: it
  // asks its request, and without one, or when the request declines, the
  // table is refused.
  Create("SAFE", d);
  session_->RemoveAllPasswords();
  TDataCursor cursor(*directory_);
  cursor.SetTableName("SAFE");
  EXPECT_EQ(CodeRaisedBy([&] { cursor.OpenCursor(); }), VEVURA_NOTSUFFTABLERIGHTS);
  asked = 0;
  cursor.SetPasswordRequest([&] { return ++asked < 0; });
  EXPECT_EQ(CodeRaisedBy([&] { cursor.OpenCursor(); }), VEVURA_NOTSUFFTABLERIGHTS);
  EXPECT_EQ(asked, 1);
  cursor.SetPasswordRequest([&] {
    session_->AddPassword(++asked == 2 ? "secret" : "Secret");
    return true;
  });
  cursor.OpenCursor();
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(cursor.GetRecordCount(), 0);
  cursor.CloseCursor(false);

  // A session that knows it deletes without asking.
  Delete("SAFE", [&]() -> bool {
    ADD_FAILURE() << "asked although known";
    return false;
  });
  EXPECT_FALSE(OnDisk("SAFE.DAT"));
}

TEST_F(TableLifecycleTest, InMemoryTablesLiveInTheFileList) {
  TTableTarget target = Creating("MEM", true);
  CreateTable(*directory_, target, MemoDefinition());
  EXPECT_TRUE(FilesOnDisk().empty());
  EXPECT_TRUE(directory_->TableExists("MEM", true));
  EXPECT_FALSE(directory_->TableExists("MEM", false));

  TDataTable* table = OpenObject(*directory_, "MEM", true);
  ASSERT_NE(table, nullptr);
  EXPECT_NO_THROW(table->VerifyHeaders());
  EXPECT_TRUE(table->BlobFile().IsOpen());
  directory_->CloseTableObject(table, false);

  EXPECT_EQ(CodeRaisedBy([&] { CreateTable(*directory_, target, MemoDefinition()); }),
            VEVURA_TABLEEXISTS);
  DeleteTable(*directory_, Deleting("MEM", true), nullptr);
  EXPECT_FALSE(directory_->TableExists("MEM", true));
}

TEST_F(TableLifecycleTest, WordIndexParametersAreStoredOnlyWhenNotTheDefaults) {
  TTableDefinition d = CatalogDefinition();
  d.StopWords = std::vector<std::string>{"WELL", "LOG"};
  d.IncludeCharacters.fill(0);
  AddToCharSet(d.SpaceCharacters, ' ');
  Create("WORDS", d);
  EXPECT_EQ(FileBytes(PathOf("WORDS.IDX")).size(), 2u * 4096) << "one data page";

  TDataTable* table = OpenObject(*directory_, "WORDS");
  ASSERT_NE(table, nullptr);
  EXPECT_NO_THROW(table->VerifyHeaders());
  EXPECT_EQ(table->IndexFile().FirstDataPage(kTextIndex), 1);
  std::optional<TTextIndexParameters> stored = ReadTextIndexParameters(table->IndexFile());
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->StopWords, (std::vector<std::string>{"WELL", "LOG"}));
  TCharSet spaces{};
  AddToCharSet(spaces, ' ');
  EXPECT_EQ(stored->FirstSet, spaces);
  EXPECT_EQ(stored->SecondSet, DefaultTextIndexParameters().SecondSet) << "empty set: default";
  directory_->CloseTableObject(table, false);

  // The default parameters given explicitly store nothing.
  TTableDefinition defaults = CatalogDefinition();
  defaults.StopWords = DefaultTextIndexParameters().StopWords;
  Create("PLAIN", defaults);
  EXPECT_EQ(FileBytes(PathOf("PLAIN.IDX")).size(), 4096u);
}

TEST_F(TableLifecycleTest, FailedWriteAtCloseLeavesNoTable) {
  platform::FaultFileSystem faults(platform::PosixFileSystem());
  platform::SetFileSystem(&faults);
  faults.FailNth(platform::FaultFileSystem::Operation::Write, 1, true);
  EVEVURAEngineError e = RaisedBy([&] { Create("T", MemoDefinition()); }).value();
  faults.Disarm();
  platform::SetFileSystem(nullptr);
  EXPECT_EQ(e.ErrorCode, VEVURA_WRITEERR);
  EXPECT_TRUE(FilesOnDisk().empty()) << "a table whose headers never reached the disk is removed";
  EXPECT_TRUE(directory_->Tables().empty());
  EXPECT_FALSE(directory_->TableExists("T", false));

  // The name is free for the next attempt.
  Create("T", MemoDefinition());
  EXPECT_TRUE(directory_->TableExists("T", false));
}

TEST_F(TableLifecycleTest, FailedFileCreationRemovesWhatItMade) {
  // A BLOB file left by an older table is held open elsewhere in the
  // program: the new table's data and index files are made, removing the old
  // BLOB file fails, and the new files go again.
  std::ofstream(PathOf("U.BLB")) << "old BLOBs";
  TFileHandler holder;
  holder.SetFileName(PathOf("U.BLB"));
  holder.Open();

  TTableDefinition d = CatalogDefinition();
  d.Overwrite = true;
  EVEVURAEngineError e = RaisedBy([&] { Create("U", d); }).value();
  EXPECT_EQ(e.ErrorCode, VEVURA_OSEACCES);
  EXPECT_EQ(FilesOnDisk(), std::vector<std::string>{"U.BLB"});
  EXPECT_TRUE(directory_->Tables().empty());

  holder.Close();
  Create("U", d);
  EXPECT_FALSE(OnDisk("U.BLB"));
  EXPECT_TRUE(OnDisk("U.DAT"));
}

TEST_F(TableLifecycleTest, TableOpenInAnotherProgramIsNeitherDeletedNorReplaced) {
  Create("T", CatalogDefinition());
  std::vector<uint8_t> data = FileBytes(PathOf("T.DAT"));
  const std::string path = PathOf("T.DAT");
  platform::testing::HoldingChild other_program(
      [&] { return platform::Fs().Open(path, platform::OpenOptions{}); });
  ASSERT_TRUE(other_program.held());

  EXPECT_EQ(CodeRaisedBy([&] { Delete("T"); }), VEVURA_OSEACCES);
  TTableDefinition replacing = CatalogDefinition();
  replacing.Overwrite = true;
  EXPECT_EQ(CodeRaisedBy([&] { Create("T", replacing); }), VEVURA_OSEACCES);
  EXPECT_EQ(FileBytes(path), data) << "the table in use is untouched";
  EXPECT_TRUE(OnDisk("T.IDX"));

  other_program.Release();
  Delete("T");
  EXPECT_TRUE(FilesOnDisk().empty());
}

}  // namespace
}  // namespace vevura::test
