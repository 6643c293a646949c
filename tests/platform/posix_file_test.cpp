#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "platform/date_time.h"
#include "platform/file_system.h"
#include "platform/os_error.h"
#include "tests/platform/platform_test_support.h"

namespace vevura::platform {
namespace {

using testing::HoldingChild;
using testing::RunInChild;
using testing::ScratchDir;

OpenOptions Options(OpenAccess access, ShareMode share) {
  OpenOptions options;
  options.access = access;
  options.share = share;
  return options;
}

const OpenOptions kSharedRw = Options(OpenAccess::ReadWrite, ShareMode::Shared);
const OpenOptions kSharedRo = Options(OpenAccess::ReadOnly, ShareMode::Shared);
const OpenOptions kExclusiveRw = Options(OpenAccess::ReadWrite, ShareMode::Exclusive);
const OpenOptions kExclusiveRo = Options(OpenAccess::ReadOnly, ShareMode::Exclusive);

void WriteFile(const std::string& path, const std::string& content) {
  std::unique_ptr<OsFile> file = PosixFileSystem().Create(path, OpenOptions{});
  ASSERT_NE(file, nullptr) << path;
  ASSERT_EQ(file->WriteAt(0, content.data(), static_cast<int64_t>(content.size())),
            static_cast<int64_t>(content.size()));
}

std::string ReadAll(OsFile& file) {
  std::string content(static_cast<size_t>(file.Size()), '\0');
  file.ReadAt(0, content.data(), static_cast<int64_t>(content.size()));
  return content;
}

std::string ReadFile(const std::string& path) {
  std::unique_ptr<OsFile> file = PosixFileSystem().Open(path, kSharedRo);
  return file ? ReadAll(*file) : "<cannot open>";
}

std::unique_ptr<OsFile> OpenFile(const std::string& path, const OpenOptions& options) {
  return PosixFileSystem().Open(path, options);
}

TEST(OsError, LastErrorIsKeptPerThread) {
  SetLastOsError(ENOENT);
  std::thread([] {
    EXPECT_EQ(LastOsError(), 0);
    SetLastOsError(EACCES);
  }).join();
  EXPECT_EQ(LastOsError(), ENOENT);
}

TEST(PosixFile, ReadsWritesSizesAndTruncates) {
  ScratchDir dir;
  std::unique_ptr<OsFile> file = PosixFileSystem().Create(dir / "t.dat", OpenOptions{});
  ASSERT_NE(file, nullptr);
  EXPECT_FALSE(file->IsReadOnly());
  EXPECT_EQ(file->Size(), 0);
  EXPECT_EQ(file->WriteAt(0, "hello", 5), 5);
  EXPECT_EQ(file->WriteAt(10, "x", 1), 1);
  EXPECT_EQ(file->Size(), 11);
  char buf[16];
  std::memset(buf, 'q', sizeof buf);
  EXPECT_EQ(file->ReadAt(3, buf, 16), 8);  // short at the end of file
  EXPECT_EQ(std::string(buf, 8), std::string("lo\0\0\0\0\0x", 8));
  EXPECT_EQ(file->ReadAt(11, buf, 4), 0);
  EXPECT_EQ(file->ReadAt(1000, buf, 4), 0);
  EXPECT_TRUE(file->Truncate(3));
  EXPECT_EQ(file->Size(), 3);
  EXPECT_TRUE(file->Truncate(6));
  EXPECT_EQ(ReadAll(*file), std::string("hel\0\0\0", 6));
  EXPECT_TRUE(file->Sync());
  EXPECT_EQ(file->ReadAt(-1, buf, 4), -1);
  EXPECT_EQ(LastOsError(), EINVAL);
  EXPECT_FALSE(file->Truncate(-1));

  // A transfer larger than any single buffer the kernel takes at once.
  std::string big(3 << 20, 'b');
  for (size_t i = 0; i < big.size(); i += 4093) big[i] = static_cast<char>('a' + i % 26);
  EXPECT_EQ(file->WriteAt(7, big.data(), static_cast<int64_t>(big.size())),
            static_cast<int64_t>(big.size()));
  std::string back(big.size(), '\0');
  EXPECT_EQ(file->ReadAt(7, back.data(), static_cast<int64_t>(back.size())),
            static_cast<int64_t>(back.size()));
  EXPECT_EQ(back, big);
}

TEST(PosixFile, HeadMappingFollowsWritesAndSurvivesTheFileBeingCut) {
  ScratchDir dir;
  WriteFile(dir / "m.dat", "abcd");
  std::unique_ptr<OsFile> file = OpenFile(dir / "m.dat", kSharedRw);
  ASSERT_NE(file, nullptr);
  // Shorter than the page: no mapping yet.
  EXPECT_EQ(file->MapHead(4096), nullptr);
  EXPECT_EQ(LastOsError(), ERANGE);
  ASSERT_TRUE(file->Truncate(8192));
  std::unique_ptr<HeadMapping> head = file->MapHead(4096);
  if (head == nullptr && LastOsError() == ENOTSUP) GTEST_SKIP() << "not a local file system";
  ASSERT_NE(head, nullptr);

  char bytes[4] = {};
  ASSERT_TRUE(head->Read(0, bytes, 4));
  EXPECT_EQ(std::string(bytes, 4), "abcd");
  // Another program's write shows at once.
  EXPECT_EQ(RunInChild([&] {
              std::unique_ptr<OsFile> other = OpenFile(dir / "m.dat", kSharedRw);
              return other != nullptr && other->WriteAt(4092, "wxyz", 4) == 4 ? 0 : 1;
            }),
            0);
  ASSERT_TRUE(head->Read(4092, bytes, 4));
  EXPECT_EQ(std::string(bytes, 4), "wxyz");
  EXPECT_FALSE(head->Read(4093, bytes, 4));  // beyond the mapping
  EXPECT_FALSE(head->Broken());

  // Cut below the page, a read fails instead of ending the process.
  ASSERT_TRUE(file->Truncate(0));
  EXPECT_FALSE(head->Read(0, bytes, 4));
  EXPECT_TRUE(head->Broken());
  ASSERT_TRUE(file->Truncate(8192));
  EXPECT_FALSE(head->Read(0, bytes, 4));
  // A SIGBUS that is no read's still has its default action.
  EXPECT_EQ(RunInChild([] {
              ::raise(SIGBUS);
              return 0;
            }),
            -1);
}

TEST(PosixFile, OpeningWhatIsNotAFileFailsWithoutCreatingIt) {
  ScratchDir dir;
  EXPECT_EQ(OpenFile(dir / "missing.dat", kSharedRw), nullptr);
  EXPECT_EQ(LastOsError(), ENOENT);
  FileAttributes a;
  EXPECT_FALSE(PosixFileSystem().GetAttributes(dir / "missing.dat", &a));
  EXPECT_FALSE(a.exists);
  EXPECT_EQ(OpenFile(dir / "no/such/dir.dat", kSharedRw), nullptr);
  EXPECT_EQ(OpenFile(dir.path(), kSharedRo), nullptr);  // a directory
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
  EXPECT_EQ(OpenFile(dir / "fifo", kSharedRo), nullptr);  // and without hanging
}

TEST(ByteLocks, ConflictBetweenTwoHandlesOfOneProcess) {
  ScratchDir dir;
  WriteFile(dir / "t.dat", "data");
  std::unique_ptr<OsFile> a = OpenFile(dir / "t.dat", kSharedRw);
  std::unique_ptr<OsFile> b = OpenFile(dir / "t.dat", kSharedRw);
  ASSERT_TRUE(a && b);
  ASSERT_TRUE(a->LockRange(10, 5));
  EXPECT_FALSE(b->LockRange(14, 1));
  EXPECT_EQ(LastOsError(), EAGAIN);
  EXPECT_FALSE(b->LockRange(6, 5));
  EXPECT_FALSE(b->LockRange(0, 100));
  EXPECT_TRUE(b->LockRange(15, 1));
  EXPECT_FALSE(a->LockRange(15, 1));
  EXPECT_FALSE(b->UnlockRange(10, 5));  // held by a, not by b
  EXPECT_TRUE(a->UnlockRange(10, 5));
  EXPECT_TRUE(b->LockRange(10, 5));

  // Closing a handle releases what it held.
  ASSERT_TRUE(a->LockRange(1000, 8));
  EXPECT_FALSE(b->LockRange(1004, 1));
  a.reset();
  EXPECT_TRUE(b->LockRange(1004, 1));
}

TEST(ByteLocks, OneHandleRefusesOverlapAndUnlocksOnlyExactRanges) {
  ScratchDir dir;
  WriteFile(dir / "t.dat", "");
  std::unique_ptr<OsFile> a = OpenFile(dir / "t.dat", kSharedRw);
  std::unique_ptr<OsFile> b = OpenFile(dir / "t.dat", kSharedRw);
  ASSERT_TRUE(a && b);
  ASSERT_TRUE(a->LockRange(10, 5));
  EXPECT_FALSE(a->LockRange(12, 1));  // the kernel alone would grant this
  EXPECT_EQ(LastOsError(), EAGAIN);
  EXPECT_FALSE(a->LockRange(10, 5));
  EXPECT_FALSE(a->LockRange(5, 6));
  EXPECT_TRUE(a->LockRange(15, 1));  // adjacent, not overlapping
  EXPECT_TRUE(a->LockRange(5, 5));

  EXPECT_FALSE(a->UnlockRange(10, 4));
  EXPECT_FALSE(a->UnlockRange(10, 6));  // covers two held ranges, names neither
  EXPECT_FALSE(a->UnlockRange(11, 4));
  EXPECT_TRUE(a->UnlockRange(15, 1));
  EXPECT_FALSE(a->UnlockRange(15, 1));
  // Unlocking the adjacent range left its neighbours locked in the kernel too.
  EXPECT_TRUE(b->LockRange(15, 1));
  EXPECT_FALSE(b->LockRange(14, 1));
  EXPECT_FALSE(b->LockRange(9, 1));
  EXPECT_TRUE(a->UnlockRange(10, 5));
  EXPECT_TRUE(b->LockRange(10, 5));
}

TEST(ByteLocks, BadRangesAndTheShareByteAreRefused) {
  ScratchDir dir;
  WriteFile(dir / "t.dat", "");
  std::unique_ptr<OsFile> a = OpenFile(dir / "t.dat", kSharedRw);
  ASSERT_NE(a, nullptr);
  EXPECT_FALSE(a->LockRange(0, 0));
  EXPECT_EQ(LastOsError(), EINVAL);
  EXPECT_FALSE(a->LockRange(-1, 2));
  EXPECT_FALSE(a->LockRange(INT64_MAX - 1, 5));
  EXPECT_FALSE(a->LockRange(kShareLockOffset, 1));
  EXPECT_FALSE(a->LockRange(kShareLockOffset - 1, 2));
  EXPECT_FALSE(a->UnlockRange(kShareLockOffset, 1));
  EXPECT_TRUE(a->LockRange(kShareLockOffset - 1, 1));
  // The share lock is intact: an exclusive open is still refused.
  EXPECT_EQ(OpenFile(dir / "t.dat", kExclusiveRw), nullptr);
  EXPECT_EQ(LastOsError(), EACCES);
}

TEST(ByteLocks, ReadOnlyHandlesTakeReadLocksThatStillStopWriters) {
  ScratchDir dir;
  WriteFile(dir / "t.dat", "data");
  std::unique_ptr<OsFile> ro = OpenFile(dir / "t.dat", kSharedRo);
  std::unique_ptr<OsFile> rw = OpenFile(dir / "t.dat", kSharedRw);
  ASSERT_TRUE(ro && rw);
  EXPECT_TRUE(ro->IsReadOnly());
  ASSERT_TRUE(ro->LockRange(0, 10));
  EXPECT_FALSE(rw->LockRange(5, 1));
  EXPECT_TRUE(rw->LockRange(10, 1));
  ASSERT_TRUE(rw->LockRange(20, 5));
  EXPECT_FALSE(ro->LockRange(22, 1));
  EXPECT_FALSE(ro->LockRange(5, 1));  // overlaps its own range
  char c;
  EXPECT_EQ(ro->WriteAt(0, "x", 1), -1);
  EXPECT_EQ(ro->ReadAt(0, &c, 1), 1);
}

TEST(ByteLocks, ConflictBetweenProcesses) {
  ScratchDir dir;
  const std::string path = dir / "t.dat";
  WriteFile(path, "data");
  std::unique_ptr<OsFile> mine = OpenFile(path, kSharedRw);
  ASSERT_TRUE(mine && mine->LockRange(10, 5));
  int code = RunInChild([&] {
    std::unique_ptr<OsFile> theirs = OpenFile(path, kSharedRw);
    if (!theirs) return 1;
    if (theirs->LockRange(12, 1) || LastOsError() != EAGAIN) return 2;
    if (!theirs->LockRange(15, 1)) return 3;
    return 0;
  });
  EXPECT_EQ(code, 0);

  HoldingChild child([&] {
    std::unique_ptr<OsFile> theirs = OpenFile(path, kSharedRo);
    return theirs && theirs->LockRange(50, 10) ? std::move(theirs) : nullptr;
  });
  ASSERT_TRUE(child.held());
  EXPECT_FALSE(mine->LockRange(55, 1));
  EXPECT_TRUE(mine->LockRange(60, 1));
  child.Release();
  EXPECT_TRUE(mine->LockRange(55, 1));
}

TEST(ShareModes, ExclusiveAndSharedConflictWithinOneProcess) {
  ScratchDir dir;
  const std::string path = dir / "t.dat";
  WriteFile(path, "data");
  {
    std::unique_ptr<OsFile> exclusive = OpenFile(path, kExclusiveRw);
    ASSERT_NE(exclusive, nullptr);
    EXPECT_EQ(OpenFile(path, kSharedRw), nullptr);
    EXPECT_EQ(LastOsError(), EACCES);
    EXPECT_EQ(OpenFile(path, kSharedRo), nullptr);
    EXPECT_EQ(OpenFile(path, kExclusiveRw), nullptr);
    EXPECT_EQ(OpenFile(path, kExclusiveRo), nullptr);
  }
  {
    std::unique_ptr<OsFile> shared = OpenFile(path, kSharedRw);
    ASSERT_NE(shared, nullptr);
    std::unique_ptr<OsFile> second = OpenFile(path, kSharedRo);
    EXPECT_NE(second, nullptr);
    EXPECT_EQ(OpenFile(path, kExclusiveRw), nullptr);
    EXPECT_EQ(LastOsError(), EACCES);
    EXPECT_EQ(OpenFile(path, kExclusiveRo), nullptr);
    EXPECT_EQ(LastOsError(), EACCES);
  }
  {
    // A read-only descriptor cannot hold a write lock; its exclusive open must
    // still keep everyone else out.
    std::unique_ptr<OsFile> exclusive = OpenFile(path, kExclusiveRo);
    ASSERT_NE(exclusive, nullptr);
    EXPECT_EQ(OpenFile(path, kSharedRo), nullptr);
    EXPECT_EQ(LastOsError(), EACCES);
    EXPECT_EQ(OpenFile(path, kSharedRw), nullptr);
    EXPECT_EQ(OpenFile(path, kExclusiveRw), nullptr);
    EXPECT_EQ(OpenFile(path, kExclusiveRo), nullptr);
  }
  EXPECT_NE(OpenFile(path, kExclusiveRw), nullptr);  // all released
}

TEST(ShareModes, ExclusiveAndSharedConflictBetweenProcesses) {
  ScratchDir dir;
  const std::string path = dir / "t.dat";
  WriteFile(path, "data");
  {
    HoldingChild child([&] { return OpenFile(path, kExclusiveRw); });
    ASSERT_TRUE(child.held());
    EXPECT_EQ(OpenFile(path, kSharedRw), nullptr);
    EXPECT_EQ(LastOsError(), EACCES);
    EXPECT_EQ(OpenFile(path, kSharedRo), nullptr);
  }
  {
    HoldingChild child([&] { return OpenFile(path, kSharedRw); });
    ASSERT_TRUE(child.held());
    EXPECT_EQ(OpenFile(path, kExclusiveRw), nullptr);
    EXPECT_EQ(LastOsError(), EACCES);
    EXPECT_EQ(OpenFile(path, kExclusiveRo), nullptr);
    EXPECT_NE(OpenFile(path, kSharedRw), nullptr);
  }
  {
    HoldingChild child([&] { return OpenFile(path, kExclusiveRo); });
    ASSERT_TRUE(child.held());
    EXPECT_EQ(OpenFile(path, kSharedRo), nullptr);
    EXPECT_EQ(OpenFile(path, kExclusiveRw), nullptr);
  }
  std::unique_ptr<OsFile> exclusive = OpenFile(path, kExclusiveRw);
  ASSERT_NE(exclusive, nullptr);
  EXPECT_EQ(RunInChild([&] {
              if (OpenFile(path, kSharedRo) != nullptr) return 1;
              return LastOsError() == EACCES ? 0 : 2;
            }),
            0);
  exclusive.reset();
  std::unique_ptr<OsFile> shared = OpenFile(path, kSharedRw);
  EXPECT_EQ(RunInChild([&] { return OpenFile(path, kSharedRw) != nullptr ? 0 : 1; }), 0);
  EXPECT_EQ(RunInChild([&] { return OpenFile(path, kExclusiveRw) == nullptr ? 0 : 1; }), 0);
}

TEST(ShareModes, CreateOverAHeldFileFailsAndKeepsItsData) {
  ScratchDir dir;
  const std::string path = dir / "t.dat";
  WriteFile(path, "precious");
  {
    HoldingChild child([&] { return OpenFile(path, kSharedRo); });
    ASSERT_TRUE(child.held());
    EXPECT_EQ(PosixFileSystem().Create(path, OpenOptions{}), nullptr);
    EXPECT_EQ(LastOsError(), EACCES);
  }
  EXPECT_EQ(ReadFile(path), "precious");
  {
    std::unique_ptr<OsFile> shared = OpenFile(path, kSharedRw);
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(PosixFileSystem().Create(path, OpenOptions{}), nullptr);
    EXPECT_EQ(shared->Size(), 8);
  }
  std::unique_ptr<OsFile> created = PosixFileSystem().Create(path, kSharedRw);
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(created->Size(), 0);
  EXPECT_EQ(OpenFile(path, kSharedRo), nullptr);  // a created file is exclusive
}

TEST(PosixFileSystem, DeleteOnCloseRemovesOnlyItsOwnFile) {
  ScratchDir dir;
  OpenOptions temporary;
  temporary.delete_on_close = true;
  {
    std::unique_ptr<OsFile> file = PosixFileSystem().Create(dir / "tmp.dat", temporary);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->WriteAt(0, "abc", 3), 3);
    EXPECT_EQ(ReadFile(dir / "tmp.dat"), "<cannot open>");  // created exclusive
  }
  FileAttributes a;
  EXPECT_FALSE(PosixFileSystem().GetAttributes(dir / "tmp.dat", &a));

  WriteFile(dir / "old.dat", "old");
  {
    std::unique_ptr<OsFile> file = OpenFile(dir / "old.dat", temporary);
    ASSERT_NE(file, nullptr);
  }
  EXPECT_FALSE(PosixFileSystem().GetAttributes(dir / "old.dat", &a));

  // Moved away while open: the file now at the name is someone else's.
  WriteFile(dir / "moved.dat", "first");
  {
    std::unique_ptr<OsFile> file = OpenFile(dir / "moved.dat", temporary);
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(PosixFileSystem().Rename(dir / "moved.dat", dir / "elsewhere.dat"));
    WriteFile(dir / "moved.dat", "second");
  }
  EXPECT_EQ(ReadFile(dir / "moved.dat"), "second");
}

TEST(PosixFileSystem, RenameNeverReplacesAndRemoveDeletes) {
  ScratchDir dir;
  WriteFile(dir / "a.dat", "aaa");
  WriteFile(dir / "b.dat", "bbb");
  EXPECT_FALSE(PosixFileSystem().Rename(dir / "a.dat", dir / "b.dat"));
  EXPECT_EQ(LastOsError(), EEXIST);
  EXPECT_EQ(ReadFile(dir / "a.dat"), "aaa");
  EXPECT_EQ(ReadFile(dir / "b.dat"), "bbb");
  EXPECT_TRUE(PosixFileSystem().Rename(dir / "a.dat", dir / "c.dat"));
  EXPECT_EQ(ReadFile(dir / "c.dat"), "aaa");
  EXPECT_FALSE(PosixFileSystem().Rename(dir / "a.dat", dir / "d.dat"));
  EXPECT_EQ(LastOsError(), ENOENT);
  EXPECT_TRUE(PosixFileSystem().Remove(dir / "c.dat"));
  EXPECT_FALSE(PosixFileSystem().Remove(dir / "c.dat"));
  EXPECT_EQ(LastOsError(), ENOENT);
}

TEST(PosixFileSystem, AttributesComeFromModeNameAndKind) {
  ScratchDir dir;
  const std::string path = dir / "t.dat";
  WriteFile(path, "12345");
  FileAttributes a;
  ASSERT_TRUE(PosixFileSystem().GetAttributes(path, &a));
  EXPECT_TRUE(a.exists && a.is_regular);
  EXPECT_FALSE(a.is_directory || a.system || a.hidden || a.read_only);
  EXPECT_EQ(a.size, 5);
  EXPECT_NE(a.inode, 0u);
  EXPECT_GT(a.modified, Now() - 1);
  EXPECT_LT(a.modified, Now() + 1);

  // Root may write anything; the attribute must come from the mode alone.
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  ASSERT_TRUE(PosixFileSystem().GetAttributes(path, &a));
  EXPECT_TRUE(a.read_only);
  ASSERT_EQ(::chmod(path.c_str(), 0400), 0);
  ASSERT_TRUE(PosixFileSystem().GetAttributes(path, &a));
  EXPECT_TRUE(a.read_only);
  ASSERT_EQ(::chmod(path.c_str(), 0464), 0);  // one write bit is enough
  ASSERT_TRUE(PosixFileSystem().GetAttributes(path, &a));
  EXPECT_FALSE(a.read_only);

  WriteFile(dir / ".hidden", "");
  ASSERT_TRUE(PosixFileSystem().GetAttributes(dir / ".hidden", &a));
  EXPECT_TRUE(a.hidden);
  ASSERT_TRUE(PosixFileSystem().GetAttributes(dir.path(), &a));
  EXPECT_TRUE(a.is_directory);
  EXPECT_FALSE(a.system || a.hidden);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
  ASSERT_TRUE(PosixFileSystem().GetAttributes(dir / "fifo", &a));
  EXPECT_TRUE(a.system);
  EXPECT_FALSE(a.is_regular || a.is_directory);
}

TEST(PosixFileSystem, FsIsPosixUnlessATestInstallsAnother) {
  EXPECT_EQ(&Fs(), &PosixFileSystem());
}

}  // namespace
}  // namespace vevura::platform
