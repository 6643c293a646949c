#pragma once
// FaultFileSystem: a FileSystem for tests that wraps another one and makes
// chosen operations fail, or forgets writes that were never synced.
//
// A test installs it with SetFileSystem(&fault) before the engine opens its
// files and restores the default with SetFileSystem(nullptr) after closing
// them. Only files opened or created through the wrapper are affected; files
// opened through it stay usable even if the wrapper is destroyed first.
//
// Injected failures. FailNth(op, n) makes the nth operation of that kind (1 is
// the next one), counted from the call over every file of the wrapper, fail
// with EIO and change nothing; with sticky, every later one fails as well.
// Truncate counts as a write.
//
// Unsynced writes. After KeepUnsyncedWrites(true), writes and truncations are
// held in memory for their file (one set of held changes per file on disk,
// shared by all handles of it, kept after a handle closes) and reach the disk
// only when a handle of that file calls Sync; reads and sizes through the
// wrapper see them. DropUnsyncedWrites() forgets every held change, as a crash
// or power loss would: each file on disk then holds exactly what was synced.
// Creating a file empties it on disk at once, and Remove, Rename and the
// byte-range locks pass straight through.
//
// Thread-safety: every method may be called from any thread.

#include <cstdint>
#include <memory>

#include "platform/file_system.h"

namespace vevura::platform {

struct FaultState;

class FaultFileSystem final : public FileSystem {
 public:
  enum class Operation { Read, Write, Sync };

  //! Wraps base, which must outlive every file opened through the wrapper.
  explicit FaultFileSystem(FileSystem& base);
  ~FaultFileSystem() override;
  FaultFileSystem(const FaultFileSystem&) = delete;
  FaultFileSystem& operator=(const FaultFileSystem&) = delete;

  //! The nth operation of kind op from now on fails with EIO (n >= 1); with
  //! sticky, so does every one after it. Restarts the count of op.
  void FailNth(Operation op, int64_t n, bool sticky = false);
  //! Stops every injected failure; the counts go on.
  void Disarm();
  //! Operations of kind op since the wrapper was made or FailNth(op) was
  //! last called, failed ones included.
  int64_t Count(Operation op) const;

  //! Holds writes and truncations in memory until their file is synced.
  //! Turning it off does not drop or write what is held: held files keep
  //! collecting their changes until they are synced or dropped.
  void KeepUnsyncedWrites(bool keep);
  //! Forgets every held change (a crash): the disk keeps only what was synced.
  void DropUnsyncedWrites();
  //! True while some file has held changes.
  bool HasUnsyncedWrites() const;

  std::unique_ptr<OsFile> Open(const std::string& path, const OpenOptions& options) override;
  std::unique_ptr<OsFile> Create(const std::string& path, const OpenOptions& options) override;
  bool Remove(const std::string& path) override;
  bool Rename(const std::string& from, const std::string& to) override;
  //! The base's attributes, with the size a reader through the wrapper sees.
  bool GetAttributes(const std::string& path, FileAttributes* attributes) override;

 private:
  std::unique_ptr<OsFile> Wrap(std::unique_ptr<OsFile> file, const std::string& path,
                               const OpenOptions& options, bool created);

  FileSystem& base_;                   //!< the file system underneath
  std::shared_ptr<FaultState> state_;  //!< shared with every file opened through us
};

}  // namespace vevura::platform
