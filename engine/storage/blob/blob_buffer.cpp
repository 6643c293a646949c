#include "engine/storage/blob/blob_buffer.h"

#include <algorithm>

#include "engine/base/error_codes.h"

namespace vevura {

namespace {

//! Blocks needed for length bytes at data_size bytes per block (1 at least).
int32_t BlocksFor(int64_t length, int32_t data_size) {
  return static_cast<int32_t>(std::max<int64_t>((length + data_size - 1) / data_size, 1));
}

}  // namespace

TBlobBuffer::TBlobBuffer(TBlobFile& file, TBlobClient* cursor) : file_(file), cursor_(cursor) {}

void TBlobBuffer::SetLength(int32_t length) {
  if (length < 0) file_.RaiseBlobError(VEVURA_INVALIDBLOBLEN);
  if (length == Length()) return;
  data_.resize(static_cast<size_t>(length), 0);
  modified_ = true;
}

void TBlobBuffer::CheckIdentifier(const TBlock& block) const {
  if (block.BlobId() != blob_id_) file_.RaiseBlobError(VEVURA_KEYORRECDELETED);
}

// ---------------------------------------------------------------- loading

void TBlobBuffer::LoadBlob() {
  if (first_block_ == 0) return;
  while (!TryLoad()) {
  }
}

bool TBlobBuffer::TryLoad() {
  file_.CheckChainStart(first_block_);
  TBlockRef block(file_, file_.GetBlock(cursor_, first_block_, 1, false));
  if (!block) return false;
  CheckIdentifier(*block);
  int64_t total = block->TotalLength();
  // A length the whole file could not hold is damage; checked before allocating it.
  if (total < 0 || total > static_cast<int64_t>(file_.LastBlock()) * file_.DataSize()) {
    file_.RaiseBlobError(VEVURA_MEMOCORRUPT);
  }
  data_.assign(static_cast<size_t>(total), 0);
  int32_t filled = 0;
  for (;;) {
    CheckIdentifier(*block);
    if (block->PinCount() > 1) file_.RaiseBlobError(VEVURA_MEMOCORRUPT);
    int32_t wanted = std::min<int32_t>(file_.DataSize(), static_cast<int32_t>(total) - filled);
    int32_t copied = block->ReadData(0, wanted, data_.data() + filled);
    filled += copied;
    if (copied < wanted || filled == total) break;
    int32_t next = file_.NextChainBlock(*block, first_block_);
    if (next == 0) break;
    int32_t missing = BlocksFor(total - filled, file_.DataSize());
    TBlockRef following(file_, file_.GetBlock(cursor_, next, missing, true));
    if (!following) return false;
    file_.CheckChainStep(*block, *following);
    block = std::move(following);
  }
  modified_ = false;
  if (filled < total) file_.RaiseBlobError(VEVURA_ENDOFBLOB);
  return true;
}

// ---------------------------------------------------------------- saving

TBlockRef TBlobBuffer::Fetch(int32_t n, int32_t wanted, bool read_ahead) {
  TBlockRef block(file_, file_.GetBlock(cursor_, n, wanted, read_ahead));
  // Blocks are written under the table's write lock, where no other user's
  // change can be met; if one is, the changes made so far went with the cache.
  if (!block) file_.RaiseBlobError(VEVURA_KEYORRECDELETED);
  return block;
}

TBlockRef TBlobBuffer::Allocate() {
  TBlockRef block(file_, file_.AllocateBlock(cursor_));
  if (!block) file_.RaiseBlobError(VEVURA_KEYORRECDELETED);
  return block;
}

void TBlobBuffer::SaveBlob() {
  if (data_.empty()) {
    DeleteBlob();
    modified_ = false;
    return;
  }
  const int32_t length = Length();
  const int32_t per_block = file_.DataSize();
  TBlockRef current;
  int32_t old_blocks = 0;
  if (first_block_ != 0) {
    file_.CheckChainStart(first_block_);
    current = Fetch(first_block_, 1, false);
    if (current->PinCount() != 1) file_.RaiseBlobError(VEVURA_MEMOCORRUPT);
    old_blocks = BlocksFor(current->TotalLength(), per_block);
  } else {
    current = Allocate();
  }
  const int32_t first = current->Number();
  current->SetBlobId(blob_id_);
  current->SetTotalLength(length);
  int32_t written = 0;
  for (int32_t index = 1;; ++index) {
    int32_t count = std::min(per_block, length - written);
    current->WriteData(0, count, data_.data() + written);
    written += count;
    if (written == length) break;
    TBlockRef following;
    if (int32_t next = file_.NextChainBlock(*current, first); next != 0) {
      following = Fetch(next, std::max(old_blocks - index, 1), true);
      file_.CheckChainStep(*current, *following);
    } else {
      following = Allocate();
      current->SetNextBlock(following->Number());
      following->SetPreviousBlock(current->Number());
    }
    following->SetBlobId(blob_id_);
    following->SetTotalLength(0);
    current = std::move(following);
  }
  if (int32_t rest = file_.NextChainBlock(*current, first); rest != 0) {
    file_.FreeChain(cursor_, rest, blob_id_, true);
    current->SetNextBlock(0);
  }
  first_block_ = first;
  modified_ = false;
}

void TBlobBuffer::DeleteBlob() {
  file_.FreeChain(cursor_, first_block_, blob_id_, true);
}

}  // namespace vevura
