#pragma once
// PosixFile: an OsFile over one POSIX file descriptor, which it owns.
//
// Byte-range locks are open-file-description locks on the descriptor (write
// locks, or read locks when the descriptor is read-only). The object keeps the
// ranges it holds and refuses an overlapping request itself, because the
// kernel would silently merge or convert a lock of the same description. The
// two share-mode bytes (share_mode.h) can never be locked or unlocked through
// LockRange and UnlockRange.

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace vevura::platform {

class PosixFile final : public OsFile {
 public:
  //! Takes ownership of fd. When delete_path is not empty the file is removed
  //! at close, provided that path still names this very file.
  PosixFile(int fd, bool read_only, std::string delete_path);
  //! Removes a delete-on-close file, then closes the descriptor.
  ~PosixFile() override;

  int64_t ReadAt(int64_t pos, void* buf, int64_t len) override;
  int64_t WriteAt(int64_t pos, const void* buf, int64_t len) override;
  int64_t Size() override;
  bool Truncate(int64_t size) override;
  bool Sync() override;
  bool LockRange(int64_t offset, int64_t length) override;
  bool UnlockRange(int64_t offset, int64_t length) override;
  bool IsReadOnly() const override { return read_only_; }
  std::unique_ptr<HeadMapping> MapHead(int64_t length) override;

 private:
  struct Range {
    int64_t offset;
    int64_t length;
  };

  //! True when [offset, offset + length) overlaps a range this file holds.
  bool OverlapsHeld(int64_t offset, int64_t length) const;
  //! Removes the file at delete_path_ if it is still the file of fd_.
  void DeleteIfStillOurs();

  const int fd_;                   //!< owned descriptor
  const bool read_only_;           //!< opened O_RDONLY: read locks only
  const std::string delete_path_;  //!< removed at close when not empty
  std::vector<Range> held_;        //!< byte ranges this file has locked
};

//! True when [offset, offset + length) is a range LockRange accepts: positive
//! length, no overflow, entirely below the share-mode bytes.
bool IsLockableRange(int64_t offset, int64_t length);

}  // namespace vevura::platform
