// Words of texts and the keys of the word index: extraction rules, stop
// words, the 61-character cut, a model of the extraction on random texts,
// and word keys inserted into a real index and found again by prefix.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "engine/storage/keys/bound_keys.h"
#include "engine/storage/keys/word_keys.h"
#include "platform/locale.h"
#include "tests/engine/storage/index/btree_test_support.h"
#include "tests/engine/storage/keys/key_test_support.h"

namespace vevura::test {
namespace {

std::vector<std::string> WordsOf(const TLanguageStringList& list) {
  return list.Strings();
}

//! The word of an index 32 key, without its padding.
std::string KeyWord(const std::vector<uint8_t>& key) {
  const auto* chars = reinterpret_cast<const char*>(key.data() + kTextWordOffset);
  return std::string(chars, strnlen(chars, kTextWordSize));
}

std::set<std::string> KeyWords(const std::vector<std::vector<uint8_t>>& keys) {
  std::set<std::string> words;
  for (const auto& key : keys) words.insert(KeyWord(key));
  return words;
}

TEST(WordKeys, SentenceGivesItsWordsWithoutStopWords) {
  TTestTable table({TestField(1, fcString, 40)});
  TKeyContext c = table.SystemContext(kTextIndex);
  TTextIndexRules rules(0, 0, DefaultTextIndexParameters());
  const std::string text = "The quick-brown fox's tail";
  EXPECT_EQ(WordsOf(ExtractWords(rules, text, false)),
            (std::vector<std::string>{"brown", "foxs", "quick", "tail", "The"}));
  auto keys = BuildWordKeys(c, rules, 1, text, 9);
  EXPECT_EQ(KeyWords(keys), (std::set<std::string>{"QUICK", "BROWN", "FOXS", "TAIL"}));
  for (const auto& key : keys) {
    EXPECT_EQ(HexOf(key.data(), 3), "01 00 01");
    EXPECT_EQ(HexOf(key.data() + 64, 4), "80 00 00 09");
  }
}

TEST(WordKeys, LongWordsAreCutAndRepeatedWordsListedOnce) {
  TTestTable table({TestField(1, fcString, 200)});
  TKeyContext c = table.SystemContext(kTextIndex);
  TTextIndexRules rules(0, 0, DefaultTextIndexParameters());
  std::string seventy;
  for (int i = 0; i < 70; ++i) seventy += static_cast<char>('a' + i % 26);
  auto keys = BuildWordKeys(c, rules, 2, seventy + " tail", 1);
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(KeyWords(keys),
            (std::set<std::string>{platform::UpperCase(0, seventy.substr(0, 61)), "TAIL"}));

  // The first way a word is written is the one kept.
  EXPECT_EQ(WordsOf(ExtractWords(rules, "Fox fox FOX, fOx", false)),
            (std::vector<std::string>{"Fox"}));
  // Wildcard mode keeps "*" in the word instead of ending it there.
  EXPECT_EQ(WordsOf(ExtractWords(rules, "qui* bro*wn", true)),
            (std::vector<std::string>{"bro*wn", "qui*"}));
  EXPECT_EQ(WordsOf(ExtractWords(rules, "qui* bro*wn", false)),
            (std::vector<std::string>{"bro", "qui", "wn"}));
  // Bytes in neither set are skipped; high characters are kept; 255 is not.
  EXPECT_EQ(WordsOf(ExtractWords(rules, std::string("x'y\xFFz \xE9t\xE9\x01_1", 12), false)),
            (std::vector<std::string>{"xyz", "_1", "\xE9t\xE9"}));
  EXPECT_TRUE(BuildWordKeys(c, rules, 1, "the AND Of", 1).empty());
  EXPECT_TRUE(BuildWordKeys(c, rules, 1, "", 1).empty());
}

TEST(WordKeys, StoredParametersReplaceTheDefaults) {
  TTextIndexParameters p;
  p.StopWords = {"fox"};
  AddToCharSet(p.FirstSet, '|');
  for (int ch = 'a'; ch <= 'z'; ++ch) AddToCharSet(p.SecondSet, static_cast<uint8_t>(ch));
  AddToCharSet(p.SecondSet, '-');
  TTextIndexRules rules(0, 0, p);
  EXPECT_EQ(WordsOf(ExtractWords(rules, "the|quick-brown FOX|fox", false)),
            (std::vector<std::string>{"fox", "quick-brown", "the"}));
  TTestTable table({TestField(1, fcString, 40)});
  EXPECT_EQ(
      KeyWords(BuildWordKeys(table.SystemContext(kTextIndex), rules, 1, "the|quick-brown|fox", 1)),
      (std::set<std::string>{"THE", "QUICK-BROWN"}));
}

TEST(WordKeys, WordsInALanguageIgnoreCaseAndMarksThere) {
  TTestTable table({TestField(1, fcString, 40)}, 1031);
  TKeyContext c = table.SystemContext(kTextIndex);
  TTextIndexRules rules(1031, 0, DefaultTextIndexParameters());
  auto words = ExtractWords(rules, "\xC4pfel \xE4pfel Apfel birne", false);
  EXPECT_EQ(WordsOf(words), (std::vector<std::string>{"\xC4pfel", "birne"}));
  EXPECT_EQ(KeyWords(BuildWordKeys(c, rules, 1, "\xE4pfel", 1)),
            (std::set<std::string>{"\xC4PFEL"}));
}

//! A plain model of the default extraction in byte order: split at
//! separators, keep word characters, cut at 61, first spelling wins.
std::vector<std::string> ModelWords(const std::string& text) {
  auto separator = [](unsigned char ch) {
    return (ch >= 1 && ch <= 32) ||
           std::string_view("*+,-./:;<=>\\`").find(static_cast<char>(ch)) != std::string_view::npos;
  };
  auto word_char = [](unsigned char ch) {
    return std::isalnum(ch) != 0 || ch == '_' || (ch >= 128 && ch <= 254);
  };
  std::map<std::string, std::string> words;  // upper-cased -> first spelling
  std::string word;
  auto close = [&] {
    if (!word.empty()) words.emplace(platform::UpperCase(0, word), word);
    word.clear();
  };
  for (char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (separator(byte)) {
      close();
    } else if (word_char(byte) && word.size() < 61) {
      word += ch;
    }
  }
  close();
  std::vector<std::string> result;
  for (const auto& [upper, first] : words) result.push_back(first);
  return result;
}

TEST(WordKeys, RandomTextsMatchTheModel) {
  TTextIndexRules rules(0, 0, DefaultTextIndexParameters());
  std::mt19937 rng(51);
  const std::string alphabet =
      std::string("aAbBzZ09_'\"!?* -.,\t\x01\x7F\x80\xE9\xC9\xFF", 25) + std::string(1, '\0');
  for (int round = 0; round < 400; ++round) {
    std::string text;
    const size_t length = rng() % 200;
    for (size_t i = 0; i < length; ++i) {
      // Long runs of word characters now and then, to reach the cut.
      text += rng() % 50 == 0 ? std::string(rng() % 80, 'q')
                              : std::string(1, alphabet[rng() % alphabet.size()]);
    }
    ASSERT_EQ(WordsOf(ExtractWords(rules, text, false)), ModelWords(text)) << text;
  }
}

class WordIndexTest : public IndexFileTest {};

TEST_F(WordIndexTest, WordKeysGoIntoTheIndexAndAreFoundByPrefix) {
  auto file = NewIndexFile();
  TTestTable table({TestField(1, fcString, 60), TestField(2, fcString, 60)}, 1031);
  TKeyContext c = table.SystemContext(kTextIndex);
  TIndexKeyComparer comparer(c);
  TBTreePath path;
  TBTree tree(*file, kTextIndex, comparer, path);
  TTextIndexRules defaults = ReadTextIndexRules(*file, 1031, 0);
  EXPECT_TRUE(defaults.IsStopWord("which"));

  const std::vector<std::string> texts = {"The quick-brown fox's tail", "Quiet quilts, quick!",
                                          "a tail of \xC4pfel", "queue quay QUICK"};
  size_t expected = 0;
  for (size_t i = 0; i < texts.size(); ++i) {
    const auto record = static_cast<uint32_t>(i + 1);
    AddWordKeys(c, defaults, tree, 1, texts[i], record, static_cast<int32_t>(100 + i));
    expected += BuildWordKeys(c, defaults, 1, texts[i], 0).size();
  }
  AddWordKeys(c, defaults, tree, 2, "quick", 9, 200);
  ASSERT_EQ(tree.KeyTotal(), static_cast<int64_t>(expected + 1));

  // Keys come back in CompareKeys order.
  TIndexPosition pos;
  ASSERT_TRUE(tree.First(&pos));
  std::vector<uint8_t> previous = pos.Key;
  while (tree.Next(&pos)) {
    ASSERT_LT(CompareKeys(c, previous.data(), pos.Key.data(), kTextKeyLength), 0);
    previous = pos.Key;
  }

  // Words of field 1 that begin with "QUI": the records of quick, quiet, quilts.
  std::vector<uint8_t> low(kTextKeyLength);
  BuildTextKey(c, 1, "QUI", 0, low.data());
  std::vector<uint8_t> high = low;
  FillKeyLow(c, low.data(), 4);
  FillKeyHigh(c, high.data(), 4);
  std::multiset<uint32_t> records;
  tree.CollectReferences(low.data(), high.data(), kTextKeyLength,
                         [&](uint32_t r) { records.insert(r); });
  EXPECT_EQ(records, (std::multiset<uint32_t>{1, 2, 2, 2, 4}));

  // Stored parameters are read back as the rules.
  TTextIndexParameters custom = DefaultTextIndexParameters();
  custom.StopWords = {"QUICK"};
  WriteTextIndexParameters(*file, custom);
  TTextIndexRules stored = ReadTextIndexRules(*file, 1031, 0);
  EXPECT_TRUE(stored.IsStopWord("quick"));
  EXPECT_FALSE(stored.IsStopWord("the"));
}

}  // namespace
}  // namespace vevura::test
