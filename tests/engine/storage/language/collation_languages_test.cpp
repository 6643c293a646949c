// The language list and sort orders, text comparison and case mapping in a
// language, and the language string list.

#include <gtest/gtest.h>

#include <set>

#include "engine/base/engine_error.h"
#include "engine/storage/language/collation.h"
#include "engine/storage/language/language_string_list.h"
#include "engine/storage/language/languages.h"
#include "tests/engine/storage/table_definition_support.h"

namespace vevura::test {
namespace {

TEST(Languages, NinetyNineNamesWithDistinctIds) {
  const auto& languages = Languages();
  ASSERT_EQ(languages.size(), 99u);
  EXPECT_STREQ(languages.front().Name, "ANSI Standard");
  EXPECT_EQ(languages.front().LanguageId, 0);
  EXPECT_STREQ(languages.back().Name, "Vietnamese");
  EXPECT_EQ(languages.back().LanguageId, 1066);
  std::set<std::string> names;
  std::set<uint16_t> ids;
  for (const auto& language : languages) {
    names.insert(language.Name);
    ids.insert(language.LanguageId);
  }
  EXPECT_EQ(names.size(), 99u);
  EXPECT_EQ(ids.size(), 99u);
  EXPECT_EQ(LanguageNames()[48], "German (Standard)");
  EXPECT_EQ(FindLanguageId("german (standard)"), 1031);
  EXPECT_EQ(FindLanguageId("SWEDISH (FINLAND)"), 2077);
  EXPECT_EQ(FindLanguageId("Klingon"), std::nullopt);
  EXPECT_EQ(LanguageName(3082), "Spanish (Modern)");
  EXPECT_EQ(LanguageName(999), "");
}

TEST(Languages, SortOrdersAndDefinitionClauses) {
  for (uint16_t german : {1031, 2055, 3079, 4103, 5127}) {
    EXPECT_EQ(SortOrderNames(german),
              (std::vector<std::string>{"Default Order", "German Phone Book Order"}));
    EXPECT_EQ(FindSortId(german, "german phone book order"), 1);
  }
  EXPECT_EQ(SortOrderNames(1033), (std::vector<std::string>{"Default Order"}));
  EXPECT_EQ(FindSortId(1033, "German Phone Book Order"), std::nullopt);
  EXPECT_EQ(FindSortId(0, "default order"), 0);

  EXPECT_EQ(LanguageIdFromClause("Swedish (Standard)"), 1053);
  EXPECT_EQ(SortIdFromClause(2055, "German Phone Book Order"), 1);
  try {
    LanguageIdFromClause("Elvish");
    ADD_FAILURE() << "an unknown language was accepted";
  } catch (const EVEVURAEngineError& e) {
    EXPECT_EQ(e.ErrorCode, VEVURA_SQLPARSE);
    EXPECT_EQ(e.ErrorDetail, "Invalid language constant 'Elvish' specified after LANGUAGE keyword");
  }
  try {
    SortIdFromClause(1036, "German Phone Book Order");
    ADD_FAILURE() << "a sort order the language lacks was accepted";
  } catch (const EVEVURAEngineError& e) {
    EXPECT_EQ(e.ErrorCode, VEVURA_SQLPARSE);
    EXPECT_EQ(e.ErrorDetail,
              "Invalid sort constant 'German Phone Book Order' specified after SORT keyword");
  }
}

TEST(Languages, InstalledLanguagesAndTheDriverError) {
  EXPECT_TRUE(LanguageInstalled(0, 0));
  EXPECT_TRUE(LanguageInstalled(1031, 0));
  EXPECT_TRUE(LanguageInstalled(1031, kSortGermanPhoneBook));
  EXPECT_TRUE(LanguageInstalled(1053, 0));
  // Every listed language has its locale, and the German ones their
  // phone-book order.
  for (const auto& language : Languages()) {
    EXPECT_TRUE(LanguageInstalled(language.LanguageId, kSortDefault)) << language.Name;
    if (IsGermanLanguage(language.LanguageId)) {
      EXPECT_TRUE(LanguageInstalled(language.LanguageId, kSortGermanPhoneBook)) << language.Name;
    }
  }
  EXPECT_FALSE(LanguageInstalled(0x03FF, 0));
  EXPECT_FALSE(LanguageInstalled(1033, 7));
  EXPECT_EQ(CodeRaisedBy([] { RequireLanguageInstalled(1031, 0, "T"); }), 0);
  try {
    RequireLanguageInstalled(0x03FF, 0, "CUSTOMER");
    ADD_FAILURE() << "a missing language was accepted";
  } catch (const EVEVURAEngineError& e) {
    EXPECT_EQ(e.ErrorCode, VEVURA_CANNOTLOADLDDRV);
    EXPECT_EQ(e.ErrorTable, "CUSTOMER");
  }
}

TEST(Collation, CompareTextInByteOrderAndInALanguage) {
  EXPECT_EQ(CompareText(0, 0, "a", "B", false, 0), 1);
  EXPECT_EQ(CompareText(0, 0, "a", "B", true, 0), -1);
  EXPECT_EQ(CompareText(0, 0, "ab", "abc", false, 0), -1);
  EXPECT_EQ(CompareText(0, 0, "\xE4", "\xC4", true, 0), 0);
  // A count compares exactly that many bytes, zeros included.
  EXPECT_EQ(CompareText(0, 0, "abX", "abY", false, 2), 0);
  EXPECT_EQ(CompareText(0, 0, "ab\0X", "ab\0Y", false, 4), -1);

  EXPECT_EQ(CompareText(1031, 0, "a", "B", false, 0), -1);
  EXPECT_EQ(CompareText(1031, 0, "a", "A", false, 0), -1);
  EXPECT_EQ(CompareText(1031, 0, "a", "A", true, 0), 0);
  // Marks do not count; hyphens and apostrophes do.
  EXPECT_EQ(CompareText(1031, 0, "\xE4", "a", false, 0), 0);
  EXPECT_NE(CompareText(1031, 0, "co-op", "coop", false, 0), 0);
  EXPECT_NE(CompareText(1031, 0, "it's", "its", false, 0), 0);
  // Trailing zeros of a key value do not count.
  EXPECT_EQ(CompareText(1031, 0, "ab\0\0", "ab\0\0", false, 4), 0);
  EXPECT_EQ(CompareText(1031, 0, "ab\0\0", "ab", false, 0), 0);
  // Phone-book order spells a-umlaut "ae"; the default order reads it as "a".
  EXPECT_GT(CompareText(1031, 0, "\xC4rger", "Aerger", false, 0), 0);
  EXPECT_EQ(CompareText(1031, 1, "\xC4rger", "Aerger", false, 0), 0);
  // Swedish sorts a-umlaut after z.
  EXPECT_GT(CompareText(1053, 0, "\xE4", "z", false, 0), 0);
  EXPECT_LT(CompareText(1031, 0, "\xE4", "z", false, 0), 0);
}

TEST(Collation, CaseMappingKeepsTheLength) {
  std::string text = "stra\xDF\x65 \xE4i";
  UpperText(0, 0, text);
  EXPECT_EQ(text, "STRA\xDF\x45 \xC4I");
  LowerText(0, 0, text);
  EXPECT_EQ(text, "stra\xDF\x65 \xE4i");
  // Turkish has a dotted capital I (0xDD in its code page).
  std::string turkish = "i";
  UpperText(1055, 0, turkish);
  EXPECT_EQ(turkish, "\xDD");
  char bytes[] = {'a', 0, 'b'};
  UpperText(1031, 0, bytes, 3);
  EXPECT_EQ(std::string(bytes, 3), std::string("A\0B", 3));
}

TEST(LanguageStringList, SortedCaselessListIgnoresDuplicates) {
  TLanguageStringList list(0, 0);
  for (const char* s : {"pear", "Apple", "apple", "fig", "PEAR", "banana"}) list.Add(s);
  EXPECT_EQ(list.Strings(), (std::vector<std::string>{"Apple", "banana", "fig", "pear"}));
  size_t index = 99;
  EXPECT_TRUE(list.Find("FIG", &index));
  EXPECT_EQ(index, 2u);
  EXPECT_FALSE(list.Find("cherry", &index));
  EXPECT_EQ(index, 2u);
  EXPECT_TRUE(list.FindPrefix("BAN*", 3, &index));
  EXPECT_EQ(index, 1u);
  EXPECT_TRUE(list.FindPrefix("p", 1, &index));
  EXPECT_EQ(index, 3u);
  EXPECT_FALSE(list.FindPrefix("figs", 4, &index));
  EXPECT_FALSE(list.FindPrefix("c", 1, &index));

  TLanguageStringList all(0, 0, dupAccept);
  for (const char* s : {"b", "B", "a", "b"}) all.Add(s);
  EXPECT_EQ(all.Strings(), (std::vector<std::string>{"a", "b", "B", "b"}));

  TLanguageStringList later(1053, 0);
  later.SetSorted(false);
  for (const char* s : {"\xE4gg", "zebra", "apa"}) later.Add(s);
  EXPECT_EQ(later[0], "\xE4gg");
  later.Sort();
  EXPECT_EQ(later.Strings(), (std::vector<std::string>{"apa", "zebra", "\xE4gg"}));
  EXPECT_TRUE(later.Contains("\xC4GG"));

  TLanguageStringList german(1031, 0);
  for (const char* s : {"\xC4pfel", "apfel", "Birne"}) german.Add(s);
  EXPECT_EQ(german.Strings(), (std::vector<std::string>{"\xC4pfel", "Birne"}));
}

}  // namespace
}  // namespace vevura::test
