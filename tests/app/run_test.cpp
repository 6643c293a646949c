// The run's checks, list lines, list file and the dry-run driver.

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/dry_run.h"
#include "app/list_file.h"
#include "app/run_errors.h"
#include "app/run_list.h"
#include "app/run_validation.h"
#include "platform/directory.h"
#include "platform/file_system.h"
#include "tests/app/temp_tree.h"

namespace vevura::app {
namespace {

TEST(RunValidation, TrimRemovesBlanksAndControlCharactersAtBothEndsOnly) {
  EXPECT_EQ(TrimField("  /a b/c \t\r\n"), "/a b/c");
  EXPECT_EQ(TrimField(std::string("\0\x1f x\x7f\xA0 ", 7)), "x\x7f\xA0");
  EXPECT_EQ(TrimField(" \t "), "");
  EXPECT_EQ(TrimField(""), "");
}

TEST(RunValidation, TheFirstFailingCheckGivesItsMessage) {
  test::TempTree tree;
  std::string dir = tree.Dir("d");
  std::string file = tree.File("f", "");
  TRunDirectories dirs;
  EXPECT_EQ(ValidateRunDirectories(" \t", "", &dirs), "Missing \"Root\" Directory");
  EXPECT_EQ(ValidateRunDirectories(file, "", &dirs), "Invalid \"Root\" Directory");
  EXPECT_EQ(ValidateRunDirectories(dir + "/none", dir, &dirs), "Invalid \"Root\" Directory");
  EXPECT_EQ(ValidateRunDirectories(dir, "  ", &dirs), "Missing \"Catalog\" Directory");
  EXPECT_EQ(ValidateRunDirectories(dir, file, &dirs), "Invalid \"Catalog\" Directory");
  EXPECT_TRUE(dirs.RootDir.empty() && dirs.CatalogDir.empty());
  EXPECT_EQ(ValidateRunDirectories("  " + dir + " ", "\t" + tree.Root() + "\n", &dirs), "");
  EXPECT_EQ(dirs.RootDir, dir);
  EXPECT_EQ(dirs.CatalogDir, tree.Root());
  EXPECT_EQ(dirs.CatalogPath, tree.Root());
}

TEST(RunValidation, RelativeCatalogIsFixedAsAFullPathBeforeTheWalkMoves) {
  test::CurrentDirectoryGuard guard;
  test::TempTree tree;
  tree.Dir("cat");
  ASSERT_TRUE(platform::SetCurrentDirectory(tree.Root()));
  TRunDirectories dirs;
  ASSERT_EQ(ValidateRunDirectories(".", " cat ", &dirs), "");
  EXPECT_EQ(dirs.CatalogDir, "cat");
  EXPECT_EQ(dirs.CatalogPath, tree.Path("cat"));
}

TEST(RunList, LinesOfTheList) {
  EXPECT_EQ(RootDirLine("/logs"), "Root Dir   : /logs");
  EXPECT_EQ(CatalogDirLine("/cat"), "Catalog Dir: /cat");
  EXPECT_EQ(FolderLine("/logs/a"), "======> /logs/a");
  EXPECT_EQ(RecordsAddedLine(0), "0 Records Added to Database");
  EXPECT_EQ(RecordsAddedLine(123456), "123456 Records Added to Database");
  // Padded, never cut, two blanks between columns.
  EXPECT_EQ(LicLine("", "", ""), "UWI=                  GROUP=                      LIC=");
  EXPECT_EQ(LicLine("1234567890123456", "12345678901234567890", "x.lic"),
            "UWI=1234567890123456  GROUP=12345678901234567890  LIC=x.lic");
  EXPECT_EQ(LicLine("12345678901234567", "123456789012345678901", "x.lic"),
            "UWI=12345678901234567  GROUP=123456789012345678901  LIC=x.lic");
  using namespace std::string_literals;
  EXPECT_EQ(LicLine("a\0b"s, "g", "l").size(), 4 + 16 + 8 + 20 + 6 + 1u);
}

TEST(ListFile, SavedOnlyAfterARecordWithCrLfLinesReplacingAnOldFile) {
  EXPECT_FALSE(ShouldSaveList(0));
  EXPECT_TRUE(ShouldSaveList(1));
  test::CurrentDirectoryGuard guard;
  test::TempTree tree;
  std::string cat = tree.Dir("cat");
  tree.File("cat/Tornip.txt", std::string(1000, 'o'));
  SaveListFile(cat, {"Root Dir   : /r", "", "1 Records Added to Database"});
  EXPECT_EQ(test::ReadWholeFile(cat + "/Tornip.txt"),
            "Root Dir   : /r\r\n\r\n1 Records Added to Database\r\n");
  EXPECT_EQ(platform::CurrentDirectory(), test::PhysicalPath(cat));
  SaveListFile(cat + "/", {});
  EXPECT_EQ(test::ReadWholeFile(cat + "/Tornip.txt"), "");
  EXPECT_THROW(SaveListFile(tree.Path("none"), {"x"}), EInOutError);
}

class DryRunTest : public testing::Test {
 protected:
  int Run(const std::string& root, const std::string& catalog) {
    out_.str("");
    err_.str("");
    return RunDryRun(root, catalog, out_, err_);
  }
  std::vector<std::string> OutLines() const {
    std::vector<std::string> lines;
    std::istringstream in(out_.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  test::CurrentDirectoryGuard guard_;
  test::TempTree tree_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(DryRunTest, FailedChecksPrintTheirMessageOnly) {
  EXPECT_EQ(Run("", tree_.Root()), 1);
  EXPECT_EQ(err_.str(), "Missing \"Root\" Directory\n");
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(Run(tree_.Root(), tree_.Path("none")), 1);
  EXPECT_EQ(err_.str(), "Invalid \"Catalog\" Directory\n");
  EXPECT_EQ(out_.str(), "");
}

TEST_F(DryRunTest, EmptyTreeGivesFourLinesAndWritesNothing) {
  std::string root = tree_.Dir("root");
  std::string cat = tree_.Dir("cat");
  EXPECT_EQ(Run(root, cat), 0);
  EXPECT_EQ(OutLines(),
            (std::vector<std::string>{"Root Dir   : " + root, "Catalog Dir: " + cat,
                                      "======> " + root, "0 Records Added to Database"}));
  EXPECT_EQ(err_.str(), "");
  std::vector<platform::DirEntry> entries;
  ASSERT_TRUE(platform::ListDirectory(cat, platform::ListOptions(), &entries));
  EXPECT_TRUE(entries.empty());
}

TEST_F(DryRunTest, BlanksAroundTheRootPassTheCheckButNotTheWalk) {
  std::string root = tree_.Dir("root");
  EXPECT_EQ(Run(" " + root, tree_.Root()), 0);
  EXPECT_EQ(OutLines(),
            (std::vector<std::string>{"Root Dir   : " + root, "Catalog Dir: " + tree_.Root(),
                                      "Root Directory Does NOT Exist", " " + root}));
}

TEST_F(DryRunTest, CountsUsableLicsAndStopsAtAnError) {
  std::string root = tree_.Dir("root");
  tree_.File("root/i.tif", "");
  tree_.File("root/a.lic", "WELL,w\nGROUP,1,g\nFILE,i.tif\n");
  EXPECT_EQ(Run(root, root), 0);
  std::vector<std::string> lines = OutLines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[3], LicLine("w", "g", "a.lic"));
  EXPECT_EQ(lines[4], "1 Records Added to Database");
  EXPECT_FALSE(platform::FileExists(root + "/Tornip.txt"));
  tree_.File("root/a.lic", "GROUP,x\n");
  EXPECT_EQ(Run(root, root), 1);
  EXPECT_EQ(err_.str(), "List index out of bounds (2)\n");
  EXPECT_EQ(OutLines().size(), 3u);
}

}  // namespace
}  // namespace vevura::app
