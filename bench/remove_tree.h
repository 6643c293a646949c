#pragma once
// Removing what a benchmark made: a directory with everything below it.

#include <string>
#include <vector>

#include "platform/directory.h"
#include "platform/file_system.h"

namespace vevura::bench {

//! Removes path, its files and its subdirectories (hidden ones too).
inline void RemoveTree(const std::string& path) {
  platform::ListOptions options;
  options.include_hidden = true;
  options.include_system = true;
  std::vector<platform::DirEntry> entries;
  platform::ListDirectory(path, options, &entries);
  for (const platform::DirEntry& entry : entries) {
    const std::string child = path + "/" + entry.name;
    if (entry.attributes.is_directory) {
      RemoveTree(child);
    } else {
      platform::Fs().Remove(child);
    }
  }
  platform::RemoveDirectory(path);
}

}  // namespace vevura::bench
