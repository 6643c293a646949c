#pragma once
// TTableTarget: the table a table-level operation works on (creation,
// deletion), as the cursor that runs it names it.
//
// The cursor is not open during these operations; it passes its table name
// (the file-name part, a trailing data-file extension allowed) and its flags.

#include <string>

namespace vevura {

struct TTableTarget {
  std::string TableName;    //!< the table's name within its directory
  bool Exclusive = false;   //!< the cursor wants the table for itself
  bool ReadOnly = false;    //!< the cursor may not change anything
  bool InMemory = false;    //!< the table's files are in-memory files
  bool Temporary = false;   //!< a temporary table
  bool CursorOpen = false;  //!< the cursor has a table open already
};

}  // namespace vevura
