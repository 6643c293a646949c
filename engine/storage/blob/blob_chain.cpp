// Walking and freeing the block chains of a BLOB file.

#include <algorithm>
#include <limits>

#include "engine/base/error_codes.h"
#include "engine/storage/blob/blob_file.h"

namespace vevura {

namespace {

//! Blocks a BLOB of length bytes needs at data_size bytes per block, as a
//! read-ahead hint (1 at least, damaged lengths included).
int32_t BlocksFor(int64_t length, int32_t data_size) {
  int64_t blocks = (std::max<int64_t>(length, 0) + data_size - 1) / data_size;
  return static_cast<int32_t>(std::clamp<int64_t>(blocks, 1, std::numeric_limits<int32_t>::max()));
}

}  // namespace

void TBlobFile::CheckChainStart(int32_t first) const {
  if (first < 1 || first > LastBlock()) RaiseBlobError(VEVURA_MEMOCORRUPT);
}

int32_t TBlobFile::NextChainBlock(const TBlock& block, int32_t first) const {
  int32_t next = block.NextBlock();
  if (next == 0) return 0;
  if (next < 1 || next > LastBlock() || next == first) RaiseBlobError(VEVURA_MEMOCORRUPT);
  return next;
}

void TBlobFile::CheckChainStep(const TBlock& previous, const TBlock& next) const {
  if (next.PinCount() != 1 || next.PreviousBlock() != previous.Number()) {
    RaiseBlobError(VEVURA_MEMOCORRUPT);
  }
}

bool TBlobFile::CollectChain(TBlobClient* cursor, int32_t first, int32_t blob_id, bool repair,
                             std::vector<int32_t>* chain) {
  chain->clear();
  CheckChainStart(first);
  TBlockRef current(*this, GetBlock(cursor, first, 1, false));
  if (!current) return false;
  if (current->PinCount() != 1) RaiseBlobError(VEVURA_MEMOCORRUPT);
  int32_t needed = BlocksFor(current->TotalLength(), DataSize());
  for (;;) {
    if (current->BlobId() != blob_id && !repair) RaiseBlobError(VEVURA_MEMOCORRUPT);
    chain->push_back(current->Number());
    int32_t next = NextChainBlock(*current, first);
    if (next == 0) return true;
    int32_t wanted = std::max(needed - static_cast<int32_t>(chain->size()), 1);
    TBlockRef following(*this, GetBlock(cursor, next, wanted, true));
    if (!following) return false;
    CheckChainStep(*current, *following);
    current = std::move(following);
  }
}

bool TBlobFile::FreeCollected(TBlobClient* cursor, const std::vector<int32_t>& chain,
                              int32_t blob_id, bool repair) {
  for (size_t i = 0; i < chain.size(); ++i) {
    int32_t left = static_cast<int32_t>(chain.size() - i);
    TBlockRef block(*this, GetBlock(cursor, chain[i], left, true));
    if (!block) return false;
    if (repair) block->SetBlobId(blob_id);
    FreeBlock(block.get());
  }
  return true;
}

void TBlobFile::FreeChain(TBlobClient* cursor, int32_t& first, int32_t blob_id, bool repair) {
  if (first == 0) return;
  std::vector<int32_t> chain;
  while (!CollectChain(cursor, first, blob_id, repair, &chain)) {
  }
  // Another user's change while blocks are being freed would have dropped the
  // changes made so far with the cache; the caller must start over.
  if (!FreeCollected(cursor, chain, blob_id, repair)) RaiseBlobError(VEVURA_KEYORRECDELETED);
  first = 0;
}

}  // namespace vevura
