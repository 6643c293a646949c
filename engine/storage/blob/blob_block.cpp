#include "engine/storage/blob/blob_block.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/base/error_codes.h"
#include "engine/storage/blob/blob_file.h"
#include "engine/storage/common/scramble.h"

namespace vevura {

TBlock::TBlock(const TBlobFile* owner, uint32_t block_size)
    : owner_(owner), data_(block_size - kBlockHeaderSize, 0) {}

void TBlock::CheckRange(int32_t offset, int32_t count) const {
  if (offset < 0 || count < 0 || count > DataSize() - offset) {
    owner_->RaiseBlobError(VEVURA_INVALIDBLOBLEN);
  }
}

int32_t TBlock::ReadData(int32_t offset, int32_t count, uint8_t* destination) const {
  CheckRange(offset, count);
  int32_t used = std::min<int32_t>(header_.BytesUsed, DataSize());
  int32_t copied = std::clamp(used - offset, 0, count);
  if (copied > 0) std::memcpy(destination, data_.data() + offset, static_cast<size_t>(copied));
  return copied;
}

void TBlock::WriteData(int32_t offset, int32_t count, const uint8_t* source) {
  CheckRange(offset, count);
  if (count > 0) std::memcpy(data_.data() + offset, source, static_cast<size_t>(count));
  header_.BytesUsed = static_cast<uint16_t>(offset + count);
  dirty_ = true;
}

void TBlock::LoadFrom(const uint8_t* image, bool encrypted) {
  uint8_t head[kBlockHeaderSize];
  std::memcpy(head, image, kBlockHeaderSize);
  std::memcpy(data_.data(), image + kBlockHeaderSize, data_.size());
  if (encrypted) {
    UnscrambleRun(head, kBlockHeaderSize, kTableDataSeeds);
    UnscrambleRun(data_.data(), data_.size(), kTableDataSeeds);
  }
  header_ = DecodeBlockHeader(head);
  dirty_ = false;
}

void TBlock::StoreTo(uint8_t* out, bool encrypted) const {
  EncodeBlockHeader(header_, out);
  std::memcpy(out + kBlockHeaderSize, data_.data(), data_.size());
  if (encrypted) {
    ScrambleRun(out, kBlockHeaderSize, kTableDataSeeds);
    ScrambleRun(out + kBlockHeaderSize, data_.size(), kTableDataSeeds);
  }
}

void TBlock::Reset(int32_t n) {
  number_ = n;
  Clear();
}

void TBlock::Clear() {
  header_ = TBlockHeader();
  std::fill(data_.begin(), data_.end(), 0);
  dirty_ = false;
}

void TBlock::Pin() {
  if (pin_count_ == std::numeric_limits<uint16_t>::max()) {
    owner_->RaiseBlobError(VEVURA_MEMOCORRUPT);
  }
  ++pin_count_;
}

}  // namespace vevura
