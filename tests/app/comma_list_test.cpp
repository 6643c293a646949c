#include "app/comma_list.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vevura::app {
namespace {

using Items = std::vector<std::string>;

TEST(CommaList, EmptyItemsBetweenAndAfterCommas) {
  EXPECT_EQ(SplitCommaList("A,,B"), (Items{"A", "", "B"}));
  EXPECT_EQ(SplitCommaList("A,"), (Items{"A", ""}));
  EXPECT_EQ(SplitCommaList(",A"), (Items{"", "A"}));
  EXPECT_EQ(SplitCommaList("A ,"), (Items{"A", ""}));
  // The comma is not the line's last character, so no empty item follows it.
  EXPECT_EQ(SplitCommaList("A, "), (Items{"A"}));
  EXPECT_EQ(SplitCommaList(","), (Items{"", ""}));
  EXPECT_EQ(SplitCommaList(""), Items{});
  EXPECT_EQ(SplitCommaList(" \t "), Items{});
}

TEST(CommaList, BlanksEndPlainItemsAndNeverBelongToThem) {
  EXPECT_EQ(SplitCommaList("FILE = X"), (Items{"FILE", "=", "X"}));
  EXPECT_EQ(SplitCommaList("FILE,C:\\My Logs\\A.TIF"), (Items{"FILE", "C:\\My", "Logs\\A.TIF"}));
  EXPECT_EQ(SplitCommaList("  WELL ,  42-001  "), (Items{"WELL", "42-001"}));
  // Every code from 1 to 32 is a blank; NUL and 8-bit characters are text.
  EXPECT_EQ(SplitCommaList("\x01WELL\x1f,\tA\rB"), (Items{"WELL", "A", "B"}));
  EXPECT_EQ(SplitCommaList(std::string("A\0B,C", 5)), (Items{std::string("A\0B", 3), "C"}));
  EXPECT_EQ(SplitCommaList("\xA0x\xE9,\xFF"), (Items{"\xA0x\xE9", "\xFF"}));
}

TEST(CommaList, QuotedItemsKeepBlanksCommasAndDoubledQuotes) {
  EXPECT_EQ(SplitCommaList("FILE,\"C:\\My Logs\\A.TIF\""), (Items{"FILE", "C:\\My Logs\\A.TIF"}));
  EXPECT_EQ(SplitCommaList("\"a,b\",c"), (Items{"a,b", "c"}));
  EXPECT_EQ(SplitCommaList("\"say \"\"hi\"\"\""), (Items{"say \"hi\""}));
  EXPECT_EQ(SplitCommaList("\"\",x"), (Items{"", "x"}));
  EXPECT_EQ(SplitCommaList("x,\"\""), (Items{"x", ""}));
  EXPECT_EQ(SplitCommaList("\"\"\"\""), (Items{"\""}));
  EXPECT_EQ(SplitCommaList(" \" a \" , b"), (Items{" a ", "b"}));
}

TEST(CommaList, TextAfterAClosingQuoteStartsTheNextItem) {
  EXPECT_EQ(SplitCommaList("\"ab\"c"), (Items{"ab", "c"}));
  EXPECT_EQ(SplitCommaList("\"ab\"\"c\"d"), (Items{"ab\"c", "d"}));
  EXPECT_EQ(SplitCommaList("\"a\" \"b\""), (Items{"a", "b"}));
  EXPECT_EQ(SplitCommaList("a\"b\""), (Items{"a\"b\""}));
  EXPECT_EQ(SplitCommaList("a \"b,c\""), (Items{"a", "b,c"}));
}

TEST(CommaList, UnterminatedQuoteRunsToTheEndAndLosesItsLastCharacter) {
  EXPECT_EQ(SplitCommaList("FILE,\"abc"), (Items{"FILE", "ab"}));
  EXPECT_EQ(SplitCommaList("\"a, b,"), (Items{"a, b"}));
  EXPECT_EQ(SplitCommaList("\"ab\"\"c"), (Items{"ab\""}));
  EXPECT_EQ(SplitCommaList("\"ab\"\""), (Items{"ab"}));
  EXPECT_EQ(SplitCommaList("x,\""), (Items{"x", ""}));
  EXPECT_EQ(SplitCommaList("\"x"), (Items{""}));
}

TEST(CommaList, ReusedVectorHoldsOnlyTheNewLine) {
  std::vector<std::string> items;
  SplitCommaList("a,b,c,d", &items);
  SplitCommaList("e", &items);
  EXPECT_EQ(items, Items{"e"});
  SplitCommaList("", &items);
  EXPECT_TRUE(items.empty());
}

TEST(CommaList, SplitsOnlyTheFirstItemsAskedFor) {
  for (const char* line : {"A,,B", "A,", "A ,", ",", "\"a,b\",c", "\"ab\"c", "x,\"", " , ,x,"}) {
    Items all = SplitCommaList(line);
    for (size_t max = 0; max <= all.size() + 1; ++max) {
      Items first;
      SplitCommaList(line, &first, max);
      EXPECT_EQ(first,
                Items(all.begin(), all.begin() + static_cast<ptrdiff_t>(std::min(max, all.size()))))
          << line << " " << max;
    }
  }
  // A line of 2 MB of commas gives three empty items, not two million.
  Items items;
  SplitCommaList(std::string(2 << 20, ','), &items, 3);
  EXPECT_EQ(items, (Items{"", "", ""}));
}

}  // namespace
}  // namespace vevura::app
