#include "engine/storage/blob/blob_header.h"

#include <cstring>

#include "engine/storage/common/byte_order.h"

namespace vevura {

void EncodeBlobHeader(const TBlobHeader& header, uint8_t* out) {
  std::memset(out, 0, kBlobHeaderSize);
  PutInt32(out + 0, header.ChangeCounter);
  out[4] = header.Version;
  PutInt32(out + 5, header.FirstFreeBlock);
  PutInt32(out + 9, header.NextBlockNumber);
  out[13] = header.HeaderChanged;
}

TBlobHeader DecodeBlobHeader(const uint8_t* in) {
  TBlobHeader header;
  header.ChangeCounter = GetInt32(in + 0);
  header.Version = in[4];
  header.FirstFreeBlock = GetInt32(in + 5);
  header.NextBlockNumber = GetInt32(in + 9);
  header.HeaderChanged = in[13];
  return header;
}

void EncodeBlockHeader(const TBlockHeader& header, uint8_t* out) {
  PutInt32(out + 0, header.PreviousBlock);
  PutInt32(out + 4, header.NextBlock);
  PutUInt16(out + 8, header.BytesUsed);
  PutInt32(out + 10, header.BlobId);
  PutInt32(out + 14, header.TotalLength);
}

TBlockHeader DecodeBlockHeader(const uint8_t* in) {
  TBlockHeader header;
  header.PreviousBlock = GetInt32(in + 0);
  header.NextBlock = GetInt32(in + 4);
  header.BytesUsed = GetUInt16(in + 8);
  header.BlobId = GetInt32(in + 10);
  header.TotalLength = GetInt32(in + 14);
  return header;
}

}  // namespace vevura
