#pragma once
// The structural check of a BLOB file, for tests and maintenance tools.
//
// A sound BLOB file has a valid header; a free list that stays within the
// file, ends with 0 and meets no block twice; and for every BLOB the table's
// records refer to, a chain whose first block carries the record's
// identifier and the BLOB's length and has no previous block, whose blocks
// all carry that identifier, link back to the block before them, are full
// except the last, and hold exactly the BLOB's length. Every block of the
// file lies in exactly one chain or on the free list.
//
// The check reads through the file's cache, so changes not yet written count
// as they stand in memory. It never raises for what it finds: damage and
// read failures become problems in the report.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/storage/blob/blob_file.h"
#include "engine/storage/fields/field_codec.h"

namespace vevura {

//! What the check found.
struct TBlobFileCheck {
  std::vector<std::string> Problems;  //!< one line per problem; empty for a sound file
  int32_t Blocks = 0;                 //!< blocks the header counts
  int32_t ChainBlocks = 0;            //!< blocks met in the chains
  int32_t FreeBlocks = 0;             //!< blocks met on the free list
  int64_t ChainBytes = 0;             //!< data bytes the chains hold
  bool Sound() const { return Problems.empty(); }
};

//! Checks file against the BLOBs the records refer to (GetBlobField of every
//! live record's BLOB fields). REQUIRES: file open.
TBlobFileCheck VerifyBlobFile(TBlobFile& file, const std::vector<TBlobReference>& blobs);

//! The chains of blobs one after the other, as the check walks them: for
//! each, its first fault ("" when it is sound); a chain that meets a block
//! an earlier sound chain holds is damaged. used gets, by block number, 1
//! for the blocks the sound chains hold. The header is not looked at; read
//! failures count as faults of the chain being read.
std::vector<std::string> CheckBlobChains(TBlobFile& file, const std::vector<TBlobReference>& blobs,
                                         std::vector<uint8_t>* used);

}  // namespace vevura
