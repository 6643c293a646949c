#include "engine/storage/data/record_storage.h"

#include <algorithm>
#include <cstring>

#include "engine/base/engine_error.h"
#include "engine/storage/common/read_window.h"
#include "engine/storage/common/scramble.h"
#include "engine/storage/fields/record_layout.h"

namespace vevura {
namespace {

//! Grows buffer to hold at least size bytes, in steps of kRecordIoGranule.
uint8_t* RoomFor(std::vector<uint8_t>& buffer, size_t size) {
  if (buffer.size() < size) {
    buffer.resize((size + kRecordIoGranule - 1) / kRecordIoGranule * kRecordIoGranule);
  }
  return buffer.data();
}

}  // namespace

TRecordStorage::TRecordStorage(TRecordFileHost& host) : host_(host), cache_(*this) {}

uint32_t TRecordStorage::RecordSize() const {
  return std::max<uint32_t>(host_.RecordHeader().RecordSize, kRecordHeaderSize);
}

bool TRecordStorage::Encrypted() const {
  return host_.RecordHeader().Encrypted != 0;
}

void TRecordStorage::SizeCache() {
  const auto size = static_cast<int32_t>(RecordSize());
  DropAllRecords();
  read_ahead_count_ = std::max(kRecordReadBytes / size, 1);
  cache_.SetCapacity(std::min(std::max(buffer_bytes_, 0) / size, buffer_count_));
  stage_capacity_ = std::max(1, std::min(kAppendRunBytes / size, cache_.Capacity() / 2));
  written_ = false;
}

int64_t TRecordStorage::RecordOffset(int32_t number) const {
  const TDataHeader& header = host_.RecordHeader();
  return RecordAreaOffset(header.FieldCount) + (int64_t{number} - 1) * RecordSize();
}

void TRecordStorage::Raise(uint16_t code) const {
  host_.RaiseRecordError(code);
  throw EVEVURAEngineError(code);  // a host that failed to raise
}

bool TRecordStorage::ShortReadAllowed() {
  if (table_ != nullptr) return table_->ShortReadAllowed();
  return host_.RecordFile().Exclusive() && written_;
}

// ---------------------------------------------------------------------------
// Fetching

TRecord* TRecordStorage::GetRecord(TRecordClient* cursor, int32_t number,
                                   TRecordDirection direction, bool cursor_read_ahead,
                                   bool read_ahead) {
  if (number <= 0) Corrupt();
  if (number == host_.RecordHeader().NextRecordNumber) return AppendRecord(number);
  if (TRecord* staged = Staged(number)) {
    staged->Pin();
    return staged;
  }
  if (TRecord* hit = cache_.Find(number)) {
    Reached(*hit);
    hit->Pin();
    return hit;
  }
  if (cursor != nullptr && !cursor->BeforeRecordRead()) return nullptr;
  if (number > host_.RecordHeader().NextRecordNumber) Corrupt();
  if (read_ahead && cursor_read_ahead && cursor != nullptr) {
    ReadAhead(*cursor, number, direction);
  } else {
    ReadRun(number, RunLength(number, direction, read_ahead), direction);
  }
  TRecord* loaded = cache_.Find(number);
  if (loaded == nullptr) Corrupt();
  Reached(*loaded);
  loaded->Pin();
  return loaded;
}

void TRecordStorage::Reached(TRecord& buffer) {
  // A cursor stepping through its order reads each record once: the buffer
  // is the first one reused after this use, so that a pass over a large
  // table cycles through a few buffers instead of filling the whole cache
  // and pushing out what lookups keep there.
  if (!buffer.ReadAhead()) return;
  buffer.SetReadAhead(false);
  cache_.Retire(buffer);
}

TRecord* TRecordStorage::AppendRecord(int32_t number) {
  CheckTableFull(number);
  TRecord* buffer = nullptr;
  const bool follows = stage_count_ > 0 && number == stage_first_ + stage_count_;
  if ((follows && stage_count_ < stage_capacity_ && number > cached_high_) ||
      RestartStage(number)) {
    const auto at = static_cast<size_t>(stage_count_++);
    buffer = stage_[at].get();
    buffer->SetRecordNumber(number);
    buffer->InitNew(false);
  } else {
    // A cursor still holds a buffer of this number from before it was taken
    // back: the append takes that buffer, as the cache always did.
    buffer = cache_.Find(number);
  }
  // The header counts the slot from now on, so its bytes must reach the file
  // even when nobody writes the record.
  buffer->SetDirty(true);
  buffer->Pin();
  host_.RecordHeader().NextRecordNumber = number + 1;
  host_.SetHeaderChanged();
  return buffer;
}

bool TRecordStorage::RestartStage(int32_t number) {
  if (!TransactionLockHeld()) WriteStage();
  // Records at or past number are beyond the header's count (a failed
  // insert took them back): they are dropped, never written.
  EmptyStage(number);
  const uint32_t size = RecordSize();
  if (stage_size_ != size || stage_.size() != static_cast<size_t>(stage_capacity_)) {
    stage_size_ = size;
    stage_bytes_.assign(static_cast<size_t>(stage_capacity_) * size, 0);
    stage_.clear();
    for (int32_t i = 0; i < stage_capacity_; ++i) {
      stage_.push_back(std::make_unique<TRecord>(*this));
      stage_.back()->Borrow(stage_bytes_.data() + static_cast<size_t>(i) * size);
    }
  }
  if (number <= cached_high_) {
    if (TRecord* cached = cache_.Peek(number)) {
      if (cached->Pinned()) return false;
      cached->SetDirty(false);
      if (!cache_.Evict(*cached)) Corrupt();
    }
  }
  stage_first_ = number;
  return true;
}

void TRecordStorage::DetachStaged(size_t i, bool keep) {
  std::unique_ptr<TRecord> own = std::move(stage_[i]);
  stage_[i] = std::make_unique<TRecord>(*this);
  stage_[i]->Borrow(stage_bytes_.data() + i * stage_size_);
  own->KeepOwnCopy();
  if (!keep) {
    cache_.AdoptDropped(std::move(own));
    return;
  }
  const int32_t number = own->RecordNumber();
  const bool dirty = own->Dirty();
  cached_high_ = std::max(cached_high_, number);
  cache_.Adopt(std::move(own));
  if (dirty) dirtied_.push_back(number);
}

bool TRecordStorage::WriteStage() {
  const size_t size = stage_size_;
  // Never a record the header no longer counts.
  const int32_t count =
      std::min(stage_count_, host_.RecordHeader().NextRecordNumber - stage_first_);
  bool written = false;
  int32_t i = std::min(stage_dirty_, count);
  int32_t left_dirty = kNoStagedDirty;  // the first record this call leaves dirty
  const auto writable = [&](int32_t k) {
    const TRecord& r = *stage_[static_cast<size_t>(k)];
    return r.Dirty() && !r.Pinned();
  };
  while (i < count) {
    if (!writable(i)) {
      if (stage_[static_cast<size_t>(i)]->Dirty()) left_dirty = std::min(left_dirty, i);
      ++i;
      continue;
    }
    int32_t end = i + 1;
    while (end < count && writable(end)) ++end;
    const size_t length = static_cast<size_t>(end - i) * size;
    uint8_t* bytes = stage_bytes_.data() + static_cast<size_t>(i) * size;
    if (Encrypted()) {
      // Scrambled on a copy: the staged images stay plain for the cursors,
      // whatever becomes of the write.
      uint8_t* copy = RoomFor(write_buffer_, length);
      std::memcpy(copy, bytes, length);
      for (size_t at = 0; at < length; at += size) ScrambleRun(copy + at, size, kTableDataSeeds);
      bytes = copy;
    }
    host_.RecordFile().WriteAt(RecordOffset(stage_first_ + i), bytes, static_cast<int64_t>(length));
    for (int32_t k = i; k < end; ++k) stage_[static_cast<size_t>(k)]->SetDirty(false);
    written_ = true;
    written = true;
    if (table_ != nullptr) table_->NoteWritten();
    i = end;
  }
  // Records the header no longer counts keep their flags for a later look.
  if (count < stage_count_) left_dirty = std::min(left_dirty, std::max(count, 0));
  stage_dirty_ = left_dirty;
  return written;
}

void TRecordStorage::DropAllRecords() {
  cache_.DropAll();
  dirtied_.clear();
  cached_high_ = 0;
  EmptyStage(0);
}

void TRecordStorage::EmptyStage(int32_t keep_below) {
  for (size_t i = 0; i < static_cast<size_t>(stage_count_); ++i) {
    TRecord& staged = *stage_[i];
    const bool keep = staged.RecordNumber() < keep_below;
    if (staged.Pinned() || (keep && staged.Dirty())) DetachStaged(i, keep);
    stage_[i]->SetDirty(false);
  }
  stage_count_ = 0;
  stage_dirty_ = kNoStagedDirty;
}

const TRecord* TRecordStorage::Peek(int32_t number) const {
  if (const TRecord* staged = Staged(number)) return staged;
  return cache_.Peek(number);
}

TRecord* TRecordStorage::Peek(int32_t number) {
  if (TRecord* staged = Staged(number)) return staged;
  return cache_.Peek(number);
}

bool TRecordStorage::HasDirtyRecords() const {
  for (int32_t i = stage_dirty_; i < stage_count_; ++i) {
    if (stage_[static_cast<size_t>(i)]->Dirty()) return true;
  }
  auto buffers = cache_.Buffers();
  return std::any_of(buffers.begin(), buffers.end(), [](const auto& b) { return b->Dirty(); });
}

void TRecordStorage::CheckTableFull(int32_t number) const {
  const TDataHeader& header = host_.RecordHeader();
  int64_t end = RecordAreaOffset(header.FieldCount) + int64_t{number} * RecordSize();
  if (number > kMaxRecordNumber || end > kMaxDataFileSize) {
    Raise(VEVURA_TABLEFULL);
  }
}

TRecord* TRecordStorage::TakeBuffer(int32_t number) {
  cached_high_ = std::max(cached_high_, number);
  if (cache_.HasRoom()) return cache_.AddSpare(number);
  TRecord* victim = cache_.Reusable();
  if (victim == nullptr && !TransactionLockHeld()) {
    FlushRecords();
    victim = cache_.Reusable();
  }
  if (victim == nullptr) {
    cache_.GrowRoom();
    return cache_.AddSpare(number);
  }
  TRecord* reused = cache_.Reuse(*victim, number);
  if (reused == nullptr) Corrupt();
  return reused;
}

int32_t TRecordStorage::RunLength(int32_t number, TRecordDirection direction,
                                  bool read_ahead) const {
  if (!read_ahead) return 1;
  // Never past either end of the file.
  int32_t remaining =
      direction == rdForward ? host_.RecordHeader().NextRecordNumber - number : number;
  return std::max(std::min(read_ahead_count_, remaining), 1);
}

int32_t TRecordStorage::ReadAheadLimit() const {
  const auto size = static_cast<int32_t>(RecordSize());
  return std::max(std::min(kReadAheadBytes / size, cache_.Capacity() / 2), 0);
}

void TRecordStorage::ReadRun(int32_t number, int32_t count, TRecordDirection direction) {
  const int32_t first = direction == rdForward ? number : number - count + 1;
  const size_t size = RecordSize();
  const auto length = static_cast<int64_t>(count) * static_cast<int64_t>(size);
  TReadWindow window(window_first_, window_last_, first, first + count - 1);
  uint8_t* bytes = RoomFor(read_buffer_, static_cast<size_t>(length));
  // The file layer raises VEVURA_READERR for a short read unless it is allowed.
  int64_t got = host_.RecordFile().ReadAt(RecordOffset(first), bytes, length, ShortReadAllowed());
  LoadRun(first, static_cast<int32_t>(got / static_cast<int64_t>(size)), direction);
}

void TRecordStorage::LoadRun(int32_t first, int32_t images, TRecordDirection direction) {
  const size_t size = RecordSize();
  for (int32_t k = 0; k < images; ++k) {
    const int32_t i = direction == rdForward ? images - 1 - k : k;
    LoadImage(first + i, read_buffer_.data() + static_cast<size_t>(i) * size);
  }
}

void TRecordStorage::LoadImage(int32_t record, uint8_t* image) {
  // A staged record is newer than the file, which may not even hold it yet.
  if (Staged(record) != nullptr) return;
  TRecord* buffer = cache_.Find(record);
  if (buffer == nullptr) {
    TakeBuffer(record)->LoadFrom(image);
  } else if (!buffer->Pinned() && !buffer->Dirty()) {
    buffer->LoadFrom(image);
  }
}

void TRecordStorage::ReadAhead(TRecordClient& cursor, int32_t number, TRecordDirection direction) {
  wanted_.clear();
  const int32_t limit = ReadAheadLimit();
  if (limit > 0) cursor.ReadAheadRecords(number, direction, limit, wanted_);
  const bool stepping = !wanted_.empty();
  if (wanted_.size() > static_cast<size_t>(limit)) wanted_.resize(static_cast<size_t>(limit));
  // Cached buffers are as current as the disk (the change check of this miss
  // dropped them otherwise), and dirty or pinned ones must stay as they are.
  const int32_t slots = host_.RecordHeader().NextRecordNumber - 1;
  std::erase_if(wanted_,
                [&](int32_t n) { return n < 1 || n > slots || n == number || Peek(n) != nullptr; });
  wanted_.push_back(number);
  std::sort(wanted_.begin(), wanted_.end());
  wanted_.erase(std::unique(wanted_.begin(), wanted_.end()), wanted_.end());
  auto own_first = wanted_.cend();
  auto own_last = wanted_.cend();
  for (auto first = wanted_.cbegin(); first != wanted_.cend();) {
    auto last = first + 1;
    while (last != wanted_.cend() && JoinsRead(*first, *(last - 1), *last)) ++last;
    if (number >= *first && number <= *(last - 1)) {
      own_first = first;
      own_last = last;
    } else {
      ReadSpan(first, last, 0);
    }
    first = last;
  }
  ReadSpan(own_first, own_last, number);
  if (!stepping) return;
  for (const int32_t n : wanted_) {
    if (TRecord* buffer = cache_.Peek(n)) buffer->SetReadAhead(true);
  }
}

bool TRecordStorage::JoinsRead(int32_t first, int32_t previous, int32_t next) const {
  const auto size = static_cast<int32_t>(RecordSize());
  return next - previous - 1 <= kReadAheadGapBytes / size &&
         next - first < std::max(kReadAheadBytes / size, 1);
}

void TRecordStorage::ReadSpan(std::vector<int32_t>::const_iterator first,
                              std::vector<int32_t>::const_iterator last, int32_t number) {
  const int32_t low = *first;
  const int32_t high = *(last - 1);
  const size_t size = RecordSize();
  const auto length = static_cast<int64_t>(high - low + 1) * static_cast<int64_t>(size);
  TReadWindow window(window_first_, window_last_, low, high);
  uint8_t* bytes = RoomFor(read_buffer_, static_cast<size_t>(length));
  // The file layer raises VEVURA_READERR for a short read unless it is allowed.
  const int64_t got =
      host_.RecordFile().ReadAt(RecordOffset(low), bytes, length, ShortReadAllowed());
  const int64_t images = got / static_cast<int64_t>(size);
  auto image = [&](int32_t n) { return bytes + static_cast<size_t>(n - low) * size; };
  for (auto it = first; it != last; ++it) {
    if (*it != number && *it - low < images) LoadImage(*it, image(*it));
  }
  if (number != 0 && number - low < images) LoadImage(number, image(number));
}

bool TRecordStorage::VisitRecords(
    TRecordClient* cursor, std::span<const int32_t> numbers,
    const std::function<void(int32_t, std::span<const uint8_t>)>& visit) {
  // A buffer of its own, taken out of the member for the call, so that a
  // visit that reads records (or visits again) cannot overwrite the run.
  struct TBorrowed {
    std::vector<uint8_t>& Home;
    std::vector<uint8_t> Bytes;
    ~TBorrowed() {
      if (Bytes.capacity() > Home.capacity()) Home.swap(Bytes);
    }
  } buffer{visit_buffer_, std::move(visit_buffer_)};
  const auto size = static_cast<int32_t>(RecordSize());
  const bool encrypted = Encrypted();
  int32_t low = 0;       // first record of the run in the buffer
  int32_t images = 0;    // whole images read from low on
  int32_t previous = 0;  // the record visited last
  for (size_t i = 0; i < numbers.size(); ++i) {
    const int32_t n = numbers[i];
    const int32_t slots = host_.RecordHeader().NextRecordNumber - 1;
    if (n < 1 || n > slots) Corrupt();
    if (TRecord* cached = Peek(n)) {
      cached->Pin();
      TRecordRef pinned(*this, cached);
      visit(n, cached->Data());
      previous = n;
      continue;
    }
    // An image is prepared in place, so a number out of order is read again.
    if (n <= previous || n >= low + images) {
      if (cursor != nullptr && !cursor->BeforeRecordRead()) return false;
      int32_t last = n;
      for (size_t j = i + 1;
           j < numbers.size() && numbers[j] <= slots && JoinsRead(n, last, numbers[j]); ++j) {
        last = numbers[j];
      }
      const auto length = static_cast<int64_t>(last - n + 1) * size;
      uint8_t* bytes = RoomFor(buffer.Bytes, static_cast<size_t>(length));
      const int64_t got =
          host_.RecordFile().ReadAt(RecordOffset(n), bytes, length, ShortReadAllowed());
      low = n;
      images = static_cast<int32_t>(got / size);
      if (images == 0) Corrupt();
    }
    uint8_t* image = buffer.Bytes.data() + static_cast<size_t>(n - low) * static_cast<size_t>(size);
    PrepareDiskImage(image, static_cast<uint32_t>(size), n, encrypted);
    previous = n;
    visit(n, {image, static_cast<size_t>(size)});
  }
  return true;
}

// ---------------------------------------------------------------------------
// Allocating and freeing slots

int32_t TRecordStorage::NextInsertRecord() const {
  const TDataHeader& header = host_.RecordHeader();
  if (header.FirstFreeRecord == 0 || !HasPrimaryIndex()) return header.NextRecordNumber;
  return header.FirstFreeRecord;
}

void TRecordStorage::CheckChainHead(int32_t number) const {
  if (number < 1 || number >= host_.RecordHeader().NextRecordNumber) Corrupt();
}

int32_t TRecordStorage::CheckedChainLink(const TRecord& record) const {
  int32_t link = record.NextFree();
  if (record.IsFree() == rsLive || link < 0 || link == record.RecordNumber() ||
      link >= host_.RecordHeader().NextRecordNumber) {
    Corrupt();
  }
  return link;
}

TRecord* TRecordStorage::AllocateRecord(TRecordClient* cursor) {
  const int32_t number = NextInsertRecord();
  const bool from_chain = HasPrimaryIndex() && host_.RecordHeader().FirstFreeRecord != 0;
  if (from_chain) CheckChainHead(number);
  TRecordRef record(*this, GetRecord(cursor, number, rdForward, false, false));
  if (!record) return nullptr;
  if (!from_chain) {
    SetFirstFree(0);
    return record.Detach();
  }
  SetFirstFree(CheckedChainLink(*record));
  // The slot has left the chain: it must not look free any more, or a later
  // free of it would be ignored and a damaged chain would hand it out twice.
  record->SetStatus(rsLive);
  SetRecordLink(record->MutableData(), number);
  return record.Detach();
}

void TRecordStorage::FreeRecord(TRecord* record) {
  if (record == nullptr || record->IsFree() != rsLive) return;
  const bool appends = NextInsertRecord() == host_.RecordHeader().NextRecordNumber;
  const int32_t link = appends ? 0 : host_.RecordHeader().FirstFreeRecord;
  record->SetStatus(rsFree);
  record->SetNextFree(link);
  SetFirstFree(record->RecordNumber());
}

void TRecordStorage::SetFirstFree(int32_t number) {
  TDataHeader& header = host_.RecordHeader();
  if (header.FirstFreeRecord == number) return;
  header.FirstFreeRecord = number;
  host_.SetHeaderChanged();
}

// ---------------------------------------------------------------------------
// Writing back and trimming

bool TRecordStorage::FlushRecords() {
  // Only the buffers named in dirtied_ can be dirty, so a shared table that
  // writes after every change does not walk its whole cache each time.
  std::sort(dirtied_.begin(), dirtied_.end());
  dirtied_.erase(std::unique(dirtied_.begin(), dirtied_.end()), dirtied_.end());
  std::vector<int32_t> candidates;
  candidates.swap(dirtied_);
  std::vector<TRecord*> run;
  bool written = false;
  auto write_run = [&] {
    if (run.empty()) return;
    WriteRun(run);
    run.clear();
    written = true;
  };
  bool staged = stage_count_ == 0;
  try {
    for (const int32_t number : candidates) {
      if (!staged && number >= stage_first_) {
        write_run();
        written = WriteStage() || written;
        staged = true;
      }
      TRecord* buffer = cache_.Peek(number);
      if (buffer == nullptr || !buffer->Dirty()) continue;
      if (buffer->Pinned() || (number >= window_first_ && number <= window_last_)) {
        dirtied_.push_back(number);
        continue;
      }
      if (!run.empty() && run.back()->RecordNumber() + 1 != number) write_run();
      run.push_back(buffer);
    }
    write_run();
    if (!staged) written = WriteStage() || written;
  } catch (...) {
    // What was not written stays named, for the next write-back.
    for (const int32_t number : candidates) {
      const TRecord* buffer = cache_.Peek(number);
      if (buffer != nullptr && buffer->Dirty()) dirtied_.push_back(number);
    }
    throw;
  }
  return written;
}

void TRecordStorage::WriteRun(const std::vector<TRecord*>& run) {
  const size_t size = RecordSize();
  uint8_t* bytes = RoomFor(write_buffer_, run.size() * size);
  for (size_t i = 0; i < run.size(); ++i) run[i]->StoreTo(bytes + i * size);
  try {
    host_.RecordFile().WriteAt(RecordOffset(run.front()->RecordNumber()), bytes,
                               static_cast<int64_t>(run.size() * size));
  } catch (...) {
    for (TRecord* buffer : run) buffer->SetDirty(true);
    throw;
  }
  written_ = true;
  if (table_ != nullptr) table_->NoteWritten();
}

void TRecordStorage::TrimCache() {
  while (cache_.Count() > cache_.Capacity()) {
    TRecord* victim = cache_.Reusable();
    if (victim == nullptr) {
      FlushRecords();
      victim = cache_.Reusable();
      if (victim == nullptr) break;  // only pinned buffers are left
    }
    if (!cache_.Evict(*victim)) Corrupt();
  }
  cache_.SetRoom(std::max(cache_.Count(), cache_.Capacity()));
}

}  // namespace vevura
