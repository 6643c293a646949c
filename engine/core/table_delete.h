#pragma once
// Deleting a table: its data file, its index file and, when there is one,
// its BLOB file.
//
// DeleteTable runs these steps in order and stops at the first failure:
//   1. the cursor may not have a table open (VEVURA_TABLEOPEN) and must name
//      one (VEVURA_OSENOENT for an empty name);
//   2. the data file's header is read through a temporary shared handle
//      (VEVURA_OSENOENT when the table does not exist); an encrypted table
//      needs its password in the session, asked for through request while it
//      is missing (VEVURA_NOTSUFFTABLERIGHTS when none is offered);
//   3. the directory deletes the files (VEVURA_OSEACCES while a cursor of the
//      directory has the table open, or while any file of it is open
//      elsewhere in the process; files deleted before a failure stay
//      deleted), and frees any idle table object of that name.

#include "engine/core/table_target.h"
#include "engine/storage/common/scramble.h"

namespace vevura {

class TDataDirectory;

//! Deletes the target's table in directory; request asks for a password
//! (nullptr: nobody to ask).
void DeleteTable(TDataDirectory& directory, const TTableTarget& target,
                 const TPasswordRequest& request);

}  // namespace vevura
