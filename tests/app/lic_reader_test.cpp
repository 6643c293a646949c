#include "app/lic_reader.h"

#include <cerrno>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "app/run_errors.h"
#include "tests/app/temp_tree.h"
#include "tests/support/fault_file_system.h"

namespace vevura::app {
namespace {

TLicValues Read(std::string_view text) {
  return TLicReader(".").ReadText(text);
}

bool SameValues(const TLicValues& a, const TLicValues& b) {
  return a.File == b.File && a.Well == b.Well && a.Group == b.Group && a.DepthType == b.DepthType &&
         a.DepthUnit == b.DepthUnit && a.Top == b.Top && a.Bottom == b.Bottom;
}

TEST(LicReader, GathersEveryKeywordInAnyLetterCase) {
  TLicValues v = Read(
      "file,\"C:\\Logs\\A 1.TIF\"\r\n"
      "Well,42-001-00001\r\n"
      "gRoUp,7,GR-SP\r\n"
      "DepthType,1\r\n"
      "DEPTHUNITS,0\r\n"
      "Deppix,100.5,20\r\n"
      "DEPPIX,900,4000\r\n");
  EXPECT_EQ(v.File, "C:\\Logs\\A 1.TIF");
  EXPECT_EQ(v.Well, "42-001-00001");
  EXPECT_EQ(v.Group, "GR-SP");
  EXPECT_EQ(v.DepthType, "TVD");
  EXPECT_EQ(v.DepthUnit, "F");
  EXPECT_EQ(v.Top, 100.5);
  EXPECT_EQ(v.Bottom, 900);
}

TEST(LicReader, OnlyLettersAToZAreUpperCasedAndOtherLinesAreIgnored) {
  // "\xE9" is not a letter to upper-case, "\xA0" is not a blank, and a
  // keyword line needs a second item.
  TLicValues v = Read(
      "WELL\xA0,x\nW\xC9LL,y\nWELL\nFILE\nGROUP\nWELLS,z\nREMARK,a,b,c\n"
      "DEPTHTYPE,0\nWELL,real\n");
  EXPECT_EQ(v.Well, "real");
  EXPECT_EQ(v.File, "");
  EXPECT_EQ(v.Group, "");
  EXPECT_EQ(v.DepthType, "MD");
}

TEST(LicReader, LastOccurrenceWinsAndOddCodesKeepTheValue) {
  TLicValues v = Read(
      "WELL,first\nWELL,second\nFILE,a.tif\nFILE,b.tif\n"
      "DEPTHTYPE,0\nDEPTHTYPE,2\nDEPTHTYPE, 1\nDEPTHTYPE,01\n"
      "DEPTHUNITS,1\nDEPTHUNITS,0\nDEPTHUNITS,F\n"
      "GROUP,x,g1\nGROUP,x,g2,extra\n");
  EXPECT_EQ(v.Well, "second");
  EXPECT_EQ(v.File, "b.tif");
  EXPECT_EQ(v.DepthType, "TVD");  // " 1" is the item 1 once blanks are skipped
  EXPECT_EQ(v.DepthUnit, "F");
  EXPECT_EQ(v.Group, "g2");
  TLicValues odd = Read("DEPTHTYPE,2\nDEPTHUNITS,\"0 \"\n");
  EXPECT_EQ(odd.DepthType, "");
  EXPECT_EQ(odd.DepthUnit, "");
  EXPECT_EQ(Read("FILE = X\n").File, "=");
  EXPECT_EQ(Read("FILE,C:\\My Logs\\A.TIF\n").File, "C:\\My");
  EXPECT_EQ(Read("GROUP,a,\n").Group, "");
}

TEST(LicReader, TopIsTheFirstNonZeroDepthAndBottomTheLast) {
  TLicValues a = Read("DEPPIX,0,1\nDEPPIX,0,2\nDEPPIX,120.5,3\nDEPPIX,300,4\n");
  EXPECT_EQ(a.Top, 120.5);
  EXPECT_EQ(a.Bottom, 300);
  TLicValues b = Read("DEPPIX,120.5,1\nDEPPIX,300,2\nDEPPIX,0,3\n");
  EXPECT_EQ(b.Top, 120.5);
  EXPECT_EQ(b.Bottom, 0);
  TLicValues none = Read("WELL,x\n");
  EXPECT_EQ(none.Top, 0);
  EXPECT_EQ(none.Bottom, 0);
  // Non-numeric depths count as 0; the order is never sorted.
  TLicValues c = Read("DEPPIX,abc\nDEPPIX,5e2\nDEPPIX,1,000\nDEPPIX,-3\nDEPPIX,12.5ft\n");
  EXPECT_EQ(c.Top, 500);
  EXPECT_EQ(c.Bottom, 0);
  TLicValues d = Read("DEPPIX,900\nDEPPIX,100\n");
  EXPECT_EQ(d.Top, 900);
  EXPECT_EQ(d.Bottom, 100);
}

TEST(LicReader, DepthsUseTheReadersDecimalSeparator) {
  TLicReader comma(",");
  TLicValues v = comma.ReadText("DEPPIX,\"12,75\",1\nDEPPIX,1,5\nDEPPIX,2.5\n");
  EXPECT_EQ(v.Top, 12.75);
  EXPECT_EQ(v.Bottom, 0);                               // "2.5" is no number with ","
  EXPECT_EQ(comma.ReadText("DEPPIX,1,5\n").Bottom, 1);  // unquoted, "1,5" is two items
  EXPECT_EQ(Read("DEPPIX,\"12,75\"\n").Top, 0);
}

TEST(LicReader, LineEndsAndCtrlZ) {
  TLicValues v = Read("WELL,a\r\nFILE,b\nGROUP,x,c\r\n\r\n\nDEPPIX,5");
  EXPECT_EQ(v.Well, "a");
  EXPECT_EQ(v.File, "b");
  EXPECT_EQ(v.Group, "c");
  EXPECT_EQ(v.Top, 5);  // the last line needs no line end
  // Ctrl-Z ends the file, also in the middle of a line.
  TLicValues z = Read("WELL,a\nFILE,b\x1a tail\nWELL,after\nGROUP,x,y\n");
  EXPECT_EQ(z.Well, "a");
  EXPECT_EQ(z.File, "b");
  EXPECT_EQ(z.Group, "");
  EXPECT_EQ(Read("\x1aWELL,a\n").Well, "");
  // A lone CR is a blank, not a line end.
  TLicValues cr = Read("WELL,a\rFILE,b\n");
  EXPECT_EQ(cr.Well, "a");
  EXPECT_EQ(cr.File, "");
}

TEST(LicReader, NulAndEightBitCharactersAreKept) {
  using namespace std::string_literals;
  TLicValues v = Read("WELL,A\0B\nGROUP,\0,\"\xE9t\xE9 \0\"\nFILE,\xFF.tif\n"s);
  EXPECT_EQ(v.Well, std::string("A\0B", 3));
  EXPECT_EQ(v.Group, std::string("\xE9t\xE9 \0", 5));
  EXPECT_EQ(v.File, "\xFF.tif");
}

TEST(LicReader, GroupLineWithExactlyTwoItemsIsAListError) {
  TLicReader reader(".");
  try {
    reader.ReadText("WELL,a\nGROUP,only\nFILE,b\n");
    FAIL() << "no error";
  } catch (const EListError& error) {
    EXPECT_STREQ(error.what(), "List index out of bounds (2)");
    EXPECT_EQ(error.Index, 2);
  }
  // One item is fewer than two: ignored. The reader is usable after an error.
  TLicValues v = reader.ReadText("GROUP\nGROUP,,g\n");
  EXPECT_EQ(v.Group, "g");
  EXPECT_EQ(v.Well, "");
}

TEST(LicReader, ReadsFilesOfAnyLineLengthAcrossItsBuffer) {
  test::TempTree tree;
  // A CR LF split over the 64 KiB read buffer, and a 300 KB value.
  std::string first = "REMARK," + std::string(64 * 1024 - 8, 'r') + "\r\n";
  std::string well(300000, 'w');
  std::string text = first + "WELL," + well + "\r\nGROUP,1,g\r\nFILE,\"" + std::string(70000, 'f') +
                     "\"\nDEPPIX,7\x1a"
                     "DEPPIX,9\n";
  std::string path = tree.File("long.lic", text);
  TLicReader reader(".");
  TLicValues v = reader.ReadFile(path);
  EXPECT_EQ(v.Well, well);
  EXPECT_EQ(v.Group, "g");
  EXPECT_EQ(v.File, std::string(70000, 'f'));
  EXPECT_EQ(v.Top, 7);
  EXPECT_EQ(v.Bottom, 7);
  // The same reader starts every file afresh.
  TLicValues next = reader.ReadFile(tree.File("short.lic", "WELL,x\n"));
  EXPECT_EQ(next.Well, "x");
  EXPECT_EQ(next.Group, "");
  EXPECT_EQ(next.Top, 0);
}

TEST(LicReader, BuffersHoldAFewBytesPerCharacterOfTheLongestLine) {
  test::TempTree tree;
  TLicReader reader(".");
  const size_t kReadBuffer = 64 * 1024;
  // 2 MB of commas: one empty item per comma, of which only the first matter.
  std::string commas = "WELL,w" + std::string(2 << 20, ',') + "\r\nFILE,f\n";
  TLicValues v = reader.ReadFile(tree.File("commas.lic", commas));
  EXPECT_EQ(v.Well, "w");
  EXPECT_EQ(v.File, "f");
  EXPECT_LE(reader.BufferBytes(), kReadBuffer + 3 * commas.size());
  EXPECT_EQ(reader.ReadText(commas).Well, "w");
  EXPECT_LE(reader.BufferBytes(), kReadBuffer + 3 * commas.size());
  // Twenty items of 100 KB each, quoted and plain.
  std::string group = "GROUP";
  for (char c = 'a'; c < 'a' + 20; ++c) {
    std::string item(100000, c);
    group += c % 2 ? ",\"" + item + "\"" : "," + item;
  }
  v = reader.ReadFile(tree.File("items.lic", group + "\nWELL,x\n"));
  EXPECT_EQ(v.Group, std::string(100000, 'b'));
  EXPECT_EQ(v.Well, "x");
  EXPECT_LE(reader.BufferBytes(), kReadBuffer + 3 * commas.size());
}

TEST(LicReader, UnreadableFilesAreInputOutputErrors) {
  test::TempTree tree;
  TLicReader reader(".");
  std::string missing = tree.Path("missing.lic");
  try {
    reader.ReadFile(missing);
    FAIL() << "no error";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.ErrorCode, ENOENT);
    EXPECT_EQ(std::string(error.what()), "No such file or directory: " + missing);
  }
  std::string path = tree.File("a.lic", "WELL,a\n");
  platform::FaultFileSystem faulty(platform::PosixFileSystem());
  platform::SetFileSystem(&faulty);
  faulty.FailNth(platform::FaultFileSystem::Operation::Read, 1);
  try {
    reader.ReadFile(path);
    ADD_FAILURE() << "no error";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.ErrorCode, EIO);
    EXPECT_EQ(std::string(error.what()), "Input/output error: " + path);
  }
  platform::SetFileSystem(nullptr);
  EXPECT_EQ(reader.ReadFile(path).Well, "a");
}

//! Random text from an alphabet rich in what the reader treats specially.
std::string RandomLicText(std::mt19937& random, size_t length) {
  static const std::vector<std::string> kPieces = {
      "FILE",   "WELL",   "GROUP", "DEPTHTYPE", "DEPTHUNITS",
      "DEPPIX", "deppix", ",",     ",",         "\"",
      "\"\"",   " ",      "\t",    "\r\n",      "\n",
      "\r",     "0",      "1",     "-",         "+",
      "e",      ".",      "12.5",  "9e999",     std::string(1, '\0'),
      "\x1a",   "\xE9",   "\xFF",  "{",         "\\",
      ":",      "/",      "x"};
  std::string text;
  while (text.size() < length) {
    if (random() % 4 == 0) {
      text.push_back(static_cast<char>(random() % 256));
    } else {
      text += kPieces[random() % kPieces.size()];
    }
  }
  return text;
}

//! Random keyword lines, some very long, with both line ends; GROUP lines
//! always carry their third item.
std::string RandomLicLines(std::mt19937& random, size_t length) {
  static const char* const kKeywords[] = {"FILE",       "WELL",   "GROUP", "DEPTHTYPE",
                                          "DEPTHUNITS", "DEPPIX", "file",  "REMARK"};
  std::string text;
  while (text.size() < length) {
    const char* keyword = kKeywords[random() % 8];
    text += keyword;
    size_t items = 1 + random() % 3 + (std::string_view(keyword) == "GROUP" ? 2 : 0);
    for (size_t i = 0; i < items; ++i) {
      text += ',';
      size_t size = random() % 50 == 0 ? 30000 + random() % 50000 : random() % 12;
      bool quoted = random() % 3 == 0;
      if (quoted) text += '"';
      for (size_t k = 0; k < size; ++k) {
        char c = static_cast<char>('0' + random() % 60);
        text += c;
      }
      if (quoted) text += '"';
    }
    text += random() % 2 ? "\r\n" : "\n";
  }
  return text;
}

TEST(LicReader, RandomBytesNeverCrashAndFilesReadAsTheirText) {
  std::mt19937 random(20240611);
  TLicReader reader(".");
  for (int i = 0; i < 20000; ++i) {
    std::string text = RandomLicText(random, random() % 400);
    try {
      TLicValues v = reader.ReadText(text);
      EXPECT_LE(v.File.size() + v.Well.size() + v.Group.size(), 3 * text.size());
    } catch (const EListError& error) {
      EXPECT_EQ(error.Index, 2);
    }
  }
  // Read in chunks from a file, a text gives what it gives read whole.
  test::TempTree tree;
  for (int i = 0; i < 12; ++i) {
    std::string text = RandomLicLines(random, 100000 + random() % 100000);
    std::string path = tree.File("r.lic", text);
    TLicValues whole = reader.ReadText(text);
    TLicValues file = reader.ReadFile(path);
    EXPECT_TRUE(SameValues(whole, file)) << i;
    EXPECT_FALSE(whole.Well.empty() && whole.File.empty() && whole.Group.empty()) << i;
  }
}

}  // namespace
}  // namespace vevura::app
