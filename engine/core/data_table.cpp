// The shared table object: its files, opening and closing, and what the
// storage layer asks of it.

#include "engine/core/data_table.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <exception>

#include "engine/base/engine_error.h"
#include "engine/base/first_error.h"
#include "engine/core/data_session.h"
#include "engine/expr/records_bitmap_stack.h"
#include "engine/storage/file/table_file_names.h"
#include "platform/system.h"

namespace vevura {
namespace {

//! A bitmap from the process-wide pool, covering size records.
std::unique_ptr<TRecordsBitmap> TakeBitmap(int32_t size) {
  std::unique_ptr<TRecordsBitmap> bitmap = RecordsBitmapStack().Take();
  bitmap->SetSize(size);
  bitmap->ClearAll();
  return bitmap;
}

}  // namespace

TDataTable::TDataTable(TDataDirectory& directory) : directory_(directory) {
  data_file_ = std::make_unique<TDataFile>();
  index_file_ = std::make_unique<TIndexFile>(*this);
  blob_file_ = std::make_unique<TBlobFile>();
  data_file_->Records().SetTableState(this);
  data_file_->SetHeaderWrittenHook([this] { modified_ = true; });
  blob_file_->SetTableState(this);
  locked_records_ = TakeBitmap(kInitialBitmapSize);
  cursor_record_locks_ = TakeBitmap(kInitialBitmapSize);
  deferred_unlocks_ = TakeBitmap(kInitialBitmapSize);
}

TDataTable::~TDataTable() {
  // The last close happens here whatever cursors or transaction remain.
  in_transaction_ = false;
  use_count_ = std::min<uint16_t>(use_count_, 1);
  try {
    CloseTable(true);
  } catch (...) {
    // A destructor cannot report; the files are closed all the same.
  }
  ReturnRecordsBitmap(std::move(locked_records_));
  ReturnRecordsBitmap(std::move(cursor_record_locks_));
  ReturnRecordsBitmap(std::move(deferred_unlocks_));
}

void TDataTable::Configure(const std::string& name, bool exclusive, bool in_memory,
                           bool temporary) {
  table_name_ = name;
  exclusive_ = exclusive;
  in_memory_ = in_memory;
  temporary_ = temporary;
}

TDataSession& TDataTable::Session() const {
  return directory_.Session();
}

void TDataTable::RaiseTableError(uint16_t code) const {
  RaiseEngineError(code, "", "", directory_.ErrorName(), table_name_, "", "", "");
}

void TDataTable::PrepareFiles() {
  const std::string& dir = directory_.Path();
  const TDataSession& session = Session();
  data_file_->SetFileName(DataFileName(dir, table_name_));
  index_file_->SetFileName(IndexFileName(dir, table_name_));
  blob_file_->SetFileName(BlobFileName(dir, table_name_));
  for (TFileHandler* file : std::initializer_list<TFileHandler*>{
           data_file_.get(), index_file_.get(), blob_file_.get()}) {
    file->SetExclusive(exclusive_);
    file->SetInMemory(in_memory_);
    file->SetTemporary(temporary_);
    file->SetForRepair(for_repair_);
  }
  data_file_->SetTableName(table_name_);
  data_file_->SetDatabaseName(directory_.ErrorName());
  data_file_->SetForceFlush(session.ForceBufferFlush());
  data_file_->Records().SetBufferLimits(session.DataBufferSize(), session.DataBufferCount());
  blob_file_->SetTableName(table_name_);
  blob_file_->SetDatabaseName(directory_.ErrorName());
  blob_file_->SetBufferLimits(session.BlobBufferSize(), session.BlobBufferCount());
}

void TDataTable::OpenTable() {
  ++use_count_;
  if (is_open_) return;
  index_file_recreated_ = false;
  row_id_ceiling_ = -1;
  is_open_ = true;
  PrepareFiles();
  try {
    data_file_->Open();
    OpenIndexFile();
    if (HasBlobFields()) {
      blob_file_->SetBlockSize(data_file_->GetBlobBlockSize());
      blob_file_->SetEncrypted(data_file_->Encrypted());
      blob_file_->Open();
    }
  } catch (...) {
    AbandonFiles();
    use_count_ = 0;
    throw;
  }
  TakeFileAttributes();
  index_read_slot_ = 0;
  blob_read_slot_ = 0;
}

void TDataTable::OpenIndexFile() {
  try {
    index_file_->Open();
  } catch (const EVEVURAEngineError& e) {
    if (e.ErrorCode != VEVURA_OSENOENT) throw;
    RecreateIndexFile();
  }
}

void TDataTable::RecreateIndexFile() {
  index_file_->CreateFile();
  index_file_->WriteIndexHeader(true);
  index_file_->Close();
  index_file_->Open();
  index_file_recreated_ = true;
}

void TDataTable::TakeFileAttributes() {
  read_only_ = false;
  read_only_attribute_ = false;
  for (const TFileHandler* file : std::initializer_list<const TFileHandler*>{
           data_file_.get(), index_file_.get(), blob_file_.get()}) {
    if (!file->IsOpen()) continue;
    read_only_ = read_only_ || file->ReadOnly() || file->ReadOnlyAttribute();
    read_only_attribute_ = read_only_attribute_ || file->ReadOnlyAttribute();
  }
}

bool TDataTable::BlobFileInUse() const {
  return HasBlobFields() && blob_file_->IsOpen();
}

void TDataTable::CloseTable(bool drop_temporary) {
  if (!is_open_) return;
  if (use_count_ > 0) --use_count_;
  if (in_transaction_ || use_count_ > 0) return;
  std::exception_ptr first;
  if (exclusive_ && !read_only_) {
    Attempt(&first, [&] {
      if (drop_temporary && temporary_) {
        DiscardBuffers(true, false);
      } else {
        FlushBuffers(true, false, false, false, false);
      }
    });
  }
  ReleaseAndCloseFiles();
  if (first != nullptr) std::rethrow_exception(first);
}

void TDataTable::ReleaseAndCloseFiles() {
  std::exception_ptr first;
  Attempt(&first, [&] { ReleaseRecordLocks(false); });
  cursor_record_locks_->ClearAll();
  Attempt(&first, [&] { ReadUnlock(); });
  Attempt(&first, [&] { WriteUnlock(); });
  if (transaction_lock_held_) {
    Attempt(&first, [&] { TransactionUnlock(); });
  }
  AbandonFiles();
  if (first != nullptr) std::rethrow_exception(first);
}

void TDataTable::AbandonFiles() {
  index_read_slot_ = 0;
  blob_read_slot_ = 0;
  read_locked_ = false;
  write_locked_ = false;
  data_byte_held_ = index_region_held_ = blob_region_held_ = false;
  transaction_lock_held_ = false;
  index_file_->Close();
  if (blob_file_->IsOpen()) blob_file_->Close();
  data_file_->Close();
  locked_records_->ClearAll();
  cursor_record_locks_->ClearAll();
  deferred_unlocks_->ClearAll();
  index_file_recreated_ = false;
  modified_ = false;
  is_open_ = false;
}

void TDataTable::CreateTableFiles(const TTableFilesWriter& write_files) {
  ++use_count_;
  is_open_ = true;
  index_file_recreated_ = false;
  PrepareFiles();
  try {
    write_files(*this);
  } catch (...) {
    AbandonFiles();
    use_count_ = 0;
    throw;
  }
  TakeFileAttributes();
}

void TDataTable::DeleteTableFiles() {
  PrepareFiles();
  data_file_->DeleteFile();
  // A table whose index file went missing is still a table to delete.
  if (index_file_->Exists()) index_file_->DeleteFile();
  if (blob_file_->Exists()) blob_file_->DeleteFile();
}

void TDataTable::RequireWritable() const {
  if (read_only_) RaiseTableError(VEVURA_OSEACCES);
  if (damaged_) RaiseTableError(VEVURA_FILECORRUPT);
}

std::array<TFileHandler*, 3> TDataTable::Files() const {
  return {data_file_.get(), index_file_.get(), blob_file_.get()};
}

bool TDataTable::BeginChangeJournal() {
  if (exclusive_ || in_transaction_ || read_only_) return false;
  BeginFileJournal();
  return true;
}

void TDataTable::BeginFileJournal() {
  for (TFileHandler* file : Files()) {
    if (file != nullptr && file->IsOpen()) file->BeginJournal();
  }
}

void TDataTable::EndChangeJournal() {
  for (TFileHandler* file : Files()) {
    if (file != nullptr) file->EndJournal();
  }
}

void TDataTable::BeginBlobUndo() {
  if ((exclusive_ || in_transaction_) && BlobFileInUse()) blob_file_->BeginUndo();
}

void TDataTable::EndBlobUndo() {
  if (blob_file_ != nullptr) blob_file_->EndUndo();
}

void TDataTable::UndoBlobChanges() {
  if (BlobFileInUse()) blob_file_->UndoChanges();
}

void TDataTable::RollBackChangeJournal() {
  bool restored = true;
  // The reverse of the flush order does not matter here: other programs
  // read only under the write lock, which the change still holds.
  for (TFileHandler* file : Files()) {
    if (file != nullptr && file->Journaling()) restored = file->RollBackJournal() && restored;
  }
  if (!restored) damaged_ = true;
}

int32_t TDataTable::IndexBufferSize() const {
  return Session().IndexBufferSize();
}

bool TDataTable::BeforePageRead() {
  return page_read_client_ == nullptr || page_read_client_->BeforePageRead();
}

std::string TDataTable::TemporaryIndexFileName() {
  static std::atomic<uint32_t> serial{0};
  return "$IDX" + std::to_string(platform::CurrentProcessId()) + "_" + std::to_string(++serial) +
         std::string(kIndexFileExtension);
}

bool TDataTable::ShortReadAllowed() const {
  return (exclusive_ || in_transaction_) && modified_;
}

void TDataTable::SizeBitmaps(int32_t record_number) {
  int32_t wanted = std::max(data_file_->Header().NextRecordNumber, record_number);
  for (TRecordsBitmap* bitmap :
       {locked_records_.get(), cursor_record_locks_.get(), deferred_unlocks_.get()}) {
    if (bitmap->Size() < wanted) bitmap->SetSize(wanted);
  }
}

const TBoundedLockTiming& TDataTable::LockTiming() const {
  return Session().TableLockTiming();
}

}  // namespace vevura
