#pragma once
// UnsyncedChanges: the writes and truncations of one file that have not been
// synced yet, kept in memory above the file on disk (fault_file_system.h).
//
// The file as a reader sees it is: bytes written since the last sync where
// there are some; else the disk's bytes below the lowest size the file was
// truncated to since then; else zeros; up to the logical size. Not
// thread-safe: the owner serialises access.

#include <cstdint>
#include <limits>
#include <map>
#include <string>

#include "platform/file_system.h"

namespace vevura::platform {

class UnsyncedChanges {
 public:
  //! True while some change is held.
  bool Held() const { return held_; }
  //! Logical size. REQUIRES: Held().
  int64_t Size() const { return size_; }

  //! Starts holding changes over a disk file of disk_size bytes (no-op when
  //! already holding).
  void Begin(int64_t disk_size);
  void Write(int64_t pos, const void* buf, int64_t len);
  void Truncate(int64_t size);
  //! Reads as the file now looks; the count, or -1 when the disk read fails.
  //! REQUIRES: Held().
  int64_t Read(OsFile& disk, int64_t pos, void* buf, int64_t len) const;
  //! Writes every held change to disk (without syncing it); false when the
  //! disk refuses, with the changes still held.
  bool Apply(OsFile& disk) const;
  //! Forgets every held change.
  void Clear();

 private:
  //! Removes held bytes at and after size.
  void Clip(int64_t size);

  bool held_ = false;                                  //!< some change is held
  int64_t size_ = 0;                                   //!< the file's logical size
  int64_t cut_ = std::numeric_limits<int64_t>::max();  //!< disk bytes from here on are gone
  std::map<int64_t, std::string> extents_;             //!< written bytes by offset, disjoint
};

}  // namespace vevura::platform
