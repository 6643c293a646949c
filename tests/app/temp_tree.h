#pragma once
// Test scaffolding for the catalog run: a directory tree under the system's
// temporary directory, removed with everything in it when the test ends, and
// a guard that gives the process its current directory back.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "platform/directory.h"
#include "platform/file_system.h"
#include "platform/system.h"

namespace vevura::app::test {

class TempTree {
 public:
  TempTree() {
    static int counter = 0;
    root_ = platform::TempDirectory() + "tornip_app_" +
            std::to_string(platform::CurrentProcessId()) + "_" + std::to_string(++counter);
    EXPECT_TRUE(platform::CreateDirectory(root_)) << root_;
  }
  ~TempTree() {
    std::error_code ignored;
    // Unlike a walk, removal never follows links out of the tree.
    std::filesystem::permissions(root_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(root_, ignored);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  //! Full path of the tree's top directory (no final "/").
  const std::string& Root() const { return root_; }
  //! Full path of relative (which may be "").
  std::string Path(std::string_view relative) const {
    return relative.empty() ? root_ : root_ + "/" + std::string(relative);
  }
  //! Creates the directory relative and its missing parents; its full path.
  std::string Dir(std::string_view relative) const {
    std::string path = root_;
    size_t begin = 0;
    while (begin < relative.size()) {
      size_t end = relative.find('/', begin);
      if (end == std::string_view::npos) end = relative.size();
      path += "/" + std::string(relative.substr(begin, end - begin));
      if (!platform::DirectoryExists(path)) {
        EXPECT_TRUE(platform::CreateDirectory(path)) << path;
      }
      begin = end + 1;
    }
    return path;
  }
  //! Writes content as the file relative (its directory must exist); its full path.
  std::string File(std::string_view relative, std::string_view content) const {
    std::string path = Path(relative);
    std::unique_ptr<platform::OsFile> file = platform::Fs().Create(path, platform::OpenOptions());
    EXPECT_TRUE(file != nullptr) << path;
    if (file && !content.empty()) {
      EXPECT_EQ(file->WriteAt(0, content.data(), static_cast<int64_t>(content.size())),
                static_cast<int64_t>(content.size()));
    }
    return path;
  }
  //! Makes the symbolic link relative point at target.
  std::string Link(std::string_view relative, const std::string& target) const {
    std::string path = Path(relative);
    std::filesystem::create_directory_symlink(target, path);
    return path;
  }

 private:
  std::string root_;
};

//! The whole contents of the file at path; "<missing>" when it cannot be
//! opened.
inline std::string ReadWholeFile(const std::string& path) {
  platform::OpenOptions options;
  options.access = platform::OpenAccess::ReadOnly;
  std::unique_ptr<platform::OsFile> file = platform::Fs().Open(path, options);
  if (!file) return "<missing>";
  std::string text(static_cast<size_t>(file->Size()), '\0');
  file->ReadAt(0, text.data(), static_cast<int64_t>(text.size()));
  return text;
}

//! Restores the process's current directory when it goes out of scope.
class CurrentDirectoryGuard {
 public:
  CurrentDirectoryGuard() : saved_(platform::CurrentDirectory()) {}
  ~CurrentDirectoryGuard() { EXPECT_TRUE(platform::SetCurrentDirectory(saved_)); }
  CurrentDirectoryGuard(const CurrentDirectoryGuard&) = delete;
  CurrentDirectoryGuard& operator=(const CurrentDirectoryGuard&) = delete;

 private:
  std::string saved_;
};

//! The physical path of dir, as the process's current directory names it.
inline std::string PhysicalPath(const std::string& dir) {
  CurrentDirectoryGuard guard;
  EXPECT_TRUE(platform::SetCurrentDirectory(dir));
  return platform::CurrentDirectory();
}

}  // namespace vevura::app::test
