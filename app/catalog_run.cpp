#include "app/catalog_run.h"

#include "app/catalog_definitions.h"
#include "app/catalog_table.h"
#include "app/lic_walk.h"
#include "app/list_file.h"
#include "app/run_list.h"
#include "app/run_validation.h"

namespace vevura::app {

namespace {

//! Bytes of record buffers the catalog table keeps.
constexpr int32_t kRunDataBufferSize = 2 << 20;
//! Bytes of pages cached per index of the catalog table.
constexpr int32_t kRunIndexBufferSize = 1 << 20;

}  // namespace

TCatalogRun::TCatalogRun(TComponent* owner)
    : session_(owner), database_(owner), table_(owner), data_source_(owner) {
  session_.SetName("VEVURASession1");
  database_.SetName("VEVURADatabase1");
  table_.SetName("VEVURATable1");
  data_source_.SetName("DataSource1");
  session_.SetLockRetryCount(15);
  session_.SetLockWaitTime(100);
  session_.SetLockProtocol(lpPessimistic);
  session_.SetProgressSteps(20);
  // A desktop machine's share for the catalog instead of the engine's
  // 16 KiB: the table's records and each of its indexes get their working
  // set of a large run.
  session_.SetDataBufferSize(kRunDataBufferSize);
  session_.SetIndexBufferSize(kRunIndexBufferSize);
  session_.SetSessionType(stLocal);
  session_.SetRemoteType(rtLAN);
  session_.SetRemoteAddress("127.0.0.1");
  session_.SetRemotePort(12005);
  session_.SetRemoteTrace(false);
  table_.SetAutoDisplayLabels(false);
  table_.SetCopyOnAppend(false);
  data_source_.SetDataSet(&table_);
  // The window's start: the session takes the run's name.
  if (session_.Active()) session_.SetActive(false);
  session_.SetSessionName(kRunSessionName);
}

TCatalogRun::~TCatalogRun() {
  try {
    if (session_.Active()) session_.SetActive(false);
  } catch (...) {
  }
}

void TCatalogRun::AddLine(const TCatalogRunHooks& hooks, const std::string& line) {
  lines_.push_back(line);
  if (hooks.OnAddLine) hooks.OnAddLine(line);
}

void TCatalogRun::SetTableNames() {
  table_.SetSessionName(session_.SessionName());
  table_.SetDatabaseName(database_.DatabaseName());
  table_.SetTableName(kCatalogTableName);
}

bool TCatalogRun::Run(const std::string& root_field, const std::string& catalog_field,
                      bool clear_catalog, const TCatalogRunHooks& hooks) {
  TRunDirectories dirs;
  const std::string problem = ValidateRunDirectories(root_field, catalog_field, &dirs);
  if (!problem.empty()) {
    if (hooks.ShowMessage) hooks.ShowMessage(problem);
    return false;
  }
  lines_.clear();
  if (hooks.OnClearList) hooks.OnClearList();
  AddLine(hooks, RootDirLine(dirs.RootDir));
  AddLine(hooks, CatalogDirLine(dirs.CatalogDir));
  added_count_ = 0;

  if (database_.Connected()) database_.Close();
  database_.SetSessionName(session_.SessionName());
  database_.SetDatabaseName(kRunDatabaseName);
  // The full path: the walk moves the current directory while the
  // database works in it.
  database_.SetDirectory(dirs.CatalogPath);
  database_.Open();

  SetTableNames();
  if (!table_.Exists() || clear_catalog) CreateCatTable(hooks);
  SetTableNames();
  table_.SetIndexName("API");
  table_.SetFiltered(false);
  table_.Open();

  TLicWalkEvents events;
  events.OnAddLine = [&](const std::string& line) { AddLine(hooks, line); };
  events.OnProcessMessages = hooks.OnProcessMessages;
  events.OnAddRecord = [&](const TCatalogRecord& record) {
    table_.Append();
    table_.FieldByName(catalog_field::kApi)->SetAsString(record.API);
    table_.FieldByName(catalog_field::kLogMnems)->SetAsString(record.LogMnems);
    table_.FieldByName(catalog_field::kMeasure)->SetAsString(record.Measure);
    table_.FieldByName(catalog_field::kIndexUom)->SetAsString(record.IndexUOM);
    table_.FieldByName(catalog_field::kTli)->SetAsFloat(record.TLI);
    table_.FieldByName(catalog_field::kBli)->SetAsFloat(record.BLI);
    table_.FieldByName(catalog_field::kTiffFileName)->SetAsString(record.TIFF_FileName);
    table_.FieldByName(catalog_field::kLicFileName)->SetAsString(record.LIC_FileName);
    table_.Post();
    ++added_count_;
    if (hooks.OnRecordAdded) hooks.OnRecordAdded(added_count_);
  };
  TLicWalk walk(events);
  walk.SetAddedCount(0);
  walk.SearchForLICS(root_field);

  if (table_.Active()) table_.Close();
  if (database_.Connected()) database_.Close();
  if (ShouldSaveList(added_count_)) SaveListFile(dirs.CatalogPath, lines_);
  return true;
}

void TCatalogRun::CreateCatTable(const TCatalogRunHooks& hooks) {
  if (table_.Exists()) {
    // Opening exclusively fails while anybody else has the old catalog.
    table_.SetExclusive(true);
    table_.Open();
    table_.Close();
    table_.DeleteTable();
  }
  DefineCatalogTable(table_);
  try {
    table_.CreateTable();
  } catch (...) {
    if (hooks.ShowMessageBox) hooks.ShowMessageBox(kCreateFailedText, kCreateFailedTitle);
    throw;
  }
}

}  // namespace vevura::app
