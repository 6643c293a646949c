// Writing, marking and discarding the buffered changes of a shared table.

#include <algorithm>

#include "engine/base/engine_error.h"
#include "engine/core/data_session.h"
#include "engine/core/data_table.h"

namespace vevura {
namespace {

//! The change being written frees a record. A delete pushes the slot it
//! frees on the free chain, so the chain's head is then a changed free
//! record; an insert that reuses a slot moves the head to a record it has
//! not touched.
bool WritesFreedRecord(TDataFile& data) {
  const int32_t head = data.Header().FirstFreeRecord;
  if (head == 0) return false;
  const TRecord* record = data.Records().Peek(head);
  return record != nullptr && record->Dirty() && record->IsFree() != 0;
}

//! The data header goes before the records unless the change appends a
//! slot or frees one. An append writes its slot first, since the header
//! counts it; a delete writes the freed slot first, since the header's chain
//! head then names it. An insert into a free slot takes it off the chain:
//! its header goes first, so that the chain never leads to a slot that is
//! live on disk (an interruption leaves a free slot off the chain instead).
bool DataHeaderGoesFirst(TDataFile& data) {
  if (WritesFreedRecord(data)) return false;
  const int32_t next = data.Header().NextRecordNumber;
  const TRecord* record = next > 1 ? data.Records().Peek(next - 1) : nullptr;
  return record == nullptr || !record->Dirty();
}

}  // namespace

// A program killed between two writes leaves on disk exactly the writes it
// made before, so the order of the writes decides what such a crash leaves
// behind. Index entries name records, and records name BLOB chains. When a
// change adds, what is named is written before what names it (BLOB file,
// data file, index file); when it removes, the reverse (index file, data
// file, BLOB file). A flush cut short between two files then leaves a BLOB
// chain that no record names or a record that no index names, which no
// reader reaches, rather than an index entry or a BLOB reference leading to
// a slot or chain not yet written or already freed. In the index and BLOB
// files the header comes after the pages and blocks, since it counts those
// they add; the data file's order is DataHeaderGoesFirst's. Other programs
// never see the order: they read only under a lock that the writer holds
// until its last write.
void TDataTable::FlushBuffers(bool trim, bool force_data_header, bool force_index_header,
                              bool force_blob_header, bool force_os_flush) {
  if (read_only_) return;
  if (in_transaction_) {
    MarkChanged(force_data_header, force_index_header, force_blob_header);
    return;
  }
  InsertQueuedKeys();
  const bool data_open = data_file_->IsOpen();
  if (data_open && WritesFreedRecord(*data_file_)) {
    if (index_file_->IsOpen()) FlushIndexFile(trim, force_index_header, force_os_flush);
    FlushDataFile(trim, force_data_header, force_os_flush);
    if (BlobFileInUse()) FlushBlobFile(trim, force_blob_header, force_os_flush);
    return;
  }
  if (BlobFileInUse()) FlushBlobFile(trim, force_blob_header, force_os_flush);
  if (data_open) FlushDataFile(trim, force_data_header, force_os_flush);
  if (index_file_->IsOpen()) FlushIndexFile(trim, force_index_header, force_os_flush);
}

void TDataTable::FlushDataFile(bool trim, bool force_header, bool force_os_flush) {
  TRecordStorage& records = data_file_->Records();
  const bool header_first = DataHeaderGoesFirst(*data_file_);
  bool written = header_first && data_file_->WriteHeader(force_header);
  written = records.FlushRecords() || written;
  if (!header_first) written = data_file_->WriteHeader(force_header) || written;
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
  row_id_ceiling_ = -1;
  // Queued keys belong to the buffers' state: they go with it.
  for (auto& batch : key_batches_) {
    if (batch != nullptr) batch->Clear();
  }
  queued_key_bytes_ = 0;
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

// ---------------------------------------------------------------------------
// Keys waiting for their index

namespace {

//! Bytes a table's key batches hold at least before they go into their
//! indexes: a batch gains while it holds several keys for most leaves, and
//! loses once sorting it no longer fits the processor's caches.
constexpr size_t kQueuedKeyBytes = size_t{4} << 20;

}  // namespace

size_t TDataTable::QueuedKeyLimit() const {
  // Each batch visits the leaves of its index once, reading and writing again
  // every leaf the cache does not hold, so fewer, larger batches save most of
  // those passes: a session that gives its indexes more memory lets the
  // batches hold as many bytes as one index may cache.
  return std::max(kQueuedKeyBytes, static_cast<size_t>(std::max(IndexBufferSize(), 0)));
}

void TDataTable::QueueKey(uint8_t index, std::shared_ptr<const TKeyComparer> comparer,
                          uint16_t key_length, const uint8_t* key, uint32_t reference) {
  std::unique_ptr<TKeyBatch>& batch = key_batches_.at(index);
  if (batch == nullptr || batch->KeyLength() != key_length) {
    if (batch != nullptr) InsertQueuedKeys(index);
    batch = std::make_unique<TKeyBatch>(std::move(comparer), key_length);
  }
  const size_t before = batch->Bytes();
  batch->Add(key, reference);
  queued_key_bytes_ += batch->Bytes() - before;
  if (queued_key_bytes_ > QueuedKeyLimit()) InsertQueuedKeys();
}

bool TDataTable::TakeBackQueuedKey(uint8_t index, const uint8_t* key, uint32_t reference) {
  TKeyBatch* batch = key_batches_.at(index).get();
  if (batch == nullptr) return false;
  const size_t before = batch->Bytes();
  if (!batch->TakeBackLast(key, reference)) return false;
  queued_key_bytes_ -= before - batch->Bytes();
  return true;
}

void TDataTable::InsertQueuedKeys(uint8_t index) {
  TKeyBatch* batch = key_batches_.at(index).get();
  if (batch == nullptr || batch->Empty()) return;
  const size_t before = batch->Bytes();
  TBTreePath path;
  TBTree tree(*index_file_, index, batch->Comparer(), path);
  try {
    batch->InsertInto(tree);
  } catch (...) {
    queued_key_bytes_ -= before - batch->Bytes();
    throw;
  }
  queued_key_bytes_ -= before;
}

void TDataTable::InsertQueuedKeys() {
  if (queued_key_bytes_ == 0) return;
  for (size_t n = 0; n < key_batches_.size(); ++n) InsertQueuedKeys(static_cast<uint8_t>(n));
}

void TDataTable::ChangesMade(bool data, bool index, bool blob) {
  if (exclusive_) {
    MarkChanged(data, index, blob);
  } else {
    FlushBuffers(false, data, index, blob, false);
  }
}

}  // namespace vevura
