#include "engine/expr/records_bitmap.h"

#include <algorithm>
#include <bit>

namespace vevura {
namespace {

constexpr uint32_t kAllOnes = 0xFFFFFFFFu;

// The lowest `bits` bits set (bits in 0..32).
constexpr uint32_t LowMask(int64_t bits) {
  return bits <= 0 ? 0u : bits >= 32 ? kAllOnes : kAllOnes >> (32 - bits);
}

// Set bits of a word: full and empty words are answered without counting.
int32_t SetBitsOf(uint32_t word) {
  if (word == 0) return 0;
  if (word == kAllOnes) return 32;
  return std::popcount(word);
}

// Position (0..31) of the k-th lowest set bit; word holds at least k set bits.
int32_t KthLowestBit(uint32_t word, int32_t k) {
  for (int32_t i = 1; i < k; ++i) word &= word - 1;
  return std::countr_zero(word);
}

// Position (0..31) of the k-th highest set bit; word holds at least k set bits.
int32_t KthHighestBit(uint32_t word, int32_t k) {
  for (int32_t i = 1; i < k; ++i) word &= ~(0x80000000u >> std::countl_zero(word));
  return 31 - std::countl_zero(word);
}

int32_t RoundUp(int64_t value, int64_t step) {
  return static_cast<int32_t>((value + step - 1) / step * step);
}

}  // namespace

void TRecordsBitmap::SetSize(int32_t size) {
  size = std::clamp(size, 0, kMaxSize);
  if (size == size_) return;
  const int32_t old_size = size_;
  size_ = size;
  rounded_size_ = RoundUp(size, 32);
  if (size == 0) {
    words_.reset();
    capacity_ = 0;
    return;
  }
  Reserve(WordCount() * 4);
  if (size > old_size) ClearRecordsAfter(old_size);
}

void TRecordsBitmap::Reserve(int32_t bytes) {
  if (bytes <= capacity_) return;
  const int32_t capacity = RoundUp(bytes, kCapacityStep);
  auto words = std::make_unique<uint32_t[]>(capacity / 4);  // zeroed
  std::copy_n(words_.get(), capacity_ / 4, words.get());
  words_ = std::move(words);
  capacity_ = capacity;
}

void TRecordsBitmap::ClearRecordsAfter(int32_t from) {
  int32_t w = from / 32;
  if (from % 32 != 0) {
    words_[w] &= LowMask(from % 32);
    ++w;
  }
  std::fill(words_.get() + w, words_.get() + WordCount(), 0u);
}

uint32_t TRecordsBitmap::CoveredWord(int32_t w) const {
  const uint32_t word = words_[w];
  if (w < WordCount() - 1) return word;
  return word & LowMask(size_ - static_cast<int64_t>(w) * 32);
}

bool TRecordsBitmap::Test(int32_t record) const {
  if (record < 1 || record > size_) return false;
  const int32_t bit = record - 1;
  return (words_[bit / 32] >> (bit % 32)) & 1u;
}

void TRecordsBitmap::Set(int32_t record) {
  if (record < 1 || record > size_) return;
  const int32_t bit = record - 1;
  words_[bit / 32] |= 1u << (bit % 32);
}

void TRecordsBitmap::Clear(int32_t record) {
  if (record < 1 || record > size_) return;
  const int32_t bit = record - 1;
  words_[bit / 32] &= ~(1u << (bit % 32));
}

void TRecordsBitmap::ClearAll() {
  std::fill_n(words_.get(), capacity_ / 4, 0u);
}

void TRecordsBitmap::SetAll() {
  std::fill_n(words_.get(), capacity_ / 4, kAllOnes);
}

int32_t TRecordsBitmap::Count() const {
  int32_t count = 0;
  for (int32_t w = 0; w < WordCount(); ++w) count += SetBitsOf(CoveredWord(w));
  return count;
}

int32_t TRecordsBitmap::CountBefore(int32_t record) const {
  if (record <= 1) return 0;
  const int32_t bits = std::min(record - 1, size_);
  int32_t count = 0;
  for (int32_t w = 0; w < bits / 32; ++w) count += SetBitsOf(words_[w]);
  if (bits % 32 != 0) count += SetBitsOf(words_[bits / 32] & LowMask(bits % 32));
  return count;
}

bool TRecordsBitmap::FindNext(int32_t& position, int32_t k, int32_t& running_count) const {
  const int64_t first_bit = std::max(position, 0);  // bit of the record after position
  if (k < 1 || first_bit >= size_) return false;
  int32_t remaining = k;
  for (int32_t w = static_cast<int32_t>(first_bit / 32); w < WordCount(); ++w) {
    uint32_t word = CoveredWord(w);
    if (w == first_bit / 32) word &= ~LowMask(first_bit % 32);
    const int32_t set = SetBitsOf(word);
    if (set < remaining) {  // also skips empty and, while k lies beyond, full words
      remaining -= set;
      continue;
    }
    position = w * 32 + KthLowestBit(word, remaining) + 1;
    running_count += k;
    return true;
  }
  running_count += k - remaining;
  return false;
}

bool TRecordsBitmap::FindPrior(int32_t& position, int32_t k, int32_t& running_count) const {
  // Bit of the record before position, at most the last covered one.
  const int64_t last_bit = std::min<int64_t>(static_cast<int64_t>(position) - 2, size_ - 1);
  if (k < 1 || last_bit < 0) return false;
  int32_t remaining = k;
  for (int32_t w = static_cast<int32_t>(last_bit / 32); w >= 0; --w) {
    uint32_t word = CoveredWord(w);
    if (w == last_bit / 32) word &= LowMask(last_bit % 32 + 1);
    const int32_t set = SetBitsOf(word);
    if (set < remaining) {
      remaining -= set;
      continue;
    }
    position = w * 32 + KthHighestBit(word, remaining) + 1;
    running_count += k;
    return true;
  }
  running_count += k - remaining;
  return false;
}

void TRecordsBitmap::And(const TRecordsBitmap& other) {
  for (int32_t w = 0; w < WordCount(); ++w) {
    words_[w] &= w < other.WordCount() ? other.CoveredWord(w) : 0u;
  }
}

void TRecordsBitmap::Or(const TRecordsBitmap& other) {
  const int32_t words = std::min(WordCount(), other.WordCount());
  for (int32_t w = 0; w < words; ++w) words_[w] |= other.CoveredWord(w);
}

void TRecordsBitmap::Not() {
  for (int32_t w = 0; w < WordCount(); ++w) words_[w] = ~words_[w];
}

void TRecordsBitmap::Assign(const TRecordsBitmap& other) {
  if (&other == this) return;
  std::unique_ptr<uint32_t[]> words;
  if (other.capacity_ > 0) {
    words = std::make_unique<uint32_t[]>(other.capacity_ / 4);
    std::copy_n(other.words_.get(), other.capacity_ / 4, words.get());
  }
  words_ = std::move(words);
  capacity_ = other.capacity_;
  size_ = other.size_;
  rounded_size_ = other.rounded_size_;
}

}  // namespace vevura
