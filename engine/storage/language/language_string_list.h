#pragma once
// TLanguageStringList: a sorted list of strings compared without regard to
// case in a language of its own.
//
// Finding and sorting compare with CompareText (collation.h) in the list's
// language pair, ignoring case; in language 0 that is byte order of the
// upper-cased strings. A list that ignores duplicates keeps the first of
// strings that compare equal, as it was added. The word index keeps its stop
// words and the words of a text in such lists; a prefix search finds the
// words that begin with a given start (for search words ending in "*").
//
// Thread-safety: none; a list belongs to one cursor.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vevura {

//! What adding a string equal to one in a sorted list does.
enum TDuplicates : uint8_t {
  dupIgnore = 0,  //!< the list keeps the string it has
  dupAccept = 1,  //!< both are kept
};

class TLanguageStringList {
 public:
  TLanguageStringList(uint16_t language_id, uint16_t sort_id, TDuplicates duplicates = dupIgnore);

  uint16_t LanguageId() const { return language_id_; }
  uint16_t SortId() const { return sort_id_; }

  //! Puts s at its sorted place and returns that place; when the list
  //! ignores duplicates and holds an equal string, returns its place and
  //! adds nothing. An unsorted list appends.
  size_t Add(const std::string& s);
  //! True when an entry compares equal to s; index is its place, or the
  //! place s would take. REQUIRES: the list is sorted.
  bool Find(std::string_view s, size_t* index) const;
  //! True when the list holds a string equal to s.
  bool Contains(std::string_view s) const;
  //! The first entry whose first n characters equal the first n characters
  //! of s (an entry shorter than n never does). REQUIRES: sorted.
  bool FindPrefix(std::string_view s, size_t n, size_t* index) const;

  //! Sorts the entries (keeping equal ones in their order) and keeps the
  //! list sorted from then on.
  void Sort();
  //! An unsorted list keeps entries in the order they were added.
  void SetSorted(bool sorted);
  bool Sorted() const { return sorted_; }

  size_t Count() const { return items_.size(); }
  const std::string& operator[](size_t i) const { return items_[i]; }
  const std::vector<std::string>& Strings() const { return items_; }
  void Clear() { items_.clear(); }

 private:
  //! CompareText of two strings in the list's language, case ignored.
  int Compare(std::string_view a, std::string_view b) const;
  //! The first place whose entry does not sort before s.
  size_t LowerBound(std::string_view s) const;

  uint16_t language_id_;            //!< language of the comparisons
  uint16_t sort_id_;                //!< sort order of the comparisons
  TDuplicates duplicates_;          //!< what adding an equal string does
  bool sorted_ = true;              //!< entries are kept in order
  std::vector<std::string> items_;  //!< the entries
};

}  // namespace vevura
