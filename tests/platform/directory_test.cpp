#include "platform/directory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "platform/os_error.h"
#include "tests/platform/platform_test_support.h"

namespace vevura::platform {
namespace {

using testing::ScratchDir;

void Touch(const std::string& path) {
  std::ofstream(path) << "x";
}

std::vector<std::string> Names(const std::string& dir, const ListOptions& options) {
  std::vector<DirEntry> entries;
  EXPECT_TRUE(ListDirectory(dir, options, &entries));
  std::vector<std::string> names;
  for (const DirEntry& e : entries) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  return names;
}

const DirEntry* Find(const std::vector<DirEntry>& entries, const std::string& name) {
  auto it = std::find_if(entries.begin(), entries.end(),
                         [&](const DirEntry& e) { return e.name == name; });
  return it == entries.end() ? nullptr : &*it;
}

using Names_ = std::vector<std::string>;

TEST(ListDirectory, FiltersHiddenSystemAndDirectories) {
  ScratchDir dir;
  Touch(dir / "plain.lic");
  Touch(dir / ".hidden.lic");
  ASSERT_TRUE(CreateDirectory(dir / "sub"));
  ASSERT_TRUE(CreateDirectory(dir / ".git"));
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0644), 0);
  ASSERT_EQ(::symlink((dir / "sub").c_str(), (dir / "link-to-sub").c_str()), 0);
  ASSERT_EQ(::symlink((dir / "plain.lic").c_str(), (dir / "link-to-file").c_str()), 0);
  ASSERT_EQ(::symlink((dir / "nowhere").c_str(), (dir / "dangling").c_str()), 0);

  EXPECT_EQ(Names(dir.path(), ListOptions{}),
            (Names_{"link-to-file", "link-to-sub", "plain.lic", "sub"}));
  ListOptions files_only;
  files_only.include_directories = false;
  EXPECT_EQ(Names(dir.path(), files_only), (Names_{"link-to-file", "plain.lic"}));
  ListOptions everything;
  everything.include_hidden = true;
  everything.include_system = true;
  EXPECT_EQ(Names(dir.path(), everything),
            (Names_{".git", ".hidden.lic", "dangling", "link-to-file", "link-to-sub", "pipe",
                    "plain.lic", "sub"}));

  std::vector<DirEntry> entries;
  ASSERT_TRUE(ListDirectory(dir.path(), everything, &entries));
  ASSERT_NE(Find(entries, "link-to-sub"), nullptr);
  EXPECT_TRUE(Find(entries, "link-to-sub")->attributes.is_directory);
  EXPECT_FALSE(Find(entries, "link-to-sub")->attributes.system);
  EXPECT_TRUE(Find(entries, "link-to-file")->attributes.is_regular);
  EXPECT_EQ(Find(entries, "link-to-file")->attributes.size, 1);
  EXPECT_TRUE(Find(entries, "dangling")->attributes.system);
  EXPECT_TRUE(Find(entries, "pipe")->attributes.system);
  EXPECT_TRUE(Find(entries, ".git")->attributes.hidden);
  EXPECT_TRUE(Find(entries, ".git")->attributes.is_directory);

  // A directory given without its trailing slash lists the same.
  EXPECT_EQ(Names(dir / "sub", everything), Names_{});
  EXPECT_FALSE(ListDirectory(dir / "missing", everything, &entries));
  EXPECT_EQ(LastOsError(), ENOENT);
  EXPECT_TRUE(entries.empty());
}

TEST(Directories, ExistCreateRemoveAndCurrent) {
  ScratchDir dir;
  Touch(dir / "file");
  EXPECT_TRUE(DirectoryExists(dir.path()));
  EXPECT_FALSE(DirectoryExists(dir / "file"));
  EXPECT_TRUE(FileExists(dir / "file"));
  EXPECT_FALSE(FileExists(dir.path()));
  EXPECT_FALSE(FileExists(dir / "none"));
  EXPECT_TRUE(CreateDirectory(dir / "new"));
  EXPECT_FALSE(CreateDirectory(dir / "new"));
  EXPECT_EQ(LastOsError(), EEXIST);
  EXPECT_FALSE(CreateDirectory(dir / "a/b"));
  EXPECT_EQ(LastOsError(), ENOENT);

  const std::string before = CurrentDirectory();
  ASSERT_TRUE(SetCurrentDirectory(dir / "new"));
  EXPECT_EQ(IncludeTrailingSlash(CurrentDirectory()),
            IncludeTrailingSlash(ExpandFileName(dir / "new")));
  EXPECT_EQ(ExpandFileName("x.dat"), ExpandFileName(dir / "new/x.dat"));
  EXPECT_EQ(ExpandFileName("../file"), ExpandFileName(dir / "file"));
  ASSERT_TRUE(SetCurrentDirectory(before));
  EXPECT_FALSE(SetCurrentDirectory(dir / "none"));
  EXPECT_TRUE(RemoveDirectory(dir / "new"));
  EXPECT_FALSE(DirectoryExists(dir / "new"));
  EXPECT_FALSE(RemoveDirectory(dir / "new"));
}

TEST(Paths, ExpandResolvesDotsTextually) {
  EXPECT_EQ(ExpandFileName("/a/b/../c/./d"), "/a/c/d");
  EXPECT_EQ(ExpandFileName("/a//b/"), "/a/b/");
  EXPECT_EQ(ExpandFileName("/../.."), "/");
  EXPECT_EQ(ExpandFileName("/a/b/.."), "/a");
  EXPECT_EQ(ExpandFileName("/"), "/");
  EXPECT_EQ(ExpandFileName(""), "");
  EXPECT_EQ(ExpandFileName("rel")[0], '/');

  EXPECT_EQ(ExtractFilePath("/a/b/c.dat"), "/a/b/");
  EXPECT_EQ(ExtractFileName("/a/b/c.dat"), "c.dat");
  EXPECT_EQ(ExtractFilePath("c.dat"), "");
  EXPECT_EQ(ExtractFileName("c.dat"), "c.dat");
  EXPECT_EQ(ExtractFileName("/a/b/"), "");
  EXPECT_EQ(IncludeTrailingSlash("/a"), "/a/");
  EXPECT_EQ(IncludeTrailingSlash("/a/"), "/a/");
  EXPECT_EQ(IncludeTrailingSlash(""), "");
}

TEST(Paths, TempDirectoryFollowsTmpdir) {
  const char* saved = std::getenv("TMPDIR");
  std::string old = saved != nullptr ? saved : "";
  ::setenv("TMPDIR", "/var/tmp", 1);
  EXPECT_EQ(TempDirectory(), "/var/tmp/");
  ::setenv("TMPDIR", "", 1);
  EXPECT_EQ(TempDirectory(), "/tmp/");
  ::unsetenv("TMPDIR");
  EXPECT_EQ(TempDirectory(), "/tmp/");
  if (saved != nullptr) ::setenv("TMPDIR", old.c_str(), 1);
}

TEST(FindExistingName, ExactFirstThenIgnoringCase) {
  ScratchDir dir;
  Touch(dir / "Customer.DAT");
  EXPECT_EQ(FindExistingName(dir / "Customer.DAT"), dir / "Customer.DAT");
  EXPECT_EQ(FindExistingName(dir / "CUSTOMER.dat"), dir / "Customer.DAT");
  EXPECT_EQ(FindExistingName(dir / "customer.dat"), dir / "Customer.DAT");
  EXPECT_EQ(FindExistingName(dir / "customer.da"), "");
  EXPECT_EQ(FindExistingName(dir / "customer.datx"), "");
  EXPECT_EQ(FindExistingName(dir / "none/customer.dat"), "");
  EXPECT_EQ(FindExistingName(dir.path()), dir.path());

  // When the exact name exists it wins over another spelling listed first.
  Touch(dir / "customer.dat");
  EXPECT_EQ(FindExistingName(dir / "customer.dat"), dir / "customer.dat");
  EXPECT_EQ(FindExistingName(dir / "Customer.DAT"), dir / "Customer.DAT");
  std::string either = FindExistingName(dir / "CUSTOMER.DAT");
  EXPECT_TRUE(either == dir / "customer.dat" || either == dir / "Customer.DAT") << either;

  // Only ASCII letters fold: bytes beyond ASCII must match exactly.
  Touch(dir / "\xc3\xa4pfel");
  EXPECT_EQ(FindExistingName(dir / "\xc3\xa4PFEL"), dir / "\xc3\xa4pfel");
  EXPECT_EQ(FindExistingName(dir / "\xc3\x84PFEL"), "");

  // A relative name is looked up in the current directory.
  const std::string before = CurrentDirectory();
  ASSERT_TRUE(SetCurrentDirectory(dir.path()));
  EXPECT_EQ(FindExistingName("CUSTOMER.DAT").size(), std::string("CUSTOMER.DAT").size());
  EXPECT_NE(FindExistingName("CUSTOMER.DAT"), "CUSTOMER.DAT");
  ASSERT_TRUE(SetCurrentDirectory(before));
}

}  // namespace
}  // namespace vevura::platform
