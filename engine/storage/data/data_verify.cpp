#include "engine/storage/data/data_verify.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

#include "engine/storage/common/byte_order.h"
#include "engine/storage/common/scramble.h"
#include "engine/storage/data/record_storage.h"
#include "engine/storage/fields/record_layout.h"

namespace vevura {
namespace {

//! Bytes read per step of the scan.
constexpr int64_t kScanBytes = 65536;

//! A free slot's link and whether the chain walk has passed it.
struct TFreeSlot {
  int32_t Link = 0;
  bool Reached = false;
};

using TFreeSlots = std::unordered_map<int32_t, TFreeSlot>;

std::string Text(const char* what, int64_t a) {
  return what + std::to_string(a);
}

//! Checks the file size and the header counts; the number of slots, or -1
//! when the record area cannot be scanned.
int64_t CheckSize(TFileHandler& file, const TDataHeader& header, TRecordAreaReport& report) {
  const int64_t start = RecordAreaOffset(header.FieldCount);
  const int64_t size = file.GetSize();
  if (header.RecordSize < kRecordHeaderSize) {
    report.Add(Text("record size too small: ", header.RecordSize));
    return -1;
  }
  if (size < start) {
    report.Add(Text("file shorter than its header and field descriptors: ", size));
    return -1;
  }
  // Bytes beyond the slots the header counts are the remains of an append
  // that a killed program never completed: not part of the table.
  const int64_t whole = (size - start) / header.RecordSize;
  const int64_t counted = int64_t{header.NextRecordNumber} - 1;
  if (counted > kMaxRecordNumber) {
    report.Add(Text("more records than a table may hold: ", counted));
    return -1;
  }
  if (counted < 0 || counted > whole) {
    report.Add(Text("next record number does not match the file: ", header.NextRecordNumber));
    return std::min(whole, int64_t{kMaxRecordNumber});
  }
  return counted;
}

//! Looks at one record image of slot number.
void CheckSlot(const uint8_t* image, int32_t number, TFreeSlots& free_slots,
               TRecordAreaReport& report) {
  const uint8_t status = image[kStatusOffset];
  const int32_t link = GetInt32(image + kRecordLinkOffset);
  if (status == rsLive) {
    ++report.LiveRecords;
    if (link != number) report.Add(Text("live record holds another number: ", number));
  } else if (status == rsFree) {
    ++report.FreeRecords;
    free_slots[number] = TFreeSlot{link, false};
  } else {
    report.Add(Text("record has an unknown status: ", number));
  }
}

//! Reads every slot and collects the free ones.
void ScanSlots(const TRecordImageReader& read, const TDataHeader& header, int32_t slots,
               const TRecordImageVisitor& visit, TFreeSlots& free_slots,
               TRecordAreaReport& report) {
  const int64_t size = header.RecordSize;
  const int64_t per_step = std::max<int64_t>(kScanBytes / size, 1);
  std::vector<uint8_t> bytes(static_cast<size_t>(per_step * size));
  for (int64_t first = 1; first <= slots; first += per_step) {
    const int64_t count = std::min<int64_t>(per_step, slots - first + 1);
    read(static_cast<int32_t>(first), static_cast<int32_t>(count), bytes.data());
    for (int64_t i = 0; i < count; ++i) {
      const uint8_t* image = bytes.data() + i * size;
      const auto number = static_cast<int32_t>(first + i);
      CheckSlot(image, number, free_slots, report);
      if (visit) visit(number, image);
    }
  }
}

//! The images of the record area as the file holds them, unscrambled.
TRecordImageReader FileImageReader(TFileHandler& file, const TDataHeader& header) {
  return [&file, &header](int32_t first, int32_t count, uint8_t* images) {
    const int64_t size = header.RecordSize;
    file.ReadAt(RecordAreaOffset(header.FieldCount) + (first - 1) * size, images, count * size);
    if (header.Encrypted == 0) return;
    for (int32_t i = 0; i < count; ++i) {
      UnscrambleRun(images + i * size, static_cast<size_t>(size), kTableDataSeeds);
    }
  };
}

//! Follows the chain from the header's first free record.
void WalkChain(const TDataHeader& header, int32_t slots, TFreeSlots& free_slots,
               TRecordAreaReport& report) {
  int32_t at = header.FirstFreeRecord;
  while (at != 0) {
    if (at < 0 || at > slots) {
      report.Add(Text("free chain links outside the file: ", at));
      return;
    }
    auto slot = free_slots.find(at);
    if (slot == free_slots.end()) {
      report.Add(Text("free chain reaches a live record: ", at));
      return;
    }
    if (slot->second.Reached) {
      report.Add(Text("free chain loops back to record ", at));
      return;
    }
    slot->second.Reached = true;
    ++report.ChainLength;
    at = slot->second.Link;
  }
}

//! The slot and chain checks of slots images from read.
void CheckImages(int32_t slots, const TRecordImageReader& read, const TDataHeader& header,
                 bool reuses_free_records, const TRecordImageVisitor& visit,
                 TRecordAreaReport& report) {
  report.Slots = slots;
  TFreeSlots free_slots;
  ScanSlots(read, header, slots, visit, free_slots, report);
  WalkChain(header, slots, free_slots, report);
  if (reuses_free_records && report.ChainLength != report.FreeRecords) {
    report.Add(
        Text("free records not on the free chain: ", report.FreeRecords - report.ChainLength));
  }
}

}  // namespace

void TRecordAreaReport::Add(std::string problem) {
  ++ProblemCount;
  if (Problems.size() < kMaxReportedProblems) Problems.push_back(std::move(problem));
}

TRecordAreaReport VerifyRecordImages(int32_t slots, const TRecordImageReader& read,
                                     const TDataHeader& header, bool reuses_free_records,
                                     const TRecordImageVisitor& visit) {
  TRecordAreaReport report;
  if (header.RecordSize < kRecordHeaderSize) {
    report.Add(Text("record size too small: ", header.RecordSize));
    return report;
  }
  CheckImages(slots, read, header, reuses_free_records, visit, report);
  return report;
}

TRecordAreaReport VerifyRecordArea(TFileHandler& file, const TDataHeader& header,
                                   bool reuses_free_records) {
  TRecordAreaReport report;
  const int64_t slots = CheckSize(file, header, report);
  if (slots < 0) return report;
  CheckImages(static_cast<int32_t>(slots), FileImageReader(file, header), header,
              reuses_free_records, {}, report);
  return report;
}

}  // namespace vevura
