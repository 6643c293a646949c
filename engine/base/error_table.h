#pragma once
// The fixed table of engine error codes: each code's name, its message text
// with "%s" markers, and which context strings fill those markers, in order.
// The table is constant data; it needs no lock.

#include <array>
#include <cstdint>
#include <span>

namespace vevura {

//! A value that fills one "%s" marker of an error text.
enum TErrorArg : uint8_t {
  eaNone,      //!< no argument (unused slot)
  eaServer,    //!< the server address
  eaUser,      //!< the user name
  eaDatabase,  //!< the database name or directory
  eaTable,     //!< the table name
  eaField,     //!< the field name or number
  eaIndex,     //!< the index name
  eaDetail,    //!< free text (filter, SQL, import/export, remote error text)
  eaOSError,   //!< the operating system's error number as decimal text
};

//! Most context strings one error text uses.
inline constexpr int kMaxErrorArgs = 3;

struct TErrorTableEntry {
  uint16_t Code;                              //!< the error code
  const char* Name;                           //!< "VEVURA_..." name
  const char* Text;                           //!< message text; nullptr for none of its own
  std::array<TErrorArg, kMaxErrorArgs> Args;  //!< fills the markers in order; eaNone ends
};

//! Every entry, ascending by code.
std::span<const TErrorTableEntry> ErrorTable();
//! The entry of code, or nullptr for a code not in the table.
const TErrorTableEntry* FindErrorTableEntry(uint16_t code);

}  // namespace vevura
