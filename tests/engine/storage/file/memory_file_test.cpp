// In-memory files: their lifetime in the file list, sizes and capacity,
// zero-filled gaps, per-handle positions and emulated region locks.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "engine/storage/file/memory_file.h"
#include "platform/directory.h"
#include "tests/engine/storage/file_layer_support.h"

namespace vevura {
namespace {

using test::Bytes;
using test::CodeRaisedBy;
using test::ContentsOf;
using test::Handler;
using test::MakeFile;

class MemoryFileTest : public test::FileLayerTest {};

int64_t CapacityOf(TFileHandler& handler) {
  return dynamic_cast<TMemoryFile&>(*handler.File()).Capacity();
}

TEST_F(MemoryFileTest, ContentsOutliveTheLastCloseUntilDeleted) {
  const std::string name = "MEMTABLE.DAT";
  EXPECT_FALSE(Handler(name, true)->Exists());
  EXPECT_EQ(CodeRaisedBy([&] { Handler(name, true)->Open(); }), VEVURA_OSENOENT);

  MakeFile(name, Bytes("kept in memory"), true);
  EXPECT_EQ(FileList()->Count(), 1);
  EXPECT_TRUE(Handler(" memtable.dat ", true)->Exists());  // trimmed, any case
  EXPECT_EQ(ContentsOf(name, true), Bytes("kept in memory"));
  EXPECT_FALSE(platform::FileExists(name));  // nothing reached the disk
  EXPECT_FALSE(Handler(name)->Exists());     // and a disk file of that name is another file

  // Shares like a disk file: exclusive against anything else.
  auto exclusive = Handler(name, true, true);
  exclusive->Open();
  EXPECT_EQ(CodeRaisedBy([&] { Handler(name, true)->Open(); }), VEVURA_OSEACCES);
  EXPECT_EQ(CodeRaisedBy([&] { Handler(name, true)->DeleteFile(); }), VEVURA_OSEACCES);
  EXPECT_EQ(CodeRaisedBy([&] { Handler(name, true)->RenameFile("OTHER"); }), VEVURA_OSEACCES);
  exclusive->Close();

  auto handler = Handler(name, true);
  handler->RenameFile("RENAMED.DAT");
  EXPECT_FALSE(Handler(name, true)->Exists());
  EXPECT_EQ(ContentsOf("RENAMED.DAT", true), Bytes("kept in memory"));
  MakeFile("TAKEN.DAT", Bytes("t"), true);
  EXPECT_NE(CodeRaisedBy([&] { handler->RenameFile("taken.dat"); }), 0);
  EXPECT_EQ(ContentsOf("TAKEN.DAT", true), Bytes("t"));

  handler->DeleteFile();
  EXPECT_EQ(FileList()->Count(), 1);
  EXPECT_EQ(CodeRaisedBy([&] { handler->Open(); }), VEVURA_OSENOENT);
  EXPECT_EQ(CodeRaisedBy([&] { handler->DeleteFile(); }), VEVURA_OSENOENT);
  EXPECT_EQ(CodeRaisedBy([&] { Handler("NEVER", true)->RenameFile("X"); }), VEVURA_OSENOENT);
}

TEST_F(MemoryFileTest, WritePastTheEndGrowsByWholeBlocksAndZeroFills) {
  auto handler = Handler("GAP", true);
  handler->CreateFile();
  EXPECT_EQ(CapacityOf(*handler), 0);
  handler->WriteAt(5000, "z", 1);
  EXPECT_EQ(handler->GetSize(), 5001);
  EXPECT_EQ(CapacityOf(*handler), 8192);
  std::vector<uint8_t> contents = ContentsOf(*handler);
  EXPECT_EQ(std::vector<uint8_t>(contents.begin(), contents.begin() + 5000),
            std::vector<uint8_t>(5000, 0));
  EXPECT_EQ(contents[5000], 'z');

  // Cut short and grown again, the file reads zeros where it was cut.
  handler->WriteAt(0, std::string(4000, 'a').data(), 4000);
  handler->WriteAt(100, nullptr, 0);
  EXPECT_EQ(handler->GetSize(), 100);
  EXPECT_EQ(CapacityOf(*handler), 8192);  // the block is kept
  handler->WriteAt(6000, "y", 1);
  contents = ContentsOf(*handler);
  ASSERT_EQ(contents.size(), 6001u);
  EXPECT_EQ(contents[99], 'a');
  EXPECT_EQ(std::vector<uint8_t>(contents.begin() + 100, contents.begin() + 6000),
            std::vector<uint8_t>(5900, 0));

  handler->WriteAt(0, nullptr, 0);
  EXPECT_EQ(handler->GetSize(), 0);
  EXPECT_EQ(CapacityOf(*handler), 0);  // size 0 frees the block

  // Sizes that cannot be represented fail cleanly.
  EXPECT_EQ(CodeRaisedBy([&] { handler->WriteAt(INT64_MAX - 5, "0123456789", 10); }),
            VEVURA_WRITEERR);
  EXPECT_EQ(CodeRaisedBy([&] { handler->WriteAt(INT64_MAX - 5, "0", 1); }), VEVURA_WRITEERR);
  EXPECT_EQ(handler->Seek(soFromEnd, -1), -1);
  EXPECT_EQ(CodeRaisedBy([&] { handler->Write("0", 1); }), VEVURA_WRITEERR);
  EXPECT_EQ(handler->GetSize(), 0);
}

TEST_F(MemoryFileTest, RegionLocksRefuseOverlapsAndUnlockExactly) {
  auto first = Handler("LOCKS", true);
  first->CreateFile();
  first->Close();
  first->Open();
  auto second = Handler("LOCKS", true);
  second->Open();
  EXPECT_TRUE(first->LockRegion(true, 10, 5));
  EXPECT_FALSE(second->LockRegion(true, 14, 1));
  EXPECT_FALSE(second->LockRegion(true, 6, 5));
  EXPECT_FALSE(first->LockRegion(true, 0, 100));
  EXPECT_FALSE(first->LockRegion(true, 10, 5));
  EXPECT_TRUE(second->LockRegion(true, 15, 1));
  EXPECT_TRUE(second->LockRegion(true, 9, 1));
  EXPECT_FALSE(first->LockRegion(false, 10, 4));
  EXPECT_TRUE(second->LockRegion(false, 10, 5));
  EXPECT_FALSE(first->LockRegion(false, 10, 5));
  EXPECT_TRUE(first->LockRegion(true, 10, 5));
  // Empty, negative and overflowing ranges are never granted.
  EXPECT_FALSE(first->LockRegion(true, 100, 0));
  EXPECT_FALSE(first->LockRegion(true, -1, 1));
  EXPECT_FALSE(first->LockRegion(true, INT64_MAX, 2));
}

// Random writes, truncations, seeks and reads through two handlers compared
// with a plain byte vector; capacity follows the block rule exactly.
TEST_F(MemoryFileTest, BehavesLikeAByteVectorWithPositionsPerHandle) {
  std::mt19937 random(20240611);
  auto creator = Handler("MODEL", true);
  creator->CreateFile();
  creator->Close();
  std::unique_ptr<TFileHandler> handlers[2] = {Handler("MODEL", true), Handler("MODEL", true)};
  handlers[0]->Open();
  handlers[1]->Open();
  std::vector<uint8_t> model;
  int64_t model_capacity = 0;
  int64_t positions[2] = {0, 0};
  for (int step = 0; step < 3000; ++step) {
    int h = static_cast<int>(random() % 2);
    TFileHandler& handler = *handlers[h];
    int64_t& position = positions[h];
    switch (random() % 4) {
      case 0:
        position = static_cast<int64_t>(random() % 20000);
        ASSERT_EQ(handler.Seek(soFromBeginning, position), position);
        break;
      case 1: {
        int64_t length = random() % 7 == 0 ? 0 : static_cast<int64_t>(random() % 6000);
        std::vector<uint8_t> data(static_cast<size_t>(length));
        for (uint8_t& byte : data) byte = static_cast<uint8_t>(random());
        handler.Write(data.data(), length);
        int64_t end = position + length;
        if (length == 0) {
          model.resize(static_cast<size_t>(position));
          if (position == 0) model_capacity = 0;
        } else if (end > static_cast<int64_t>(model.size())) {
          model.resize(static_cast<size_t>(end));
        }
        std::copy(data.begin(), data.end(), model.begin() + position);
        if (end > model_capacity) model_capacity = (end + 4095) / 4096 * 4096;
        position = end;
        break;
      }
      case 2: {
        int64_t length = static_cast<int64_t>(random() % 6000);
        std::vector<uint8_t> data(static_cast<size_t>(length));
        int64_t count = handler.Read(data.data(), length, true);
        int64_t available = std::max<int64_t>(0, static_cast<int64_t>(model.size()) - position);
        ASSERT_EQ(count, std::min(length, available));
        ASSERT_TRUE(std::equal(data.begin(), data.begin() + count, model.begin() + position));
        position += count;
        break;
      }
      case 3:
        ASSERT_EQ(handler.Seek(soFromEnd, 0), static_cast<int64_t>(model.size()));
        position = static_cast<int64_t>(model.size());
        break;
    }
    ASSERT_EQ(handler.GetSize(), static_cast<int64_t>(model.size())) << "step " << step;
    ASSERT_EQ(CapacityOf(handler), model_capacity) << "step " << step;
  }
  EXPECT_EQ(ContentsOf(*handlers[0]), model);
}

}  // namespace
}  // namespace vevura
