#pragma once
// Character maps: the 256 character codes in the collation order of a
// language, and the process-wide list that keeps one map per language pair.
//
// map[0] is the lowest character of the collation and map[255] the highest;
// characters the language considers equal keep the order of their codes.
// Language id 0 has the identity map. Key bounds (bound_keys.h) fill string
// values with map[0] and map[255] and step from a character to the next or
// previous one in map order.
//
// Maps are built on first use and kept until the process ends (or Clear).
// Thread-safety: TLanguageCharMapsList is shared by every session of the
// process; it is searched and extended only while its lock is held, and
// building a missing map happens under that lock too, so each pair is built
// once.

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

namespace vevura {

using TCharMap = std::array<uint8_t, 256>;

//! Builds the map of a language pair: the identity for language id 0, else
//! the 256 codes sorted by comparing single characters under the locale
//! (case-sensitive, non-spacing marks ignored, string-sort mode).
TCharMap BuildCharMap(uint16_t language_id, uint16_t sort_id);

class TLanguageCharMapsList {
 public:
  TLanguageCharMapsList() = default;
  TLanguageCharMapsList(const TLanguageCharMapsList&) = delete;
  TLanguageCharMapsList& operator=(const TLanguageCharMapsList&) = delete;

  //! A copy of the pair's map, built and added when the list lacks it.
  TCharMap Get(uint16_t language_id, uint16_t sort_id);
  //! Number of maps kept.
  size_t Count() const;
  //! Forgets every map (the engine's stop).
  void Clear();

 private:
  struct TEntry {
    uint16_t LanguageId;  //!< language id of the pair
    uint16_t SortId;      //!< sort id of the pair
    TCharMap Map;         //!< the pair's map
  };

  mutable std::mutex lock_;      //!< guards entries_
  std::vector<TEntry> entries_;  //!< one per pair, in the order they were built
};

//! The process's one list of character maps.
TLanguageCharMapsList& LanguageCharMaps();
//! The pair's map from the process-wide list.
TCharMap GetCharMap(uint16_t language_id, uint16_t sort_id);

}  // namespace vevura
