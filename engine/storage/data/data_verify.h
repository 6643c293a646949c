#pragma once
// Structural check of the record area of a data file: the part after the
// header and field descriptors.
//
// The check reads the file itself, not a cache, so a caller with cached
// changes flushes them first. It looks for:
// - a file size that is not the header, descriptors and whole records, or a
//   next record number that does not match the number of slots;
// - a slot whose status is neither live (0) nor free (1), or a live record
//   whose bytes 1 to 4 do not hold its own number;
// - a free chain whose head or a link lies outside the file, reaches a live
//   record, or comes back to a slot it has passed (a loop);
// - free records that the chain does not reach, when the table reuses free
//   slots (a table without a primary index never does, and keeps at most the
//   last freed slot on its chain).
// Encrypted records are unscrambled before they are looked at.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/storage/data/data_header.h"
#include "engine/storage/file/file_handler.h"

namespace vevura {

//! The most problem lines a report keeps; ProblemCount goes on counting.
inline constexpr size_t kMaxReportedProblems = 100;

//! What the check of a record area found.
struct TRecordAreaReport {
  int32_t Slots = 0;                  //!< whole records the file holds
  int32_t LiveRecords = 0;            //!< slots with status live
  int32_t FreeRecords = 0;            //!< slots with status free
  int32_t ChainLength = 0;            //!< free records reached through the chain
  int64_t ProblemCount = 0;           //!< faults found
  std::vector<std::string> Problems;  //!< the first kMaxReportedProblems faults, one line each

  bool Sound() const { return ProblemCount == 0; }
  //! Notes a fault.
  void Add(std::string problem);
};

//! Checks the record area of an open data file against header (its field
//! count, record size, encryption, first free record and next record
//! number). reuses_free_records is false for a table without a primary index.
//! Raises only the file layer's read errors.
TRecordAreaReport VerifyRecordArea(TFileHandler& file, const TDataHeader& header,
                                   bool reuses_free_records);

//! Fills images with the plain images (record size bytes each) of count
//! slots from first on.
using TRecordImageReader = std::function<void(int32_t first, int32_t count, uint8_t* images)>;
//! Sees each slot's plain image once, in record-number order.
using TRecordImageVisitor = std::function<void(int32_t number, const uint8_t* image)>;

//! The slot and free-chain checks of VerifyRecordArea over slots images that
//! read supplies instead of the file (for a table whose buffers hold records
//! not yet written), each image shown to visit when given. The file's size
//! is not looked at. Raises only what read raises.
TRecordAreaReport VerifyRecordImages(int32_t slots, const TRecordImageReader& read,
                                     const TDataHeader& header, bool reuses_free_records,
                                     const TRecordImageVisitor& visit = {});

}  // namespace vevura
