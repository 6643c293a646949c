#include "platform/profile.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/platform/platform_test_support.h"

namespace vevura::platform {
namespace {

using testing::ScratchDir;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Put(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

size_t EntriesIn(const std::string& dir) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

TEST(Profile, RoundTripThroughNewFileUpdatesAndSections) {
  ScratchDir dir;
  const std::string ini = dir / "TORNIP.INI";
  EXPECT_EQ(ReadProfileString(ini, "DEFAULTS", "ROOTDIR", "none"), "none");
  ASSERT_TRUE(WriteProfileString(ini, "DEFAULTS", "ROOTDIR", "/data/logs"));
  EXPECT_EQ(Slurp(ini), "[DEFAULTS]\nROOTDIR=/data/logs\n");
  ASSERT_TRUE(WriteProfileString(ini, "DEFAULTS", "CATALOGDIR", "/data/cat alog"));
  ASSERT_TRUE(WriteProfileString(ini, "defaults", "rootdir", "/other"));
  ASSERT_TRUE(WriteProfileString(ini, "SECOND", "ROOTDIR", "second"));
  EXPECT_EQ(ReadProfileString(ini, "DEFAULTS", "ROOTDIR", ""), "/other");
  EXPECT_EQ(ReadProfileString(ini, "Defaults", "CatalogDir", ""), "/data/cat alog");
  EXPECT_EQ(ReadProfileString(ini, "SECOND", "ROOTDIR", ""), "second");
  EXPECT_EQ(ReadProfileString(ini, "SECOND", "CATALOGDIR", "dflt"), "dflt");
  EXPECT_EQ(ReadProfileString(ini, "THIRD", "ROOTDIR", "dflt"), "dflt");
  EXPECT_EQ(Slurp(ini),
            "[DEFAULTS]\nROOTDIR=/other\nCATALOGDIR=/data/cat alog\n\n[SECOND]\nROOTDIR=second\n");
  // Values are stored as they are: "=" and ";" inside a value survive.
  ASSERT_TRUE(WriteProfileString(ini, "SECOND", "EXPR", "a=b;c"));
  EXPECT_EQ(ReadProfileString(ini, "SECOND", "EXPR", ""), "a=b;c");
  ASSERT_TRUE(WriteProfileString(ini, "SECOND", "EMPTY", ""));
  EXPECT_EQ(ReadProfileString(ini, "SECOND", "EMPTY", "dflt"), "");
  EXPECT_EQ(EntriesIn(dir.path()), 1u);  // no temporary file left behind
}

TEST(Profile, UpdatesKeepEveryOtherLine) {
  ScratchDir dir;
  const std::string ini = dir / "app.ini";
  Put(ini,
      "; settings\n[DEFAULTS]\nROOTDIR = /old \nOTHER=keep me\n\n[LATER]\nROOTDIR=later\n"
      "junk line\n");
  EXPECT_EQ(ReadProfileString(ini, "DEFAULTS", "ROOTDIR", ""), "/old");
  EXPECT_EQ(ReadProfileString(ini, "LATER", "ROOTDIR", ""), "later");
  ASSERT_TRUE(WriteProfileString(ini, "DEFAULTS", "ROOTDIR", "/new"));
  ASSERT_TRUE(WriteProfileString(ini, "DEFAULTS", "ADDED", "1"));
  EXPECT_EQ(Slurp(ini),
            "; settings\n[DEFAULTS]\nROOTDIR=/new\nOTHER=keep me\nADDED=1\n\n[LATER]\n"
            "ROOTDIR=later\njunk line\n");
  ASSERT_TRUE(WriteProfileString(ini, "LATER", "NEXT", "2"));
  EXPECT_EQ(ReadProfileString(ini, "LATER", "NEXT", ""), "2");
  EXPECT_EQ(ReadProfileString(ini, "DEFAULTS", "NEXT", "none"), "none");
}

TEST(Profile, ReadsAndExtendsCrLfFilesAndFilesWithoutFinalNewline) {
  ScratchDir dir;
  const std::string ini = dir / "dos.ini";
  Put(ini, "[DEFAULTS]\r\nROOTDIR=C:/logs\r\n");
  EXPECT_EQ(ReadProfileString(ini, "DEFAULTS", "ROOTDIR", ""), "C:/logs");
  ASSERT_TRUE(WriteProfileString(ini, "DEFAULTS", "CATALOGDIR", "D:/cat"));
  EXPECT_EQ(Slurp(ini), "[DEFAULTS]\r\nROOTDIR=C:/logs\r\nCATALOGDIR=D:/cat\r\n");

  const std::string bare = dir / "bare.ini";
  Put(bare, "[A]\nK=v");
  ASSERT_TRUE(WriteProfileString(bare, "B", "K", "w"));
  EXPECT_EQ(Slurp(bare), "[A]\nK=v\n\n[B]\nK=w\n");
  EXPECT_EQ(ReadProfileString(bare, "A", "K", ""), "v");
}

TEST(Profile, RefusesWhatWouldBreakTheFileAndLeavesItAlone) {
  ScratchDir dir;
  const std::string ini = dir / "app.ini";
  Put(ini, "[S]\nK=v\n");
  EXPECT_FALSE(WriteProfileString(ini, "S", "K", "two\nlines"));
  EXPECT_FALSE(WriteProfileString(ini, "S", "K", "cr\r"));
  EXPECT_FALSE(WriteProfileString(ini, "S", "", "v"));
  EXPECT_FALSE(WriteProfileString(ini, "", "K", "v"));
  EXPECT_FALSE(WriteProfileString(ini, "S]", "K", "v"));
  EXPECT_FALSE(WriteProfileString(ini, "S", "A=B", "v"));
  EXPECT_FALSE(WriteProfileString(ini, "S", "[K", "v"));
  EXPECT_EQ(Slurp(ini), "[S]\nK=v\n");

  // A settings file that cannot be read is not replaced by a fresh one.
  ASSERT_TRUE(std::filesystem::create_directory(dir / "adir"));
  EXPECT_FALSE(WriteProfileString(dir / "adir", "S", "K", "v"));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "adir"));
  EXPECT_FALSE(WriteProfileString(dir / "missing/app.ini", "S", "K", "v"));
}

TEST(Profile, ReplacingKeepsModeAndSymbolicLink) {
  ScratchDir dir;
  const std::string ini = dir / "real.ini";
  Put(ini, "[S]\nK=v\n");
  ASSERT_EQ(::chmod(ini.c_str(), 0640), 0);
  ASSERT_EQ(::symlink(ini.c_str(), (dir / "link.ini").c_str()), 0);
  ASSERT_TRUE(WriteProfileString(dir / "link.ini", "S", "K", "w"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.ini"));
  EXPECT_EQ(ReadProfileString(ini, "S", "K", ""), "w");
  struct stat st;
  ASSERT_EQ(::stat(ini.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

}  // namespace
}  // namespace vevura::platform
