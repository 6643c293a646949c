#pragma once
// TCatalogRun: the catalog builder's data-access components and the run
// that fills the catalog table, shared by the window and batch mode.
//
// The components are those the window owns, with the values it stores for
// them: a session renamed "NolvarTornipSession" (lpPessimistic, 15 lock
// retries 100 ms apart, local), a database that each run points at the
// catalog directory, and the table "LICCATALOG". The run follows the
// window's order: the directory checks, the list's first lines, connecting
// the database, the existence test, deleting and creating the catalog
// (CreateCatTable) when it is missing or the old entries are to be cleared,
// opening the table on "API", the walk appending one record per usable LIC
// file, closing, disconnecting, and saving the list as "Tornip.txt" when a
// record was added.
//
// Errors after the checks are not caught: the run ends where it stands,
// records already posted stay, and the table stays open and the database
// connected until the next run (or the destructor) closes them.
//
// The run reaches its owner only through TCatalogRunHooks.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "components/framework/data_source.h"
#include "components/vevura_database.h"
#include "components/vevura_session.h"
#include "components/vevura_table.h"

namespace vevura::app {

inline constexpr const char* kRunSessionName = "NolvarTornipSession";
inline constexpr const char* kRunDatabaseName = "NolvarTornipDatabase";
inline constexpr const char* kCreateFailedText = "Catalog Table Could Not Be Created";
inline constexpr const char* kCreateFailedTitle = "Table Creation Failure";

struct TCatalogRunHooks {
  //! Shows a check's message (the run then stops).
  std::function<void(const std::string& message)> ShowMessage;
  //! Shows a message box with a title and an OK button.
  std::function<void(const std::string& text, const std::string& title)> ShowMessageBox;
  //! The list was cleared.
  std::function<void()> OnClearList;
  //! A line was added to the list.
  std::function<void(const std::string& line)> OnAddLine;
  //! A record was posted (the count so far).
  std::function<void(int32_t added)> OnRecordAdded;
  //! Lets pending events be processed (once per directory of the walk).
  std::function<void()> OnProcessMessages;
};

class TCatalogRun {
 public:
  explicit TCatalogRun(TComponent* owner = nullptr);
  //! Deactivates the session (closing the table and the database).
  ~TCatalogRun();
  TCatalogRun(const TCatalogRun&) = delete;
  TCatalogRun& operator=(const TCatalogRun&) = delete;

  TVEVURASession& Session() { return session_; }
  TVEVURADatabase& Database() { return database_; }
  TVEVURATable& Table() { return table_; }
  TDataSource& DataSource() { return data_source_; }

  //! One run over the two fields as typed; clear_catalog is the check box.
  //! False when a check stopped it (its message shown); true after a
  //! complete run. Errors of the run propagate.
  bool Run(const std::string& root_field, const std::string& catalog_field, bool clear_catalog,
           const TCatalogRunHooks& hooks);
  //! Deletes an existing catalog (after proving with an exclusive open that
  //! nobody else has it) and creates it anew.
  void CreateCatTable(const TCatalogRunHooks& hooks);
  //! Records posted by the current or last run.
  int32_t AddedCount() const { return added_count_; }
  //! The list of the current or last run.
  const std::vector<std::string>& ListLines() const { return lines_; }

 private:
  void AddLine(const TCatalogRunHooks& hooks, const std::string& line);
  void SetTableNames();

  TVEVURASession session_;
  TVEVURADatabase database_;
  TVEVURATable table_;
  TDataSource data_source_;
  std::vector<std::string> lines_;
  int32_t added_count_ = 0;
};

}  // namespace vevura::app
