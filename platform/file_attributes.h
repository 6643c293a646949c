#pragma once
// How a stat result becomes the platform's FileAttributes. Shared by the POSIX
// file system and the directory listing so both describe a path the same way.

#include <sys/stat.h>

#include <string>

#include "platform/file_system.h"

namespace vevura::platform {

//! The attributes a stat result describes; name is the path's last component
//! (it decides the hidden attribute).
FileAttributes AttributesOfStat(const struct stat& st, const std::string& name);

//! Attributes of path with symbolic links followed; false, with exists false
//! and the errno in LastOsError(), when the path cannot be read.
bool StatPath(const std::string& path, FileAttributes* attributes);

//! The last non-empty component of path ("a/b/" gives "b").
std::string LastPathComponent(const std::string& path);

}  // namespace vevura::platform
