// BLOB fields through a cursor: the buffers a cursor opens for the BLOBs of
// a record, their negative references in the record, and how a post writes
// them into the BLOB file.

#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/base/engine_error.h"
#include "engine/core/data_cursor.h"
#include "engine/core/data_table.h"
#include "engine/storage/fields/record_layout.h"

namespace vevura {

namespace {

//! The handle a negative reference names (1 to 2147483647); 0 for a stored
//! reference or a value no handle gives.
int32_t HandleOf(const TBlobReference& reference) {
  if (reference.FirstBlock >= 0 || reference.FirstBlock == std::numeric_limits<int32_t>::min()) {
    return 0;
  }
  return -reference.FirstBlock;
}

//! Writes the negative reference of an open buffer into the field, the
//! field null exactly when the BLOB is empty.
void ReferToBuffer(TRecordImage record, const TFieldDescriptor& field, int32_t handle,
                   const TBlobBuffer& buffer) {
  SetBlobField(record, field, TBlobReference{-handle, buffer.BlobId()}, buffer.Length() > 0);
}

//! Writes the stored reference of a buffer (its chain) into the field.
void ReferToChain(TRecordImage record, const TFieldDescriptor& field, const TBlobBuffer& buffer) {
  SetBlobField(record, field, TBlobReference{buffer.FirstBlock(), buffer.BlobId()},
               buffer.FirstBlock() != 0);
}

}  // namespace

// ---------------------------------------------------------------------------
// Finding buffers

const TFieldDescriptor* TDataCursor::BlobField(uint16_t field_number) const {
  const std::vector<TFieldDescriptor>& fields = Fields();
  if (field_number < 1 || field_number > fields.size()) return nullptr;
  const TFieldDescriptor& field = fields[field_number - 1];
  return field.IsBlob() ? &field : nullptr;
}

TBlobBuffer* TDataCursor::BlobOf(const TFieldDescriptor& field,
                                 std::span<const uint8_t> record) const {
  const int32_t handle = HandleOf(GetBlobField(record.first(record_size_), field));
  if (handle <= 0) return nullptr;
  for (size_t i = 0; i < blobs_.size(); ++i) {
    if (blob_handles_[i] == handle) return blobs_[i].get();
  }
  return nullptr;
}

int32_t TDataCursor::HandleOfBuffer(const TBlobBuffer* buffer) const {
  for (size_t i = 0; i < blobs_.size(); ++i) {
    if (blobs_[i].get() == buffer) return blob_handles_[i];
  }
  return 0;
}

int32_t TDataCursor::NewBlobHandle() {
  auto in_use = [&](int32_t handle) {
    return std::find(blob_handles_.begin(), blob_handles_.end(), handle) != blob_handles_.end();
  };
  do {
    last_blob_handle_ =
        last_blob_handle_ == std::numeric_limits<int32_t>::max() ? 1 : last_blob_handle_ + 1;
  } while (in_use(last_blob_handle_));
  return last_blob_handle_;
}

void TDataCursor::EraseBlob(const TBlobBuffer* buffer) {
  std::erase(posted_blobs_, buffer);
  for (size_t i = 0; i < blobs_.size(); ++i) {
    if (blobs_[i].get() != buffer) continue;
    blobs_.erase(blobs_.begin() + static_cast<std::ptrdiff_t>(i));
    blob_handles_.erase(blob_handles_.begin() + static_cast<std::ptrdiff_t>(i));
    return;
  }
}

void TDataCursor::FreeAllBlobs() {
  posted_blobs_.clear();
  blobs_.clear();
  blob_handles_.clear();
  blob_undo_.clear();
}

void TDataCursor::DropBlobBuffers(std::span<const uint8_t> record) {
  RequireOpen();
  if (record.size() < record_size_) return;
  for (const TFieldDescriptor& field : Fields()) {
    if (!field.IsBlob()) continue;
    const TBlobBuffer* blob = BlobOf(field, record);
    if (blob != nullptr && blob->Modified()) EraseBlob(blob);
  }
}

void TDataCursor::FreeChangedBlobs(int32_t record_number) {
  std::vector<const TBlobBuffer*> changed;
  for (const auto& buffer : blobs_) {
    if (buffer->Modified() && buffer->RecordNumber() == record_number) {
      changed.push_back(buffer.get());
    }
  }
  for (const TBlobBuffer* buffer : changed) EraseBlob(buffer);
}

// ---------------------------------------------------------------------------
// The operations

int TDataCursor::OpenBlob(uint16_t field_number, TRecordImage buffer, TBlobOpenMode mode,
                          int32_t* length) {
  RequireOpen();
  RequireBuffer(buffer);
  const TFieldDescriptor* field = BlobField(field_number);
  if (field == nullptr) return VEVURA_NOTABLOB;
  const TBlobReference reference = GetBlobField(buffer.first(record_size_), *field);
  TBlobBuffer* blob = nullptr;
  if (reference.FirstBlock < 0) {
    blob = BlobOf(*field, buffer);
    if (blob == nullptr) return VEVURA_INVALIDBLOBOFFSET;
  } else {
    blob = SavedBlobOf(*field, buffer);
  }
  if (blob != nullptr) {
    blob->SetOpenCount(blob->OpenCount() + 1);
    ReferToBuffer(buffer, *field, HandleOfBuffer(blob), *blob);
    if (length != nullptr) *length = blob->Length();
    return 0;
  }
  ReclaimPostedBlobs();
  if (blobs_.size() >= static_cast<size_t>(kMaxOpenBlobs)) return VEVURA_OPENBLOBLIMIT;
  auto loaded = std::make_unique<TBlobBuffer>(table_->BlobFile(), this);
  loaded->SetFirstBlock(reference.FirstBlock);
  loaded->SetBlobId(reference.BlobId);
  loaded->SetRecordNumber(RecordLink(buffer));
  loaded->SetFieldNumber(field_number);
  loaded->SetOpenMode(mode);
  if (reference.FirstBlock != 0) ReadBracket([&] { loaded->LoadBlob(); });
  loaded->KeepSnapshot();
  loaded->SetOpenCount(1);
  const int32_t handle = NewBlobHandle();
  ReferToBuffer(buffer, *field, handle, *loaded);
  if (length != nullptr) *length = loaded->Length();
  blobs_.push_back(std::move(loaded));
  blob_handles_.push_back(handle);
  return 0;
}

TBlobBuffer* TDataCursor::SavedBlobOf(const TFieldDescriptor& field,
                                      std::span<const uint8_t> record) const {
  // A buffer that a post saved into this very field of this record: opening
  // the field again takes it up instead of loading a second copy.
  const TBlobReference reference = GetBlobField(record.first(record_size_), field);
  if (reference.FirstBlock == 0) return nullptr;
  for (const auto& buffer : blobs_) {
    if (!buffer->Modified() && buffer->FieldNumber() == field.FieldNumber &&
        buffer->RecordNumber() == RecordLink(record) &&
        buffer->FirstBlock() == reference.FirstBlock && buffer->BlobId() == reference.BlobId) {
      return buffer.get();
    }
  }
  return nullptr;
}

int TDataCursor::ReadBlob(uint16_t field_number, TRecordImage buffer, int32_t position,
                          int32_t count, uint8_t* out, int32_t* read) {
  RequireOpen();
  RequireBuffer(buffer);
  if (read != nullptr) *read = 0;
  const TFieldDescriptor* field = BlobField(field_number);
  if (field == nullptr) return VEVURA_NOTABLOB;
  const TBlobBuffer* blob = BlobOf(*field, buffer);
  if (blob == nullptr) return VEVURA_INVALIDBLOBHANDLE;
  if (position < 0 || count < 0) return VEVURA_INVALIDBLOBOFFSET;
  const int64_t length = blob->Length();
  const int64_t end = int64_t{position} + count;
  const int64_t available = end <= length ? count : std::max<int64_t>(length - position, 0);
  if (available > 0) std::memcpy(out, blob->Data() + position, static_cast<size_t>(available));
  if (read != nullptr) *read = static_cast<int32_t>(available);
  return end <= length ? 0 : VEVURA_ENDOFBLOB;
}

int TDataCursor::WriteBlob(uint16_t field_number, TRecordImage buffer, int32_t position,
                           int32_t count, const uint8_t* data) {
  RequireOpen();
  RequireBuffer(buffer);
  const TFieldDescriptor* field = BlobField(field_number);
  if (field == nullptr) return VEVURA_NOTABLOB;
  TBlobBuffer* blob = BlobOf(*field, buffer);
  if (blob == nullptr) return VEVURA_INVALIDBLOBHANDLE;
  if (position < 0 || count < 0) return VEVURA_INVALIDBLOBOFFSET;
  const int64_t end = int64_t{position} + count;
  if (end > std::numeric_limits<int32_t>::max()) return VEVURA_INVALIDBLOBLEN;
  if (end > blob->Length()) blob->SetLength(static_cast<int32_t>(end));
  if (count > 0) {
    std::memcpy(blob->MutableData() + position, data, static_cast<size_t>(count));
    // Bytes written inside the old length are a change too: the post saves them.
    blob->SetModified(true);
  }
  ReferToBuffer(buffer, *field, HandleOfBuffer(blob), *blob);
  return 0;
}

int TDataCursor::TruncateBlob(uint16_t field_number, TRecordImage buffer, int32_t length) {
  RequireOpen();
  RequireBuffer(buffer);
  const TFieldDescriptor* field = BlobField(field_number);
  if (field == nullptr) return VEVURA_NOTABLOB;
  TBlobBuffer* blob = BlobOf(*field, buffer);
  if (blob == nullptr) return VEVURA_INVALIDBLOBHANDLE;
  if (length < 0) return VEVURA_INVALIDBLOBLEN;
  blob->SetLength(length);
  ReferToBuffer(buffer, *field, HandleOfBuffer(blob), *blob);
  return 0;
}

int TDataCursor::GetBlobSize(uint16_t field_number, TRecordImage buffer, int32_t* length) {
  RequireOpen();
  RequireBuffer(buffer);
  const TFieldDescriptor* field = BlobField(field_number);
  if (field == nullptr) return VEVURA_NOTABLOB;
  const TBlobBuffer* blob = BlobOf(*field, buffer);
  if (blob == nullptr) return VEVURA_INVALIDBLOBHANDLE;
  if (length != nullptr) *length = blob->Length();
  return 0;
}

int TDataCursor::CloseBlob(uint16_t field_number, TRecordImage buffer) {
  RequireOpen();
  RequireBuffer(buffer);
  const TFieldDescriptor* field = BlobField(field_number);
  if (field == nullptr) return VEVURA_NOTABLOB;
  TBlobBuffer* blob = BlobOf(*field, buffer);
  if (blob == nullptr) return VEVURA_INVALIDBLOBHANDLE;
  blob->SetOpenCount(blob->OpenCount() - 1);
  if (blob->OpenCount() > 0) return 0;
  ReferToChain(buffer, *field, *blob);
  EraseBlob(blob);
  return 0;
}

// ---------------------------------------------------------------------------
// Posting and deleting

void TDataCursor::CheckBlobBuffers(std::span<const uint8_t> record, bool new_record) const {
  if (!table_->HasBlobFields()) return;
  // The buffers a post saves must all belong to the record it writes: an
  // edited record's own, or, for a new record, one record's (a copied
  // record's buffers are copied with it).
  bool first = true;
  int32_t owner = new_record ? 0 : record_number_;
  for (const TFieldDescriptor& field : Fields()) {
    if (!field.IsBlob() || GetBlobField(record.first(record_size_), field).FirstBlock >= 0) {
      continue;
    }
    const TBlobBuffer* blob = BlobOf(field, record);
    if (blob == nullptr) table_->RaiseTableError(VEVURA_MEMOCORRUPT);
    if (!blob->Modified()) continue;
    if (new_record && first) owner = blob->RecordNumber();
    first = false;
    if (blob->RecordNumber() != owner) table_->RaiseTableError(VEVURA_MEMOCORRUPT);
  }
}

bool TDataCursor::SaveBlobs(TRecordImage record, int32_t record_number, bool new_record) {
  if (!table_->HasBlobFields()) return false;
  bool written = false;
  for (const TFieldDescriptor& field : Fields()) {
    if (!field.IsBlob()) continue;
    const TBlobReference reference = GetBlobField(record, field);
    if (reference.FirstBlock < 0) {
      written = SaveBuffer(record, field, record_number, new_record) || written;
    } else if (new_record && reference.FirstBlock != 0) {
      written = CopyStoredBlob(record, field, reference) || written;
    }
  }
  return written;
}

bool TDataCursor::SaveBuffer(TRecordImage record, const TFieldDescriptor& field,
                             int32_t record_number, bool new_record) {
  TBlobBuffer* blob = BlobOf(field, record);
  if (blob == nullptr) table_->RaiseTableError(VEVURA_MEMOCORRUPT);
  blob_undo_.push_back(
      TBlobUndo{blob, blob->FirstBlock(), blob->BlobId(), blob->RecordNumber(), blob->Modified()});
  // A new record never shares a chain with the record it was copied from.
  const bool copy = new_record && blob->FirstBlock() != 0;
  bool written = false;
  if (blob->Modified() || copy) {
    if (!new_record && blob->FirstBlock() > 0) {
      // A changed value goes into a chain of its own: the old chain stays
      // whole until the record names the new one (FreeReplacedChains).
      replaced_chains_.push_back(TBlobReference{blob->FirstBlock(), blob->BlobId()});
      blob->SetFirstBlock(0);
    }
    if (copy) blob->SetFirstBlock(0);
    blob->SetBlobId(table_->DataFile().NextBlobId());
    blob->SaveBlob();
    blob->KeepSnapshot();
    written = true;
  }
  blob->SetRecordNumber(record_number);
  ReferToChain(record, field, *blob);
  if (std::find(posted_blobs_.begin(), posted_blobs_.end(), blob) == posted_blobs_.end()) {
    posted_blobs_.push_back(blob);
  }
  return written;
}

void TDataCursor::ReclaimPostedBlobs() {
  // The table component's BLOB streams never close a BLOB they changed, so
  // every post of a memo would keep a buffer open until the cursor closes
  // and the 129th would fail. A buffer whose content a post saved and that
  // has not changed since holds nothing the BLOB file lacks: when the limit
  // is reached, the oldest such buffers are let go.
  while (blobs_.size() >= static_cast<size_t>(kMaxOpenBlobs) && !posted_blobs_.empty()) {
    const TBlobBuffer* oldest = posted_blobs_.front();
    posted_blobs_.erase(posted_blobs_.begin());
    if (!oldest->Modified()) EraseBlob(oldest);
  }
}

bool TDataCursor::CopyStoredBlob(TRecordImage record, const TFieldDescriptor& field,
                                 const TBlobReference& reference) {
  TBlobBuffer copy(table_->BlobFile(), this);
  copy.SetFirstBlock(reference.FirstBlock);
  copy.SetBlobId(reference.BlobId);
  copy.LoadBlob();
  copy.SetFirstBlock(0);
  copy.SetBlobId(table_->DataFile().NextBlobId());
  copy.SaveBlob();
  ReferToChain(record, field, copy);
  return true;
}

void TDataCursor::FreeReplacedChains() {
  if (replaced_chains_.empty()) return;
  const std::vector<TBlobReference> chains = std::move(replaced_chains_);
  replaced_chains_.clear();
  for (const TBlobReference& chain : chains) {
    TBlobBuffer stored(table_->BlobFile(), this);
    stored.SetFirstBlock(chain.FirstBlock);
    stored.SetBlobId(chain.BlobId);
    stored.DeleteBlob();
  }
  table_->ChangesMade(false, false, true);
}

void TDataCursor::UndoBlobSaves() {
  for (const TBlobUndo& undo : blob_undo_) {
    undo.Buffer->SetFirstBlock(undo.FirstBlock);
    undo.Buffer->SetBlobId(undo.BlobId);
    undo.Buffer->SetRecordNumber(undo.RecordNumber);
    undo.Buffer->SetModified(undo.Modified);
  }
  blob_undo_.clear();
}

bool TDataCursor::DeleteBlobs(std::span<const uint8_t> record) {
  if (!table_->HasBlobFields()) return false;
  bool freed = false;
  for (const TFieldDescriptor& field : Fields()) {
    if (!field.IsBlob()) continue;
    const TBlobReference reference = GetBlobField(record.first(record_size_), field);
    if (reference.FirstBlock <= 0) continue;
    TBlobBuffer stored(table_->BlobFile(), this);
    stored.SetFirstBlock(reference.FirstBlock);
    stored.SetBlobId(reference.BlobId);
    stored.DeleteBlob();
    freed = true;
  }
  return freed;
}

std::vector<uint8_t> TDataCursor::LoadStoredBlob(const TBlobReference& reference) {
  if (reference.FirstBlock <= 0 || !table_->HasBlobFields()) return {};
  TBlobBuffer stored(table_->BlobFile(), this);
  stored.SetFirstBlock(reference.FirstBlock);
  stored.SetBlobId(reference.BlobId);
  stored.LoadBlob();
  return std::vector<uint8_t>(stored.Data(), stored.Data() + stored.Length());
}

}  // namespace vevura
