#pragma once
// The names of a table's three files.
//
// A table named T in the directory D keeps its data in D + T + ".DAT", its
// indexes in D + T + ".IDX" and its BLOBs in D + T + ".BLB". The directory is
// trimmed and ends with "/" (unless it is empty: the current directory); the
// table name is trimmed. A table name that already ends with the data-file
// extension, in any letter case, has that extension replaced instead of
// appended, so "CUSTOMER.DAT" and "CUSTOMER" name the same table.
//
// Files are created under exactly these names. Looking one up on disk tries
// the exact name first and then a match without regard to letter case in its
// directory (the file list does this), so that "CUSTOMER", "customer" and
// "Customer.dat" find the same files.

#include <string>
#include <string_view>

namespace vevura {

inline constexpr std::string_view kDataFileExtension = ".DAT";
inline constexpr std::string_view kIndexFileExtension = ".IDX";
inline constexpr std::string_view kBlobFileExtension = ".BLB";

//! True when name ends with extension, compared without regard to ASCII case.
bool EndsWithExtension(std::string_view name, std::string_view extension);

//! The table name without a trailing data-file extension, trimmed.
std::string TableNameWithoutExtension(std::string_view table_name);

//! directory + table name + extension, built by the rules above.
std::string TableFileName(std::string_view directory, std::string_view table_name,
                          std::string_view extension);

//! The three files of a table.
inline std::string DataFileName(std::string_view directory, std::string_view table_name) {
  return TableFileName(directory, table_name, kDataFileExtension);
}
inline std::string IndexFileName(std::string_view directory, std::string_view table_name) {
  return TableFileName(directory, table_name, kIndexFileExtension);
}
inline std::string BlobFileName(std::string_view directory, std::string_view table_name) {
  return TableFileName(directory, table_name, kBlobFileExtension);
}

}  // namespace vevura
