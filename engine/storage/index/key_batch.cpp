#include "engine/storage/index/key_batch.h"

#include <algorithm>
#include <cstring>

namespace vevura {

void TKeyBatch::Add(const uint8_t* key, uint32_t reference) {
  const auto* reference_bytes = reinterpret_cast<const uint8_t*>(&reference);
  bytes_.insert(bytes_.end(), key, key + key_length_);
  bytes_.insert(bytes_.end(), reference_bytes, reference_bytes + sizeof reference);
}

bool TKeyBatch::TakeBackLast(const uint8_t* key, uint32_t reference) {
  if (bytes_.empty()) return false;
  const uint8_t* last = bytes_.data() + bytes_.size() - EntrySize();
  uint32_t last_reference = 0;
  std::memcpy(&last_reference, last + key_length_, sizeof last_reference);
  if (last_reference != reference || std::memcmp(last, key, key_length_) != 0) return false;
  bytes_.resize(bytes_.size() - EntrySize());
  return true;
}

void TKeyBatch::InsertInto(TBTree& tree) {
  const size_t entry_size = EntrySize();
  const size_t count = bytes_.size() / entry_size;
  std::vector<const uint8_t*> order(count);
  for (size_t i = 0; i < count; ++i) order[i] = bytes_.data() + i * entry_size;
  std::sort(order.begin(), order.end(), [&](const uint8_t* a, const uint8_t* b) {
    return comparer_->CompareKeys(a, b, key_length_) < 0;
  });
  size_t done = 0;
  try {
    for (; done < count; ++done) {
      uint32_t reference = 0;
      std::memcpy(&reference, order[done] + key_length_, sizeof reference);
      tree.InsertKey(order[done], reference);
    }
  } catch (...) {
    // Keep the keys not yet in the tree, for a later attempt.
    std::vector<uint8_t> rest;
    rest.reserve((count - done) * entry_size);
    for (size_t i = done; i < count; ++i) rest.insert(rest.end(), order[i], order[i] + entry_size);
    bytes_.swap(rest);
    throw;
  }
  bytes_.clear();
}

}  // namespace vevura
