#pragma once
// The words of a text and the keys of the word index (index 32).
//
// A text (a string field's value or a memo's content) is split into words by
// two character sets: a separator ends the current word; a word character is
// added to it while it has fewer than 61 characters; any other byte is
// skipped without ending the word (so "fox's" is the word "foxs"). The words
// of a text are listed once each, compared without regard to case in the
// table's language, as written where they first occur. Stop words are never
// indexed. Every other word gives one 68-byte key (key_builder.h) per field
// and record, whose reference in the index is the record number.
//
// The sets and stop words are the word index's parameters, kept in its data
// pages (index_data_pages.h), or the defaults below when it has none.

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/storage/index/btree.h"
#include "engine/storage/index/index_data_pages.h"
#include "engine/storage/keys/key_context.h"
#include "engine/storage/language/language_string_list.h"

namespace vevura {

//! Most characters of an indexed word.
inline constexpr size_t kMaxWordLength = kTextWordSize;

//! A set of characters as the parameters keep it: bit c mod 8 of byte c / 8.
using TCharSet = std::array<uint8_t, 32>;
inline bool InCharSet(const TCharSet& set, uint8_t ch) {
  return (set[ch / 8] >> (ch % 8)) & 1;
}
inline void AddToCharSet(TCharSet& set, uint8_t ch) {
  set[ch / 8] = static_cast<uint8_t>(set[ch / 8] | (1u << (ch % 8)));
}

//! The parameters of a word index that keeps none: 22 stop words; as
//! separators the codes 1 to 32 and * + , - . / : ; < = > \ `; as word
//! characters A to Z, a to z, _, 0 to 9 and the codes 128 to 254.
TTextIndexParameters DefaultTextIndexParameters();

//! The parameters of a word index in the language of its table.
class TTextIndexRules {
 public:
  TTextIndexRules(uint16_t language_id, uint16_t sort_id, const TTextIndexParameters& parameters);

  uint16_t LanguageId() const { return language_id_; }
  uint16_t SortId() const { return sort_id_; }
  bool IsSeparator(uint8_t ch) const { return InCharSet(separators_, ch); }
  bool IsWordCharacter(uint8_t ch) const { return InCharSet(word_characters_, ch); }
  //! A case-insensitive search of the stop words in the table's language.
  bool IsStopWord(std::string_view word) const { return stop_words_.Contains(word); }
  const TLanguageStringList& StopWords() const { return stop_words_; }

 private:
  uint16_t language_id_;            //!< the table's language
  uint16_t sort_id_;                //!< the table's sort order
  TCharSet separators_;             //!< characters that end a word
  TCharSet word_characters_;        //!< characters kept in a word
  TLanguageStringList stop_words_;  //!< never indexed
};

//! The rules of the word index of store's table: its stored parameters, or
//! the defaults. VEVURA_INDEXCORRUPT for damaged parameter pages.
TTextIndexRules ReadTextIndexRules(TPageStore& store, uint16_t language_id, uint16_t sort_id);

//! The distinct words of text, sorted in the rules' language. In wildcard
//! mode "*" is a word character (search words such as "fox*").
TLanguageStringList ExtractWords(const TTextIndexRules& rules, std::string_view text,
                                 bool wildcard);

//! The index 32 keys of text for a field of a record: one per distinct word
//! that is not a stop word, in word order.
std::vector<std::vector<uint8_t>> BuildWordKeys(const TKeyContext& c, const TTextIndexRules& rules,
                                                uint16_t field_number, std::string_view text,
                                                int32_t row_id);

//! Inserts the keys of BuildWordKeys into the word index through tree (a
//! B-tree of index 32 ordered by c), with the record number as reference.
void AddWordKeys(const TKeyContext& c, const TTextIndexRules& rules, TBTree& tree,
                 uint16_t field_number, std::string_view text, uint32_t record_number,
                 int32_t row_id);

}  // namespace vevura
