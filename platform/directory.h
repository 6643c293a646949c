#pragma once
// Paths and directories: enumeration with the hidden and system filters, the
// current directory, path expansion, and the lookup of an existing name
// without regard to letter case (files written on systems that ignore case).
//
// Paths use "/". Failures return false or an empty result with the errno in
// LastOsError().

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace vevura::platform {

//! One entry of a directory listing.
struct DirEntry {
  std::string name;           //!< the entry's name, without its directory
  FileAttributes attributes;  //!< symbolic links followed; a dangling link is "system"
};

//! Filters of ListDirectory.
struct ListOptions {
  bool include_hidden = false;  //!< names beginning with "."
  bool include_system = false;  //!< entries neither regular files nor directories
  bool include_directories = true;
};

//! The entries of dir other than "." and "..", in the order the file system
//! returns them. False when dir cannot be read.
bool ListDirectory(const std::string& dir, const ListOptions& options,
                   std::vector<DirEntry>* entries);

bool DirectoryExists(const std::string& path);
//! True for an existing path that is not a directory.
bool FileExists(const std::string& path);
bool CreateDirectory(const std::string& path);
bool RemoveDirectory(const std::string& path);

std::string CurrentDirectory();
bool SetCurrentDirectory(const std::string& path);
//! Absolute form of path against the current directory, with "." and ".."
//! components resolved textually (symbolic links are not followed).
std::string ExpandFileName(const std::string& path);
//! The system's temporary directory, ending with "/".
std::string TempDirectory();

//! path itself when it exists; otherwise the path whose last component is
//! the entry of its directory that equals it without regard to ASCII letter
//! case (the first one listed, when several do); "" when none exists.
std::string FindExistingName(const std::string& path);

//! Directory part of path including its final "/" ("" when none).
std::string ExtractFilePath(const std::string& path);
//! Last component of path.
std::string ExtractFileName(const std::string& path);
//! path with a trailing "/" unless it is empty or already ends with one.
std::string IncludeTrailingSlash(const std::string& path);

}  // namespace vevura::platform
