// Creating a table's files from its definition.

#include "engine/core/table_create.h"

#include <exception>

#include "engine/base/engine_error.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_table.h"
#include "engine/storage/file/table_file_names.h"

namespace vevura {
namespace {

//! Which of a table's files this creation made (and so removes on failure).
struct TCreatedFiles {
  bool Data = false;
  bool Index = false;
  bool Blob = false;
};

[[noreturn]] void RaiseCreateError(uint16_t code, const TDataDirectory& directory,
                                   const std::string& table) {
  RaiseEngineError(code, "", "", directory.ErrorName(), table, "", "", "");
}

void CheckCursor(const TTableTarget& target, const TDataDirectory& directory,
                 const std::string& table) {
  if (table.empty()) RaiseCreateError(VEVURA_OSENOENT, directory, table);
  if (!target.Exclusive) RaiseCreateError(VEVURA_NEEDEXCLACCESS, directory, table);
  if (target.ReadOnly) RaiseCreateError(VEVURA_OSEACCES, directory, table);
}

void CreateIndexFile(TIndexFile& index, const TTableDefinition& definition,
                     const std::vector<TFieldDescriptor>& fields) {
  index.CreateFile();
  index.DefinePrimaryIndex(definition.Indexes[0], fields);
  for (int n = 1; n <= definition.SecondaryIndexCount; ++n) {
    index.AddSecondaryIndex(definition.Indexes[n], fields);
  }
  index.SetIndexDescriptor(kTextIndex, definition.Indexes[kTextIndex]);
}

//! The files of a new table, written into the prepared table object; nothing
//! but empty files reaches the disk until the object is closed.
void CreateFiles(TDataTable& table, const TTableDefinition& definition) {
  TDataFile& data = table.DataFile();
  data.CreateHeader(NewTableHeaderOf(definition), definition.Fields);
  CreateIndexFile(table.IndexFile(), definition, data.Fields());
  TBlobFile& blob = table.BlobFile();
  if (table.HasBlobFields()) {
    blob.SetBlockSize(data.GetBlobBlockSize());
    blob.SetEncrypted(data.Encrypted());
    blob.CreateFile();
  } else if (blob.Exists()) {
    // The BLOBs of a table this one replaces would otherwise outlive it.
    blob.DeleteFile();
  }
}

//! CreateFiles, noting in *created the files it made when it fails: a file
//! is held open from its creation until the table object gives up.
void CreateFilesNoting(TDataTable& table, const TTableDefinition& definition,
                       TCreatedFiles* created) {
  try {
    CreateFiles(table, definition);
  } catch (...) {
    created->Data = table.DataFile().IsOpen();
    created->Index = table.IndexFile().IsOpen();
    created->Blob = table.BlobFile().IsOpen();
    throw;
  }
}

//! Deletes a file this creation made; a file that cannot be deleted stays.
void RemoveFile(const std::string& name, bool in_memory) {
  TFileHandler file;
  file.SetFileName(name);
  file.SetInMemory(in_memory);
  try {
    if (file.Exists()) file.DeleteFile();
  } catch (const EVEVURAEngineError&) {
    // The creation's own error is the one reported.
  }
}

void RemoveCreatedFiles(const TDataDirectory& directory, const TTableTarget& target,
                        const TCreatedFiles& created) {
  const std::string& dir = directory.Path();
  if (created.Data) RemoveFile(DataFileName(dir, target.TableName), target.InMemory);
  if (created.Index) RemoveFile(IndexFileName(dir, target.TableName), target.InMemory);
  if (created.Blob) RemoveFile(BlobFileName(dir, target.TableName), target.InMemory);
}

//! Step 4: the table object with its files.
TDataTable* MakeTableObject(TDataDirectory& directory, const TTableTarget& target,
                            const TTableDefinition& definition, const std::string& table) {
  TCreatedFiles created;
  TDataTable* object = nullptr;
  int32_t result = 0;
  try {
    result = directory.CreateTableObject(
        target.TableName, target.InMemory, target.Temporary,
        [&](TDataTable& t) { CreateFilesNoting(t, definition, &created); }, &object);
  } catch (...) {
    RemoveCreatedFiles(directory, target, created);
    throw;
  }
  if (result < 0) RaiseCreateError(static_cast<uint16_t>(-result), directory, table);
  return object;
}

//! Word index parameters are stored only when they differ from the defaults,
//! which apply to a word index without any.
void StoreTextIndexParameters(TDataTable& object, const TTableDefinition& definition) {
  TTextIndexParameters parameters = SettledTextIndexParameters(definition);
  if (parameters == DefaultTextIndexParameters()) return;
  WriteTextIndexParameters(object.IndexFile(), parameters);
}

//! Steps 5 and 6. The object is closed whatever happens; when anything
//! failed, the table is deleted again before the error passes on.
void FinishTable(TDataDirectory& directory, TDataTable* object, const TTableTarget& target,
                 const TTableDefinition& definition) {
  std::exception_ptr failure;
  try {
    StoreTextIndexParameters(*object, definition);
  } catch (...) {
    failure = std::current_exception();
  }
  try {
    directory.CloseTableObject(object, false);
  } catch (...) {
    if (failure == nullptr) failure = std::current_exception();
  }
  if (failure == nullptr) return;
  try {
    directory.DeleteTable(target.TableName, target.InMemory);
  } catch (const EVEVURAEngineError&) {
    // The creation's own error is the one reported.
  }
  std::rethrow_exception(failure);
}

}  // namespace

void CreateTable(TDataDirectory& directory, const TTableTarget& target,
                 TTableDefinition definition) {
  const std::string table = TableIdentity(target.TableName);
  CheckCursor(target, directory, table);
  ValidateTableDefinition(definition, table);
  if (!definition.Overwrite && directory.TableExists(target.TableName, target.InMemory)) {
    RaiseCreateError(VEVURA_TABLEEXISTS, directory, table);
  }
  TDataTable* object = MakeTableObject(directory, target, definition, table);
  FinishTable(directory, object, target, definition);
}

}  // namespace vevura
