#pragma once
// The door through which the engine reaches files on disk.
//
// OsFile is one open operating-system file; FileSystem opens, creates,
// renames and deletes them. The engine never calls the operating system for a
// file itself: it asks the current FileSystem (Fs()), which is the POSIX one
// unless a test installed another, so that tests can put failing or
// forgetful files underneath the engine.
//
// Failures are reported by return value (false, -1 or nullptr) with the errno
// left in LastOsError(); nothing here throws.
//
// Share modes are emulated with an open-file-description lock on one byte far
// above any offset the engine locks (ShareLockOffset): a shared open holds a
// read lock on it, an exclusive open a write lock (an exclusive open of a
// read-only descriptor, which cannot hold a write lock, marks the byte after
// it instead; see share_mode.h). A refused open fails with errno EACCES, as a
// sharing violation does. Byte-range locks are open-file-description write
// locks (read locks on a descriptor that could only be opened read-only); they
// never wait, and an OsFile also refuses a range overlapping one it holds
// itself, so a lock fails on any overlap whoever holds it: another process,
// another OsFile of this process, or this one. An unlock must name exactly a
// range this OsFile holds.
//
// Thread-safety: an OsFile is used by one thread at a time (the file layer
// above serialises its users); FileSystem methods may be called from any
// thread.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/head_mapping.h"

namespace vevura::platform {

//! Offset of the byte that carries the share-mode lock (2^62).
inline constexpr int64_t kShareLockOffset = int64_t{1} << 62;

enum class OpenAccess { ReadOnly, ReadWrite };
enum class ShareMode { Exclusive, Shared };

//! How a file is opened or created.
struct OpenOptions {
  OpenAccess access = OpenAccess::ReadWrite;
  ShareMode share = ShareMode::Shared;
  bool sequential = true;        //!< hint that the file is read front to back
  bool delete_on_close = false;  //!< temporary file: removed when this handle closes
};

//! What the operating system says about a path.
struct FileAttributes {
  bool exists = false;
  bool is_directory = false;
  bool is_regular = false;
  bool read_only = false;  //!< the mode has no write bit at all
  bool hidden = false;     //!< the last name component begins with "."
  bool system = false;     //!< neither a regular file nor a directory
  int64_t size = 0;
  double modified = 0;  //!< last write, as a local day count (date_time.h)
  uint64_t device = 0;
  uint64_t inode = 0;
};

class OsFile {
 public:
  OsFile() = default;
  OsFile(const OsFile&) = delete;
  OsFile& operator=(const OsFile&) = delete;
  //! Closes the handle, releasing every lock it holds.
  virtual ~OsFile() = default;

  //! Reads up to len bytes at pos; the count read (0 at or past the end), or -1.
  virtual int64_t ReadAt(int64_t pos, void* buf, int64_t len) = 0;
  //! Writes len bytes at pos, growing the file as needed; the count, or -1.
  virtual int64_t WriteAt(int64_t pos, const void* buf, int64_t len) = 0;
  //! Current size in bytes, or -1.
  virtual int64_t Size() = 0;
  //! Sets the end of file at size (shrinking or zero-extending).
  virtual bool Truncate(int64_t size) = 0;
  //! Writes the file's buffers through to the disk.
  virtual bool Sync() = 0;
  //! Places a byte-range lock; false at once on any overlap (errno EAGAIN).
  virtual bool LockRange(int64_t offset, int64_t length) = 0;
  //! Removes the lock placed with exactly this offset and length.
  virtual bool UnlockRange(int64_t offset, int64_t length) = 0;
  //! True when the descriptor was opened read-only.
  virtual bool IsReadOnly() const = 0;
  //! A read-only view of the file's first length bytes that follows every
  //! write to the file, or nullptr: LastOsError() ENOTSUP when this file
  //! offers none (files of network and user-space file systems, files of
  //! test file systems), ERANGE while the file is shorter than length.
  virtual std::unique_ptr<HeadMapping> MapHead(int64_t /*length*/) {
    SetNoMapping();
    return nullptr;
  }

 private:
  //! Sets LastOsError() ENOTSUP for the base MapHead.
  static void SetNoMapping();
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  //! Opens an existing file; nullptr when it is missing, refused by its
  //! permissions, or held in a conflicting share mode (errno EACCES).
  virtual std::unique_ptr<OsFile> Open(const std::string& path, const OpenOptions& options) = 0;
  //! Creates the file, or truncates it to 0 when it exists, opened read-write
  //! and exclusively; nullptr when that is refused.
  virtual std::unique_ptr<OsFile> Create(const std::string& path, const OpenOptions& options) = 0;
  virtual bool Remove(const std::string& path) = 0;
  //! Moves from to to; refuses to replace an existing file (errno EEXIST).
  virtual bool Rename(const std::string& from, const std::string& to) = 0;
  //! Fills attributes; false (with exists false) when the path cannot be read.
  virtual bool GetAttributes(const std::string& path, FileAttributes* attributes) = 0;
};

//! The file system the engine uses now.
FileSystem& Fs();
//! Installs fs as the current file system (not owned); nullptr restores the
//! POSIX one. Tests install theirs before opening any table and restore it
//! after closing them.
void SetFileSystem(FileSystem* fs);
//! The POSIX file system.
FileSystem& PosixFileSystem();

}  // namespace vevura::platform
