#pragma once
// TVEVURATable: one table of a database. It names the table (TableName) and
// its database (DatabaseName, SessionName), carries the table's field and
// index definitions (FieldDefs, IndexDefs), and offers the table operations:
// Exists, CreateTable, DeleteTable, opening and closing (shared or
// Exclusive, ReadOnly), the current index (IndexName or IndexFieldNames)
// and master-detail ranges.
//
// TableName: "\" becomes "/". A name with a directory ("/data/CATX",
// "C:CATX") puts the directory part (through the last "/" or ":") into
// DatabaseName and keeps the rest, except on an in-memory table (database
// "Memory", any case), whose name is the whole text.
//
// Use flags (vevura_dataset.h): 0 while open, 3 for Exists, CreateTable and
// DeleteTable, 4 while reading the fields of a closed table, 5 while reading
// its indexes. Each operation leaves the database as it found it.
//
// Creating: FieldDefs become field descriptors 1 to n (from the persistent
// data fields when FieldDefs is empty); IndexDefs become the index slots:
// definitions marked ixPrimary move to the front (the last one first), the
// first becomes the primary index when it is marked, the rest secondary
// indexes in order, and slot 32 the word index "Sys Text". A field list
// naming an unknown field raises "Field '%s' not found".
//
// Master-detail: with MasterSource and MasterFields set, the table shows
// only the records of the current index whose leading fields equal the
// master fields' values, and a new record starts with those values.

#include <functional>
#include <memory>
#include <string>

#include "components/framework/data_source.h"
#include "components/vevura_dataset.h"

namespace vevura {

class TVEVURATable : public TVEVURADBDataSet {
 public:
  explicit TVEVURATable(TComponent* owner = nullptr);
  ~TVEVURATable() override;

  // ----- Published properties -----
  const std::string& TableName() const { return table_name_; }
  void SetTableName(const std::string& name);
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool exclusive);
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool read_only);
  //! The database is "Memory": the table's files are in memory.
  bool InMemory() const;
  TIndexDefs& IndexDefs() { return index_defs_; }
  //! The current index by name; "" when chosen by fields (or the primary).
  std::string IndexName() const { return by_fields_ ? std::string() : index_selection_; }
  void SetIndexName(const std::string& name);
  //! The current index by its ";"-separated fields; "" when chosen by name.
  std::string IndexFieldNames() const { return by_fields_ ? index_selection_ : std::string(); }
  void SetIndexFieldNames(const std::string& fields);
  TDataSource* MasterSource() const { return master_link_.DataSource(); }
  //! "Circular data links are not allowed." when source leads back here.
  void SetMasterSource(TDataSource* source);
  const std::string& MasterFields() const { return master_link_.FieldNames(); }
  void SetMasterFields(const std::string& fields);
  //! True once a definition was changed by the application.
  bool StoreDefs() const { return store_defs_; }
  void SetStoreDefs(bool value) { store_defs_ = value; }

  // ----- Events of table maintenance -----
  // VerifyTable fires OnVerifyProgress and OnVerifyLog, RepairTable
  // OnRepairProgress and OnRepairLog; the table fires none of the others.
  // A check or repair runs to its end: Continue is not looked at.
  using TProgressEvent = std::function<void(TVEVURATable& sender, int PercentDone, bool& Continue)>;
  using TLogEvent = std::function<void(TVEVURATable& sender, const std::string& Message)>;
  TProgressEvent OnVerifyProgress, OnRepairProgress, OnUpgradeProgress, OnIndexProgress;
  TProgressEvent OnCopyProgress, OnOptimizeProgress, OnRestructureProgress;
  TProgressEvent OnImportProgress, OnExportProgress;
  TLogEvent OnVerifyLog, OnRepairLog, OnUpgradeLog;
  std::function<void(TVEVURATable& sender, bool& Continue, bool& StopAsking)> OnDataLost;

  // ----- Table operations -----
  //! True when open; else whether the database holds the table (false for
  //! an empty TableName, without connecting).
  bool Exists();
  //! Creates the table from the definitions (closed tables only).
  void CreateTable();
  //! Deletes the table's files (closed tables only).
  void DeleteTable();
  //! Checks the closed table's three files as a whole: OnVerifyProgress
  //! with the share done, OnVerifyLog with each problem found. True when
  //! the table is sound.
  bool VerifyTable();
  //! Repairs the closed table from its data file after copying its files
  //! to backup_directory (empty: a time-stamped directory beside the
  //! table): OnRepairProgress with the share done, OnRepairLog with each
  //! change made, then each problem still found. A sound table is left as
  //! it is. True when the table is sound afterwards.
  bool RepairTable(const std::string& backup_directory = "");

  TDataSource* GetDataSource() const override { return master_link_.DataSource(); }

 protected:
  std::unique_ptr<TDataCursor> CreateHandle() override;
  void DestroyHandle() override;
  void CopyMasterValues() override;
  void InternalOpen() override;

 private:
  //! A closed cursor on the table, set up as the operations need it.
  std::unique_ptr<TDataCursor> MakeCursor(bool exclusive, bool read_only, bool password_hook);
  //! The session's password question for encrypted tables.
  TPasswordRequest PasswordHook();
  //! The index name of the selection (IndexDefs read as needed).
  std::string SelectedIndexName(TDataCursor& cursor);
  void ReadIndexDefs(TDataCursor& cursor);
  void UpdateFieldDefs();
  void UpdateIndexDefs();
  //! Runs read with an open cursor: the table's own, or a temporary shared
  //! one under use flag flag.
  void WithReadingCursor(int flag, const std::function<void(TDataCursor&)>& read);
  void ChangeIndex(const std::string& selection, bool by_fields);
  void ApplyMasterRange();
  void MarkIndexDefsStale() { index_defs_current_ = false; }

  std::string table_name_;
  bool exclusive_ = false;
  bool read_only_ = false;
  std::string index_selection_;  //!< an index name or a field list
  bool by_fields_ = false;       //!< index_selection_ is a field list
  TIndexDefs index_defs_;
  bool index_defs_current_ = false;
  bool store_defs_ = false;
  TMasterDataLink master_link_;
};

}  // namespace vevura
