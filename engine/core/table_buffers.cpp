// Writing, marking and discarding the buffered changes of a shared table.

#include "engine/core/data_session.h"
#include "engine/core/data_table.h"
#include "engine/core/engine_error.h"

namespace vevura {

void TDataTable::FlushBuffers(bool trim, bool force_data_header, bool force_index_header,
                              bool force_blob_header, bool force_os_flush) {
  if (read_only_) return;
  if (in_transaction_) {
    MarkChanged(force_data_header, force_index_header, force_blob_header);
    return;
  }
  if (data_file_->IsOpen()) FlushDataFile(trim, force_data_header, force_os_flush);
  if (index_file_->IsOpen()) FlushIndexFile(trim, force_index_header, force_os_flush);
  if (BlobFileInUse()) FlushBlobFile(trim, force_blob_header, force_os_flush);
}

void TDataTable::FlushDataFile(bool trim, bool force_header, bool force_os_flush) {
  TRecordStorage& records = data_file_->Records();
  bool written = records.FlushRecords();
  written = data_file_->WriteHeader(force_header) || written;
  written = data_file_->WriteFieldDescriptors() || written;
  if (written && (force_os_flush || Session().ForceBufferFlush())) data_file_->Flush();
  if (trim) records.TrimCache();
}

void TDataTable::FlushIndexFile(bool trim, bool force_header, bool force_os_flush) {
  bool written = index_file_->WriteDirtyPages(false);
  written = index_file_->WriteIndexHeader(force_header) || written;
  if (written && (force_os_flush || Session().ForceBufferFlush())) index_file_->Flush();
  if (trim) index_file_->TrimPageBuffers();
}

void TDataTable::FlushBlobFile(bool trim, bool force_header, bool force_os_flush) {
  bool written = blob_file_->FlushBlocks();
  written = blob_file_->WriteBlobHeader(force_header) || written;
  if (written && (force_os_flush || Session().ForceBufferFlush())) blob_file_->Flush();
  if (trim) blob_file_->TrimCache();
}

void TDataTable::MarkChanged(bool data, bool index, bool blob) {
  if (data && data_file_->IsOpen()) data_file_->MarkHeaderChanged();
  if (index && index_file_->IsOpen()) index_file_->RecordIndexChange();
  if (blob && BlobFileInUse()) blob_file_->MarkBlobHeaderChanged();
  if (data || index || blob) modified_ = true;
}

void TDataTable::DiscardBuffers(bool trim, bool reread) {
  if (data_file_->IsOpen()) {
    data_file_->Records().DropAllRecords();
    if (trim) data_file_->Records().TrimCache();
    if (reread) data_file_->ReadHeader();
  }
  if (index_file_->IsOpen()) {
    index_file_->DropPageBuffers(false);
    if (trim) index_file_->TrimPageBuffers();
    if (reread) index_file_->ReadIndexHeader();
  }
  if (BlobFileInUse()) {
    blob_file_->DropAllBlocks();
    if (trim) blob_file_->TrimCache();
    if (reread) blob_file_->ReadBlobHeader();
  }
}

void TDataTable::ChangesMade(bool data, bool index, bool blob) {
  if (exclusive_) {
    MarkChanged(data, index, blob);
  } else {
    FlushBuffers(false, data, index, blob, false);
  }
}

}  // namespace vevura
