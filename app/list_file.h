#pragma once
// The list file: a run that added at least one record leaves its list as
// "Tornip.txt" in the catalog directory, one list line per text line, each
// ending in CR LF, replacing an older file. A run that added nothing writes no
// list file and leaves an old one as it was.

#include <cstdint>
#include <string>
#include <vector>

namespace vevura::app {

//! The list file's name in the catalog directory.
inline constexpr const char* kListFileName = "Tornip.txt";

//! True when a run that added added_count records saves its list.
inline bool ShouldSaveList(int32_t added_count) {
  return added_count > 0;
}

//! The list file's contents for lines.
std::string ListFileText(const std::vector<std::string>& lines);

//! Makes catalog_dir the current directory and writes lines there as the list
//! file. catalog_dir should be a full path: the walk has moved the current
//! directory since the catalog directory was validated. Throws EInOutError
//! when the directory cannot be made current or the file cannot be written.
void SaveListFile(const std::string& catalog_dir, const std::vector<std::string>& lines);

}  // namespace vevura::app
