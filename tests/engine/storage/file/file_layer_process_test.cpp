// Two processes on one disk file: share modes, deletion and byte-range locks
// seen across the process boundary.

#include <gtest/gtest.h>

#include "platform/directory.h"
#include "tests/engine/storage/file_layer_support.h"

namespace vevura {
namespace {

using test::Bytes;
using test::CodeRaisedBy;
using test::ContentsOf;
using test::FileHoldingChild;
using test::Handler;
using test::MakeFile;
using test::RunInChildProcess;

class FileLayerProcessTest : public test::FileLayerTest {};

// The code the child's open raised, or 0 when it opened the file.
int ChildOpenCode(const std::string& name, bool exclusive) {
  return RunInChildProcess([&] {
    return CodeRaisedBy([&] { Handler(name, false, exclusive)->Open(); }) == VEVURA_OSEACCES ? 1
                                                                                             : 0;
  });
}

TEST_F(FileLayerProcessTest, ShareModesHoldBetweenProcesses) {
  std::string name = PathOf("TABLE.DAT");
  MakeFile(name, Bytes("shared rows"));
  {
    auto exclusive = Handler(name, false, true);
    exclusive->Open();
    EXPECT_EQ(ChildOpenCode(name, false), 1);
    EXPECT_EQ(ChildOpenCode(name, true), 1);
  }
  {
    auto shared = Handler(name);
    shared->Open();
    EXPECT_EQ(ChildOpenCode(name, false), 0);
    EXPECT_EQ(ChildOpenCode(name, true), 1);
  }

  // While another process has it open, this one can neither take it
  // exclusively nor create, delete or rename it.
  std::shared_ptr<TFileHandler> held;
  FileHoldingChild child([&] {
    held = Handler(name);
    held->Open();
    return true;
  });
  ASSERT_TRUE(child.held());
  EXPECT_EQ(CodeRaisedBy([&] { Handler(name, false, true)->Open(); }), VEVURA_OSEACCES);
  EXPECT_EQ(CodeRaisedBy([&] { Handler(name)->CreateFile(); }), VEVURA_OSEACCES);
  EXPECT_EQ(CodeRaisedBy([&] { Handler(name)->DeleteFile(); }), VEVURA_OSEACCES);
  EXPECT_EQ(CodeRaisedBy([&] { Handler(name)->RenameFile(PathOf("GONE.DAT")); }), VEVURA_OSEACCES);
  EXPECT_EQ(ContentsOf(name), Bytes("shared rows"));
  child.Release();
  auto after = Handler(name, false, true);
  after->Open();
  EXPECT_TRUE(after->IsOpen());
}

TEST_F(FileLayerProcessTest, ByteRangeLocksAreSeenByTheOtherProcess) {
  std::string name = PathOf("LOCKED.DAT");
  MakeFile(name, Bytes("rows"));
  auto handler = Handler(name);
  handler->Open();
  ASSERT_TRUE(handler->LockRegion(true, 1000, 10));
  int child_result = RunInChildProcess([&] {
    auto other = Handler(name);
    other->Open();
    bool refused = !other->LockRegion(true, 1005, 1) && !other->LockRegion(true, 995, 6) &&
                   !other->LockRegion(true, 1000, 10);
    bool granted = other->LockRegion(true, 1010, 1) && other->LockRegion(true, 999, 1);
    return refused && granted ? 0 : 1;
  });
  EXPECT_EQ(child_result, 0);

  std::shared_ptr<TFileHandler> held;
  FileHoldingChild child([&] {
    held = Handler(name);
    held->Open();
    return held->LockRegion(true, 2000, 5);
  });
  ASSERT_TRUE(child.held());
  EXPECT_FALSE(handler->LockRegion(true, 2004, 1));
  EXPECT_TRUE(handler->LockRegion(true, 2005, 1));
  child.Release();  // the child's locks go with its handle
  EXPECT_TRUE(handler->LockRegion(true, 2000, 5));
  EXPECT_TRUE(handler->LockRegion(false, 1000, 10));
}

}  // namespace
}  // namespace vevura
