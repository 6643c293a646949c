// Change detection: the change counters at the start of each header tell a
// table object that another user wrote to the table since it last looked.

#include "engine/core/data_table.h"

namespace vevura {

bool TDataTable::CheckForChanges() {
  bool changed = false;
  if (index_file_->IndexHeaderChanged()) {
    // Every change moves the index header, so the data header is re-read
    // with it whatever its own counter says.
    index_file_->DropPageBuffers(false);
    data_file_->ReadHeader();
    data_file_->Records().DropAllRecords();
    changed = true;
  } else if (data_file_->ReloadHeaderIfChanged()) {
    data_file_->Records().DropAllRecords();
    changed = true;
  }
  if (BlobFileInUse() && blob_file_->ReloadBlobHeaderIfChanged()) {
    blob_file_->DropAllBlocks();
    changed = true;
  }
  if (changed) row_id_ceiling_ = -1;
  return changed;
}

TChangeCounters TDataTable::ChangeCounters() const {
  TChangeCounters counters;
  counters.Data = data_file_->ChangeCounter();
  counters.Index = index_file_->GetChangeCounter();
  counters.Blob = HasBlobFields() ? blob_file_->ChangeCounter() : 0;
  counters.Rollbacks = rollbacks_;
  return counters;
}

}  // namespace vevura
