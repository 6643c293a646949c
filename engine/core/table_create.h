#pragma once
// Creating a table: from its definition (table_definition.h) to its files,
// through the exclusive table object its data directory makes for it.
//
// CreateTable runs these steps in order and stops at the first failure:
//   1. the cursor must name a table (VEVURA_OSENOENT for an empty name), be
//      exclusive (VEVURA_NEEDEXCLACCESS) and not read-only (VEVURA_OSEACCES);
//   2. ValidateTableDefinition checks and completes the definition;
//   3. a table that exists (TDataDirectory::TableExists) is refused unless
//      the definition overwrites (VEVURA_TABLEEXISTS);
//   4. the directory makes the table object (VEVURA_OSEACCES while an object
//      of that name is in use), which creates the files: the data file with
//      header and field descriptors, the index file with its index
//      definitions, and the BLOB file only for a table with BLOB fields (a
//      BLOB file an overwritten table left behind is removed);
//   5. word index parameters other than the defaults go into the word
//      index's data pages;
//   6. the table object is closed, which writes every header and buffer
//      (each file's change counter becomes 1), and the directory frees it.
//
// A failed check touches no file. A failure after that removes the files
// this creation made, so no half-made table stays behind; the files of an
// overwritten table are lost by then.
//
// Errors name the table (and field or index) and, for the cursor and
// directory checks, the directory.

#include "engine/core/table_definition.h"
#include "engine/core/table_target.h"

namespace vevura {

class TDataDirectory;

//! Creates the target's table in directory from definition; the table then
//! exists with no records and the directory holds no object for it.
void CreateTable(TDataDirectory& directory, const TTableTarget& target,
                 TTableDefinition definition);

}  // namespace vevura
