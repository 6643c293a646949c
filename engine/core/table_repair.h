#pragma once
// RepairTable: makes a damaged table sound again from its data file, for the
// verify and repair tool, the table component and any program.
//
// The table is opened exclusively (VEVURA_OSEACCES while another user has it
// open) and checked (table_verify.h). A table the check finds sound is closed
// again untouched, byte for byte. Otherwise the three files are copied to a
// backup directory first, and then:
//   - data file: record slots the header counts but the file does not hold
//     whole are given up, and the bytes after the last whole counted slot
//     (a partial record, the remains of an append that did not finish) are
//     moved out; a slot that cannot be decoded (an unknown status, a live
//     record that does not carry its own number) is moved out and becomes a
//     free slot; a row id that another slot has already is replaced by a new
//     one; the free-record chain and the last auto-increment value are set
//     from the slots;
//   - BLOB file: a live record whose BLOB chain is damaged, or shares blocks
//     with another record's, loses that BLOB (the field becomes null; the
//     blocks stay in the backup); every block no record names goes on the
//     free list;
//   - index file: every index is built anew from the live records, the
//     record slot index and the word index included, and the active record
//     count is set. Definitions come from the index header; when that cannot
//     be read (or the file was missing) only the system indexes are built
//     and the report says the table's own indexes must be defined again.
// Whatever is moved out goes to "<TABLE>.lost" in the backup directory:
// each slot's bytes as the file held them, one record size each, then the
// partial tail. Nothing is dropped without a line in the report. The repair
// ends with the check of the table as it now stands.
//
// A data file whose header or field descriptors cannot be read is beyond
// repair: the report says so and the files are left as they are.
//
// Thread-safety: the directory's session thread.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/core/table_verify.h"

namespace vevura {

class TDataDirectory;

struct TRepairOptions {
  //! Where the three files are copied before anything changes; empty for
  //! "<TABLE>.repair-<date>-<time>" in the table's directory.
  std::string BackupDirectory;
  bool InMemory = false;  //!< the table lives in the in-memory file store (no backup)
  //! Told the share of the work done, 0 to 100, as it rises.
  std::function<void(int percent)> Progress;
  //! Told each change as it is made, one line each.
  std::function<void(const std::string& line)> Log;
};

//! What a repair found, did and left.
struct TTableRepairReport {
  TTableVerifyReport Before;         //!< the check before anything changed
  std::vector<std::string> Changes;  //!< what the repair did, one line each
  TTableVerifyReport After;          //!< the check afterwards (Before when nothing changed)
  std::string BackupDirectory;       //!< where the files were copied; empty when none
  std::string LostFile;              //!< what was moved out; empty when nothing was
  bool Changed = false;              //!< the table's files were changed
  bool Sound() const { return After.Clean(); }
};

//! Repairs the named table of directory (see above). Raises the engine's
//! error when the table does not exist or cannot be opened exclusively, or
//! when the backup cannot be made (nothing is changed then).
TTableRepairReport RepairTable(TDataDirectory& directory, const std::string& table_name,
                               const TRepairOptions& options = {});

}  // namespace vevura
