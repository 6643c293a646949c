// The data directory: its table objects, and tables on disk.

#include "engine/core/data_directory.h"

#include <cstdlib>

#include "engine/base/engine_error.h"
#include "engine/core/data_session.h"
#include "engine/core/data_table.h"
#include "engine/storage/common/trim.h"
#include "engine/storage/file/file_list.h"
#include "engine/storage/file/table_file_names.h"
#include "platform/locale.h"
#include "platform/system.h"

namespace vevura {

std::string TableIdentity(const std::string& name) {
  return TableNameWithoutExtension(name);
}

TDataDirectory::TDataDirectory(TDataSession& session, std::string name, std::string path)
    : session_(session), name_(std::move(name)), path_(std::move(path)) {}

TDataDirectory::~TDataDirectory() {
  if (in_transaction_) {
    try {
      Rollback();
    } catch (...) {
      // Freeing cannot report; the table objects below close all the same.
    }
  }
  while (!tables_.empty()) FreeTableAt(tables_.size() - 1);
}

bool TDataDirectory::ReleaseUse() {
  if (use_count_ > 0) --use_count_;
  return use_count_ == 0;
}

TDataTable* TDataDirectory::FindTable(const std::string& name, bool in_memory) const {
  std::string identity = TableIdentity(name);
  for (const auto& table : tables_) {
    if (table->InMemory() == in_memory &&
        platform::SameTextSystem(TableIdentity(table->TableName()), identity)) {
      return table.get();
    }
  }
  return nullptr;
}

int32_t TDataDirectory::IndexOf(const TDataTable* table) const {
  for (size_t i = 0; i < tables_.size(); ++i) {
    if (tables_[i].get() == table) return static_cast<int32_t>(i);
  }
  return -1;
}

std::unique_ptr<TDataTable> TDataDirectory::NewTable() {
  return std::make_unique<TDataTable>(*this);
}

void TDataDirectory::FreeTableAt(size_t i) {
  // Out of the list first, so that the list never holds an object being
  // destroyed.
  std::unique_ptr<TDataTable> table = std::move(tables_[i]);
  tables_.erase(tables_.begin() + static_cast<std::ptrdiff_t>(i));
}

void TDataDirectory::FreeIdleTables() {
  for (size_t i = tables_.size(); i-- > 0;) {
    if (tables_[i]->UseCount() == 0 && !tables_[i]->InTransaction()) FreeTableAt(i);
  }
}

void TDataDirectory::OpenForRequest(TDataTable& table, const std::string& name,
                                    const TTableOpenRequest& request) {
  table.Configure(TrimText(name), request.Exclusive, request.InMemory, request.Temporary);
  table.SetForRepair(request.Repair);
  table.OpenTable();
  if (!in_transaction_) return;
  try {
    table.StartTransaction();
  } catch (...) {
    table.CloseTable(false);
    throw;
  }
}

int32_t TDataDirectory::OpenTableObject(const std::string& name, const TTableOpenRequest& request,
                                        TDataTable** table) {
  *table = nullptr;
  TDataTable* found = FindTable(name, request.InMemory);
  if (found == nullptr) {
    std::unique_ptr<TDataTable> created = NewTable();
    OpenForRequest(*created, name, request);
    tables_.push_back(std::move(created));
    *table = tables_.back().get();
    return 0;
  }
  if (found->UseCount() == 0 && !found->InTransaction()) {
    try {
      OpenForRequest(*found, name, request);
    } catch (...) {
      FreeTableAt(static_cast<size_t>(IndexOf(found)));
      throw;
    }
    *table = found;
    return 0;
  }
  bool shareable =
      (!found->Exclusive() && !request.Exclusive) || found->UseCount() == 0 || request.ShareAlways;
  if (!shareable) return -VEVURA_OSEACCES;
  found->OpenTable();
  *table = found;
  return 0;
}

int32_t TDataDirectory::CreateTableObject(const std::string& name, bool in_memory, bool temporary,
                                          const TTableFilesWriter& write_files,
                                          TDataTable** table) {
  *table = nullptr;
  TDataTable* found = FindTable(name, in_memory);
  if (found != nullptr && (found->UseCount() > 0 || found->InTransaction())) {
    return -VEVURA_OSEACCES;
  }
  std::unique_ptr<TDataTable> created;
  TDataTable* target = found;
  if (target == nullptr) {
    created = NewTable();
    target = created.get();
  }
  target->Configure(TrimText(name), true, in_memory, temporary);
  try {
    target->CreateTableFiles(write_files);
  } catch (...) {
    // An idle object that failed is of no more use than a new one.
    if (found != nullptr) FreeTableAt(static_cast<size_t>(IndexOf(found)));
    throw;
  }
  if (created != nullptr) tables_.push_back(std::move(created));
  *table = target;
  return 0;
}

int32_t TDataDirectory::CloseTableObject(TDataTable* table, bool drop_temporary) {
  int32_t i = IndexOf(table);
  if (i < 0) return -VEVURA_OSENOENT;
  if (table->UseCount() > 0) table->CloseTable(drop_temporary);
  if (table->UseCount() == 0 && !table->InTransaction()) FreeTableAt(static_cast<size_t>(i));
  return 0;
}

int32_t TDataDirectory::DeleteTable(const std::string& name, bool in_memory) {
  TDataTable* found = FindTable(name, in_memory);
  if (found != nullptr && (found->UseCount() > 0 || found->InTransaction())) {
    return -VEVURA_OSEACCES;
  }
  if (found != nullptr) {
    // Freed whatever the deletion's outcome.
    size_t i = static_cast<size_t>(IndexOf(found));
    std::unique_ptr<TDataTable> idle = std::move(tables_[i]);
    tables_.erase(tables_.begin() + static_cast<std::ptrdiff_t>(i));
    idle->DeleteTableFiles();
    return 0;
  }
  TDataTable scratch(*this);
  scratch.Configure(TrimText(name), true, in_memory, false);
  scratch.DeleteTableFiles();
  return 0;
}

bool TDataDirectory::TableExists(const std::string& name, bool in_memory) const {
  if (FindTable(name, in_memory) != nullptr) return true;
  TFileList* list = FileList();
  if (list == nullptr)
    RaiseEngineError(VEVURA_NOTINITIALIZED, "", "", ErrorName(), name, "", "", "");
  return list->FileExists(DataFileName(path_, name), in_memory);
}

std::string TDataDirectory::TemporaryTableName(bool in_memory) const {
  // The thread id keeps sessions on different threads apart.
  int64_t thread_id = static_cast<int32_t>(platform::CurrentThreadId());
  std::string prefix = std::to_string(std::llabs(thread_id)).substr(0, 5);
  for (uint32_t n = 0;; ++n) {
    std::string candidate = prefix + std::to_string(n) + std::string(kDataFileExtension);
    if (!TableExists(candidate, in_memory)) return candidate;
  }
}

}  // namespace vevura
