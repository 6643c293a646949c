#pragma once
// VerifyTable: the structural check of a whole table, its three files and
// how they agree, for the verify and repair tool and for tests.
//
// It runs the checks of each file (the data header and field descriptors,
// data_header_verify.h; the record area, data_verify.h; every B-tree, free
// list and data chain of the index file with each index's own order,
// btree_verify.h; the BLOB file, blob_verify.h) and then the checks between
// them:
//   - the index file's active record count is the number of live records;
//   - index 31 holds exactly one entry per record slot, keyed by the slot's
//     status byte and row id and referring to that slot;
//   - no two record slots carry the same row id;
//   - every ordinary index holds exactly one entry per live record, keyed as
//     the index builds that record's key, and nothing else;
//   - the word index holds exactly the word keys of the live records' text
//     fields (memo contents read from the BLOB file);
//   - every BLOB reference of a live record names a chain that carries the
//     reference's BLOB identifier.
//
// The check sees the table as its files and buffers hold it together, so an
// exclusively opened table with deferred writes is checked as its cursors
// see it. It changes nothing; on a shared table it holds the read lock
// (unless the caller holds a lock already) so that no other program changes
// the table meanwhile. It never raises for damage: every fault, including a
// file that cannot be read, becomes one short line (file, what, where) in
// the report. Checks that would only repeat a fault already found (the
// contents of an index whose tree is broken, say) are left out.
//
// Thread-safety: the table's thread, like every use of the table object.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vevura {

class TDataDirectory;
class TDataTable;

//! The most problem lines a report keeps; the last line then counts the rest.
inline constexpr size_t kMaxTableProblems = 200;

//! What the check of a table found.
struct TTableVerifyReport {
  std::vector<std::string> Problems;  //!< one line per fault; empty for a sound table
  int64_t LiveRecords = 0;            //!< record slots holding a live record
  int64_t FreeSlots = 0;              //!< record slots holding a deleted record
  bool Clean() const { return Problems.empty(); }
  //! Notes a fault (the first kMaxTableProblems are kept word for word).
  void Add(const std::string& problem);
  //! Every problem, one per line.
  std::string Describe() const;

  int64_t ProblemCount = 0;  //!< faults found, also beyond those kept
};

//! Told the share of the check done, 0 to 100, as it rises.
using TCheckProgress = std::function<void(int percent)>;

//! Checks an open table object in place (see above).
TTableVerifyReport VerifyTable(TDataTable& table, const TCheckProgress& progress = {});

//! Opens the named table's object in directory (sharing one that is open
//! already, even exclusively, in this directory), checks it and closes it
//! again. A table that cannot be opened, and one whose index file is
//! missing (opening would make a new one), is reported, not raised.
TTableVerifyReport VerifyTable(TDataDirectory& directory, const std::string& table_name,
                               bool in_memory = false, const TCheckProgress& progress = {});

}  // namespace vevura
