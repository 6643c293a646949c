// Moving through the records: the ends, steps in index order and in
// record-number order, the current record, and the counts and places of
// records.

#include <algorithm>
#include <cstring>

#include "engine/base/engine_error.h"
#include "engine/core/data_cursor.h"
#include "engine/core/data_table.h"
#include "engine/storage/fields/record_layout.h"
#include "engine/storage/keys/key_builder.h"

namespace vevura {

// ----- Positions -----

void TDataCursor::SelectIndex(uint8_t index) {
  active_index_ = index;
  record_number_order_ = index == kNoIndex || (index == 0 && keys_[0] == nullptr);
  active_index_name_.clear();
  if (index >= 1 && index <= kMaxSecondaryIndexes) {
    active_index_name_ = table_->IndexFile().GetIndexDescriptor(index).Name;
  }
  pos_.Clear();
  path_.Clear();
  ComputeVisible();
}

void TDataCursor::ClearPosition() {
  pos_.Clear();
  record_number_ = 0;
}

void TDataCursor::SetBeginning() {
  ClearPosition();
  bof_ = true;
  eof_ = false;
}

void TDataCursor::SetEnd() {
  ClearPosition();
  bof_ = false;
  eof_ = true;
}

void TDataCursor::SetEmpty() {
  ClearPosition();
  bof_ = true;
  eof_ = true;
}

int TDataCursor::CompareActive(const uint8_t* a, const uint8_t* b) const {
  return Keys(active_index_).Comparer.CompareKeys(a, b, KeyLength());
}

bool TDataCursor::KeyInRange(const uint8_t* key) const {
  if (span_ != nullptr && (CompareSpan(key, span_->Low.data(), span_->Prefix) < 0 ||
                           CompareSpan(key, span_->High.data(), span_->Prefix) > 0)) {
    return false;
  }
  if (!range_active_) return true;
  return CompareActive(key, range_low_.data()) >= 0 && CompareActive(key, range_high_.data()) <= 0;
}

bool TDataCursor::EdgeEntry(bool last, TIndexPosition* pos) {
  TBTree tree = Tree(active_index_);
  // The nearer of the range's end and the filters' span.
  const uint8_t* edge = nullptr;
  size_t length = KeyLength();
  if (range_active_) edge = last ? range_high_.data() : range_low_.data();
  if (span_ != nullptr) {
    const uint8_t* end = last ? span_->High.data() : span_->Low.data();
    const int c = edge == nullptr ? 0 : CompareSpan(end, edge, span_->Prefix);
    if (edge == nullptr || (last ? c < 0 : c > 0)) {
      edge = end;
      length = span_->Prefix;
    }
  }
  bool found;
  if (edge == nullptr) {
    found = last ? tree.Last(pos) : tree.First(pos);
  } else if (last) {
    found = tree.SeekNotAbove(edge, length, pos);
  } else {
    found = tree.SeekNotBelow(edge, length, pos);
  }
  CheckRestart();
  return found && InRange(*pos) && (!filtering_ || SkipHidden(!last, pos));
}

int32_t TDataCursor::EdgeRecord(bool last) const {
  const TRecordsBitmap& records = OrderBits();
  int32_t position = last ? records.Size() + 1 : 0;
  int32_t passed = 0;
  bool found =
      last ? records.FindPrior(position, 1, passed) : records.FindNext(position, 1, passed);
  return found ? position : 0;
}

bool TDataCursor::GoToEdge(bool last) {
  if (record_number_order_) {
    int32_t n = EdgeRecord(last);
    if (n == 0) return false;
    StandOnRecord(n);
    return true;
  }
  TIndexPosition pos;
  if (!EdgeEntry(last, &pos)) return false;
  StandOn(pos);
  return true;
}

bool TDataCursor::HasEdge(bool last) {
  if (filtering_) return visible_count_ > 0;
  return GoToEdge(last);
}

void TDataCursor::StandOn(const TIndexPosition& pos) {
  pos_ = pos;
  record_number_ = static_cast<int32_t>(pos.Reference);
  bof_ = false;
  eof_ = false;
}

void TDataCursor::StandOnRecord(int32_t n) {
  pos_.Clear();
  record_number_ = n;
  bof_ = false;
  eof_ = false;
}

bool TDataCursor::Step(bool forward) {
  direction_ = forward ? rdForward : rdBackward;
  if (record_number_order_) {
    int32_t position = record_number_;
    int32_t passed = 0;
    const TRecordsBitmap& records = OrderBits();
    bool found =
        forward ? records.FindNext(position, 1, passed) : records.FindPrior(position, 1, passed);
    if (!found) return false;
    StandOnRecord(position);
    return true;
  }
  if (!pos_.OnEntry()) return GoToEdge(!forward);
  TIndexPosition pos = pos_;
  TBTree tree = Tree(active_index_);
  bool found = forward ? tree.Next(&pos) : tree.Prior(&pos);
  CheckRestart();
  if (!found || !InRange(pos)) return false;
  if (filtering_ && !SkipHidden(forward, &pos)) return false;
  StandOn(pos);
  return true;
}

// ----- The current record -----

void TDataCursor::ReadCurrentRecord() {
  if (record_number_ == 0 || bof_ || eof_) {
    std::fill(current_.begin(), current_.end(), 0);
    return;
  }
  TRecordRef record = FetchRecord(record_number_, direction_);
  std::span<const uint8_t> data = record->Data();
  if (pos_.OnEntry() && !EntryNamesRecord(data)) CheckMismatchedEntry(data);
  std::copy(data.begin(), data.end(), current_.begin());
}

bool TDataCursor::EntryNamesRecord(std::span<const uint8_t> record) {
  // The key the record gives in the active index must be the entry's: a key
  // that is not unique ends with the row id, so a slot holding another
  // record than the entry's fails here as well as one whose fields differ.
  const TKeyContext& context = Keys(active_index_).Context;
  if (RecordStatus(record) != rsLive || pos_.Key.size() != context.KeyLength) return false;
  BuildKey(context, record.first(record_size_), entry_check_.data());
  return std::memcmp(entry_check_.data(), pos_.Key.data(), context.KeyLength) == 0;
}

void TDataCursor::CheckMismatchedEntry(std::span<const uint8_t> record) {
  // A position taken before another user's change is stale rather than
  // damaged: the operation starts again from the refreshed table. So is one
  // left on a record this cursor deleted, whose entry is gone: the cursor
  // still stands there until it moves. Otherwise, under the read lock with
  // no change seen, the index names the wrong record.
  if (!(Snapshot() == table_->ChangeCounters())) restart_pending_ = true;
  if (!restart_pending_ && BeforeDiskRead() && RecordStatus(record) != rsLive) {
    TBTree tree = Tree(active_index_);
    const bool present = tree.LocateKey(pos_.Key.data());
    CheckRestart();
    if (!present) return;
  }
  CheckRestart();
  Raise(VEVURA_INDEXCORRUPT);
}

int TDataCursor::PositionCode() const {
  if (bof_ && eof_) return VEVURA_NOCURRREC;
  if (bof_) return VEVURA_BOF;
  if (eof_) return VEVURA_EOF;
  if (record_number_ == 0) return VEVURA_NOCURRREC;
  return kCursorOnRecord;
}

int TDataCursor::Deliver(TRecordImage buffer) const {
  int code = PositionCode();
  if (buffer.empty()) return code;
  if (code == kCursorOnRecord) {
    std::copy_n(current_.begin(), std::min(buffer.size(), current_.size()), buffer.begin());
  } else {
    std::fill(buffer.begin(), buffer.end(), 0);
  }
  return code;
}

void TDataCursor::RequireCallerBuffer(std::span<const uint8_t> buffer) const {
  if (!buffer.empty() && buffer.size() < record_size_) Raise(VEVURA_RECTOOBIG);
}

// ----- Moves -----

void TDataCursor::First() {
  ReadBracket([&] {
    direction_ = rdForward;
    if (HasEdge(false)) {
      SetBeginning();
    } else {
      SetEmpty();
    }
    ReadCurrentRecord();
  });
}

void TDataCursor::Last() {
  ReadBracket([&] {
    direction_ = rdBackward;
    if (HasEdge(true)) {
      SetEnd();
    } else {
      SetEmpty();
    }
    ReadCurrentRecord();
  });
}

int TDataCursor::Next(TRecordImage buffer) {
  RequireCallerBuffer(buffer);
  return ReadBracket([&] {
    ResolvePosition();
    TScopedValue<bool> stepping(stepping_, true);
    direction_ = rdForward;
    if (bof_) {
      if (!GoToEdge(false)) SetEmpty();
    } else if (!eof_ && !Step(true)) {
      SetEnd();
    }
    ReadCurrentRecord();
    int code = Deliver(buffer);
    return code == kCursorOnRecord ? code : static_cast<int>(VEVURA_EOF);
  });
}

int TDataCursor::Prior(TRecordImage buffer) {
  RequireCallerBuffer(buffer);
  return ReadBracket([&] {
    ResolvePosition();
    TScopedValue<bool> stepping(stepping_, true);
    direction_ = rdBackward;
    if (eof_) {
      if (!GoToEdge(true)) SetEmpty();
    } else if (!bof_ && !Step(false)) {
      SetBeginning();
    }
    ReadCurrentRecord();
    int code = Deliver(buffer);
    return code == kCursorOnRecord ? code : static_cast<int>(VEVURA_BOF);
  });
}

int TDataCursor::GetCurrentRecord(TRecordImage buffer, bool lock_it) {
  RequireCallerBuffer(buffer);
  if (lock_it) return BeginEdit(buffer);
  return ReadBracket([&] {
    ReadCurrentRecord();
    return Deliver(buffer);
  });
}

// ----- Record-number order -----

void TDataCursor::BuildActiveRecords() {
  if (active_ == nullptr) active_ = std::make_unique<TRecordsBitmap>();
  const int32_t slots = std::max(0, table_->DataFile().Header().NextRecordNumber - 1);
  active_->SetSize(slots);
  if (table_->IndexFile().GetActiveRecordCount() == slots) {
    // No deleted slots: every record is active without reading index 31.
    active_->SetAll();
    return;
  }
  active_->ClearAll();
  // Index 31 keys of live records begin with status 0.
  std::array<uint8_t, kSlotKeyLength> low{};
  std::array<uint8_t, kSlotKeyLength> high{};
  std::fill(high.begin() + 1, high.end(), 0xFF);
  TBTree tree = Tree(kSlotIndex);
  tree.CollectReferences(low.data(), high.data(), kSlotKeyLength, [&](uint32_t n) {
    if (static_cast<int32_t>(n) > active_->Size()) active_->SetSize(static_cast<int32_t>(n));
    active_->Set(static_cast<int32_t>(n));
  });
  CheckRestart();
}

// ----- Counts and places -----

void TDataCursor::ComputeRangeBounds() {
  TBTree tree = Tree(active_index_);
  if (!range_active_) {
    int64_t total = tree.KeyTotal();
    CheckRestart();
    range_first_ = total > 0 ? 1 : 0;
    range_last_ = total;
    return;
  }
  range_first_ = 0;
  range_last_ = 0;
  TIndexPosition first;
  TIndexPosition last;
  if (!EdgeEntry(false, &first) || !EdgeEntry(true, &last)) return;
  TBTree counter = Tree(active_index_);
  int64_t from = counter.OrdinalOf(&first);
  int64_t to = counter.OrdinalOf(&last);
  CheckRestart();
  if (to < from) return;
  range_first_ = from + 1;
  range_last_ = to + 1;
}

int64_t TDataCursor::SequenceNumber() {
  if (!pos_.OnEntry()) return 0;
  // Found again by its key: the cursor's own changes may have moved it.
  TBTree tree = Tree(active_index_);
  TIndexPosition pos;
  bool found = tree.SeekNotBelow(pos_.Key.data(), KeyLength(), &pos);
  CheckRestart();
  if (!found) return 0;
  int64_t ordinal = tree.OrdinalOf(&pos);
  CheckRestart();
  if (pos.Key == pos_.Key) pos_ = pos;
  return ordinal + 1;
}

int64_t TDataCursor::GetRecNo() {
  return ReadBracket([&]() -> int64_t {
    ResolvePosition();
    if (PositionCode() != kCursorOnRecord) return 0;
    if (record_number_order_) {
      const TRecordsBitmap& records = OrderBits();
      return records.Test(record_number_) ? records.CountBefore(record_number_) + 1 : 0;
    }
    if (filtering_) return VisiblePlace();
    int64_t sequence = SequenceNumber();
    ComputeRangeBounds();
    if (sequence == 0 || range_first_ == 0) return 0;
    return sequence - range_first_ + 1;
  });
}

int64_t TDataCursor::GetRecordCount() {
  return ReadBracket([&]() -> int64_t {
    if (filtering_) return visible_count_;
    if (record_number_order_) return table_->IndexFile().GetActiveRecordCount();
    ComputeRangeBounds();
    if (range_first_ == 0 || range_last_ == 0) return 0;
    return range_last_ - range_first_ + 1;
  });
}

bool TDataCursor::SetRecNo(int64_t n) {
  return ReadBracket([&] {
    direction_ = rdForward;
    if (record_number_order_) {
      int32_t position = 0;
      int32_t passed = 0;
      int32_t k = static_cast<int32_t>(std::clamp<int64_t>(n, 1, INT32_MAX));
      const TRecordsBitmap& records = OrderBits();
      if (records.FindNext(position, k, passed)) {
        StandOnRecord(position);
      } else if (!GoToEdge(true)) {
        SetEmpty();
      }
      ReadCurrentRecord();
      return PositionCode() == kCursorOnRecord && records.CountBefore(record_number_) + 1 == n;
    }
    if (filtering_) {
      if (!StandOnVisible(std::max<int64_t>(n, 1))) SetEmpty();
      ReadCurrentRecord();
      return PositionCode() == kCursorOnRecord && VisiblePlace() == n;
    }
    ComputeRangeBounds();
    if (range_first_ == 0) {
      SetEmpty();
      ReadCurrentRecord();
      return false;
    }
    int64_t sequence = std::clamp<int64_t>(range_first_ + n - 1, range_first_, range_last_);
    TIndexPosition pos;
    bool found = Tree(active_index_).SeekOrdinal(sequence - 1, &pos);
    CheckRestart();
    if (!found) {
      SetEmpty();
      ReadCurrentRecord();
      return false;
    }
    StandOn(pos);
    ReadCurrentRecord();
    return sequence - range_first_ + 1 == n;
  });
}

}  // namespace vevura
