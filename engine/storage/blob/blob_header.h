#pragma once
// The BLOB file's layout: its 512-byte header, its blocks, and their limits.
//
// A BLOB file is the header followed by blocks of the table's BLOB block
// size; block N (counting from 1) starts at 512 + (N - 1) * block size. Each
// block begins with an 18-byte block header (links, bytes used, identifier,
// total length) and keeps block size - 18 data bytes. When the table is
// encrypted the header is scrambled as one run, and each block as two runs
// (its block header, then its data part); callers do that, these helpers
// only lay the bytes out. All integers are little-endian.
//
// Header layout (offset, size): 0 4 change counter; 4 1 version (5); 5 4
// first free block; 9 4 next block number; 13 1 header-changed flag; 14 498
// zero.

#include <cstddef>
#include <cstdint>

#include "engine/storage/data/data_header.h"

namespace vevura {

inline constexpr size_t kBlobHeaderSize = 512;
inline constexpr uint8_t kBlobFileVersion = 5;
//! Bytes of every block taken by its block header.
inline constexpr uint32_t kBlockHeaderSize = 18;
//! The largest block size a table may have (kMinBlobBlockSize is the smallest).
inline constexpr uint32_t kMaxBlobBlockSize = 65535;
//! The highest block number a file may reach.
inline constexpr int64_t kMaxBlockNumber = 2000000000;
//! The largest size a BLOB file may grow to.
inline constexpr int64_t kMaxBlobFileSize = 128000000000;

struct TBlobHeader {
  int32_t ChangeCounter = 0;    //!< incremented before every header write
  uint8_t Version = 0;          //!< kBlobFileVersion in a valid file
  int32_t FirstFreeBlock = 0;   //!< head of the free list, 0 when it is empty
  int32_t NextBlockNumber = 0;  //!< blocks in the file + 1
  uint8_t HeaderChanged = 0;    //!< the writer's header-changed flag when writing
};

//! Writes the header's 512 bytes at out (bytes 14 to 511 zero).
void EncodeBlobHeader(const TBlobHeader& header, uint8_t* out);
//! Reads a header from 512 bytes at in; any byte values are accepted.
TBlobHeader DecodeBlobHeader(const uint8_t* in);

//! The decoded 18-byte header at the start of every block.
struct TBlockHeader {
  int32_t PreviousBlock = 0;  //!< previous block of the chain, 0 for the first
  int32_t NextBlock = 0;      //!< next block of the chain (or of the free list), 0 at the end
  uint16_t BytesUsed = 0;     //!< data bytes used in this block
  int32_t BlobId = 0;         //!< identifier of the BLOB the block belongs to
  int32_t TotalLength = 0;    //!< the BLOB's length in the first block, 0 in the others
};

void EncodeBlockHeader(const TBlockHeader& header, uint8_t* out);
TBlockHeader DecodeBlockHeader(const uint8_t* in);

//! File offset of block n (n >= 1).
inline int64_t BlockOffset(int32_t n, uint32_t block_size) {
  return static_cast<int64_t>(kBlobHeaderSize) + (static_cast<int64_t>(n) - 1) * block_size;
}
//! True when a file may hold block n: within the block-number and file-size
//! limits.
inline bool BlockWithinLimits(int64_t n, uint32_t block_size) {
  return n <= kMaxBlockNumber &&
         static_cast<int64_t>(kBlobHeaderSize) + n * block_size <= kMaxBlobFileSize;
}

}  // namespace vevura
