#include "engine/storage/language/language_string_list.h"

#include <algorithm>

#include "engine/storage/language/collation.h"

namespace vevura {

TLanguageStringList::TLanguageStringList(uint16_t language_id, uint16_t sort_id,
                                         TDuplicates duplicates)
    : language_id_(language_id), sort_id_(sort_id), duplicates_(duplicates) {}

int TLanguageStringList::Compare(std::string_view a, std::string_view b) const {
  return CompareText(language_id_, sort_id_, std::string(a), std::string(b), true);
}

size_t TLanguageStringList::LowerBound(std::string_view s) const {
  auto place = std::lower_bound(
      items_.begin(), items_.end(), s,
      [this](const std::string& item, std::string_view key) { return Compare(item, key) < 0; });
  return static_cast<size_t>(place - items_.begin());
}

size_t TLanguageStringList::Add(const std::string& s) {
  if (!sorted_) {
    items_.push_back(s);
    return items_.size() - 1;
  }
  size_t index = 0;
  if (Find(s, &index)) {
    if (duplicates_ == dupIgnore) return index;
    // Equal strings keep the order in which they came.
    while (index < items_.size() && Compare(items_[index], s) == 0) ++index;
  }
  items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(index), s);
  return index;
}

bool TLanguageStringList::Find(std::string_view s, size_t* index) const {
  size_t place = LowerBound(s);
  if (index != nullptr) *index = place;
  return place < items_.size() && Compare(items_[place], s) == 0;
}

bool TLanguageStringList::Contains(std::string_view s) const {
  return Find(s, nullptr);
}

bool TLanguageStringList::FindPrefix(std::string_view s, size_t n, size_t* index) const {
  // Both starts are padded with zeros to n bytes, so an entry shorter than
  // n differs from a start that is not.
  std::string start(s.substr(0, std::min(n, s.size())));
  start.resize(n, '\0');
  auto prefix_order = [this, n, &start](const std::string& item) {
    std::string head = item.substr(0, std::min(n, item.size()));
    head.resize(n, '\0');
    return CompareText(language_id_, sort_id_, head.data(), start.data(), true, n);
  };
  auto place = std::partition_point(items_.begin(), items_.end(), [&](const std::string& item) {
    return prefix_order(item) < 0;
  });
  if (index != nullptr) *index = static_cast<size_t>(place - items_.begin());
  return place != items_.end() && (n == 0 || prefix_order(*place) == 0);
}

void TLanguageStringList::Sort() {
  std::stable_sort(
      items_.begin(), items_.end(),
      [this](const std::string& a, const std::string& b) { return Compare(a, b) < 0; });
  sorted_ = true;
}

void TLanguageStringList::SetSorted(bool sorted) {
  if (sorted && !sorted_) {
    Sort();
  } else {
    sorted_ = sorted;
  }
}

}  // namespace vevura
