#include "engine/storage/blob/blob_file.h"

#include <algorithm>
#include <array>

#include "engine/base/engine_error.h"
#include "engine/storage/common/byte_order.h"
#include "engine/storage/common/read_window.h"
#include "engine/storage/common/scramble.h"
#include "platform/os_error.h"

namespace vevura {

namespace {

//! Buffers of the file grow in steps of this many bytes.
constexpr size_t kTransferGranule = 4096;

void GrowTo(std::vector<uint8_t>& buffer, size_t bytes) {
  if (buffer.size() < bytes) {
    buffer.resize((bytes + kTransferGranule - 1) / kTransferGranule * kTransferGranule);
  }
}

}  // namespace

TBlobFile::TBlobFile() = default;

TBlobFile::~TBlobFile() {
  TBlobFile::Close();
}

const std::string& TBlobFile::TableName() const {
  return table_name_.empty() ? FileName() : table_name_;
}

void TBlobFile::RaiseBlobError(uint16_t code) const {
  RaiseEngineError(code, "", "", database_name_, TableName(), "", "", "");
}

void TBlobFile::SetBufferLimits(int32_t bytes, int32_t count) {
  buffer_bytes_ = std::max(bytes, 0);
  buffer_count_ = std::max(count, 0);
}

void TBlobFile::CheckBlockSize() const {
  if (block_size_ < kMinBlobBlockSize || block_size_ > kMaxBlobBlockSize) {
    RaiseBlobError(VEVURA_BLOBLIMIT);
  }
}

void TBlobFile::SizeCache() {
  int32_t block_size = static_cast<int32_t>(block_size_);
  int32_t capacity = std::min(buffer_bytes_ / block_size, buffer_count_);
  cache_.Reset(this, block_size_, capacity);
  // A run longer than the cache would push out its own first blocks.
  read_ahead_count_ = std::max(1, std::min(kBlobReadAheadBytes / block_size, capacity));
  window_first_ = 0;
  window_last_ = -1;
  block_reads_ = block_writes_ = 0;
  written_ = false;
}

void TBlobFile::Open() {
  if (IsOpen()) return;
  CheckBlockSize();
  TFileHandler::Open();
  try {
    ReadBlobHeader();
    if (header_.Version != kBlobFileVersion) RaiseBlobError(VEVURA_OLDVERSION);
  } catch (...) {
    if (!ForRepair()) {
      TFileHandler::Close();
      throw;
    }
    // The repair makes the header anew (VerifyBlobHeader fails on this one).
    header_ = TBlobHeader();
  }
  SizeCache();
}

void TBlobFile::Close() {
  cache_.DropAll();
  TFileHandler::Close();
}

void TBlobFile::CreateFile() {
  CheckBlockSize();
  TFileHandler::CreateFile();
  header_ = TBlobHeader();
  header_.Version = kBlobFileVersion;
  header_.NextBlockNumber = 1;
  header_.HeaderChanged = 1;
  SizeCache();
}

void TBlobFile::NoteWritten() {
  written_ = true;
  if (table_ != nullptr) table_->NoteWritten();
}

bool TBlobFile::ShortReadAllowed() const {
  return table_ != nullptr ? table_->ShortReadAllowed() : Exclusive() && written_;
}

bool TBlobFile::TransactionLockHeld() const {
  return table_ != nullptr && table_->TransactionLockHeld();
}

// ---------------------------------------------------------------- header

TBlobHeader TBlobFile::ReadHeaderImage() {
  uint8_t image[kBlobHeaderSize];
  ReadAt(0, image, kBlobHeaderSize);
  if (encrypted_) UnscrambleRun(image, kBlobHeaderSize, kTableDataSeeds);
  TBlobHeader header = DecodeBlobHeader(image);
  // The next block number enters the block arithmetic: one that no file of
  // this block size can reach is damage. Blocks it counts that the file
  // lacks are read errors when they are read; a free list head outside the
  // blocks is corruption when it is taken.
  if (header.Version != kBlobFileVersion) RaiseBlobError(VEVURA_OLDVERSION);
  const int64_t last = int64_t{header.NextBlockNumber} - 1;
  if (last < 0 || !BlockWithinLimits(last, block_size_)) RaiseBlobError(VEVURA_HEADERCORRUPT);
  return header;
}

void TBlobFile::ReadBlobHeader() {
  ForgetSize();  // another writer's header may count blocks it appended
  header_ = ReadHeaderImage();
  header_.HeaderChanged = 0;
}

bool TBlobFile::ReloadBlobHeaderIfChanged() {
  if (!encrypted_) {
    // Most checks find nothing: the counter alone tells.
    std::array<uint8_t, 4> counter{};
    ReadHeadAt(0, counter.data(), counter.size());
    if (GetInt32(counter.data()) == header_.ChangeCounter) return false;
  }
  TBlobHeader on_disk = ReadHeaderImage();
  if (on_disk.ChangeCounter == header_.ChangeCounter) return false;
  ForgetSize();
  header_ = on_disk;
  header_.HeaderChanged = 0;
  return true;
}

bool TBlobFile::WriteBlobHeader(bool force) {
  if (!force && header_.HeaderChanged == 0) return false;
  header_.ChangeCounter = WrappingAdd(header_.ChangeCounter, 1);
  uint8_t image[kBlobHeaderSize];
  EncodeBlobHeader(header_, image);
  if (encrypted_) ScrambleRun(image, kBlobHeaderSize, kTableDataSeeds);
  WriteAt(0, image, kBlobHeaderSize);
  NoteWritten();
  header_.HeaderChanged = 0;
  return true;
}

void TBlobFile::MarkBlobHeaderChanged() {
  header_.ChangeCounter = WrappingAdd(header_.ChangeCounter, 1);
  header_.HeaderChanged = 1;
  NoteWritten();
}

void TBlobFile::VerifyBlobHeader() const {
  if (header_.Version != kBlobFileVersion) RaiseBlobError(VEVURA_OLDVERSION);
  int32_t last = LastBlock();
  if (last < 0 || !BlockWithinLimits(last, block_size_)) RaiseBlobError(VEVURA_HEADERCORRUPT);
  if (header_.FirstFreeBlock < 0 || header_.FirstFreeBlock > last) {
    RaiseBlobError(VEVURA_HEADERCORRUPT);
  }
}

// ---------------------------------------------------------------- blocks

TBlock* TBlobFile::GetBlock(TBlobClient* cursor, int32_t n, int32_t wanted, bool read_ahead) {
  if (n < 1 || n > header_.NextBlockNumber) RaiseBlobError(VEVURA_MEMOCORRUPT);
  if (n == header_.NextBlockNumber) return AppendBlock(n);
  if (TBlock* hit = cache_.Find(n)) {
    hit->Pin();
    if (undoing_) KeepForUndo(*hit);
    return hit;
  }
  if (cursor != nullptr && !cursor->BeforeBlockRead()) return nullptr;
  int32_t count = 1;
  if (read_ahead) {
    count = std::min({read_ahead_count_, std::max(wanted, 1), header_.NextBlockNumber - n});
  }
  ReadRun(n, count);
  TBlock* block = cache_.Find(n);
  if (block == nullptr) RaiseBlobError(VEVURA_MEMOCORRUPT);
  block->Pin();
  if (undoing_) KeepForUndo(*block);
  return block;
}

void TBlobFile::BeginUndo() {
  undoing_ = true;
  undo_header_ = header_;
  kept_.clear();
  kept_numbers_.clear();
}

void TBlobFile::EndUndo() {
  undoing_ = false;
  kept_.clear();
  kept_numbers_.clear();
}

void TBlobFile::KeepForUndo(const TBlock& block) {
  // Blocks appended since BeginUndo are dropped, not restored.
  if (block.Number() >= undo_header_.NextBlockNumber) return;
  if (!kept_numbers_.insert(block.Number()).second) return;
  TKeptBlock kept{block.Number(), std::vector<uint8_t>(block_size_)};
  block.StoreTo(kept.Image.data(), false);
  kept_.push_back(std::move(kept));
}

void TBlobFile::UndoChanges() {
  if (!undoing_) return;
  undoing_ = false;
  for (int32_t n = undo_header_.NextBlockNumber; n < header_.NextBlockNumber; ++n) {
    TBlock* appended = cache_.Find(n);
    if (appended == nullptr || appended->PinCount() != 0) continue;
    if (std::unique_ptr<TBlock> taken = cache_.Remove(appended)) cache_.Recycle(std::move(taken));
  }
  header_ = undo_header_;
  for (const TKeptBlock& kept : kept_) {
    TBlock* block = cache_.Find(kept.Number);
    if (block == nullptr) {
      // Written out and evicted since: back in as a changed buffer.
      std::unique_ptr<TBlock> fresh = TakeBuffer(kept.Number);
      block = fresh.get();
      cache_.Insert(std::move(fresh));
    }
    block->LoadFrom(kept.Image.data(), false);
    block->MarkDirty();
  }
  kept_.clear();
  kept_numbers_.clear();
}

TBlock* TBlobFile::AppendBlock(int32_t n) {
  if (!BlockWithinLimits(n, block_size_)) RaiseBlobError(VEVURA_TABLEFULL);
  std::unique_ptr<TBlock> fresh = TakeBuffer(n);
  // A block the header counts must reach the disk even if nobody writes into it.
  fresh->MarkDirty();
  TBlock* block = fresh.get();
  cache_.Insert(std::move(fresh));
  block->Pin();
  header_.NextBlockNumber = n + 1;
  header_.HeaderChanged = 1;
  return block;
}

TBlock* TBlobFile::ReusableBuffer(bool may_flush) {
  TBlock* victim = cache_.FindReusable();
  if (victim == nullptr && may_flush) {
    FlushBlocks();
    victim = cache_.FindReusable();
  }
  return victim;
}

std::unique_ptr<TBlock> TBlobFile::TakeBuffer(int32_t n) {
  std::unique_ptr<TBlock> block;
  if (cache_.HasRoom()) {
    block = cache_.Spare();
  } else if (TBlock* victim = ReusableBuffer(!TransactionLockHeld())) {
    block = cache_.Remove(victim);
    if (block == nullptr) RaiseBlobError(VEVURA_MEMOCORRUPT);
  } else {
    cache_.GrowRoom();
    block = cache_.Spare();
  }
  block->Reset(n);
  return block;
}

void TBlobFile::ReadRun(int32_t n, int32_t count) {
  size_t bytes = static_cast<size_t>(count) * block_size_;
  GrowTo(read_buffer_, bytes);
  TReadWindow window(window_first_, window_last_, n, n + count - 1);
  // Read-ahead is a guess: blocks near the end may exist only in memory
  // (appended and not yet written), so only block n itself must be read.
  int64_t got =
      ReadAt(BlockOffset(n, block_size_), read_buffer_.data(), static_cast<int64_t>(bytes), true);
  ++block_reads_;
  if (got < static_cast<int64_t>(block_size_) && !ShortReadAllowed()) {
    platform::SetLastOsError(0);  // the file is shorter: no system error
    RaiseFileError(VEVURA_READERR);
  }
  LoadRun(n, static_cast<int32_t>(got / block_size_), read_buffer_.data());
}

void TBlobFile::LoadRun(int32_t n, int32_t count, const uint8_t* images) {
  // The block asked for comes last, so that it ends up most recently used.
  for (int32_t i = count - 1; i >= 0; --i) {
    const uint8_t* image = images + static_cast<size_t>(i) * block_size_;
    if (TBlock* cached = cache_.Find(n + i)) {
      if (!cached->Dirty() && cached->PinCount() == 0) cached->LoadFrom(image, encrypted_);
      continue;
    }
    std::unique_ptr<TBlock> fresh = TakeBuffer(n + i);
    fresh->LoadFrom(image, encrypted_);
    cache_.Insert(std::move(fresh));
  }
}

int32_t TBlobFile::NextInsertBlock() const {
  return header_.FirstFreeBlock != 0 ? header_.FirstFreeBlock : header_.NextBlockNumber;
}

TBlock* TBlobFile::AllocateBlock(TBlobClient* cursor) {
  int32_t n = NextInsertBlock();
  bool reused = header_.FirstFreeBlock != 0;
  if (reused && (n < 1 || n > LastBlock())) RaiseBlobError(VEVURA_MEMOCORRUPT);
  TBlockRef block(*this, GetBlock(cursor, n, 1, false));
  if (!block) return nullptr;
  if (reused) {
    int32_t next_free = block->NextBlock();
    bool damaged =
        block->PinCount() != 1 || next_free < 0 || next_free > LastBlock() || next_free == n;
    if (damaged) RaiseBlobError(VEVURA_MEMOCORRUPT);
    header_.FirstFreeBlock = next_free;
    header_.HeaderChanged = 1;
  }
  block->Clear();
  if (!reused) block->MarkDirty();
  return block.Detach();
}

void TBlobFile::FreeBlock(TBlock* block) {
  block->SetNextBlock(header_.FirstFreeBlock);
  header_.FirstFreeBlock = block->Number();
  header_.HeaderChanged = 1;
}

// ---------------------------------------------------------------- writing

bool TBlobFile::FlushBlocks() {
  std::vector<TBlock*> dirty = cache_.DirtyBlocks(window_first_, window_last_);
  size_t start = 0;
  while (start < dirty.size()) {
    size_t end = start + 1;
    while (end < dirty.size() && dirty[end]->Number() == dirty[end - 1]->Number() + 1) ++end;
    WriteRun(std::vector<TBlock*>(dirty.begin() + static_cast<std::ptrdiff_t>(start),
                                  dirty.begin() + static_cast<std::ptrdiff_t>(end)));
    start = end;
  }
  return !dirty.empty();
}

void TBlobFile::WriteRun(const std::vector<TBlock*>& run) {
  size_t bytes = run.size() * block_size_;
  GrowTo(write_buffer_, bytes);
  for (size_t i = 0; i < run.size(); ++i) {
    run[i]->StoreTo(write_buffer_.data() + i * block_size_, encrypted_);
  }
  WriteAt(BlockOffset(run.front()->Number(), block_size_), write_buffer_.data(),
          static_cast<int64_t>(bytes));
  ++block_writes_;
  // Only now are the images on disk; a failed write leaves the blocks dirty.
  for (TBlock* block : run) block->MarkClean();
  NoteWritten();
}

void TBlobFile::TrimCache() {
  while (cache_.Count() > cache_.Capacity()) {
    TBlock* victim = ReusableBuffer(true);
    if (victim == nullptr) break;
    std::unique_ptr<TBlock> evicted = cache_.Remove(victim);
    if (evicted == nullptr) RaiseBlobError(VEVURA_MEMOCORRUPT);
    cache_.Recycle(std::move(evicted));
  }
  cache_.SetRoom(std::max(cache_.Count(), cache_.Capacity()));
}

}  // namespace vevura
