#pragma once
// The in-memory model the randomized cursor tests compare a table with: the
// records as posted, which record slot each occupies, the row ids every slot
// carries, and the slot and row id the next insert must get. Orders of an
// index come from the engine's own key building and key comparison, so the
// model never holds a second idea of collation.

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/storage/fields/record_layout.h"
#include "engine/storage/keys/bound_keys.h"
#include "engine/storage/keys/key_builder.h"
#include "engine/storage/keys/key_compare.h"
#include "engine/storage/keys/key_context.h"

namespace vevura::test {

//! The lowest key of the index that begins with the first n bytes of key:
//! every byte after them takes the content that comes first in the index's
//! order. With a language a descending field's slot is compared reversed,
//! so its lowest place holds its highest content; the row-id tie-break
//! follows the whole index's direction.
inline std::vector<uint8_t> LowestWithPrefix(const TKeyContext& c, std::vector<uint8_t> key,
                                             size_t n) {
  std::vector<uint8_t> low = key;
  std::vector<uint8_t> high = key;
  FillKeyLow(c, low.data(), n);
  FillKeyHigh(c, high.data(), n);
  for (size_t p = n; p < c.KeyLength; ++p) {
    const TKeySlot* slot = c.SlotAt(p);
    const bool reversed = c.Descending != (slot != nullptr && c.HasLanguage() && slot->Descending);
    key[p] = reversed ? high[p] : low[p];
  }
  return key;
}

//! One live record of the model.
struct TModelRow {
  int32_t RowId = 0;
  int32_t Record = 0;          //!< record number of its slot
  std::vector<uint8_t> Image;  //!< as posted; BLOB fields' value bytes zero
  std::string Notes;           //!< the memo's text
  std::vector<uint8_t> Data;   //!< the binary BLOB's bytes
};

class TTableModel {
 public:
  explicit TTableModel(bool reuses_slots) : reuses_slots_(reuses_slots) {}

  const std::map<int32_t, TModelRow>& Rows() const { return rows_; }
  size_t Size() const { return rows_.size(); }
  const TModelRow& RowAt(size_t i) const { return std::next(rows_.begin(), i)->second; }
  const TModelRow* Find(int32_t row_id) const {
    auto it = rows_.find(row_id);
    return it == rows_.end() ? nullptr : &it->second;
  }

  //! The slot the next insert takes: the most recently freed one on a table
  //! that reuses slots, else a new one.
  int32_t NextSlot() const { return reuses_slots_ && !free_.empty() ? free_.back() : next_slot_; }
  //! The row id the next insert gets: the last one plus 1 (1 after
  //! 2147483647), skipping every row id a slot still carries.
  int32_t NextRowId() const {
    int32_t id = last_row_id_;
    do {
      id = id == INT32_MAX ? 1 : id + 1;
    } while (carried_.count(id) != 0);
    return id;
  }
  void SetLastRowId(int32_t id) { last_row_id_ = id; }

  //! A new row in the slot NextSlot() names.
  void Insert(TModelRow row) {
    row.Record = NextSlot();
    if (reuses_slots_ && !free_.empty()) {
      carried_.erase(slot_rows_[row.Record]);
      free_.pop_back();
    } else {
      ++next_slot_;
    }
    slot_rows_[row.Record] = row.RowId;
    carried_.insert(row.RowId);
    last_row_id_ = row.RowId;
    rows_[row.RowId] = std::move(row);
  }
  void Replace(const TModelRow& row) { rows_[row.RowId] = row; }
  //! The slot stays, free, and keeps carrying the row id.
  void Delete(int32_t row_id) {
    if (reuses_slots_) free_.push_back(rows_.at(row_id).Record);
    rows_.erase(row_id);
  }

  //! The live rows in the order of the context's index.
  std::vector<const TModelRow*> InIndexOrder(const TKeyContext& c) const {
    std::vector<std::pair<std::vector<uint8_t>, const TModelRow*>> keyed;
    for (const auto& [id, row] : rows_) keyed.emplace_back(BuildKey(c, row.Image), &row);
    std::sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
      return CompareKeys(c, a.first.data(), b.first.data(), c.KeyLength) < 0;
    });
    std::vector<const TModelRow*> order;
    for (const auto& entry : keyed) order.push_back(entry.second);
    return order;
  }
  //! The live rows by record number.
  std::vector<const TModelRow*> InRecordOrder() const {
    std::vector<const TModelRow*> order;
    for (const auto& [id, row] : rows_) order.push_back(&row);
    std::sort(order.begin(), order.end(),
              [](const TModelRow* a, const TModelRow* b) { return a->Record < b->Record; });
    return order;
  }
  //! A live row other than row_id whose key in the context's unique index
  //! equals image's; nullptr when none.
  const TModelRow* Clash(const TKeyContext& c, const std::vector<uint8_t>& image,
                         int32_t row_id) const {
    const std::vector<uint8_t> key = BuildKey(c, image);
    for (const auto& [id, row] : rows_) {
      if (id != row_id && BuildKey(c, row.Image) == key) return &row;
    }
    return nullptr;
  }

 private:
  bool reuses_slots_;                     //!< a table with a primary index reuses free slots
  std::map<int32_t, TModelRow> rows_;     //!< live rows by row id
  std::map<int32_t, int32_t> slot_rows_;  //!< row id each slot carries
  std::set<int32_t> carried_;             //!< row ids carried by some slot
  std::vector<int32_t> free_;             //!< free slots, most recently freed last
  int32_t next_slot_ = 1;                 //!< the slot after the last one
  int32_t last_row_id_ = 0;               //!< the table's last auto-increment value
};

}  // namespace vevura::test
