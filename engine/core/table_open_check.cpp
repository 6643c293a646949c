// What the first cursor of a freshly opened table does with it: verify the
// headers, and rebuild the record slot index of a recreated index file.

#include <array>

#include "engine/core/data_table.h"
#include "engine/core/table_lock_guards.h"
#include "engine/storage/index/btree.h"
#include "engine/storage/index/key_comparer.h"
#include "engine/storage/keys/key_builder.h"
#include "engine/storage/keys/key_context.h"

namespace vevura {

void TDataTable::VerifyHeaders() {
  // Buffers newer than the disk must not be replaced by the disk's copy.
  if (in_transaction_ && modified_) return;
  TTableReadLock lock(*this);
  data_file_->ReadHeader();
  data_file_->CheckVersion();
  data_file_->ReadFieldDescriptors();
  data_file_->VerifyHeader();
  if (!index_file_recreated_) {
    index_file_->ReadIndexHeader();
    index_file_->VerifyIndexHeader(data_file_->Fields());
  }
  if (BlobFileInUse()) {
    blob_file_->ReadBlobHeader();
    blob_file_->VerifyBlobHeader();
  }
}

void TDataTable::RebuildSlotIndex() {
  if (!index_file_recreated_) return;
  // A table whose data or BLOB file is read-only still gets its slot index
  // written to the index file just recreated (which is writable), and stays
  // read-only for every change.
  const bool index_only =
      read_only_ && !damaged_ && !index_file_->ReadOnly() && !index_file_->ReadOnlyAttribute();
  if (!index_only) RequireWritable();
  TTableWriteLock lock(*this);
  index_file_->SetNoPrimary(true);
  TByteKeyComparer comparer;
  TBTreePath path;
  TBTree tree(*index_file_, kSlotIndex, comparer, path);
  TRecordStorage& records = data_file_->Records();
  const int32_t slots = data_file_->Header().NextRecordNumber - 1;
  std::array<uint8_t, kSlotKeyLength> key{};
  for (int32_t n = 1; n <= slots; ++n) {
    TRecordRef record(records, records.GetRecord(nullptr, n, rdForward, false, true));
    BuildSlotKey(record->Data(), key.data());
    // Two slots with one key can only come from damage; the first one stays.
    if (!tree.LocateKey(key.data())) tree.InsertKey(key.data(), static_cast<uint32_t>(n));
    if (!record->IsFree()) index_file_->IncrementRecordCount();
  }
  if (index_only) {
    FlushIndexFile(false, true, false);
  } else {
    ChangesMade(false, true, false);
  }
  index_file_recreated_ = false;
}

}  // namespace vevura
