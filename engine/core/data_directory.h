#pragma once
// TDataDirectory: one directory of tables as one session sees it.
//
// A directory holds the shared table objects (data_table.h) opened in it,
// one per table name and kind (disk or in-memory), answers whether a table
// exists, and runs transactions over all its table objects. Two databases
// of one session that name the same path share one directory object, and
// with it its table objects and its transaction.
//
// Table objects are told apart by their name (trimmed, a trailing ".DAT"
// ignored, compared without regard to case under the user's locale) and
// their in-memory flag. A table object lives while any cursor has it open or
// a transaction needs it: the directory frees it when its use count returns
// to 0 outside a transaction.
//
// Results: the table-object operations return 0 or a negated engine code
// (-VEVURA_OSEACCES, -VEVURA_OSENOENT) that the caller raises with its
// table's context; failures of the files themselves are raised as engine
// errors.
//
// Ownership: the session owns its directories; a directory owns its table
// objects. Freeing a directory rolls back an open transaction and frees
// every table object (closing its files).
//
// Thread-safety: used by the session's thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vevura {

class TDataSession;
class TDataTable;

//! How a cursor asks for a table object.
struct TTableOpenRequest {
  bool InMemory = false;     //!< the table's files are in-memory files
  bool Exclusive = false;    //!< the cursor wants the table for itself
  bool Temporary = false;    //!< a temporary table: discarded, not written, at close
  bool ShareAlways = false;  //!< share the object even when one side is exclusive
  bool Repair = false;       //!< a repair's opening (data_table.h, SetForRepair)
};

//! Writes a new table's files into a table object whose files are named and
//! flagged (data_table.h, CreateTableFiles).
using TTableFilesWriter = std::function<void(TDataTable&)>;

class TDataDirectory {
 public:
  //! A directory of session named name (empty for a path) at path (ending
  //! with "/", empty for the in-memory store), with use count 1.
  TDataDirectory(TDataSession& session, std::string name, std::string path);
  //! Rolls back an open transaction and frees every table object.
  ~TDataDirectory();
  TDataDirectory(const TDataDirectory&) = delete;
  TDataDirectory& operator=(const TDataDirectory&) = delete;

  TDataSession& Session() const { return session_; }
  const std::string& Name() const { return name_; }
  const std::string& Path() const { return path_; }
  //! How errors name this directory: its path, or its name when it has none.
  const std::string& ErrorName() const { return path_.empty() ? name_ : path_; }
  int32_t UseCount() const { return use_count_; }
  void AddUse() { ++use_count_; }
  //! Lowers the use count (never below 0); true when it is then 0.
  bool ReleaseUse();
  bool InTransaction() const { return in_transaction_; }
  const std::vector<std::unique_ptr<TDataTable>>& Tables() const { return tables_; }

  // ----- Table objects -----
  //! Opens the table object of that name and kind for a cursor (*table),
  //! creating it when there is none. A new or idle object is configured with
  //! the request's flags, opened, and joins an active transaction. An object
  //! in use is shared when neither it nor the request is exclusive, when only
  //! a transaction holds it, or when the request shares always; otherwise
  //! -VEVURA_OSEACCES.
  int32_t OpenTableObject(const std::string& name, const TTableOpenRequest& request,
                          TDataTable** table);
  //! Makes the table object for creating that table (*table): -VEVURA_OSEACCES
  //! when an object of that name and kind is in use or in a transaction;
  //! otherwise an idle one is reused or a new one made, marked exclusive, and
  //! CreateTableFiles(write_files) runs on it. A new object joins the list
  //! only when that succeeds.
  int32_t CreateTableObject(const std::string& name, bool in_memory, bool temporary,
                            const TTableFilesWriter& write_files, TDataTable** table);
  //! Closes the object once (for one cursor); frees it when its use count is
  //! then 0 outside a transaction. -VEVURA_OSENOENT when the directory does
  //! not hold it.
  int32_t CloseTableObject(TDataTable* table, bool drop_temporary);
  //! Deletes the table's files: -VEVURA_OSEACCES when its object is in use;
  //! an idle object (or a temporary one made for the purpose) deletes them
  //! and is freed.
  int32_t DeleteTable(const std::string& name, bool in_memory);
  //! The table object of that name and kind, or nullptr.
  TDataTable* FindTable(const std::string& name, bool in_memory) const;

  // ----- Tables on disk -----
  //! True when the directory holds an object of that name and kind, or the
  //! table's data file (name + ".DAT" unless it ends so) exists in this
  //! directory (disk) or in the in-memory store.
  bool TableExists(const std::string& name, bool in_memory) const;
  //! A table name not in use: the first five digits of the calling thread's
  //! id, then 0, 1, ..., then ".DAT".
  std::string TemporaryTableName(bool in_memory) const;

  // ----- Transactions -----
  //! Starts a transaction on every table object in list order; when one
  //! fails, rolls every table back and passes the error on. Nothing when a
  //! transaction is active.
  void StartTransaction();
  //! All or nothing, over the tables from last to first: CommitLock on each
  //! (a failure releases the locks taken and passes on, the transaction
  //! still active), CommitFlush on each (with end_transaction as its trim)
  //! keeping the before-images of its writes, CommitEnd on each, freeing
  //! every object no cursor holds. With end_transaction the directory leaves
  //! the transaction. A CommitFlush failure writes every table's
  //! before-images back, rolls the transaction back and passes on.
  void Commit(bool end_transaction, bool force_os_flush);
  //! Rolls every table back, last to first, freeing every object no cursor
  //! holds, and leaves the transaction.
  void Rollback();

 private:
  //! Position of table in the list, or -1.
  int32_t IndexOf(const TDataTable* table) const;
  //! A new table object of this directory.
  std::unique_ptr<TDataTable> NewTable();
  //! Opens table for a request, joining an active transaction.
  void OpenForRequest(TDataTable& table, const std::string& name, const TTableOpenRequest& request);
  //! Removes and frees the object at position i.
  void FreeTableAt(size_t i);
  //! Frees every object that no cursor and no transaction holds.
  void FreeIdleTables();

  TDataSession& session_;                            //!< owner
  const std::string name_;                           //!< the database name it was opened with
  const std::string path_;                           //!< ends with "/"; "" for the in-memory store
  std::vector<std::unique_ptr<TDataTable>> tables_;  //!< table objects open here
  int32_t use_count_ = 1;                            //!< databases using this directory
  bool in_transaction_ = false;                      //!< a transaction is active
};

//! The identity of a table name within a directory: trimmed, without a
//! trailing data-file extension.
std::string TableIdentity(const std::string& name);

}  // namespace vevura
