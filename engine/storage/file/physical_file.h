#pragma once
// TPhysicalFile: a file on disk, opened once per process through the current
// platform::FileSystem and shared by every handler that opens it.
//
// The object holds one operating-system file (platform::OsFile) while any
// handle is open and one position for all its handles, as a single
// operating-system handle has: Seek moves it, Read and Write transfer at it.
// Callers therefore hold the access lock (BeginAccess/EndAccess) across a
// seek and the transfer that follows. Byte-range locks belong to the shared
// operating-system file, so a range locked through one handler is refused to
// every other handler of the process as well as to other processes.
//
// Opening reads the attributes first: a file with the read-only attribute is
// opened read-only; otherwise read-write, falling back to read-only (without
// an error) when read-write access is refused. A temporary file is opened
// delete-on-close. Creating empties an existing file and holds it exclusively.
// Deleting and renaming refuse a file that another process holds open, as
// share modes do on systems that enforce them.
//
// The first page of the file is mapped read-only where the platform offers
// such a view (a local file system), so that ReadHead reads the change
// counters of a header without a system call. The mapping is made at the
// first ReadHead; while the file is shorter than the page it waits for a
// write of this process that reaches past the page, and a read that finds
// the file cut below the page (another program) ends it for this open.
//
// Thread-safety: as TAbstractFile.

#include <cstdint>
#include <memory>
#include <string>

#include "engine/storage/file/abstract_file.h"
#include "platform/file_system.h"

namespace vevura {

class TPhysicalFile final : public TAbstractFile {
 public:
  explicit TPhysicalFile(std::string name);

  int64_t GetSize() override;
  int32_t CreateNew() override;
  int32_t OpenHandle() override;
  bool ReleaseHandle(int32_t handle_id) override;
  int32_t Rename(const std::string& new_name) override;
  int32_t Delete() override;
  int64_t Read(int32_t handle_id, void* buffer, int64_t length) override;
  int64_t Write(int32_t handle_id, const void* buffer, int64_t length) override;
  bool Flush(int32_t handle_id) override;
  int64_t Seek(int32_t handle_id, int32_t origin, int64_t offset) override;
  bool ReadHead(int64_t position, void* buffer, int64_t length) override;
  bool LockRegion(int64_t offset, int64_t length) override;
  bool UnlockRegion(int64_t offset, int64_t length) override;

  //! The operating-system file while a handle is open, else nullptr.
  platform::OsFile* OsHandle() { return os_file_.get(); }

 private:
  //! Opens the operating-system file as the flags and attributes say;
  //! 0 or a negated code.
  int32_t OpenOsFile();
  //! The open options for the access asked and the object's flags.
  platform::OpenOptions OptionsFor(platform::OpenAccess access) const;
  //! Opens the file exclusively for a moment, to prove that no other
  //! process has it open; nullptr (EACCES) when one does.
  std::unique_ptr<platform::OsFile> OpenAlone();
  //! True when the handle is open and the file with it.
  bool UsableHandle(int32_t handle_id);

  //! Where the mapping of the first page stands.
  enum class THeadMap {
    kTry,         //!< map at the next ReadHead
    kWaitGrowth,  //!< the file was shorter than the page: try after a write past it
    kNone,        //!< no mapping for this open
  };
  //! Opened or created anew: no mapping yet.
  void ForgetHeadMapping();

  std::unique_ptr<platform::OsFile> os_file_;    //!< the one operating-system file
  int64_t position_ = 0;                         //!< shared by all handles; -1 invalid
  std::unique_ptr<platform::HeadMapping> head_;  //!< the first page, mapped
  THeadMap head_state_ = THeadMap::kTry;
};

//! Bytes of a file that TPhysicalFile maps: the first page.
inline constexpr int64_t kMappedHeadLength = 4096;

}  // namespace vevura
