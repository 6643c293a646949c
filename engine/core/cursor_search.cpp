// Finding records: keys, ranges, other indexes, bookmarks, refreshing and
// cloning a cursor.

#include <algorithm>
#include <cstring>

#include "engine/base/engine_error.h"
#include "engine/core/data_cursor.h"
#include "engine/core/data_table.h"
#include "engine/storage/common/byte_order.h"
#include "engine/storage/keys/bound_keys.h"
#include "engine/storage/keys/key_builder.h"
#include "platform/locale.h"

namespace vevura {

namespace {

std::string Trimmed(const std::string& text) {
  size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

}  // namespace

// ----- Keys -----

size_t TDataCursor::BuildSearchKey(std::span<const uint8_t> key_or_record, bool key_is_raw,
                                   int field_count, int partial_length, bool high,
                                   uint8_t* key) const {
  const TKeyContext& c = Keys(active_index_).Context;
  const size_t length = c.KeyLength;
  std::fill(key, key + length, 0);
  if (key_or_record.empty()) return length;
  if (key_is_raw) {
    std::copy_n(key_or_record.begin(), std::min(length, key_or_record.size()), key);
  } else {
    if (key_or_record.size() < record_size_) Raise(VEVURA_RECTOOBIG);
    BuildKey(c, key_or_record.first(record_size_), key);
  }
  const int fields = static_cast<int>(c.Slots.size());
  const bool partial = partial_length > 0;
  const bool prefix =
      (field_count >= 1 && field_count < fields) || !c.Unique || (field_count == 0 && partial);
  if (!prefix) return length;
  int count = field_count;
  if (count <= 0) count = partial ? 0 : fields;
  count = std::min(count, fields);
  size_t n = 0;
  for (int i = 0; i < count; ++i) n += c.Slots[i].KeySize + 1u;
  if (partial && count < fields) {
    n += std::min<size_t>(static_cast<size_t>(partial_length), c.Slots[count].KeySize) + 1;
  }
  n = std::min(n, length);
  FillAfterPrefix(c, key, n, high);
  return n;
}

void TDataCursor::FillAfterPrefix(const TKeyContext& c, uint8_t* key, size_t n, bool high) {
  // The lowest key of the prefix in index order, or the highest for the top
  // of a range. A descending index turns the bytes around; so does a
  // descending field in a table with a language, whose slot keeps its bytes
  // and whose comparison is turned around instead.
  const size_t length = c.KeyLength;
  std::vector<uint8_t> lowest(key, key + length);
  std::vector<uint8_t> highest(key, key + length);
  FillKeyLow(c, lowest.data(), n);
  FillKeyHigh(c, highest.data(), n);
  auto take = [&](size_t from, size_t to, bool descending) {
    const std::vector<uint8_t>& source = high != descending ? highest : lowest;
    for (size_t p = std::max(from, n); p < to; ++p) key[p] = source[p];
  };
  if (!c.HasLanguage()) {
    take(0, length, c.Descending);
    return;
  }
  for (const TKeySlot& slot : c.Slots) {
    take(slot.Start, slot.End(), c.Descending || slot.Descending);
  }
  take(c.SlotsLength, length, c.Descending);
}

bool TDataCursor::SeekKey(const uint8_t* key, size_t) {
  const uint8_t* target = key;
  if (range_active_ && CompareActive(key, range_low_.data()) < 0) target = range_low_.data();
  size_t length = KeyLength();
  if (span_ != nullptr && CompareSpan(target, span_->Low.data(), span_->Prefix) < 0) {
    target = span_->Low.data();
    length = span_->Prefix;
  }
  TIndexPosition pos;
  bool found = Tree(active_index_).SeekNotBelow(target, length, &pos);
  CheckRestart();
  if (found && InRange(pos) && (!filtering_ || SkipHidden(true, &pos))) {
    StandOn(pos);
    return true;
  }
  // After the last entry (of the range): on the last one.
  if (GoToEdge(true)) return true;
  SetEmpty();
  return false;
}

bool TDataCursor::FindKey(std::span<const uint8_t> key_or_record, bool key_is_raw, int field_count,
                          int partial_length, bool nearest, TRecordImage buffer) {
  RequireOpen();
  RequireCallerBuffer(buffer);
  if (record_number_order_) return false;
  return ReadBracket([&] {
    const TBookmark here = GetBookmark();
    const bool bof = bof_;
    const bool eof = eof_;
    direction_ = rdForward;
    std::vector<uint8_t> key(KeyLength());
    size_t n =
        BuildSearchKey(key_or_record, key_is_raw, field_count, partial_length, false, key.data());
    bool found = SeekKey(key.data(), n) &&
                 Keys(active_index_).Comparer.CompareKeys(pos_.Key.data(), key.data(), n) == 0;
    // A whole key that is not there moves the cursor only when asked to stand
    // on its nearest entry.
    if (!found && !nearest && n == KeyLength()) Relocate(here, bof, eof);
    ReadCurrentRecord();
    Deliver(buffer);
    return found;
  });
}

// ----- Ranges -----

void TDataCursor::SetRange(bool key_is_raw, std::span<const uint8_t> low, int low_field_count,
                           std::span<const uint8_t> high, int high_field_count) {
  RequireOpen();
  if (record_number_order_) return;
  ReadBracket([&] {
    TBookmark here = GetBookmark();
    const bool bof = bof_;
    const bool eof = eof_;
    BuildSearchKey(low, key_is_raw, low_field_count, 0, false, range_low_.data());
    BuildSearchKey(high, key_is_raw, high_field_count, 0, true, range_high_.data());
    range_active_ = true;
    if (filtering_) ComputeVisible();
    Relocate(here, bof, eof);
    ReadCurrentRecord();
  });
}

void TDataCursor::CancelRange() {
  RequireOpen();
  if (!range_active_) return;
  ReadBracket([&] {
    TBookmark here = GetBookmark();
    const bool bof = bof_;
    const bool eof = eof_;
    range_active_ = false;
    if (filtering_) ComputeVisible();
    Relocate(here, bof, eof);
    ReadCurrentRecord();
  });
}

// ----- Indexes -----

void TDataCursor::SwitchToIndex(const std::string& index_name) {
  RequireOpen();
  const std::string name = Trimmed(index_name);
  if (active_index_ != kNoIndex && platform::SameTextSystem(name, active_index_name_)) return;
  LockedReadBracket([&] {
    range_active_ = false;
    uint8_t found = kNoIndex;
    if (name.empty()) {
      found = 0;
    } else {
      for (uint8_t n = 1; n <= kMaxSecondaryIndexes; ++n) {
        if (keys_[n] == nullptr) continue;
        std::string candidate = Trimmed(table_->IndexFile().GetIndexDescriptor(n).Name);
        if (platform::SameTextSystem(candidate, name)) {
          found = n;
          break;
        }
      }
    }
    if (found == kNoIndex) RaiseNamed(VEVURA_INVALIDINDEXNAME, index_name);
    const bool on_record = PositionCode() == kCursorOnRecord;
    const bool bof = bof_;
    const bool eof = eof_;
    const int32_t number = record_number_;
    const std::vector<uint8_t> record = current_;
    SelectIndex(found);
    if (on_record) {
      PositionOnRecord(record, number);
    } else {
      Relocate({}, bof, eof);
    }
    ReadCurrentRecord();
  });
}

void TDataCursor::PositionOnRecord(std::span<const uint8_t> record, int32_t n) {
  if (record_number_order_) {
    TBookmark bookmark(kRecordBookmarkSize);
    PutInt32(bookmark.data(), n);
    GotoBookmarkInside(bookmark);
    return;
  }
  std::vector<uint8_t> key(KeyLength());
  BuildKey(Keys(active_index_).Context, record.first(record_size_), key.data());
  SeekKey(key.data(), key.size());
}

bool TDataCursor::StandOnPostedKey(std::span<const uint8_t> record, int32_t n) {
  // SeekKey would find exactly this entry (the key names one record and is
  // in the index or its batch), but would insert the batch to find it.
  if (record_number_order_ || !QueuesKeysOf(active_index_) || !Visible(n)) return false;
  const uint16_t length = KeyLength();
  BuildKey(Keys(active_index_).Context, record.first(record_size_), entry_check_.data());
  if (!KeyInRange(entry_check_.data())) return false;
  // Assigned in place: this runs at every post.
  pos_.Page = 0;
  pos_.Entry = 0;
  pos_.Ordinal = -1;
  pos_.LeafSteps = 0;
  pos_.Reference = static_cast<uint32_t>(n);
  pos_.Key.assign(entry_check_.begin(), entry_check_.begin() + length);
  record_number_ = n;
  bof_ = false;
  eof_ = false;
  return true;
}

void TDataCursor::ResolvePosition() {
  if (!PositionByKey()) return;
  const std::vector<uint8_t> key = pos_.Key;
  try {
    SeekKey(key.data(), key.size());
  } catch (const EVEVURAEngineError&) {
    // The post stands; the cursor goes where PlaceAfterChange puts it.
    SetBeginning();
    current_.assign(record_size_, 0);
  }
}

// ----- Bookmarks -----

TBookmark TDataCursor::GetBookmark() const {
  if (PositionCode() != kCursorOnRecord) return {};
  if (record_number_order_) {
    TBookmark bookmark(kRecordBookmarkSize);
    PutInt32(bookmark.data(), record_number_);
    return bookmark;
  }
  return pos_.Key;
}

TBookmark TDataCursor::BookmarkOfRecord(std::span<const uint8_t> record,
                                        int32_t record_number) const {
  RequireOpen();
  RequireCallerBuffer(record);
  TBookmark bookmark(KeyLength());
  if (record_number_order_) {
    PutInt32(bookmark.data(), record_number);
  } else {
    BuildKey(Keys(active_index_).Context, record.first(record_size_), bookmark.data());
  }
  return bookmark;
}

bool TDataCursor::GotoBookmarkInside(const TBookmark& bookmark) {
  if (record_number_order_) {
    if (bookmark.size() != kRecordBookmarkSize) {
      Relocate({}, true, false);
      return false;
    }
    int32_t n = GetInt32(bookmark.data());
    const TRecordsBitmap& records = OrderBits();
    if (records.Test(n)) {
      StandOnRecord(n);
      return true;
    }
    int32_t position = n;
    int32_t passed = 0;
    if (records.FindNext(position, 1, passed)) {
      StandOnRecord(position);
    } else if (!GoToEdge(true)) {
      SetEmpty();
    }
    return false;
  }
  if (bookmark.size() != KeyLength()) {
    Relocate({}, true, false);
    return false;
  }
  return SeekKey(bookmark.data(), bookmark.size()) && pos_.Key == bookmark;
}

bool TDataCursor::GotoBookmark(const TBookmark& bookmark, bool nearest) {
  RequireOpen();
  return ReadBracket([&] {
    direction_ = rdForward;
    bool found = GotoBookmarkInside(bookmark);
    ReadCurrentRecord();
    return nearest || found;
  });
}

int TDataCursor::CompareBookmarks(const TBookmark& a, const TBookmark& b) const {
  RequireOpen();
  const size_t length = KeyLength();
  if (a.size() != length || b.size() != length) {
    return (a.size() > b.size()) - (a.size() < b.size());
  }
  if (record_number_order_) {
    int32_t x = GetInt32(a.data());
    int32_t y = GetInt32(b.data());
    return (x > y) - (x < y);
  }
  return CompareActive(a.data(), b.data());
}

// ----- Refreshing -----

void TDataCursor::Relocate(const TBookmark& bookmark, bool bof, bool eof) {
  if (!bof && !eof && !bookmark.empty()) {
    GotoBookmarkInside(bookmark);
    return;
  }
  const bool last = eof && !bof;
  if (!HasEdge(last)) {
    SetEmpty();
  } else if (last) {
    SetEnd();
  } else {
    SetBeginning();
  }
}

void TDataCursor::Reposition() {
  pos_.Clear();
  path_.Clear();
  if (record_number_order_ || filtering_) ComputeVisible();
  Relocate(remembered_, remembered_bof_, remembered_eof_);
  ReadCurrentRecord();
}

void TDataCursor::Refresh() {
  RequireOpen();
  BeginBracket();
  TBracketEnd end{*this};
  if (CursorReadLock()) return;
  RememberPosition();
  TakeSnapshot();
  RefreshAndReposition();
}

// ----- Cloning -----

std::unique_ptr<TDataCursor> TDataCursor::CloneCursor() {
  RequireOpen();
  auto clone = std::make_unique<TDataCursor>(directory_);
  clone->target_ = target_;
  clone->companion_ = true;
  clone->record_number_order_requested_ = active_index_ == kNoIndex;
  clone->OpenCursor();
  if (active_index_ != kNoIndex) clone->SwitchToIndex(active_index_name_);
  if (range_active_) {
    clone->range_low_ = range_low_;
    clone->range_high_ = range_high_;
    clone->range_active_ = true;
  }
  if (!filters_.empty()) {
    for (const auto& filter : filters_) {
      TFilter* copy = filter->IsCallback()
                          ? clone->AddCallbackFilter(filter->callback_)
                          : clone->AddFilter(filter->expression_->Clone(), filter->settings_);
      copy->active_ = filter->active_;
    }
    clone->FiltersChanged();
  }
  if (PositionCode() == kCursorOnRecord) {
    clone->GotoBookmark(GetBookmark(), true);
  } else if (eof_ && !bof_) {
    clone->Last();
  } else {
    clone->First();
  }
  return clone;
}

}  // namespace vevura
