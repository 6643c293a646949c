#include "tests/support/fault_file_system.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <random>
#include <string>

#include "platform/os_error.h"
#include "tests/platform/platform_test_support.h"

namespace vevura::platform {
namespace {

using testing::ScratchDir;
using Op = FaultFileSystem::Operation;

OpenOptions SharedRw() {
  return OpenOptions{};
}

OpenOptions SharedRo() {
  OpenOptions options;
  options.access = OpenAccess::ReadOnly;
  return options;
}

bool Write(OsFile& file, int64_t pos, const std::string& s) {
  return file.WriteAt(pos, s.data(), static_cast<int64_t>(s.size())) ==
         static_cast<int64_t>(s.size());
}

std::string ReadAll(OsFile& file) {
  int64_t size = file.Size();
  if (size < 0) return "<size failed>";
  std::string content(static_cast<size_t>(size), '\0');
  if (file.ReadAt(0, content.data(), size) != size) return "<read failed>";
  return content;
}

// What is on disk, read past any wrapper.
std::string OnDisk(const std::string& path) {
  std::unique_ptr<OsFile> file = PosixFileSystem().Open(path, SharedRo());
  return file ? ReadAll(*file) : "<cannot open>";
}

void MakeFile(const std::string& path, const std::string& content) {
  std::unique_ptr<OsFile> file = PosixFileSystem().Create(path, OpenOptions{});
  ASSERT_TRUE(file && Write(*file, 0, content));
}

TEST(FaultFileSystem, TheNthWriteFailsWithEioAndWritesNothing) {
  ScratchDir dir;
  FaultFileSystem fault(PosixFileSystem());
  std::unique_ptr<OsFile> a = fault.Create(dir / "a.dat", OpenOptions{});
  std::unique_ptr<OsFile> b = fault.Create(dir / "b.dat", OpenOptions{});
  ASSERT_TRUE(a && b);
  fault.FailNth(Op::Write, 3);
  EXPECT_TRUE(Write(*a, 0, "one"));
  EXPECT_TRUE(Write(*b, 0, "two"));  // counted over every file of the wrapper
  EXPECT_EQ(a->WriteAt(3, "three", 5), -1);
  EXPECT_EQ(LastOsError(), EIO);
  EXPECT_TRUE(Write(*a, 3, "four"));
  EXPECT_EQ(fault.Count(Op::Write), 4);
  EXPECT_EQ(ReadAll(*a), "onefour");

  fault.FailNth(Op::Write, 1);
  EXPECT_FALSE(a->Truncate(0));  // a truncation is a write
  EXPECT_EQ(a->Size(), 7);

  fault.FailNth(Op::Sync, 2, /*sticky=*/true);
  EXPECT_TRUE(a->Sync());
  EXPECT_FALSE(a->Sync());
  EXPECT_FALSE(b->Sync());
  fault.Disarm();
  EXPECT_TRUE(b->Sync());
  EXPECT_EQ(fault.Count(Op::Sync), 4);

  fault.FailNth(Op::Read, 1);
  char c = 0;
  EXPECT_EQ(a->ReadAt(0, &c, 1), -1);
  EXPECT_EQ(a->ReadAt(0, &c, 1), 1);
  EXPECT_EQ(c, 'o');
}

TEST(FaultFileSystem, InstallsAsTheProcessFileSystem) {
  ScratchDir dir;
  FaultFileSystem fault(PosixFileSystem());
  SetFileSystem(&fault);
  EXPECT_EQ(&Fs(), &fault);
  std::unique_ptr<OsFile> file = Fs().Create(dir / "t.dat", OpenOptions{});
  ASSERT_NE(file, nullptr);
  fault.FailNth(Op::Write, 1);
  EXPECT_EQ(file->WriteAt(0, "x", 1), -1);
  SetFileSystem(nullptr);
  EXPECT_EQ(&Fs(), &PosixFileSystem());
}

TEST(FaultFileSystem, DroppedUnsyncedWritesVanishWhileSyncedOnesSurvive) {
  ScratchDir dir;
  const std::string path = dir / "t.dat";
  MakeFile(path, "");
  FaultFileSystem fault(PosixFileSystem());
  fault.KeepUnsyncedWrites(true);
  std::unique_ptr<OsFile> file = fault.Open(path, SharedRw());
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(Write(*file, 0, "AAAA"));
  EXPECT_EQ(OnDisk(path), "");
  EXPECT_TRUE(fault.HasUnsyncedWrites());
  ASSERT_TRUE(file->Sync());
  EXPECT_EQ(OnDisk(path), "AAAA");
  EXPECT_FALSE(fault.HasUnsyncedWrites());

  ASSERT_TRUE(Write(*file, 2, "BB"));
  ASSERT_TRUE(Write(*file, 8, "CCC"));
  EXPECT_EQ(ReadAll(*file), std::string("AABB\0\0\0\0CCC", 11));
  EXPECT_EQ(OnDisk(path), "AAAA");
  FileAttributes attributes;
  ASSERT_TRUE(fault.GetAttributes(path, &attributes));
  EXPECT_EQ(attributes.size, 11);

  // Held changes belong to the file, not the handle: they outlive a close.
  file.reset();
  file = fault.Open(path, SharedRw());
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Size(), 11);
  ASSERT_TRUE(file->Truncate(1));
  EXPECT_EQ(ReadAll(*file), "A");

  fault.DropUnsyncedWrites();
  EXPECT_EQ(OnDisk(path), "AAAA");
  EXPECT_EQ(ReadAll(*file), "AAAA");

  // A truncation and a regrowth reach the disk together at the next sync.
  ASSERT_TRUE(file->Truncate(1));
  ASSERT_TRUE(Write(*file, 3, "Z"));
  ASSERT_TRUE(file->Sync());
  EXPECT_EQ(OnDisk(path), std::string("A\0\0Z", 4));
}

TEST(FaultFileSystem, AFailedSyncKeepsTheChangesHeld) {
  ScratchDir dir;
  const std::string path = dir / "t.dat";
  MakeFile(path, "base");
  FaultFileSystem fault(PosixFileSystem());
  fault.KeepUnsyncedWrites(true);
  std::unique_ptr<OsFile> file = fault.Open(path, SharedRw());
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(Write(*file, 0, "next"));
  fault.FailNth(Op::Sync, 1);
  EXPECT_FALSE(file->Sync());
  EXPECT_TRUE(fault.HasUnsyncedWrites());
  fault.DropUnsyncedWrites();
  EXPECT_EQ(OnDisk(path), "base");
}

// Random writes, truncations, syncs, drops and reopenings against a model of
// the file as its reader sees it and as the disk keeps it.
TEST(FaultFileSystem, MatchesAModelOfSyncedAndUnsyncedContents) {
  ScratchDir dir;
  const std::string path = dir / "t.dat";
  MakeFile(path, "");
  FaultFileSystem fault(PosixFileSystem());
  fault.KeepUnsyncedWrites(true);
  std::unique_ptr<OsFile> file = fault.Open(path, SharedRw());
  ASSERT_NE(file, nullptr);
  std::string seen, synced;
  std::mt19937 rng(20240611);
  auto below = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  for (int step = 0; step < 3000; ++step) {
    int what = below(20);
    if (what < 10) {
      int64_t pos = below(600);
      std::string data(static_cast<size_t>(1 + below(120)), static_cast<char>('a' + below(26)));
      ASSERT_TRUE(Write(*file, pos, data));
      if (seen.size() < pos + data.size()) seen.resize(pos + data.size(), '\0');
      seen.replace(static_cast<size_t>(pos), data.size(), data);
    } else if (what < 13) {
      size_t size = static_cast<size_t>(below(700));
      ASSERT_TRUE(file->Truncate(static_cast<int64_t>(size)));
      seen.resize(size, '\0');
    } else if (what < 16) {
      ASSERT_TRUE(file->Sync());
      synced = seen;
    } else if (what < 18) {
      fault.DropUnsyncedWrites();
      seen = synced;
    } else {
      file = fault.Open(path, SharedRw());
      ASSERT_NE(file, nullptr);
    }
    ASSERT_EQ(ReadAll(*file), seen) << "step " << step;
    int64_t pos = below(700), len = below(200);
    std::string part(static_cast<size_t>(len), '?');
    int64_t expected = std::max<int64_t>(0, std::min<int64_t>(len, seen.size() - pos));
    ASSERT_EQ(file->ReadAt(pos, part.data(), len), expected) << "step " << step;
    ASSERT_EQ(part.substr(0, expected), seen.substr(std::min<size_t>(pos, seen.size()), expected));
    ASSERT_EQ(OnDisk(path), synced) << "step " << step;
  }
}

TEST(FaultFileSystem, RemovingAFileForgetsWhatWasHeldForIt) {
  ScratchDir dir;
  const std::string path = dir / "t.dat";
  FaultFileSystem fault(PosixFileSystem());
  fault.KeepUnsyncedWrites(true);
  {
    std::unique_ptr<OsFile> file = fault.Create(path, OpenOptions{});
    ASSERT_TRUE(file && Write(*file, 0, "unsynced"));
  }
  EXPECT_TRUE(fault.HasUnsyncedWrites());
  EXPECT_TRUE(fault.Remove(path));
  EXPECT_FALSE(fault.HasUnsyncedWrites());
  std::unique_ptr<OsFile> file = fault.Create(path, OpenOptions{});
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Size(), 0);

  OpenOptions temporary;
  temporary.delete_on_close = true;
  std::unique_ptr<OsFile> temp = fault.Create(dir / "temp.dat", temporary);
  ASSERT_TRUE(temp && Write(*temp, 0, "scratch"));
  temp.reset();
  FileAttributes attributes;
  EXPECT_FALSE(fault.GetAttributes(dir / "temp.dat", &attributes));
}

}  // namespace
}  // namespace vevura::platform
