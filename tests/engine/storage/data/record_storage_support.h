#pragma once
// Shared pieces of the record storage tests: a data file host over a real
// file handler (disk or in-memory) that counts its reads and writes, a table
// state and a cursor whose answers a test sets, and helpers that read the
// record area straight from the file.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/base/engine_error.h"
#include "engine/storage/common/scramble.h"
#include "engine/storage/data/data_header.h"
#include "engine/storage/data/record_storage.h"
#include "engine/storage/fields/record_layout.h"
#include "engine/storage/file/file_handler.h"
#include "tests/engine/storage/file_layer_support.h"

namespace vevura::test {

//! A file handler that notes the position and length of every read and write.
class TCountingHandler : public TFileHandler {
 public:
  struct TTransfer {
    int64_t Position = 0;
    int64_t Length = 0;
  };

  int64_t Read(void* buffer, int64_t length, bool allow_short) override {
    Reads.push_back({Seek(soFromCurrent, 0), length});
    return TFileHandler::Read(buffer, length, allow_short);
  }
  void Write(const void* buffer, int64_t length) override {
    Writes.push_back({Seek(soFromCurrent, 0), length});
    TFileHandler::Write(buffer, length);
  }
  void ClearCounts() {
    Reads.clear();
    Writes.clear();
  }

  std::vector<TTransfer> Reads;   //!< every read since the last ClearCounts
  std::vector<TTransfer> Writes;  //!< every write since the last ClearCounts
};

//! The shared table's state as a test sets it.
class TTestTableState : public TRecordTableState {
 public:
  bool HasPrimaryIndex() const override { return PrimaryIndex; }
  bool TransactionLockHeld() const override { return TransactionLock; }
  bool ShortReadAllowed() const override { return ShortReads; }
  void NoteWritten() override { ++WrittenNotes; }

  bool PrimaryIndex = true;
  bool TransactionLock = false;
  bool ShortReads = false;
  int WrittenNotes = 0;
};

//! A cursor whose change check and read-ahead choice a test sets.
class TTestCursor : public TRecordClient {
 public:
  bool BeforeRecordRead() override {
    ++Checks;
    return !ReportChange;
  }
  void ReadAheadRecords(int32_t, TRecordDirection, int32_t limit,
                        std::vector<int32_t>& numbers) override {
    LastLimit = limit;
    numbers.insert(numbers.end(), Ahead.begin(), Ahead.end());
  }

  bool ReportChange = false;   //!< answer "another user changed the table"
  std::vector<int32_t> Ahead;  //!< the records the cursor names on a miss
  int Checks = 0;              //!< calls of BeforeRecordRead
  int32_t LastLimit = 0;       //!< the limit last passed to ReadAheadRecords
};

inline constexpr const char* kTestTable = "RECORDS";

//! A data file with field_count zeroed descriptors and no records, open, with
//! its header in memory and record storage over it.
class TTestDataFile : public TRecordFileHost {
 public:
  TTestDataFile(const std::string& name, bool in_memory, uint16_t record_size,
                uint16_t field_count = 1, bool encrypted = false)
      : storage(*this) {
    file.SetFileName(name);
    file.SetInMemory(in_memory);
    file.CreateFile();
    std::vector<uint8_t> start(static_cast<size_t>(RecordAreaOffset(field_count)), 0);
    file.WriteAt(0, start.data(), static_cast<int64_t>(start.size()));
    header.Version = kDataFileVersion;
    header.RecordSize = record_size;
    header.FieldCount = field_count;
    header.NextRecordNumber = 1;
    header.Encrypted = encrypted ? 1 : 0;
    storage.SetTableState(&table);
    storage.SizeCache();
    file.ClearCounts();
  }
  ~TTestDataFile() override {
    storage.DropAllRecords();
    file.Close();
  }

  TFileHandler& RecordFile() override { return file; }
  TDataHeader& RecordHeader() override { return header; }
  void SetHeaderChanged() override { header_changed = true; }
  int32_t NextAutoIncValue() override {
    header.LastAutoIncValue =
        header.LastAutoIncValue == 2147483647 ? 1 : header.LastAutoIncValue + 1;
    header_changed = true;
    return header.LastAutoIncValue;
  }
  void RaiseRecordError(uint16_t code) const override { RaiseTableError(code, kTestTable); }

  //! The plain image of record number as the file holds it.
  std::vector<uint8_t> FileImage(int32_t number) {
    std::vector<uint8_t> image(header.RecordSize);
    file.ReadAt(storage.RecordOffset(number), image.data(), header.RecordSize);
    if (header.Encrypted != 0) UnscrambleRun(image.data(), image.size(), kTableDataSeeds);
    return image;
  }
  //! Writes a plain image of record number straight to the file.
  void PutFileImage(int32_t number, std::vector<uint8_t> image) {
    if (header.Encrypted != 0) ScrambleRun(image.data(), image.size(), kTableDataSeeds);
    file.WriteAt(storage.RecordOffset(number), image.data(), static_cast<int64_t>(image.size()));
  }
  //! Appends count live records straight to the file, each filled with its
  //! number's low byte after the record header.
  void FillRecords(int32_t count) {
    for (int32_t n = header.NextRecordNumber; count > 0; --count, ++n) {
      PutFileImage(n, LiveImage(n, n));
      header.NextRecordNumber = n + 1;
    }
    file.ClearCounts();
  }
  //! A live image of number with row id row_id and payload bytes of n's low byte.
  std::vector<uint8_t> LiveImage(int32_t number, int32_t row_id) const {
    std::vector<uint8_t> image(header.RecordSize, static_cast<uint8_t>(number));
    SetRecordStatus(image, rsLive);
    SetRecordLink(image, number);
    SetRecordRowId(image, row_id);
    return image;
  }

  TCountingHandler file;
  TDataHeader header;
  bool header_changed = false;
  TTestTableState table;
  TRecordStorage storage;
};

//! The bytes of a buffer as a vector, for comparisons.
inline std::vector<uint8_t> ImageOf(const TRecord& record) {
  return std::vector<uint8_t>(record.Data().begin(), record.Data().end());
}

}  // namespace vevura::test
