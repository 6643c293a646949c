// The engine, session and directory of one command.

#include "tools/vevura/table_access.h"

#include <stdexcept>

#include "engine/core/engine.h"
#include "engine/storage/common/scramble.h"
#include "engine/storage/data/data_file.h"
#include "engine/storage/file/file_handler.h"
#include "engine/storage/file/table_file_names.h"
#include "platform/directory.h"

namespace vevura::tool {

TTableAccess::TTableAccess(const TInvocation& invocation) : invocation_(invocation) {
  const std::string dir = invocation.Positionals.at(0);
  if (!platform::DirectoryExists(dir)) throw std::runtime_error("no directory " + dir);
  path_ = platform::IncludeTrailingSlash(platform::ExpandFileName(dir));
  if (!EngineStarted()) {
    StartEngine();
    started_engine_ = true;
  }
  session_ = std::make_unique<TDataSession>();
  if (invocation.Has("--password")) session_->AddPassword(invocation.Value("--password"));
  directory_ = session_->OpenDataDirectory("", path_);
}

TTableAccess::~TTableAccess() {
  session_.reset();
  if (started_engine_) StopEngine();
}

void TTableAccess::RequireDataFile(const std::string& table) const {
  if (!directory_->TableExists(table, false)) {
    throw std::runtime_error("no table " + table + " in " + path_);
  }
}

void TTableAccess::RequireTable(const std::string& table) const {
  RequireDataFile(table);
  TFileHandler index;
  index.SetFileName(IndexFileName(path_, table));
  if (!index.Exists()) {
    throw std::runtime_error("the index file of table " + table +
                             " is missing; the table needs a repair");
  }
}

void TTableAccess::RequirePassword(const std::string& table) {
  const TDataHeader header = ReadClosedTableHeader(DataFileName(path_, table), false);
  if (header.Version != kDataFileVersion || header.Encrypted == 0) return;
  CheckTablePassword(
      header.PlainPassword(),
      [this](const std::string& password) { return session_->HasPassword(password); },
      PasswordRequest(table), TableNameWithoutExtension(table));
}

std::unique_ptr<TDataCursor> TTableAccess::Open(const std::string& table, bool read_only,
                                                bool record_number_order, bool exclusive) {
  RequireTable(table);
  auto cursor = std::make_unique<TDataCursor>(*directory_);
  cursor->SetTableName(table);
  cursor->SetReadOnly(read_only);
  cursor->SetExclusive(exclusive);
  cursor->SetRecordNumberOrder(record_number_order);
  cursor->SetPasswordRequest(PasswordRequest(table));
  cursor->OpenCursor();
  return cursor;
}

TPasswordRequest TTableAccess::PasswordRequest(const std::string& table) {
  return [this, table] {
    if (asked_ || !invocation_.Terminal.ReadPassword) return false;
    asked_ = true;
    std::string password;
    if (!invocation_.Terminal.ReadPassword(TableNameWithoutExtension(table), &password)) {
      return false;
    }
    session_->AddPassword(password);
    return true;
  };
}

}  // namespace vevura::tool
