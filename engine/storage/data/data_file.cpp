#include "engine/storage/data/data_file.h"

#include <algorithm>
#include <limits>

#include "engine/base/engine_error.h"
#include "engine/storage/common/byte_order.h"
#include "engine/storage/common/scramble.h"
#include "engine/storage/data/data_header_verify.h"
#include "engine/storage/fields/date_encoding.h"
#include "engine/storage/fields/record_layout.h"
#include "platform/date_time.h"
#include "platform/locale.h"

namespace vevura {
namespace {

//! The counters of the header wrap from the largest value to 1.
int32_t NextCounterValue(int32_t last) {
  return last == std::numeric_limits<int32_t>::max() ? 1 : last + 1;
}

}  // namespace

TDataFile::TDataFile() = default;

TDataFile::~TDataFile() {
  TDataFile::Close();
}

void TDataFile::RaiseTableFault(uint16_t code) const {
  RaiseEngineError(code, "", "", database_name_, table_name_.empty() ? FileName() : table_name_, "",
                   "", "");
}

void TDataFile::Open() {
  if (IsOpen()) return;
  fields_.clear();
  counts_clamped_ = false;
  TFileHandler::Open();
  try {
    ReadHeader();
    CheckVersion();
    if (header_.FieldCount > kMaxFieldCount || header_.RecordSize < kRecordHeaderSize) {
      RaiseTableFault(VEVURA_HEADERCORRUPT);
    }
    ReadFieldDescriptors();
    OnOpened();
  } catch (...) {
    Close();
    throw;
  }
}

void TDataFile::Close() {
  if (IsOpen()) OnClosing();
  TFileHandler::Close();
}

void TDataFile::OnOpened() {
  records_.SizeCache();
}

void TDataFile::OnClosing() {
  records_.DropAllRecords();
}

void TDataFile::CreateHeader(const TNewTableHeader& params,
                             const std::vector<TFieldDescriptor>& fields) {
  std::vector<TFieldDescriptor> laid_out = fields;
  LayOutFields(laid_out);
  header_ = MakeNewDataHeader(params, laid_out, table_name_.empty() ? FileName() : table_name_);
  fields_ = std::move(laid_out);
  header_.HeaderChanged = 1;
  descriptors_changed_ = true;
  CreateFile();
  records_.SizeCache();
}

TDataHeader TDataFile::ReadHeaderBytes() {
  ForgetSize();  // another writer's header may count records it appended
  std::array<uint8_t, kDataHeaderSize> bytes{};
  ReadAt(0, bytes.data(), kDataHeaderSize);
  TDataHeader header = DecodeDataHeader(bytes.data());
  // The counts size the record bitmaps and enter the slot arithmetic: a
  // header whose counts the file cannot hold is damaged, whoever wrote it.
  if (header.Version != kDataFileVersion) RaiseTableFault(VEVURA_OLDVERSION);
  if (!SlotCountsFit(header, GetSize())) {
    if (!ForRepair() || header.RecordSize == 0) RaiseTableFault(VEVURA_HEADERCORRUPT);
    // A repair counts the slots the file holds whole.
    counts_clamped_ = true;
    const int64_t area = RecordAreaOffset(header.FieldCount);
    const int64_t whole = std::max<int64_t>(GetSize() - area, 0) / header.RecordSize;
    header.NextRecordNumber =
        static_cast<int32_t>(std::clamp<int64_t>(header.NextRecordNumber - 1, 0, whole)) + 1;
    if (header.FirstFreeRecord < 0 || header.FirstFreeRecord >= header.NextRecordNumber) {
      header.FirstFreeRecord = 0;
    }
  }
  return header;
}

void TDataFile::ReadHeader() {
  header_ = ReadHeaderBytes();
  header_.HeaderChanged = 0;
}

bool TDataFile::ReloadHeaderIfChanged() {
  // The change counter (the first four bytes) alone tells in most checks.
  std::array<uint8_t, 4> counter{};
  ReadHeadAt(0, counter.data(), counter.size());
  if (GetInt32(counter.data()) == header_.ChangeCounter) return false;
  TDataHeader on_disk = ReadHeaderBytes();
  if (on_disk.ChangeCounter == header_.ChangeCounter) return false;
  header_ = on_disk;
  return true;
}

bool TDataFile::WriteHeader(bool force) {
  if (!force && header_.HeaderChanged == 0) return false;
  header_.ChangeCounter = WrappingAdd(header_.ChangeCounter, 1);
  header_.Mark116 = kHeaderMark116;
  header_.Mark120 = 0;
  header_.LastUpdate = platform::Now() - kDayNumberOfZeroDay;
  std::array<uint8_t, kDataHeaderSize> bytes{};
  EncodeDataHeader(header_, bytes.data());
  WriteAt(0, bytes.data(), kDataHeaderSize);
  NoteHeaderWritten();
  header_.HeaderChanged = 0;
  return true;
}

void TDataFile::MarkHeaderChanged() {
  header_.ChangeCounter = WrappingAdd(header_.ChangeCounter, 1);
  header_.HeaderChanged = 1;
  NoteHeaderWritten();
}

void TDataFile::ReadFieldDescriptors() {
  const size_t count = header_.FieldCount;
  std::vector<uint8_t> block(count * kFieldDescriptorSize);
  if (count > 0) ReadAt(kDataHeaderSize, block.data(), static_cast<int64_t>(block.size()));
  if (Encrypted()) UnscrambleRun(block.data(), block.size(), kTableDataSeeds);
  fields_.clear();
  fields_.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    fields_.push_back(DecodeFieldDescriptor(&block[i * kFieldDescriptorSize]));
  }
  descriptors_changed_ = false;
}

bool TDataFile::WriteFieldDescriptors() {
  if (!descriptors_changed_) return false;
  std::vector<uint8_t> block(fields_.size() * kFieldDescriptorSize);
  for (size_t i = 0; i < fields_.size(); ++i) {
    EncodeFieldDescriptor(fields_[i], &block[i * kFieldDescriptorSize]);
  }
  if (Encrypted()) ScrambleRun(block.data(), block.size(), kTableDataSeeds);
  if (!block.empty()) WriteAt(kDataHeaderSize, block.data(), static_cast<int64_t>(block.size()));
  if (force_flush_) Flush();
  descriptors_changed_ = false;
  return true;
}

void TDataFile::CheckVersion() const {
  if (header_.Version != kDataFileVersion) RaiseTableFault(VEVURA_OLDVERSION);
}

void TDataFile::VerifyHeader() {
  const int64_t file_size = GetSize();
  try {
    VerifyDataHeader(header_, fields_, file_size, table_name_);
  } catch (const EVEVURAEngineError& e) {
    // Raise again with the table's full context.
    RaiseTableFault(e.ErrorCode);
  }
}

TFieldDescriptor TDataFile::GetFieldDescriptor(int position) const {
  return fields_.at(static_cast<size_t>(position - 1));
}

bool TDataFile::FindFieldByNumber(uint16_t field_number, TFieldDescriptor* field) const {
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (fields_[i].FieldNumber != field_number) continue;
    *field = fields_[i];
    field->SetCopyPosition(static_cast<uint16_t>(i + 1));
    return true;
  }
  return false;
}

bool TDataFile::FindFieldByName(const std::string& name, TFieldDescriptor* field) const {
  int position = FieldPosition(name);
  if (position == 0) return false;
  *field = fields_[static_cast<size_t>(position - 1)];
  field->SetCopyPosition(static_cast<uint16_t>(position));
  return true;
}

int TDataFile::FieldPosition(const std::string& name) const {
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (platform::SameTextSystem(fields_[i].Name, name)) return static_cast<int>(i + 1);
  }
  return 0;
}

int32_t TDataFile::NextAutoIncValue() {
  header_.LastAutoIncValue = NextCounterValue(header_.LastAutoIncValue);
  header_.HeaderChanged = 1;
  return header_.LastAutoIncValue;
}

void TDataFile::SetLastAutoIncValue(int32_t value) {
  if (header_.LastAutoIncValue == value) return;
  header_.LastAutoIncValue = value;
  header_.HeaderChanged = 1;
}

int32_t TDataFile::NextBlobId() {
  header_.LastBlobId = NextCounterValue(header_.LastBlobId);
  header_.HeaderChanged = 1;
  return header_.LastBlobId;
}

std::array<uint8_t, kDataHeaderSize> TDataFile::HeaderBytes() const {
  std::array<uint8_t, kDataHeaderSize> bytes{};
  EncodeDataHeader(header_, bytes.data());
  return bytes;
}

TDataHeader ReadClosedTableHeader(const std::string& file_name, bool in_memory) {
  TFileHandler handler;
  handler.SetFileName(file_name);
  handler.SetInMemory(in_memory);
  handler.Open();
  std::array<uint8_t, kDataHeaderSize> bytes{};
  handler.ReadAt(0, bytes.data(), kDataHeaderSize);
  handler.Close();
  TDataHeader header = DecodeDataHeader(bytes.data());
  if (header.Version == kDataFileVersion) return header;
  TDataHeader other_version;
  other_version.Version = header.Version;
  return other_version;
}

}  // namespace vevura
