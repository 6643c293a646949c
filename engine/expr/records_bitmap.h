#pragma once
// A set of record numbers: one bit per record slot of a data file, numbered
// from 1 like record numbers. Record n is bit (n - 1) mod 32 of word
// (n - 1) div 32.
//
// The bitmap covers records 1 to Size(). Its word storage grows in steps of 256
// bytes and never shrinks while the bitmap lives, except that a size of 0
// releases it, so resizing the bitmap of a growing table rarely reallocates.
// SetAll() sets every allocated bit, also those beyond the size; bits beyond the
// size are never tested, counted or found, and records that a larger size newly
// covers always start clear.
//
// Record numbers outside 1..Size() are not in the set: Test() answers false and
// Set() and Clear() ignore them. Counting and searching skip words that are all
// ones or all zeros in one step.
//
// Thread safety: a bitmap is used by one thread at a time (its owner's).

#include <cstdint>
#include <memory>
#include <span>

namespace vevura {

class TRecordsBitmap {
 public:
  //! Largest size: the largest multiple of 32 that a signed 32-bit count holds.
  static constexpr int32_t kMaxSize = INT32_MAX - 31;
  //! Storage grows in steps of this many bytes.
  static constexpr int32_t kCapacityStep = 256;

  //! An empty bitmap: size 0, no storage.
  TRecordsBitmap() = default;
  TRecordsBitmap(const TRecordsBitmap&) = delete;
  TRecordsBitmap& operator=(const TRecordsBitmap&) = delete;

  //! Covers records 1 to size (clamped to 0..kMaxSize). Grows the storage when
  //! needed (new words zero), keeps it when less is needed, releases it for 0.
  //! Records beyond the old size start clear.
  void SetSize(int32_t size);
  //! Number of records covered.
  int32_t Size() const { return size_; }
  //! Size rounded up to a multiple of 32.
  int32_t RoundedSize() const { return rounded_size_; }
  //! Number of 32-bit words that cover the size.
  int32_t WordCount() const { return rounded_size_ / 32; }
  //! Bytes allocated for the words (a multiple of 256).
  int32_t Capacity() const { return capacity_; }
  //! The words that cover the size (bits beyond the size included as stored).
  std::span<const uint32_t> Words() const {
    return {words_.get(), static_cast<size_t>(WordCount())};
  }

  //! Whether record is in the set; false for a record outside 1..Size().
  bool Test(int32_t record) const;
  //! Adds record; ignored outside 1..Size().
  void Set(int32_t record);
  //! Removes record; ignored outside 1..Size().
  void Clear(int32_t record);
  //! Every allocated byte becomes 0.
  void ClearAll();
  //! Every allocated byte becomes 255 (bits beyond the size included).
  void SetAll();

  //! Number of records in the set.
  int32_t Count() const;
  //! Number of records in the set among 1 to record - 1; 0 for record <= 1.
  int32_t CountBefore(int32_t record) const;

  //! Finds the k-th record in the set after position (0 or less: from the
  //! start), up to Size(). On success position becomes that record. In every
  //! case the number of set records passed (k on success, the found one
  //! included) is added to running_count. False for k < 1.
  bool FindNext(int32_t& position, int32_t k, int32_t& running_count) const;
  //! As FindNext, backwards from the record before position (beyond the size:
  //! from Size()) down to record 1.
  bool FindPrior(int32_t& position, int32_t k, int32_t& running_count) const;

  //! Word by word AND with other, over this bitmap's words; records beyond
  //! other's size count as clear.
  void And(const TRecordsBitmap& other);
  //! Word by word OR with other, over this bitmap's words; records beyond
  //! other's size count as clear.
  void Or(const TRecordsBitmap& other);
  //! Complements every word that covers the size.
  void Not();
  //! Becomes a copy of other: its capacity, size and words.
  void Assign(const TRecordsBitmap& other);

 private:
  //! Word w with the bits beyond the size cleared.
  uint32_t CoveredWord(int32_t w) const;
  //! Makes the storage hold at least bytes, in steps of kCapacityStep.
  void Reserve(int32_t bytes);
  //! Clears the bits of records from + 1 to Size().
  void ClearRecordsAfter(int32_t from);

  std::unique_ptr<uint32_t[]> words_;  //!< Capacity() / 4 words
  int32_t capacity_ = 0;               //!< bytes allocated
  int32_t size_ = 0;                   //!< records covered
  int32_t rounded_size_ = 0;           //!< size_ rounded up to a multiple of 32
};

}  // namespace vevura
