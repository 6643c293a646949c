#include "platform/locale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vevura::platform {
namespace {

constexpr uint32_t kGerman = 1031;
constexpr uint32_t kGermanPhoneBook = MakeLcid(1031, 1);
constexpr uint32_t kSwedish = 1053;
constexpr uint32_t kRussian = 1049;
constexpr uint32_t kGreek = 1032;
constexpr uint32_t kTurkish = 1055;

int Compare(uint32_t lcid, const std::string& a, const std::string& b, bool ignore_case = false) {
  return CompareLocaleText(lcid, a.c_str(), -1, b.c_str(), -1, ignore_case);
}

TEST(LocaleNames, MapsLcidsAndRefusesUnknownSortIds) {
  EXPECT_EQ(IcuLocaleForLcid(kGerman), "de_DE");
  EXPECT_NE(IcuLocaleForLcid(kGermanPhoneBook).find("phonebook"), std::string::npos);
  EXPECT_EQ(IcuLocaleForLcid(MakeLcid(2055, 1)), "de_CH@collation=phonebook");
  EXPECT_EQ(IcuLocaleForLcid(0), "");
  EXPECT_EQ(IcuLocaleForLcid(MakeLcid(0, 1)), "");

  for (uint32_t lcid : {kLcidEnglishUsa, kGerman, kGermanPhoneBook, kSwedish}) {
    EXPECT_TRUE(LocaleInstalled(lcid)) << lcid;
  }
  for (uint16_t german : {1031, 2055, 3079, 4103, 5127}) {
    EXPECT_TRUE(LocaleInstalled(MakeLcid(german, 1))) << german;
  }
  // ICU answers these with a bare language, which is not the locale asked for.
  EXPECT_FALSE(LocaleInstalled(MakeLcid(1031, 2)));
  EXPECT_FALSE(LocaleInstalled(MakeLcid(1034, 1)));
  EXPECT_FALSE(LocaleInstalled(0x7C07));
  EXPECT_FALSE(LocaleInstalled(9999));
  EXPECT_FALSE(LocaleInstalled(0));
}

TEST(LocaleNames, EveryTableLanguageIsInstalled) {
  const uint16_t languages[] = {
      1078,  1052,  1025,  2049,  3073,  4097,  5121,  6145,  7169,  8193,  9217,  10241, 11265,
      12289, 13313, 14337, 15361, 16385, 1069,  1059,  1026,  1027,  1050,  1029,  1030,  1043,
      2067,  1033,  2057,  3081,  4105,  5129,  6153,  7177,  8201,  9225,  10249, 11273, 1061,
      1080,  1065,  1035,  1036,  2060,  3084,  4108,  5132,  1031,  2055,  3079,  4103,  5127,
      1032,  1037,  1038,  1039,  1057,  1040,  2064,  1062,  1063,  1044,  2068,  1045,  2070,
      1046,  1048,  1049,  2074,  3098,  1051,  1060,  1034,  2058,  3082,  4106,  5130,  6154,
      7178,  8202,  9226,  10250, 11274, 12298, 13322, 14346, 15370, 16394, 17418, 18442, 19466,
      20490, 1053,  2077,  1054,  1055,  1058,  1066};
  EXPECT_EQ(std::size(languages), 98u);
  for (uint16_t language : languages) EXPECT_TRUE(LocaleInstalled(language)) << language;
}

TEST(LocaleCodePages, FollowThePrimaryLanguage) {
  EXPECT_STREQ(CodePageOfLanguage(0), "windows-1252");
  EXPECT_STREQ(CodePageOfLanguage(1033), "windows-1252");
  EXPECT_STREQ(CodePageOfLanguage(5127), "windows-1252");
  EXPECT_STREQ(CodePageOfLanguage(1045), "windows-1250");  // Polish
  EXPECT_STREQ(CodePageOfLanguage(1050), "windows-1250");  // Croatian
  EXPECT_STREQ(CodePageOfLanguage(2074), "windows-1250");  // Serbian (Latin)
  EXPECT_STREQ(CodePageOfLanguage(3098), "windows-1251");  // Serbian (Cyrillic)
  EXPECT_STREQ(CodePageOfLanguage(1052), "windows-1250");  // Albanian
  EXPECT_STREQ(CodePageOfLanguage(1059), "windows-1251");  // Belarusian
  EXPECT_STREQ(CodePageOfLanguage(1032), "windows-1253");
  EXPECT_STREQ(CodePageOfLanguage(1055), "windows-1254");
  EXPECT_STREQ(CodePageOfLanguage(1037), "windows-1255");
  EXPECT_STREQ(CodePageOfLanguage(14337), "windows-1256");  // Arabic (U.A.E)
  EXPECT_STREQ(CodePageOfLanguage(1065), "windows-1256");   // Farsi
  EXPECT_STREQ(CodePageOfLanguage(1063), "windows-1257");   // Lithuanian
  EXPECT_STREQ(CodePageOfLanguage(1054), "windows-874");
  EXPECT_STREQ(CodePageOfLanguage(1066), "windows-1258");
}

TEST(LocaleCodePages, ConvertToAndFromUtf8) {
  // windows-1252: e acute, the euro sign, and 0x81, which ICU takes as the
  // control character U+0081.
  const std::string western = "caf\xE9 \x80 \x81";
  const std::string utf8 = CodePageToUtf8(1033, western);
  EXPECT_EQ(utf8, "caf\xC3\xA9 \xE2\x82\xAC \xC2\x81");
  std::string back;
  ASSERT_TRUE(Utf8ToCodePage(1033, utf8, &back));
  EXPECT_EQ(back, western);
  // windows-1251: the same byte is another letter.
  EXPECT_EQ(CodePageToUtf8(1049, "\xC0"), "\xD0\x90");
  ASSERT_TRUE(Utf8ToCodePage(1049, "\xD0\x90", &back));
  EXPECT_EQ(back, "\xC0");
  // l with stroke has no byte in windows-1252; broken and overlong UTF-8 is refused.
  back = "kept";
  EXPECT_FALSE(Utf8ToCodePage(1033, "\xC5\x82", &back));
  EXPECT_FALSE(Utf8ToCodePage(1033, "caf\xC3", &back));
  EXPECT_FALSE(Utf8ToCodePage(1033, "\xC0\x80", &back));
  EXPECT_EQ(back, "kept");
  ASSERT_TRUE(Utf8ToCodePage(1045, "\xC5\x82", &back));  // Polish: windows-1250
  EXPECT_EQ(back, "\xB3");
}

TEST(LocaleCompare, OrdersByTheLanguage) {
  const std::string apfel = "\xC4pfel";  // Äpfel
  EXPECT_EQ(Compare(kGerman, apfel, "Zebra"), -1);
  EXPECT_EQ(Compare(kSwedish, apfel, "Zebra"), 1);
  EXPECT_EQ(Compare(kSwedish, "Zebra", apfel), -1);

  // The phone book reads ü as ue; the default order as a marked u.
  const std::string mueller_umlaut = "M\xFCller";
  EXPECT_EQ(Compare(kGerman, mueller_umlaut, "Muffel"), 1);
  EXPECT_EQ(Compare(kGermanPhoneBook, mueller_umlaut, "Muffel"), -1);
  EXPECT_EQ(Compare(kGerman, mueller_umlaut, "Mueller"), 1);
  EXPECT_EQ(Compare(kGermanPhoneBook, mueller_umlaut, "Mueller"), 0);

  // Cyrillic bytes go through windows-1251: а (E0) before б (E1) before я (FF).
  EXPECT_EQ(Compare(kRussian, "\xE0", "\xE1"), -1);
  EXPECT_EQ(Compare(kRussian, "\xFF", "\xE0"), 1);
  // In windows-1252 the same bytes are à and á, equal once marks are ignored.
  EXPECT_EQ(Compare(kLcidEnglishUsa, "\xE0", "\xE1"), 0);
}

TEST(LocaleCompare, CaseMarksAndSymbols) {
  EXPECT_EQ(Compare(kLcidEnglishUsa, "abc", "ABC", true), 0);
  EXPECT_NE(Compare(kLcidEnglishUsa, "abc", "ABC", false), 0);
  EXPECT_EQ(Compare(kLcidEnglishUsa, "ABC", "abd", false), -1);  // letters before case
  EXPECT_EQ(Compare(kLcidEnglishUsa, "abd", "ABC", true), 1);

  // Non-spacing marks are ignored, with or without the case level.
  const std::string resume_accented = "r\xE9sum\xE9";
  EXPECT_EQ(Compare(kLcidEnglishUsa, "resume", resume_accented, false), 0);
  EXPECT_EQ(Compare(kLcidEnglishUsa, "resume", resume_accented, true), 0);
  EXPECT_NE(Compare(kLcidEnglishUsa, "Resume", resume_accented, false), 0);
  EXPECT_EQ(Compare(kLcidEnglishUsa, "Resume", resume_accented, true), 0);

  // String sort: hyphens and apostrophes are symbols, not ignored.
  EXPECT_NE(Compare(kLcidEnglishUsa, "co-op", "coop", true), 0);
  EXPECT_NE(Compare(kLcidEnglishUsa, "it's", "its", true), 0);
  EXPECT_EQ(Compare(kLcidEnglishUsa, "co-op", "coop"), -Compare(kLcidEnglishUsa, "coop", "co-op"));
}

TEST(LocaleCompare, LengthsAndEmbeddedZeros) {
  EXPECT_EQ(CompareLocaleText(kLcidEnglishUsa, "abcdef", 3, "abcxyz", 3, false), 0);
  EXPECT_EQ(CompareLocaleText(kLcidEnglishUsa, "abcdef", 4, "abcxyz", 4, false), -1);
  EXPECT_EQ(CompareLocaleText(kLcidEnglishUsa, "abc", -1, "abcd", 3, false), 0);
  EXPECT_EQ(CompareLocaleText(kLcidEnglishUsa, "abc", -1, "abcd", -1, false), -1);
  // With an explicit length the bytes after a zero still count.
  const char a[] = {'a', 'b', 0, 'c'};
  const char b[] = {'a', 'b', 0, 'd'};
  EXPECT_EQ(CompareLocaleText(kLcidEnglishUsa, a, 4, b, 4, false), -1);
  EXPECT_EQ(CompareLocaleText(kLcidEnglishUsa, a, -1, b, -1, false), 0);
  EXPECT_EQ(CompareLocaleText(0, a, 4, b, 4, false), -1);
  EXPECT_EQ(CompareLocaleText(kLcidEnglishUsa, "", 0, "a", 1, false), -1);
  EXPECT_EQ(CompareLocaleText(kLcidEnglishUsa, nullptr, 0, "", -1, false), 0);
}

TEST(LocaleCompare, LanguageZeroIsByteOrder) {
  EXPECT_EQ(Compare(0, "a", "B"), 1);
  EXPECT_EQ(Compare(0, "a", "B", true), -1);
  EXPECT_EQ(Compare(0, "abc", "ABC", true), 0);
  EXPECT_EQ(Compare(0, "\xE9", "f"), 1);
  EXPECT_EQ(Compare(kLcidEnglishUsa, "\xE9", "f"), -1);
  EXPECT_EQ(Compare(0, "ab", "abc"), -1);
  EXPECT_EQ(Compare(0, "\xE9", "\xC9", true), 0);
}

TEST(LocaleCompare, SingleCharacters) {
  EXPECT_EQ(CompareLocaleChar(kLcidEnglishUsa, 'a', 'B'), -1);
  EXPECT_NE(CompareLocaleChar(kLcidEnglishUsa, 'a', 'A'), 0);
  EXPECT_EQ(CompareLocaleChar(kLcidEnglishUsa, 'e', 0xE9), 0);
  EXPECT_EQ(CompareLocaleChar(0, 'a', 'B'), 1);
  // Bytes that windows-1253 leaves undefined stay distinct.
  EXPECT_NE(CompareLocaleChar(kGreek, 0xD2, 0xFF), 0);
}

// Sorting the 256 codes by single-character comparison must give a
// consistent order for every code page, undefined bytes included.
TEST(LocaleCompare, SingleCharacterOrderIsConsistent) {
  for (uint32_t lcid : {kGerman, kRussian, kGreek, kTurkish}) {
    std::vector<int> codes(256);
    for (int i = 0; i < 256; ++i) codes[i] = i;
    std::stable_sort(codes.begin(), codes.end(), [lcid](int x, int y) {
      return CompareLocaleChar(lcid, static_cast<unsigned char>(x), static_cast<unsigned char>(y)) <
             0;
    });
    for (int i = 0; i < 256; ++i) {
      for (int j = i; j < 256; ++j) {
        auto x = static_cast<unsigned char>(codes[i]);
        auto y = static_cast<unsigned char>(codes[j]);
        int forward = CompareLocaleChar(lcid, x, y);
        ASSERT_LE(forward, 0) << lcid << ": " << int{x} << " after " << int{y};
        ASSERT_EQ(forward, -CompareLocaleChar(lcid, y, x)) << lcid;
      }
    }
  }
}

TEST(LocaleCase, MapsWithinTheCodePage) {
  EXPECT_EQ(UpperCase(kLcidEnglishUsa, "r\xE9sum\xE9"), "R\xC9SUM\xC9");
  EXPECT_EQ(UpperCase(kLcidEnglishUsa, "\xFF"), "\x9F");  // ÿ to Ÿ
  EXPECT_EQ(LowerCase(kLcidEnglishUsa, "\x9F"), "\xFF");
  EXPECT_EQ(UpperCase(kGerman,
                      "stra\xDF"
                      "e"),
            "STRA\xDF"
            "E");  // ß keeps its place
  EXPECT_EQ(LowerCase(kLcidEnglishUsa, "\xC9T\xC9"), "\xE9t\xE9");
  EXPECT_EQ(UpperCase(0, "ab\xE9"), "AB\xC9");
  EXPECT_EQ(UpperCase(kLcidEnglishUsa, "1-2_*"), "1-2_*");

  EXPECT_EQ(UpperCase(kTurkish, "i"), "\xDD");  // İ in windows-1254
  EXPECT_EQ(LowerCase(kTurkish, "I"), "\xFD");  // ı
  EXPECT_EQ(UpperCase(kLcidEnglishUsa, "i"), "I");
  EXPECT_EQ(LowerCase(kRussian, "\xDF"), "\xFF");  // Я to я in windows-1251
  EXPECT_EQ(LowerCase(kLcidEnglishUsa, "\xDF"), "\xDF");

  char text[] = {'a', 0, 'b', '\xE9'};
  UpperCaseBytes(kLcidEnglishUsa, text, sizeof text);
  EXPECT_EQ(std::string(text, sizeof text), std::string("A\0B\xC9", 4));
  LowerCaseBytes(kLcidEnglishUsa, text, 1);
  EXPECT_EQ(std::string(text, sizeof text), std::string("a\0B\xC9", 4));
}

class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(const char* name) : name_(name) {
    if (const char* value = std::getenv(name)) saved_ = value;
  }
  ~ScopedEnvironment() {
    if (saved_) {
      setenv(name_, saved_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  void Set(const char* value) { value ? setenv(name_, value, 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

TEST(LocaleSystem, ReadsTheUserLocale) {
  ScopedEnvironment all("LC_ALL"), collate("LC_COLLATE"), lang("LANG");
  all.Set(nullptr);
  collate.Set(nullptr);
  lang.Set(nullptr);
  EXPECT_EQ(SystemLcid(), kLcidEnglishUsa);
  lang.Set("sv_SE.UTF-8");
  EXPECT_EQ(SystemLcid(), kSwedish);
  collate.Set("de_DE@euro");
  EXPECT_EQ(SystemLcid(), kGerman);
  all.Set("tr_TR.ISO-8859-9");
  EXPECT_EQ(SystemLcid(), kTurkish);
  all.Set("sr_RS.UTF-8@latin");
  EXPECT_STREQ(CodePageOfLanguage(static_cast<uint16_t>(SystemLcid())), "windows-1250");
  all.Set("C.UTF-8");
  EXPECT_EQ(SystemLcid(), kLcidEnglishUsa);
  all.Set("xx_YY");
  EXPECT_EQ(SystemLcid(), kLcidEnglishUsa);
}

TEST(LocaleSystem, NamesDifferByAccentButNotByCase) {
  EXPECT_TRUE(SameTextSystem("Table1", "TABLE1"));
  EXPECT_TRUE(SameTextSystem("\xE9t\xE9", "\xC9T\xC9"));
  EXPECT_FALSE(SameTextSystem("Caf\xE9", "Cafe"));
  EXPECT_FALSE(SameTextSystem("co-op", "coop"));
  EXPECT_FALSE(SameTextSystem("abc", "abd"));
  EXPECT_FALSE(SameTextSystem(std::string("a\0b", 3), std::string("a\0c", 3)));
  EXPECT_NE(CompareTextSystem("abc", "ABC", false), 0);
  EXPECT_EQ(CompareTextSystem("abc", "ABD", true), -1);
  EXPECT_EQ(CompareTextSystem("b", "a", false), 1);
}

// Each thread keeps collators of its own; results must not depend on which
// thread asks or on what it asked before.
TEST(LocaleThreads, ThreadsCompareIndependently) {
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      for (int round = 0; round < 50; ++round) {
        uint32_t lcid = (round + t) % 2 == 0 ? kGerman : kSwedish;
        int expected = lcid == kGerman ? -1 : 1;
        if (Compare(lcid, "\xC4pfel", "Zebra") != expected) ++failures[t];
        if (UpperCase(kTurkish, "i") != "\xDD") ++failures[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(failures[t], 0) << t;
}

}  // namespace
}  // namespace vevura::platform
