#include "app/lic_walk.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/run_errors.h"
#include "app/run_list.h"
#include "platform/directory.h"
#include "tests/app/random_lic_tree.h"
#include "tests/app/temp_tree.h"
#include "tests/support/fault_file_system.h"

namespace vevura::app {
namespace {

using test::Lines;
using test::RandomTree;
using test::UsableLic;

class LicWalkTest : public testing::Test {
 protected:
  LicWalkTest() {
    events_.OnAddLine = [this](const std::string& line) { lines_.push_back(line); };
    events_.OnAddRecord = [this](const TCatalogRecord& record) { records_.push_back(record); };
    events_.OnProcessMessages = [this] { ++pending_calls_; };
  }

  //! Walks root_field with a fresh walk; the list lines it made.
  Lines Walk(const std::string& root_field) {
    lines_.clear();
    records_.clear();
    TLicWalk walk(events_, ".");
    walk.SearchForLICS(root_field);
    added_ = walk.AddedCount();
    return lines_;
  }

  test::CurrentDirectoryGuard cwd_guard_;
  test::TempTree tree_;
  TLicWalkEvents events_;
  Lines lines_;
  std::vector<TCatalogRecord> records_;
  int pending_calls_ = 0;
  int32_t added_ = -1;
};

void ExpectSameRecords(const std::vector<TCatalogRecord>& actual,
                       const std::vector<TCatalogRecord>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i) {
    const TCatalogRecord& a = actual[i];
    const TCatalogRecord& e = expected[i];
    EXPECT_EQ(a.API, e.API);
    EXPECT_EQ(a.LogMnems, e.LogMnems);
    EXPECT_EQ(a.Measure, e.Measure);
    EXPECT_EQ(a.IndexUOM, e.IndexUOM);
    EXPECT_EQ(a.TLI, e.TLI);
    EXPECT_EQ(a.BLI, e.BLI);
    EXPECT_EQ(a.TIFF_FileName, e.TIFF_FileName);
    EXPECT_EQ(a.LIC_FileName, e.LIC_FileName);
  }
}

TEST_F(LicWalkTest, RandomTreesListEveryUsableLicDepthFirstInListingOrder) {
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    test::TempTree tree;
    RandomTree random_tree(tree, seed);
    std::vector<TCatalogRecord> expected_records;
    Lines expected = random_tree.ExpectedLines(&expected_records);
    int subdirectories = 0;
    for (const std::string& line : expected) subdirectories += line.rfind("======> ", 0) == 0;
    pending_calls_ = 0;
    EXPECT_EQ(Walk(tree.Root()), expected) << "seed " << seed;
    ExpectSameRecords(records_, expected_records);
    EXPECT_EQ(added_, static_cast<int32_t>(expected_records.size()));
    EXPECT_EQ(pending_calls_, subdirectories - 1);
    // After the walk the current directory is the root's parent.
    EXPECT_EQ(platform::CurrentDirectory(),
              test::PhysicalPath(platform::ExtractFilePath(tree.Root())));
  }
}

// Chosen cases ------------------------------------------------------------

TEST_F(LicWalkTest, OnlyLicExtensionsAreReadAndDotNamesNeverVisited) {
  tree_.File("img.tif", "");
  for (const char* name : {"a.lic", "A.Lic", "b.LIC", "a.lic.bak", "a.licx", "lic", "nolic", ".lic",
                           ".c.lic", "c.li"}) {
    tree_.File(name, UsableLic(name, "img.tif"));
  }
  tree_.Dir(".hidden");
  tree_.File(".hidden/img.tif", "");
  tree_.File(".hidden/d.lic", UsableLic("in-hidden", "img.tif"));
  tree_.Dir("x.lic");  // a directory named like a LIC file is walked, not read
  Walk(tree_.Root());
  std::vector<std::string> wells;
  for (const TCatalogRecord& record : records_) wells.push_back(record.API);
  std::sort(wells.begin(), wells.end());
  EXPECT_EQ(wells, (std::vector<std::string>{"A.Lic", "a.lic", "b.LIC"}));
  EXPECT_EQ(added_, 3);
  EXPECT_EQ(std::count(lines_.begin(), lines_.end(), FolderLine(tree_.Path("x.lic"))), 1);
  EXPECT_EQ(lines_.back(), "3 Records Added to Database");
}

TEST_F(LicWalkTest, ImageIsLookedForBesideTheLicUnderTheNamePartOfFile) {
  tree_.Dir("elsewhere");
  tree_.File("elsewhere/far.tif", "");
  tree_.File("Scan One.TIF", "");
  tree_.File("b.tif", "");
  tree_.File("slash.tif", "");
  tree_.Dir("adir.tif");
  struct Case {
    const char* file;   // FILE value as written in the LIC
    const char* image;  // image recorded, "" when the LIC is skipped
  } cases[] = {
      {"C:\\Logs\\scan one.tif", "Scan One.TIF"},  // Windows path, case differs
      {"D:b.tif", "b.tif"},
      {"../x/y/slash.tif", "slash.tif"},
      {"\\\\server\\share\\B.TIF", "b.tif"},
      {"elsewhere/far.tif", ""},  // only the name part counts: no far.tif beside the LIC
      {"missing.tif", ""},
      {"{b.tif", ""},
      {"b.tif{", ""},
      {"adir.tif", ""},  // a directory is no image
      {"C:\\Logs\\", ""},
      {"..", ""},
  };
  int n = 0;
  for (const Case& c : cases) {
    tree_.File("f" + std::to_string(++n) + ".lic", UsableLic(c.file, c.file));
  }
  Walk(tree_.Root());
  std::map<std::string, std::string> images;
  for (const TCatalogRecord& record : records_) images[record.API] = record.TIFF_FileName;
  for (const Case& c : cases) {
    auto found = images.find(c.file);
    if (c.image[0] == '\0') {
      EXPECT_TRUE(found == images.end()) << c.file;
    } else if (found == images.end()) {
      ADD_FAILURE() << c.file << " skipped";
    } else {
      EXPECT_EQ(found->second, tree_.Path(c.image)) << c.file;
    }
  }
  EXPECT_EQ(added_, 4);
}

TEST_F(LicWalkTest, UnusableLicFilesAreSkippedSilently) {
  tree_.File("img.tif", "");
  tree_.File("nowell.lic", "FILE,img.tif\nGROUP,1,g\n");
  tree_.File("nogroup.lic", "FILE,img.tif\nWELL,w\n");
  tree_.File("nofile.lic", "WELL,w\nGROUP,1,g\n");
  tree_.File("emptygroup.lic", "FILE,img.tif\nWELL,w\nGROUP,1,\n");
  tree_.File("empty.lic", "");
  tree_.File("binary.lic", std::string("\0\xff\x1a\x01,\"", 6));
  EXPECT_EQ(Walk(tree_.Root()), (Lines{FolderLine(tree_.Root()), "0 Records Added to Database"}));
  EXPECT_TRUE(records_.empty());
}

TEST_F(LicWalkTest, RecordAndListLineCarryTheValuesAsGiven) {
  tree_.Dir("sub");
  tree_.File("sub/log.tif", "");
  std::string well = "42-123-45678-00-01-X";  // longer than the column and the field
  tree_.File("sub/One.Lic", "WELL,\"" + well +
                                "\"\nGROUP,3,\"GR SP\"\nFILE,log.tif\n"
                                "DEPTHTYPE,2\nDEPTHUNITS,1\nDEPPIX,0,0\nDEPPIX,-12.5E1,3\n"
                                "DEPPIX,1000,200\n");
  Walk(tree_.Root());
  ASSERT_EQ(records_.size(), 1u);
  const TCatalogRecord& r = records_[0];
  EXPECT_EQ(r.API, well);  // the table cuts it to its field size, not the walk
  EXPECT_EQ(r.LogMnems, "GR SP");
  EXPECT_EQ(r.Measure, "");
  EXPECT_EQ(r.IndexUOM, "M");
  EXPECT_EQ(r.TLI, -125);
  EXPECT_EQ(r.BLI, 1000);
  EXPECT_EQ(r.TIFF_FileName, tree_.Path("sub/log.tif"));
  EXPECT_EQ(r.LIC_FileName, tree_.Path("sub/One.Lic"));
  EXPECT_EQ(lines_, (Lines{FolderLine(tree_.Root()), FolderLine(tree_.Path("sub")),
                           "UWI=" + well + "  GROUP=GR SP                 LIC=One.Lic",
                           "1 Records Added to Database"}));
  EXPECT_EQ(LicLine("W", "G", "a.lic"),
            "UWI=W                 GROUP=G                     LIC=a.lic");
}

TEST_F(LicWalkTest, RelativeAndAbsoluteRootsWalkAlikeAndEndAtTheParent) {
  tree_.Dir("top/a");
  tree_.File("top/a/i.tif", "");
  tree_.File("top/a/x.lic", UsableLic("w", "i.tif"));
  tree_.File("top/y.lic", UsableLic("v", "a/i.tif"));  // name part only: no i.tif in top
  Lines absolute = Walk(tree_.Path("top"));
  EXPECT_EQ(platform::CurrentDirectory(), test::PhysicalPath(tree_.Root()));
  for (const char* relative : {"top", "./top/", "top/a/.."}) {
    ASSERT_TRUE(platform::SetCurrentDirectory(tree_.Root()));
    Lines lines = Walk(relative);
    // Only a final "/" of the root's text shows in the lines.
    for (std::string& line : lines) {
      if (line == FolderLine(tree_.Path("top") + "/")) line = FolderLine(tree_.Path("top"));
    }
    EXPECT_EQ(lines, absolute) << relative;
    ASSERT_EQ(records_.size(), 1u);
    EXPECT_EQ(records_[0].LIC_FileName, tree_.Path("top/a/x.lic"));
    EXPECT_EQ(platform::CurrentDirectory(), test::PhysicalPath(tree_.Root())) << relative;
  }
  ASSERT_TRUE(platform::SetCurrentDirectory(tree_.Root()));
  lines_.clear();
  TLicWalk walk(events_, ".");
  walk.FindLICInFolder("top");
  EXPECT_EQ(lines_, Lines(absolute.begin(), absolute.end() - 1));
}

TEST_F(LicWalkTest, RootThatIsNoDirectoryGivesTheTwoLinesOnly) {
  tree_.File("file.lic", "");
  ASSERT_TRUE(platform::SetCurrentDirectory(tree_.Root()));
  for (const std::string& root : {" " + tree_.Root(), tree_.Root() + "/none", std::string(),
                                  tree_.Path("file.lic"), std::string("file.lic")}) {
    EXPECT_EQ(Walk(root), (Lines{"Root Directory Does NOT Exist", root})) << root;
    EXPECT_EQ(added_, 0);
    EXPECT_EQ(pending_calls_, 0);
  }
  EXPECT_EQ(platform::CurrentDirectory(), test::PhysicalPath(tree_.Root()));
}

TEST_F(LicWalkTest, PendingEventsAreProcessedOncePerSubdirectoryBeforeItIsWalked) {
  tree_.Dir("a/b");
  tree_.Dir("c");
  std::vector<size_t> lines_at_call;
  events_.OnProcessMessages = [&] { lines_at_call.push_back(lines_.size()); };
  Walk(tree_.Root());
  ASSERT_EQ(lines_at_call.size(), 3u);
  for (size_t at : lines_at_call) {
    // Each call comes right before the line of the directory it precedes.
    ASSERT_LT(at, lines_.size());
    EXPECT_EQ(lines_[at].rfind("======> ", 0), 0u) << lines_[at];
    EXPECT_NE(lines_[at], FolderLine(tree_.Root()));
  }
}

TEST_F(LicWalkTest, LinkLoopsEndAndOtherLinksAreFollowed) {
  tree_.Dir("a/b");
  tree_.File("a/i.tif", "");
  tree_.File("a/x.lic", UsableLic("w", "i.tif"));
  tree_.Link("a/b/up", tree_.Root());         // back to the root: a loop
  tree_.Link("a/b/self", tree_.Path("a/b"));  // to itself
  tree_.Dir("c");
  tree_.Link("c/side", tree_.Path("a"));  // to a directory off the path: walked again
  tree_.Link("dangling", tree_.Path("none"));
  Walk(tree_.Root());
  EXPECT_EQ(added_, 2);
  ASSERT_EQ(records_.size(), 2u);
  std::vector<std::string> lics = {records_[0].LIC_FileName, records_[1].LIC_FileName};
  std::sort(lics.begin(), lics.end());
  EXPECT_EQ(lics, (std::vector<std::string>{tree_.Path("a/x.lic"), tree_.Path("c/side/x.lic")}));
  for (const char* entered : {"a/b/up", "a/b/self", "c/side/b/self", "dangling"}) {
    EXPECT_EQ(std::count(lines_.begin(), lines_.end(), FolderLine(tree_.Path(entered))), 0)
        << entered;
  }
  // c/side/b/up leads to the root, which is on the path.
  EXPECT_EQ(std::count(lines_.begin(), lines_.end(), FolderLine(tree_.Path("c/side/b/up"))), 0);
  EXPECT_EQ(std::count(lines_.begin(), lines_.end(), FolderLine(tree_.Path("c/side/b"))), 1);
}

TEST_F(LicWalkTest, ALinkedDirectoryStepsBackToTheParentItWasReachedFrom) {
  test::TempTree outside;
  std::string target = outside.Dir("deep/target");
  outside.File("deep/target/i.tif", "");
  outside.File("deep/target/t.lic", UsableLic("t", "i.tif"));
  tree_.Link("link", target);
  tree_.File("i.tif", "");
  TLicWalk walk(events_, ".");
  walk.FindLICInFolder(tree_.Path("link"));
  // Not the link target's parent, deep/: the directory the link is in.
  EXPECT_EQ(platform::CurrentDirectory(), test::PhysicalPath(tree_.Root()));
  ASSERT_EQ(records_.size(), 1u);
  EXPECT_EQ(records_[0].LIC_FileName, tree_.Path("link/t.lic"));
  // LIC files met after the link are read from the right directory.
  for (int i = 0; i < 20; ++i)
    tree_.File("r" + std::to_string(i) + ".lic", UsableLic("r", "i.tif"));
  Walk(tree_.Root());
  EXPECT_EQ(added_, 21);
}

TEST_F(LicWalkTest, GroupErrorEndsTheWalkAndALaterWalkStartsClean) {
  tree_.Dir("sub");
  tree_.File("sub/i.tif", "");
  tree_.File("sub/bad.lic", "WELL,w\nGROUP,only-two\nFILE,i.tif\n");
  TLicWalk walk(events_, ".");
  try {
    walk.SearchForLICS(tree_.Root());
    FAIL() << "no error";
  } catch (const EListError& error) {
    EXPECT_STREQ(error.what(), "List index out of bounds (2)");
  }
  EXPECT_EQ(lines_, (Lines{FolderLine(tree_.Root()), FolderLine(tree_.Path("sub"))}));
  EXPECT_EQ(walk.AddedCount(), 0);
  // The walk stopped where it stood.
  EXPECT_EQ(platform::CurrentDirectory(), test::PhysicalPath(tree_.Path("sub")));
  tree_.File("sub/bad.lic", "WELL,w\nGROUP,1,g\nFILE,i.tif\n");
  lines_.clear();
  walk.SearchForLICS(tree_.Root());
  EXPECT_EQ(lines_.size(), 4u);
  EXPECT_EQ(walk.AddedCount(), 1);
}

TEST_F(LicWalkTest, ProcessLicOutsideAWalkNamesTheFileFromTheCurrentDirectory) {
  tree_.Dir("walked");
  std::string other = tree_.Dir("other");
  tree_.File("other/i.tif", "");
  tree_.File("other/x.lic", UsableLic("w", "i.tif"));
  TLicWalk walk(events_, ".");
  walk.SearchForLICS(tree_.Path("walked"));
  ASSERT_TRUE(platform::SetCurrentDirectory(other));
  walk.ProcessLIC("x.lic");
  ASSERT_EQ(records_.size(), 1u);
  EXPECT_EQ(records_[0].LIC_FileName, test::PhysicalPath(other) + "/x.lic");
  EXPECT_EQ(walk.AddedCount(), 1);
}

TEST_F(LicWalkTest, RefusedRecordEndsTheWalkUncounted) {
  tree_.File("i.tif", "");
  tree_.File("a.lic", UsableLic("w", "i.tif"));
  events_.OnAddRecord = [](const TCatalogRecord&) { throw std::runtime_error("refused"); };
  TLicWalk walk(events_, ".");
  walk.SetAddedCount(5);
  EXPECT_THROW(walk.SearchForLICS(tree_.Root()), std::runtime_error);
  EXPECT_EQ(walk.AddedCount(), 5);
  EXPECT_EQ(lines_.back(), LicLine("w", "GR", "a.lic"));
}

TEST_F(LicWalkTest, UnreadableLicFileIsAnInputOutputErrorNamingItsPath) {
  tree_.File("a.lic", "WELL,w\n");
  platform::FaultFileSystem faulty(platform::PosixFileSystem());
  platform::SetFileSystem(&faulty);
  faulty.FailNth(platform::FaultFileSystem::Operation::Read, 1, true);
  try {
    Walk(tree_.Root());
    ADD_FAILURE() << "no error";
  } catch (const EInOutError& error) {
    EXPECT_EQ(std::string(error.what()), "Input/output error: " + tree_.Path("a.lic"));
  }
  platform::SetFileSystem(nullptr);
  ASSERT_TRUE(platform::SetCurrentDirectory(tree_.Root()));
  TLicWalk walk(events_, ".");
  EXPECT_THROW(walk.ProcessLIC("gone.lic"), EInOutError);
}

TEST_F(LicWalkTest, UnreadableDirectoryIsAnInputOutputError) {
  std::string locked = tree_.Dir("locked");
  std::filesystem::permissions(locked, std::filesystem::perms::none);
  std::vector<platform::DirEntry> entries;
  bool still_readable = platform::ListDirectory(locked, platform::ListOptions(), &entries);
  if (!still_readable) {
    try {
      Walk(tree_.Root());
      ADD_FAILURE() << "no error";
    } catch (const EInOutError& error) {
      EXPECT_EQ(error.ErrorCode, EACCES);
      EXPECT_EQ(std::string(error.what()), "Permission denied: " + locked);
    }
  }
  std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
  if (still_readable) GTEST_SKIP() << "permissions do not bind this user";
}

}  // namespace
}  // namespace vevura::app
