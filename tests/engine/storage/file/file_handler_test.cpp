// Table-file handlers on disk files: opening, sharing one operating-system
// handle, share conflicts within the process, read-only files, errors.

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <thread>

#include "engine/storage/file/file_handler.h"
#include "engine/storage/file/physical_file.h"
#include "engine/storage/file/table_file_names.h"
#include "platform/directory.h"
#include "tests/engine/storage/file_layer_support.h"

namespace vevura {
namespace {

using test::Bytes;
using test::CodeRaisedBy;
using test::ContentsOf;
using test::Handler;
using test::MakeFile;
using test::RaisedBy;

// Counts the operating-system opens that reach the disk.
class CountingFileSystem final : public platform::FileSystem {
 public:
  std::unique_ptr<platform::OsFile> Open(const std::string& path,
                                         const platform::OpenOptions& options) override {
    ++opens;
    return platform::PosixFileSystem().Open(path, options);
  }
  std::unique_ptr<platform::OsFile> Create(const std::string& path,
                                           const platform::OpenOptions& options) override {
    return platform::PosixFileSystem().Create(path, options);
  }
  bool Remove(const std::string& path) override { return platform::PosixFileSystem().Remove(path); }
  bool Rename(const std::string& from, const std::string& to) override {
    return platform::PosixFileSystem().Rename(from, to);
  }
  bool GetAttributes(const std::string& path, platform::FileAttributes* attributes) override {
    return platform::PosixFileSystem().GetAttributes(path, attributes);
  }
  int opens = 0;
};

class FileHandlerTest : public test::FileLayerTest {};

TEST_F(FileHandlerTest, MissingFileIsOsEnoentNamingItAndNothingIsCreated) {
  std::string name = PathOf("ABSENT.DAT");
  auto handler = Handler(name);
  EXPECT_FALSE(handler->Exists());
  std::optional<EVEVURAEngineError> error = RaisedBy([&] { handler->Open(); });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->ErrorCode, VEVURA_OSENOENT);
  EXPECT_EQ(error->ErrorTable, name);
  EXPECT_FALSE(handler->IsOpen());
  EXPECT_FALSE(platform::FileExists(name));
  EXPECT_EQ(FileList()->Count(), 0);
  // Nor does a missing directory part create anything.
  EXPECT_EQ(CodeRaisedBy([&] { Handler(PathOf("no/such/T.DAT"))->Open(); }), VEVURA_OSENOENT);
}

TEST_F(FileHandlerTest, HandlersOfOneFileShareOneHandlePositionAndLocks) {
  std::string name = PathOf("SHARED.DAT");
  MakeFile(name, Bytes("0123456789abcdefghij"));
  CountingFileSystem counting;
  platform::SetFileSystem(&counting);
  {
    auto first = Handler(name);
    auto second = Handler(name);
    first->Open();
    second->Open();
    EXPECT_EQ(counting.opens, 1);
    ASSERT_EQ(first->File(), second->File());
    EXPECT_NE(first->HandleId(), second->HandleId());
    EXPECT_EQ(FileList()->Count(), 1);

    // One position: a seek through one handler is where the other reads.
    EXPECT_EQ(first->Seek(soFromBeginning, 10), 10);
    char buffer[3] = {};
    second->Read(buffer, 3);
    EXPECT_EQ(std::string(buffer, 3), "abc");
    EXPECT_EQ(first->Seek(soFromCurrent, 0), 13);

    // One set of locks: a range locked through one is refused to the other.
    EXPECT_TRUE(first->LockRegion(true, 1000, 10));
    EXPECT_FALSE(second->LockRegion(true, 1009, 1));
    EXPECT_FALSE(second->LockRegion(false, 1000, 9));
    EXPECT_TRUE(second->LockRegion(false, 1000, 10));
    EXPECT_TRUE(second->LockRegion(true, 1005, 1));

    // Exclusive access is refused while the file is open shared.
    EXPECT_EQ(CodeRaisedBy([&] { Handler(name, false, true)->Open(); }), VEVURA_OSEACCES);
    first->Close();
    EXPECT_EQ(FileList()->Count(), 1);
    second->Close();
    EXPECT_EQ(FileList()->Count(), 0);  // the last close closes the file

    // And any open is refused while an exclusive handler holds it.
    auto exclusive = Handler(name, false, true);
    exclusive->Open();
    EXPECT_EQ(counting.opens, 2);
    EXPECT_EQ(CodeRaisedBy([&] { Handler(name)->Open(); }), VEVURA_OSEACCES);
    EXPECT_EQ(CodeRaisedBy([&] { Handler(name, false, true)->Open(); }), VEVURA_OSEACCES);
  }
  platform::SetFileSystem(nullptr);
}

TEST_F(FileHandlerTest, CreateEmptiesAFileAndHoldsItExclusively) {
  std::string name = PathOf("NEW.DAT");
  MakeFile(name, Bytes("old contents"));
  auto creator = Handler(name);
  creator->CreateFile();
  EXPECT_TRUE(creator->IsOpen());
  EXPECT_EQ(creator->GetSize(), 0);
  EXPECT_EQ(CodeRaisedBy([&] { Handler(name)->Open(); }), VEVURA_OSEACCES);
  EXPECT_EQ(CodeRaisedBy([&] { Handler(name)->CreateFile(); }), VEVURA_OSEACCES);
  creator->Write("new", 3);
  creator->Close();
  // Creating over a file that is open shared fails without touching it.
  auto reader = Handler(name);
  reader->Open();
  EXPECT_EQ(CodeRaisedBy([&] { Handler(name)->CreateFile(); }), VEVURA_OSEACCES);
  EXPECT_EQ(ContentsOf(*reader), Bytes("new"));
}

TEST_F(FileHandlerTest, OpenFileCannotBeDeletedOrRenamed) {
  std::string name = PathOf("BUSY.DAT");
  std::string new_name = PathOf("MOVED.DAT");
  MakeFile(name, Bytes("data"));
  auto holder = Handler(name);
  holder->Open();
  auto other = Handler(name);
  EXPECT_EQ(CodeRaisedBy([&] { other->DeleteFile(); }), VEVURA_OSEACCES);
  EXPECT_EQ(CodeRaisedBy([&] { other->RenameFile(new_name); }), VEVURA_OSEACCES);
  EXPECT_EQ(other->FileName(), name);
  EXPECT_TRUE(platform::FileExists(name));
  EXPECT_FALSE(platform::FileExists(new_name));
  holder->Close();

  other->RenameFile(new_name);
  EXPECT_EQ(other->FileName(), new_name);
  EXPECT_FALSE(platform::FileExists(name));
  EXPECT_EQ(ContentsOf(new_name), Bytes("data"));
  MakeFile(name, Bytes("x"));
  EXPECT_NE(CodeRaisedBy([&] { other->RenameFile(name); }), 0);  // never replaces a file
  other->DeleteFile();
  EXPECT_FALSE(platform::FileExists(new_name));
  EXPECT_EQ(CodeRaisedBy([&] { other->DeleteFile(); }), VEVURA_OSENOENT);
}

TEST_F(FileHandlerTest, ReadOnlyAttributeOpensReadOnlyWithoutError) {
  std::string name = PathOf("FROZEN.DAT");
  MakeFile(name, Bytes("frozen"));
  std::filesystem::permissions(name, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::group_read |
                                         std::filesystem::perms::others_read);
  auto handler = Handler(name);
  handler->Open();
  EXPECT_TRUE(handler->ReadOnly());
  EXPECT_TRUE(handler->ReadOnlyAttribute());
  EXPECT_EQ(ContentsOf(*handler), Bytes("frozen"));
  EXPECT_EQ(CodeRaisedBy([&] { handler->WriteAt(0, "x", 1); }), VEVURA_WRITEERR);
  // A second handler is told the same.
  auto second = Handler(name);
  second->Open();
  EXPECT_TRUE(second->ReadOnly());
  EXPECT_TRUE(second->ReadOnlyAttribute());
  EXPECT_EQ(ContentsOf(name), Bytes("frozen"));

  std::string writable = PathOf("WRITABLE.DAT");
  MakeFile(writable, Bytes("w"));
  auto normal = Handler(writable);
  normal->Open();
  EXPECT_FALSE(normal->ReadOnly());
  EXPECT_FALSE(normal->ReadOnlyAttribute());
}

TEST_F(FileHandlerTest, TableNamesInAnyLetterCaseFindTheSameFiles) {
  std::string dir = dir_.path();
  MakeFile(DataFileName(dir, "Customer.dat"), Bytes("rows"));
  EXPECT_TRUE(platform::FileExists(dir + "Customer.DAT"));
  auto upper = Handler(DataFileName(dir, "CUSTOMER"));
  auto lower = Handler(DataFileName(dir, "customer"));
  EXPECT_TRUE(upper->Exists());
  EXPECT_TRUE(lower->Exists());
  upper->Open();
  lower->Open();
  EXPECT_EQ(upper->File(), lower->File());
  EXPECT_EQ(ContentsOf(*lower), Bytes("rows"));
  EXPECT_EQ(CodeRaisedBy([&] { Handler(DataFileName(dir, "cUsToMeR"))->DeleteFile(); }),
            VEVURA_OSEACCES);
  upper->Close();
  lower->Close();

  // Creating under another case replaces the existing file, not a second one.
  auto creator = Handler(DataFileName(dir, "CUSTOMER"));
  creator->CreateFile();
  creator->Close();
  std::vector<platform::DirEntry> entries;
  ASSERT_TRUE(platform::ListDirectory(dir, {}, &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "Customer.DAT");
  EXPECT_EQ(entries[0].attributes.size, 0);

  // Two files whose names differ only in case, both present, stay two files.
  MakeFile(dir + "twin.DAT", Bytes("lower"));
  std::unique_ptr<platform::OsFile> twin = platform::Fs().Create(dir + "TWIN.DAT", {});
  ASSERT_TRUE(twin);
  ASSERT_EQ(twin->WriteAt(0, "upper", 5), 5);
  twin.reset();
  EXPECT_EQ(ContentsOf(dir + "twin.DAT"), Bytes("lower"));
  EXPECT_EQ(ContentsOf(dir + "TWIN.DAT"), Bytes("upper"));
}

TEST_F(FileHandlerTest, ShortAndFailedTransfersRaiseReadAndWriteErrors) {
  std::string name = PathOf("SHORT.DAT");
  MakeFile(name, Bytes("0123456789"));
  auto handler = Handler(name);
  char buffer[16] = {};
  EXPECT_EQ(CodeRaisedBy([&] { handler->Read(buffer, 1); }), VEVURA_READERR);  // not open
  EXPECT_EQ(CodeRaisedBy([&] { handler->Write(buffer, 1); }), VEVURA_WRITEERR);
  EXPECT_EQ(CodeRaisedBy([&] { handler->Flush(); }), VEVURA_WRITEERR);
  EXPECT_FALSE(handler->LockRegion(true, 0, 1));
  EXPECT_EQ(handler->Seek(soFromBeginning, 5), 0);
  handler->Open();

  std::optional<EVEVURAEngineError> error = RaisedBy([&] { handler->ReadAt(6, buffer, 8); });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->ErrorCode, VEVURA_READERR);
  EXPECT_EQ(error->ErrorTable, name);
  EXPECT_EQ(handler->ReadAt(6, buffer, 8, true), 4);
  EXPECT_EQ(std::string(buffer, 4), "6789");

  // Bad lengths and positions are refused, never transferred.
  EXPECT_EQ(CodeRaisedBy([&] { handler->Read(buffer, -1, true); }), VEVURA_READERR);
  EXPECT_EQ(CodeRaisedBy([&] { handler->Write(buffer, -5); }), VEVURA_WRITEERR);
  EXPECT_EQ(CodeRaisedBy([&] { handler->ReadAt(-1, buffer, 1); }), VEVURA_READERR);
  EXPECT_EQ(CodeRaisedBy([&] { handler->Read(nullptr, 4); }), VEVURA_READERR);
  EXPECT_EQ(handler->Seek(soFromBeginning, 2), 2);
  EXPECT_EQ(handler->Seek(soFromCurrent, -3), -1);
  EXPECT_EQ(CodeRaisedBy([&] { handler->Read(buffer, 1); }), VEVURA_READERR);  // not at 2
  EXPECT_EQ(handler->Seek(soFromEnd, INT64_MAX), -1);
  EXPECT_EQ(handler->Seek(7, 0), -1);
  EXPECT_EQ(handler->Seek(soFromEnd, 0), 10);

  // GetSize leaves the position alone; a write of 0 bytes ends the file.
  EXPECT_EQ(handler->Seek(soFromBeginning, 4), 4);
  EXPECT_EQ(handler->GetSize(), 10);
  handler->Write(nullptr, 0);
  EXPECT_EQ(handler->GetSize(), 4);
  EXPECT_EQ(ContentsOf(*handler), Bytes("0123"));
  handler->Flush();
}

TEST_F(FileHandlerTest, HeadReadsSeeOtherWritersAndFallBackToReadsWhenTheFileIsCut) {
  std::string name = PathOf("HEAD.DAT");
  std::vector<uint8_t> page = Bytes("abcd");
  page.resize(8192, 'x');
  MakeFile(name, page);
  auto handler = Handler(name);
  handler->Open();
  char buffer[4] = {};
  handler->ReadHeadAt(0, buffer, 4);
  EXPECT_EQ(std::string(buffer, 4), "abcd");
  // Another descriptor stands for another program.
  platform::OpenOptions shared;
  std::unique_ptr<platform::OsFile> other = platform::PosixFileSystem().Open(name, shared);
  ASSERT_NE(other, nullptr);
  ASSERT_EQ(other->WriteAt(0, "efgh", 4), 4);
  handler->ReadHeadAt(0, buffer, 4);
  EXPECT_EQ(std::string(buffer, 4), "efgh");
  // Cut below the page: the read fails as a short read does, and the file
  // is read from then on.
  ASSERT_TRUE(other->Truncate(0));
  EXPECT_EQ(CodeRaisedBy([&] { handler->ReadHeadAt(0, buffer, 4); }), VEVURA_READERR);
  ASSERT_EQ(other->WriteAt(0, "ijkl", 4), 4);
  handler->ReadHeadAt(0, buffer, 4);
  EXPECT_EQ(std::string(buffer, 4), "ijkl");
}

TEST_F(FileHandlerTest, TemporaryFileDisappearsWithItsLastHandle) {
  std::string name = PathOf("SCRATCH.DAT");
  auto creator = Handler(name);
  creator->SetTemporary(true);
  creator->CreateFile();
  creator->Write("tmp", 3);
  creator->Close();
  EXPECT_TRUE(platform::FileExists(name));  // a created file lasts until opened as temporary
  auto first = Handler(name);
  first->SetTemporary(true);
  first->Open();
  auto second = Handler(name);
  second->Open();
  first->Close();
  EXPECT_TRUE(platform::FileExists(name));
  EXPECT_EQ(ContentsOf(*second), Bytes("tmp"));
  second->Close();
  EXPECT_FALSE(platform::FileExists(name));
}

// Handlers of one file used from several threads: each seek-and-transfer
// pair holds the file lock, so the shared position never sends a thread's
// data to another thread's place; opens and closes of the same name on
// another thread meanwhile neither disturb them nor free the file early.
TEST_F(FileHandlerTest, ThreadsSharingOneFileKeepTheirOwnRecords) {
  std::string name = PathOf("THREADS.DAT");
  constexpr int kWriters = 3;
  constexpr int kRecord = 16;
  constexpr int kSlots = 8;
  MakeFile(name, std::vector<uint8_t>(kWriters * kRecord * kSlots, 0));
  std::atomic<int> failures{0};
  std::atomic<int> writers_done{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kWriters; ++t) {
    threads.emplace_back([&, t] {
      auto handler = Handler(name);
      handler->Open();
      std::vector<uint8_t> record(kRecord), back(kRecord);
      for (int round = 0; round < 20000; ++round) {
        int64_t offset = (static_cast<int64_t>(round % kSlots) * kWriters + t) * kRecord;
        std::fill(record.begin(), record.end(), static_cast<uint8_t>(t * 50 + round % 50));
        handler->WriteAt(offset, record.data(), kRecord);
        handler->ReadAt(offset, back.data(), kRecord);
        if (back != record) ++failures;
      }
      ++writers_done;
    });
  }
  threads.emplace_back([&] {
    while (writers_done.load() < kWriters) {
      auto passer_by = Handler(name);
      passer_by->Open();
      passer_by->Close();
    }
  });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(FileList()->Count(), 0);
}

TEST_F(FileHandlerTest, StoppedEngineRaisesNotInitialized) {
  auto handler = Handler(PathOf("T.DAT"));
  handler->CreateFile();
  DestroyFileList();
  handler->Close();  // never raises
  EXPECT_FALSE(handler->IsOpen());
  EXPECT_EQ(CodeRaisedBy([&] { handler->Open(); }), VEVURA_NOTINITIALIZED);
  CreateFileList();
  handler->Open();
  EXPECT_TRUE(handler->IsOpen());
}

}  // namespace
}  // namespace vevura
