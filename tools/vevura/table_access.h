#pragma once
// TTableAccess: the engine, a session of the tool's own and the data
// directory of one directory, for the length of one command.
//
// The engine is started unless the process runs it already (a test), and
// then stopped again. The session knows the password of --password; when
// a table is encrypted and the session does not know its password, the
// terminal's prompt is asked once (no prompt: the engine refuses the table
// with its own message). Tables are looked up before they are opened, so that
// a missing table or index file is reported instead of an index file being
// made afresh by the open.

#include <memory>
#include <string>

#include "engine/core/data_cursor.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "tools/vevura/command.h"

namespace vevura::tool {

class TTableAccess {
 public:
  //! Opens the data directory of dir (which must exist) for invocation.
  explicit TTableAccess(const TInvocation& invocation);
  ~TTableAccess();
  TTableAccess(const TTableAccess&) = delete;
  TTableAccess& operator=(const TTableAccess&) = delete;

  TDataDirectory& Directory() { return *directory_; }
  TDataSession& Session() { return *session_; }
  const std::string& Path() const { return path_; }

  //! A failure unless the table's data file exists.
  void RequireDataFile(const std::string& table) const;
  //! A failure unless the table's data and index files exist.
  void RequireTable(const std::string& table) const;
  //! For an encrypted table: the session must know its password (asking
  //! the terminal once); the engine's error otherwise.
  void RequirePassword(const std::string& table);
  //! An open cursor on the table; record_number_order opens it without the
  //! primary index, exclusive for this program alone.
  std::unique_ptr<TDataCursor> Open(const std::string& table, bool read_only,
                                    bool record_number_order = false, bool exclusive = false);

 private:
  //! The password request a cursor asks when the session lacks a password.
  TPasswordRequest PasswordRequest(const std::string& table);

  const TInvocation& invocation_;
  bool started_engine_ = false;
  std::unique_ptr<TDataSession> session_;
  TDataDirectory* directory_ = nullptr;
  std::string path_;    //!< the directory, ending with "/"
  bool asked_ = false;  //!< the terminal was asked already
};

}  // namespace vevura::tool
