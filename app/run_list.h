#pragma once
// The lines of a run's on-screen list, which is also the list file's text.
//
// A run's list reads:
//   Root Dir   : /logs
//   Catalog Dir: /catalog
//   ======> /logs                      one line per directory walked
//   UWI=42-123-4567       GROUP=GR                    LIC=a.lic
//   ...
//   12 Records Added to Database
// or, when the root does not exist for the walk, "Root Directory Does NOT
// Exist" and the root's text in place of the walk and the count.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

namespace vevura::app {

//! Writes line and a line break to out (the list and messages of the
//! command-line modes).
void WriteLine(std::ostream& out, const std::string& line);

//! "Root Dir   : " + root_dir.
std::string RootDirLine(const std::string& root_dir);
//! "Catalog Dir: " + catalog_dir.
std::string CatalogDirLine(const std::string& catalog_dir);
//! "======> " + folder.
std::string FolderLine(const std::string& folder);
//! "UWI=%-16s  GROUP=%-20s  LIC=%s": well and group padded with blanks on the
//! right to 16 and 20 characters and never cut.
std::string LicLine(std::string_view well, std::string_view group, std::string_view lic_name);
//! "%d Records Added to Database".
std::string RecordsAddedLine(int32_t added_count);
//! The line shown, before the root's text, when the root is no directory.
inline constexpr const char* kRootMissingLine = "Root Directory Does NOT Exist";

}  // namespace vevura::app
