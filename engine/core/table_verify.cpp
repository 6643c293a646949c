// VerifyTable: the order of the checks, the headers, the active record count
// and the row ids; opening a table object for the check.

#include "engine/core/table_verify.h"

#include <algorithm>
#include <exception>

#include "engine/base/engine_error.h"
#include "engine/base/first_error.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_table.h"
#include "engine/core/table_checker.h"
#include "engine/core/table_lock_guards.h"
#include "engine/storage/data/data_header_verify.h"
#include "engine/storage/data/record_storage.h"
#include "engine/storage/file/table_file_names.h"

namespace vevura {
namespace {

//! True when the table's index file exists.
bool IndexFilePresent(TDataDirectory& directory, const std::string& name, bool in_memory) {
  TFileHandler file;
  file.SetFileName(IndexFileName(directory.Path(), name));
  file.SetInMemory(in_memory);
  return file.Exists();
}

}  // namespace

void TTableVerifyReport::Add(const std::string& problem) {
  ++ProblemCount;
  if (Problems.size() < kMaxTableProblems) {
    Problems.push_back(problem);
  } else {
    Problems.back() = std::to_string(ProblemCount - kMaxTableProblems + 1) + " more problems";
  }
}

std::string TTableVerifyReport::Describe() const {
  std::string text;
  for (const std::string& problem : Problems) text += problem + "\n";
  return text;
}

void TTableChecker::Run() {
  try {
    if (!CheckDataHeader()) return;
    const bool indexes = CheckIndexHeader() && LoadIndexes();
    if (indexes) CheckIndexStructure();
    ScanRecords();
    CheckRowIds();
    if (indexes) CheckActiveCount();
    CheckBlobs();
    if (indexes) {
      CollectMemoWords();
      CheckIndexContents();
    }
  } catch (...) {
    Add("table: check stopped: " + CurrentErrorText());
  }
  if (progress_) progress_(100);
}

void TTableChecker::CollectEntries() {
  if (!CheckDataHeader()) return;
  LoadIndexes();
  ScanRecords();
  CollectMemoWords();
}

bool TTableChecker::CheckDataHeader() {
  TDataFile& data = table_.DataFile();
  const TDataHeader& header = data.Header();
  std::vector<TFieldDescriptor> fields = data.Fields();
  try {
    const int64_t size = data.GetSize();
    const int64_t area = RecordAreaOffset(header.FieldCount);
    if (header.BlobFieldCount != BlobFieldsOf(fields)) {
      Add("data file: header: BLOB field count " + std::to_string(header.BlobFieldCount) + " for " +
          std::to_string(BlobFieldsOf(fields)) + " BLOB fields");
      return false;
    }
    const int64_t full = area + (int64_t{header.NextRecordNumber} - 1) * header.RecordSize;
    // Records appended in the buffers make the file shorter than the header
    // says until they are written.
    const bool short_by_buffers = RecordsPending() && size < full;
    VerifyDataHeader(header, fields, short_by_buffers ? full : size, table_.TableName());
    if (data.CountsClamped()) {
      Add("data file: header: it counts record slots the file does not hold whole");
    }
    slots_ = header.NextRecordNumber - 1;
    file_slots_ = static_cast<int32_t>(std::max<int64_t>(size - area, 0) / header.RecordSize);
    file_slots_ = std::min(file_slots_, slots_);
  } catch (...) {
    Add("data file: header: " + CurrentErrorText());
    return false;
  }
  return true;
}

bool TTableChecker::CheckIndexHeader() {
  if (table_.IndexFileRecreated()) {
    Add("index file: missing; an empty one was made when the table was opened");
    return false;
  }
  if (table_.IndexFile().HeaderUnreadable()) {
    Add("index file: header: cannot be read");
    return false;
  }
  try {
    table_.IndexFile().VerifyIndexHeader(table_.DataFile().Fields());
  } catch (...) {
    Add("index file: header: " + CurrentErrorText());
    return false;
  }
  return true;
}

void TTableChecker::CheckActiveCount() {
  const int32_t count = table_.IndexFile().GetActiveRecordCount();
  if (count != report_.LiveRecords) {
    Add("index file: active record count " + std::to_string(count) + " for " +
        std::to_string(report_.LiveRecords) + " live records");
  }
}

void TTableChecker::CheckRowIds() {
  std::sort(row_ids_.begin(), row_ids_.end());
  for (size_t i = 1; i < row_ids_.size(); ++i) {
    if (row_ids_[i].first == row_ids_[i - 1].first) {
      Add("data file: row id " + std::to_string(row_ids_[i].first) + " in records " +
          std::to_string(row_ids_[i - 1].second) + " and " + std::to_string(row_ids_[i].second));
    }
  }
}

TTableVerifyReport VerifyTable(TDataTable& table, const TCheckProgress& progress) {
  TTableVerifyReport report;
  if (!table.IsOpen()) {
    report.Add("table: " + table.TableName() + " is not open");
    return report;
  }
  try {
    // On a shared table no other program may change it meanwhile; a lock
    // the caller holds already is left as it is.
    TTableReadLock lock(table);
    // Keys still waiting for their indexes belong to the table checked.
    table.InsertQueuedKeys();
    TTableChecker checker(table, report);
    checker.SetProgress(progress);
    checker.Run();
  } catch (...) {
    report.Add("table: read lock: " + CurrentErrorText());
  }
  return report;
}

TTableVerifyReport VerifyTable(TDataDirectory& directory, const std::string& table_name,
                               bool in_memory, const TCheckProgress& progress) {
  TTableVerifyReport report;
  TDataTable* table = nullptr;
  try {
    if (directory.FindTable(table_name, in_memory) == nullptr) {
      if (!directory.TableExists(table_name, in_memory)) {
        report.Add("table: " + table_name + " does not exist");
        return report;
      }
      if (!IndexFilePresent(directory, table_name, in_memory)) {
        report.Add("index file: missing");
        return report;
      }
    }
    TTableOpenRequest request;
    request.InMemory = in_memory;
    request.ShareAlways = true;
    const int32_t result = directory.OpenTableObject(table_name, request, &table);
    if (result < 0) {
      report.Add("table: cannot be opened: " + EngineErrorName(static_cast<uint16_t>(-result)));
      return report;
    }
  } catch (...) {
    report.Add("table: cannot be opened: " + CurrentErrorText());
    return report;
  }
  report = VerifyTable(*table, progress);
  try {
    directory.CloseTableObject(table, false);
  } catch (...) {
    report.Add("table: closing: " + CurrentErrorText());
  }
  return report;
}

}  // namespace vevura
