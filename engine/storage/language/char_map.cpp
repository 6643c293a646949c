#include "engine/storage/language/char_map.h"

#include <algorithm>

#include "platform/locale.h"

namespace vevura {

TCharMap BuildCharMap(uint16_t language_id, uint16_t sort_id) {
  TCharMap map;
  for (int code = 0; code < 256; ++code) map[code] = static_cast<uint8_t>(code);
  if (language_id == 0) return map;
  const uint32_t lcid = platform::MakeLcid(language_id, sort_id);
  // A stable sort keeps characters the language holds equal in code order,
  // so the map of a pair is the same in every process.
  std::stable_sort(map.begin(), map.end(), [lcid](uint8_t a, uint8_t b) {
    return platform::CompareLocaleChar(lcid, a, b) < 0;
  });
  return map;
}

TCharMap TLanguageCharMapsList::Get(uint16_t language_id, uint16_t sort_id) {
  std::lock_guard<std::mutex> guard(lock_);
  for (const TEntry& entry : entries_) {
    if (entry.LanguageId == language_id && entry.SortId == sort_id) return entry.Map;
  }
  entries_.push_back(TEntry{language_id, sort_id, BuildCharMap(language_id, sort_id)});
  return entries_.back().Map;
}

size_t TLanguageCharMapsList::Count() const {
  std::lock_guard<std::mutex> guard(lock_);
  return entries_.size();
}

void TLanguageCharMapsList::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  entries_.clear();
}

TLanguageCharMapsList& LanguageCharMaps() {
  static TLanguageCharMapsList list;
  return list;
}

TCharMap GetCharMap(uint16_t language_id, uint16_t sort_id) {
  return LanguageCharMaps().Get(language_id, sort_id);
}

}  // namespace vevura
