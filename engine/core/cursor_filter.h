#pragma once
// TFilter: one restriction of a cursor's records, either a boolean
// expression over the record's fields or a function of the host that accepts
// or rejects one record at a time.
//
// Each filter keeps the bitmap of the records that pass it. The cursor
// combines the bitmaps of its active filters with those of its range and of
// the active records into the bitmap of visible records, through which it
// moves and counts (data_cursor.h).
//
// An expression filter is answered from indexes where its conditions allow:
// a comparison of a field with a constant, a test for null, an IN list or a
// leading-characters match (LIKE 'ab%', = 'ab*') on a field that begins an
// index collects the references of a key range into a bitmap without
// reading records, and a TEXTSEARCH collects the keys of its words from the
// word index; the rest is evaluated record by record. Conditions on the
// active index's first field also bound the walks in index order.
// The optimization level says how much of it the indexes answer: 0 none,
// 1 partly, 2 all.
//
// Ownership: the cursor owns its filters; a filter owns its compiled tree
// and its bitmap (from the process-wide pool, given back when the filter
// goes).

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <unordered_map>

#include "engine/expr/exp_token.h"
#include "engine/expr/records_bitmap.h"

namespace vevura {

class TDataCursor;

//! Decides whether a record passes: the cursor, the record image and its
//! record number. The host object travels in the function's captures.
using TFilterCallback =
    std::function<bool(TDataCursor& cursor, std::span<const uint8_t> record, int32_t number)>;

//! Optimization levels.
inline constexpr int kFilterNotOptimized = 0;
inline constexpr int kFilterPartlyOptimized = 1;
inline constexpr int kFilterFullyOptimized = 2;
//! Most filters one cursor holds.
inline constexpr size_t kMaxCursorFilters = 64;

//! How a filter is made.
struct TFilterSettings {
  //! = and <> of a string field and a constant without regard to case (the
  //! other comparisons keep the table's case rules).
  bool IgnoreCase = false;
  bool NoPartialCompare = false;  //!< a trailing "*" is an ordinary character
  //! A key range holding more than half of the active records is answered
  //! by collecting the keys outside it and inverting.
  bool ComplementRule = true;
  bool Estimates = true;  //!< count the keys of each answerable condition
  //! Answer a condition from its index only while its range holds at most
  //! 90% of the active records (counted with Estimates); beyond that reading
  //! the records costs less. For query engines; off for table components.
  bool CostRule = false;
};

class TFilter {
 public:
  TFilter(const TFilter&) = delete;
  TFilter& operator=(const TFilter&) = delete;
  ~TFilter();

  bool Active() const { return active_; }
  int OptimizeLevel() const { return level_; }
  bool IsCallback() const { return callback_ != nullptr; }
  //! The compiled tree of an expression filter, nullptr for a callback.
  const TExpToken* Expression() const { return expression_.get(); }
  const TFilterSettings& Settings() const { return settings_; }
  //! The records that passed the filter at the last computation.
  const TRecordsBitmap& Bitmap() const { return *bitmap_; }

 private:
  friend class TDataCursor;
  TFilter() = default;

  TFilterCallback callback_;
  std::unique_ptr<TExpToken> expression_;  //!< compiled; the answerable side of an AND first
  //! The level of every node of the tree, computed once when it is added.
  std::unordered_map<const TExpToken*, int> levels_;
  //! Conditions the cost rule kept from their index (level 0 that could be 2).
  std::unordered_map<const TExpToken*, bool> costly_;
  std::unique_ptr<TRecordsBitmap> bitmap_;
  TFilterSettings settings_;
  bool active_ = false;
  int level_ = kFilterNotOptimized;
};

}  // namespace vevura
