// Deleting a table's files.

#include "engine/core/table_delete.h"

#include "engine/base/engine_error.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "engine/storage/data/data_file.h"
#include "engine/storage/file/table_file_names.h"

namespace vevura {
namespace {

[[noreturn]] void RaiseDeleteError(uint16_t code, const TDataDirectory& directory,
                                   const std::string& table) {
  RaiseEngineError(code, "", "", directory.ErrorName(), table, "", "", "");
}

//! An encrypted table is deleted only by a session that knows its password.
void CheckPassword(const TDataDirectory& directory, const TTableTarget& target,
                   const TPasswordRequest& request, const std::string& table) {
  TDataHeader header =
      ReadClosedTableHeader(DataFileName(directory.Path(), target.TableName), target.InMemory);
  if (header.Version != kDataFileVersion || header.Encrypted == 0) return;
  const TDataSession& session = directory.Session();
  CheckTablePassword(
      header.PlainPassword(),
      [&session](const std::string& password) { return session.HasPassword(password); }, request,
      table);
}

}  // namespace

void DeleteTable(TDataDirectory& directory, const TTableTarget& target,
                 const TPasswordRequest& request) {
  const std::string table = TableIdentity(target.TableName);
  if (target.CursorOpen) RaiseDeleteError(VEVURA_TABLEOPEN, directory, table);
  if (table.empty()) RaiseDeleteError(VEVURA_OSENOENT, directory, table);
  CheckPassword(directory, target, request, table);
  int32_t result = directory.DeleteTable(target.TableName, target.InMemory);
  if (result < 0) RaiseDeleteError(static_cast<uint16_t>(-result), directory, table);
}

}  // namespace vevura
