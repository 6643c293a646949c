// Operating-system failures under the file layer, injected by a faulty file
// system: each is raised as the read or write error naming the file.

#include <gtest/gtest.h>

#include <cerrno>

#include "platform/directory.h"
#include "tests/engine/storage/file_layer_support.h"
#include "tests/support/fault_file_system.h"

namespace vevura {
namespace {

using platform::FaultFileSystem;
using test::Bytes;
using test::ContentsOf;
using test::Handler;
using test::MakeFile;
using test::RaisedBy;

class FileLayerFaultTest : public test::FileLayerTest {
 protected:
  void SetUp() override {
    FileLayerTest::SetUp();
    platform::SetFileSystem(&fault_);
  }
  void TearDown() override {
    FileLayerTest::TearDown();
    platform::SetFileSystem(nullptr);
  }

  // The error fn raises must be code, naming name, with the injected errno.
  void ExpectFailure(const std::function<void()>& fn, uint16_t code, const std::string& name) {
    std::optional<EVEVURAEngineError> error = RaisedBy(fn);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->ErrorCode, code);
    EXPECT_EQ(error->ErrorTable, name);
    EXPECT_EQ(error->OSErrorCode, EIO);
  }

  FaultFileSystem fault_{platform::PosixFileSystem()};
};

TEST_F(FileLayerFaultTest, FailedTransfersAndFlushesRaiseReadAndWriteErrors) {
  std::string name = PathOf("FAULTY.DAT");
  MakeFile(name, Bytes("0123456789"));
  auto handler = Handler(name);
  handler->Open();
  char buffer[4] = {};

  fault_.FailNth(FaultFileSystem::Operation::Read, 1);
  ExpectFailure([&] { handler->ReadAt(0, buffer, 4); }, VEVURA_READERR, name);
  EXPECT_EQ(handler->ReadAt(0, buffer, 4), 4);

  fault_.FailNth(FaultFileSystem::Operation::Write, 1);
  ExpectFailure([&] { handler->WriteAt(2, "ab", 2); }, VEVURA_WRITEERR, name);
  fault_.FailNth(FaultFileSystem::Operation::Write, 1);
  ExpectFailure([&] { handler->WriteAt(4, nullptr, 0); }, VEVURA_WRITEERR, name);
  fault_.FailNth(FaultFileSystem::Operation::Sync, 1);
  ExpectFailure([&] { handler->Flush(); }, VEVURA_WRITEERR, name);
  EXPECT_EQ(ContentsOf(*handler), Bytes("0123456789"));  // nothing changed
  handler->WriteAt(2, "ab", 2);
  handler->Flush();
  EXPECT_EQ(ContentsOf(*handler), Bytes("01ab456789"));
}

TEST_F(FileLayerFaultTest, FailedCopiesRaiseTheirErrorAndLeaveNoCopy) {
  std::string name = PathOf("SOURCE.DAT");
  std::vector<uint8_t> contents(150000, 0x5A);
  MakeFile(name, contents);
  auto handler = Handler(name);
  handler->Open();
  for (bool compress : {false, true}) {
    fault_.FailNth(FaultFileSystem::Operation::Read, 2);
    ExpectFailure([&] { handler->CopyTo(PathOf("COPY.DAT"), compress, {}); }, VEVURA_READERR, name);
    EXPECT_FALSE(platform::FileExists(PathOf("COPY.DAT")));
    fault_.FailNth(FaultFileSystem::Operation::Write, 2);
    ExpectFailure([&] { handler->CopyTo(PathOf("COPY.DAT"), compress, {}); }, VEVURA_WRITEERR,
                  name);
    EXPECT_FALSE(platform::FileExists(PathOf("COPY.DAT")));
    fault_.Disarm();
  }
  handler->CopyTo(PathOf("COPY.DAT"), false, {});
  auto target = Handler(PathOf("TARGET.DAT"));
  target->CreateFile();
  fault_.FailNth(FaultFileSystem::Operation::Write, 1);
  ExpectFailure([&] { target->CopyFrom(PathOf("COPY.DAT"), false, {}); }, VEVURA_WRITEERR,
                PathOf("TARGET.DAT"));
  target->CopyFrom(PathOf("COPY.DAT"), false, {});
  EXPECT_EQ(ContentsOf(*target), contents);
}

}  // namespace
}  // namespace vevura
