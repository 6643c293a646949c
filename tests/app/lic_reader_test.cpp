#include "app/lic_reader.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/comma_list.h"
#include "app/run_errors.h"
#include "platform/directory.h"
#include "platform/file_system.h"
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

// The mutation loop -------------------------------------------------------

//! LIC files as scanning software writes them, and a few of their variants.
std::vector<std::string> FuzzSeeds() {
  std::string scanned =
      "FILE,\"C:\\SCANS\\IMG00017.TIF\"\r\nWELL,42-100017-00\r\nGROUP,1,\"GR SP ILD\"\r\n"
      "DEPTHTYPE,0\r\nDEPTHUNITS,0\r\nSCALE,1,240\r\nCOMPANY,\"Survey Co, Ltd\"\r\n";
  for (int i = 0; i < 12; ++i) {
    scanned +=
        "DEPPIX," + std::to_string(1000 + i * 250) + ".5," + std::to_string(i * 400) + "\r\n";
  }
  return {
      scanned, scanned + "\x1a\x1a\x1a",
      "file, \"\\\\server\\logs\\a 1.tif\" \nwell , 7\ngroup,2,\"say \"\"hi\"\"\"\n"
      "DepthType,1\nDepthUnits,1\nDEPPIX,0,0\nDEPPIX,-1.25e2,3\nDEPPIX,1e400,4\n",
      "REMARK,,,\"a,b\",,\r\nWELL,\"\"\r\nGROUP,,\r\nFILE,img.tif\r\nDEPPIX,12.5ft,1\r\nDEPPIX,7"};
}

//! Changes text by one random insert, delete, bit flip, splice from another
//! text of corpus or long run of one character or piece.
void Mutate(std::mt19937& random, const std::vector<std::string>& corpus, std::string* text) {
  static const std::vector<std::string> kPieces = {
      ",",      "\"", "\"\"",  "\r\n",      "\n",         "\r",    "\x1a",
      " ",      "\t", "FILE,", "WELL,",     "GROUP,",     "GROUP", "DEPTHTYPE,",
      "DEPPIX", "0",  "1",     "DEPPIX,1e", "DEPTHUNITS", ".",     std::string(1, '\0')};
  size_t at = random() % (text->size() + 1);
  switch (random() % 7) {
    case 0:  // a random byte
      text->insert(at, 1, static_cast<char>(random() % 256));
      break;
    case 1:  // a piece the reader treats specially
      text->insert(at, kPieces[random() % kPieces.size()]);
      break;
    case 2: {  // a deleted range
      size_t most = random() % 8 == 0 ? 4096 : 8;
      text->erase(at, 1 + random() % most);
      break;
    }
    case 3:  // flipped bits
      if (at < text->size()) (*text)[at] = static_cast<char>((*text)[at] ^ (1 << random() % 8));
      break;
    case 4: {  // a range of another text
      const std::string& other = corpus[random() % corpus.size()];
      size_t from = random() % (other.size() + 1);
      text->insert(at, other, from, random() % (other.size() - from + 1));
      break;
    }
    case 5: {  // a long run, past the read buffer now and then
      size_t length = random() % 4 == 0 ? 60000 + random() % 140000 : random() % 300;
      const std::string& piece = kPieces[random() % kPieces.size()];
      std::string run;
      while (run.size() < length) run += piece;
      text->insert(at, run);
      break;
    }
    default:  // a truncation
      text->resize(at);
      break;
  }
}

//! What reading a text gave: its values, or the kind of error raised.
struct FuzzOutcome {
  enum Kind { kValues, kListError, kOther } kind = kValues;
  TLicValues values;
  std::string error;

  bool operator==(const FuzzOutcome& other) const {
    return kind == other.kind && error == other.error &&
           (kind != kValues || SameValues(values, other.values));
  }
};

//! Writes text as the file at path, replacing it.
void WriteScratch(const std::string& path, const std::string& text) {
  std::unique_ptr<platform::OsFile> file = platform::Fs().Create(path, platform::OpenOptions());
  ASSERT_TRUE(file && file->WriteAt(0, text.data(), std::ssize(text)) == std::ssize(text)) << path;
}

template <typename Read>
FuzzOutcome Outcome(Read read) {
  FuzzOutcome outcome;
  try {
    outcome.values = read();
  } catch (const EListError& error) {
    outcome.kind = error.Index == 2 ? FuzzOutcome::kListError : FuzzOutcome::kOther;
    outcome.error = error.what();
  } catch (const std::exception& error) {
    outcome.kind = FuzzOutcome::kOther;
    outcome.error = error.what();
  } catch (...) {
    outcome.kind = FuzzOutcome::kOther;
    outcome.error = "unknown exception";
  }
  return outcome;
}

// Mutated LIC files go through the comma splitter and the reader, from memory
// and from a file: each line splits into items no longer than itself, of which
// the first three are those the reader uses; each text gives values or the
// list error, the same from memory and from the file, while the reader's
// buffers stay within a few bytes per character of the longest line.
// VEVURA_LIC_FUZZ=N runs N texts instead of a few thousand.
TEST(LicReader, MutatedFilesGiveValuesOrTheListError) {
  const char* env = std::getenv("VEVURA_LIC_FUZZ");
  const long count = env ? std::atol(env) : 3000;
  const size_t kMaxText = 1 << 20;
  std::mt19937 random(20261209);
  std::vector<std::string> corpus = FuzzSeeds();
  test::TempTree tree;
  const std::string path = tree.Path("fuzz.lic");
  TLicReader reader(".");
  std::vector<std::string> items, first;
  size_t longest_line = 0;
  long outcomes[3] = {0, 0, 0};
  double slowest = 0;
  for (long i = 0; i < count; ++i) {
    std::string text = corpus[random() % corpus.size()];
    for (int n = 1 + static_cast<int>(random() % 4); n > 0; --n) Mutate(random, corpus, &text);
    if (text.size() > kMaxText) text.resize(kMaxText);
    auto start = std::chrono::steady_clock::now();
    for (size_t begin = 0; begin <= text.size();) {
      size_t end = std::min(text.find('\n', begin), text.size());
      std::string_view line(text.data() + begin, end - begin);
      longest_line = std::max(longest_line, line.size());
      SplitCommaList(line, &items);
      SplitCommaList(line, &first, 3);
      size_t item_bytes = 0;
      for (const std::string& item : items) item_bytes += item.size();
      ASSERT_LE(item_bytes, line.size()) << i;
      ASSERT_EQ(first,
                std::vector<std::string>(items.begin(),
                                         items.begin() + std::min<ptrdiff_t>(3, std::ssize(items))))
          << i;
      begin = end + 1;
    }
    FuzzOutcome whole = Outcome([&] { return reader.ReadText(text); });
    ASSERT_NO_FATAL_FAILURE(WriteScratch(path, text));
    FuzzOutcome from_file = Outcome([&] { return reader.ReadFile(path); });
    slowest = std::max(
        slowest, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    ++outcomes[whole.kind];
    EXPECT_NE(whole.kind, FuzzOutcome::kOther) << i << ": " << whole.error;
    EXPECT_TRUE(whole == from_file) << i;
    EXPECT_LE(reader.BufferBytes(), 64 * 1024 + 4 * longest_line + 256) << i;
    if (HasFailure()) {
      std::string kept = platform::TempDirectory() + "lic_fuzz_failure.lic";
      WriteScratch(kept, text);
      FAIL() << "input " << i << " kept as " << kept;
    }
    if (whole.kind == FuzzOutcome::kValues && corpus.size() < 64 && random() % 16 == 0) {
      corpus.push_back(text);
    }
  }
  std::printf("%ld texts: %ld values, %ld list errors, %ld other; slowest %.3f s\n", count,
              outcomes[FuzzOutcome::kValues], outcomes[FuzzOutcome::kListError],
              outcomes[FuzzOutcome::kOther], slowest);
}

}  // namespace
}  // namespace vevura::app
