// The POSIX file system and the process's choice of file system.

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/file_attributes.h"
#include "platform/file_system.h"
#include "platform/os_error.h"
#include "platform/posix_file.h"
#include "platform/share_mode.h"

namespace vevura::platform {

namespace {

int OpenRetrying(const std::string& path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Table files are regular files. Opening is non-blocking so that a FIFO
// named like a table cannot hang the open; that flag is dropped again here.
bool CheckRegularAndBlocking(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return false;
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
    return false;
  }
  int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

// Closes fd keeping the errno of the failure that made us give up on it.
std::unique_ptr<OsFile> Abandon(int fd) {
  int err = errno;
  ::close(fd);
  SetLastOsError(err);
  return nullptr;
}

std::unique_ptr<OsFile> Wrap(int fd, bool read_only, const std::string& path,
                             const OpenOptions& options) {
  if (options.sequential) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return std::make_unique<PosixFile>(fd, read_only, options.delete_on_close ? path : "");
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the no-replace flag: check, then move.
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::rename(from.c_str(), to.c_str()) == 0;
}

class PosixFs final : public FileSystem {
 public:
  std::unique_ptr<OsFile> Open(const std::string& path, const OpenOptions& options) override {
    bool read_only = options.access == OpenAccess::ReadOnly;
    int fd = OpenRetrying(path, (read_only ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
      SetLastOsError(errno);
      return nullptr;
    }
    if (!CheckRegularAndBlocking(fd) || !AcquireShareMode(fd, options.share, read_only)) {
      return Abandon(fd);
    }
    return Wrap(fd, read_only, path, options);
  }

  // The share lock is taken before the file is emptied, so creating over a
  // file that someone else has open fails without touching its contents.
  std::unique_ptr<OsFile> Create(const std::string& path, const OpenOptions& options) override {
    int fd = OpenRetrying(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) {
      SetLastOsError(errno);
      return nullptr;
    }
    if (!CheckRegularAndBlocking(fd) || !AcquireShareMode(fd, ShareMode::Exclusive, false) ||
        ::ftruncate(fd, 0) != 0) {
      return Abandon(fd);
    }
    return Wrap(fd, false, path, options);
  }

  bool Remove(const std::string& path) override {
    if (::unlink(path.c_str()) == 0) return true;
    SetLastOsError(errno);
    return false;
  }

  bool Rename(const std::string& from, const std::string& to) override {
    if (RenameNoReplace(from, to)) return true;
    SetLastOsError(errno);
    return false;
  }

  bool GetAttributes(const std::string& path, FileAttributes* attributes) override {
    return StatPath(path, attributes);
  }
};

std::atomic<FileSystem*> current_file_system{nullptr};

}  // namespace

FileSystem& PosixFileSystem() {
  static PosixFs posix;
  return posix;
}

FileSystem& Fs() {
  FileSystem* fs = current_file_system.load(std::memory_order_acquire);
  return fs != nullptr ? *fs : PosixFileSystem();
}

void SetFileSystem(FileSystem* fs) {
  current_file_system.store(fs, std::memory_order_release);
}

}  // namespace vevura::platform
