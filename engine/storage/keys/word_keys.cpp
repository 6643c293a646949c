#include "engine/storage/keys/word_keys.h"

#include <string>

#include "engine/storage/keys/key_builder.h"

namespace vevura {

namespace {

constexpr const char* kDefaultStopWords[] = {
    "A",  "AN",   "AND", "BE",   "FOR", "HOW", "IN",   "IS",   "IT",    "OF",  "ON",
    "OR", "THAT", "THE", "THIS", "TO",  "WAS", "WHAT", "WHEN", "WHICH", "WHY", "WILL"};

constexpr std::string_view kDefaultSeparatorSymbols = "*+,-./:;<=>\\`";

void AddRange(TCharSet& set, int first, int last) {
  for (int ch = first; ch <= last; ++ch) AddToCharSet(set, static_cast<uint8_t>(ch));
}

//! Collects words: characters are appended to the current word, which goes
//! to the list when a separator or the end of the text closes it.
class TWordCollector {
 public:
  TWordCollector(const TTextIndexRules& rules)
      : words_(rules.LanguageId(), rules.SortId(), dupIgnore) {}

  void Append(char ch) {
    if (word_.size() < kMaxWordLength) word_ += ch;
  }
  void Close() {
    if (!word_.empty()) words_.Add(word_);
    word_.clear();
  }
  TLanguageStringList Take() {
    Close();
    return std::move(words_);
  }

 private:
  TLanguageStringList words_;
  std::string word_;
};

}  // namespace

TTextIndexParameters DefaultTextIndexParameters() {
  TTextIndexParameters p;
  for (const char* word : kDefaultStopWords) p.StopWords.emplace_back(word);
  AddRange(p.FirstSet, 1, 32);
  for (char ch : kDefaultSeparatorSymbols) AddToCharSet(p.FirstSet, static_cast<uint8_t>(ch));
  AddRange(p.SecondSet, 'A', 'Z');
  AddRange(p.SecondSet, 'a', 'z');
  AddRange(p.SecondSet, '0', '9');
  AddToCharSet(p.SecondSet, '_');
  AddRange(p.SecondSet, 128, 254);
  return p;
}

TTextIndexRules::TTextIndexRules(uint16_t language_id, uint16_t sort_id,
                                 const TTextIndexParameters& parameters)
    : language_id_(language_id),
      sort_id_(sort_id),
      separators_(parameters.FirstSet),
      word_characters_(parameters.SecondSet),
      stop_words_(language_id, sort_id, dupIgnore) {
  for (const std::string& word : parameters.StopWords) stop_words_.Add(word);
}

TTextIndexRules ReadTextIndexRules(TPageStore& store, uint16_t language_id, uint16_t sort_id) {
  std::optional<TTextIndexParameters> stored = ReadTextIndexParameters(store);
  return TTextIndexRules(language_id, sort_id, stored ? *stored : DefaultTextIndexParameters());
}

TLanguageStringList ExtractWords(const TTextIndexRules& rules, std::string_view text,
                                 bool wildcard) {
  TWordCollector collector(rules);
  for (char ch : text) {
    const auto byte = static_cast<uint8_t>(ch);
    if ((wildcard && ch == '*') || (!rules.IsSeparator(byte) && rules.IsWordCharacter(byte))) {
      collector.Append(ch);
    } else if (rules.IsSeparator(byte)) {
      collector.Close();
    }
  }
  return collector.Take();
}

std::vector<std::vector<uint8_t>> BuildWordKeys(const TKeyContext& c, const TTextIndexRules& rules,
                                                uint16_t field_number, std::string_view text,
                                                int32_t row_id) {
  TLanguageStringList words = ExtractWords(rules, text, false);
  std::vector<std::vector<uint8_t>> keys;
  for (const std::string& word : words.Strings()) {
    if (rules.IsStopWord(word)) continue;
    std::vector<uint8_t> key(kTextKeyLength);
    BuildTextKey(c, field_number, word, row_id, key.data());
    keys.push_back(std::move(key));
  }
  return keys;
}

void AddWordKeys(const TKeyContext& c, const TTextIndexRules& rules, TBTree& tree,
                 uint16_t field_number, std::string_view text, uint32_t record_number,
                 int32_t row_id) {
  for (const std::vector<uint8_t>& key : BuildWordKeys(c, rules, field_number, text, row_id)) {
    tree.InsertKey(key.data(), record_number);
  }
}

}  // namespace vevura
