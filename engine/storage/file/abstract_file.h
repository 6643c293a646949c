#pragma once
// TAbstractFile: one distinct file of the process, on disk (TPhysicalFile) or
// in memory (TMemoryFile), shared by every table-file handler that opened it.
//
// Each handler that opens the file gets a handle: an id handed out as the
// last id + 1 and never reused by this object, and a position of its own
// (disk files ignore it: all their handles share one position, see
// physical_file.h). Operations take the caller's handle id; a result below 0
// is a negated engine error code, with the operating system's reason left in
// platform::LastOsError().
//
// Thread-safety: every operation takes the file lock for its whole duration.
// BeginAccess/EndAccess hold the same (re-entrant) lock across several
// operations, such as a seek and the read that follows it. Lock order: the
// file list's lock (file_list.h) before a file's lock, never the reverse; a
// thread holds at most one file's lock unless it also holds the list lock.
//
// Ownership: the file list owns every file object; handlers borrow them while
// they hold a handle.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/system.h"

namespace vevura {

//! Where a Seek counts from.
enum TSeekOrigin : int32_t { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

//! A byte range locked on a file.
struct TRegionLock {
  int64_t First = 0;   //!< first byte locked
  int64_t Last = 0;    //!< last byte locked (First + Length - 1)
  int64_t Length = 0;  //!< number of bytes locked
};

//! One open handle on a file.
struct TFileHandle {
  int32_t Id = 0;        //!< the handle's id, from 1
  int64_t Position = 0;  //!< the handle's own position (in-memory files)
};

//! The most handles one file object keeps open at a time.
inline constexpr int32_t kMaxOpenHandles = 65535;

//! Records err as the operating system's last error and returns -code.
int32_t FailWithCode(int err, uint16_t code);
//! The negated engine code of the operating system's last error.
int32_t LastOsErrorResult();

class TAbstractFile {
 public:
  TAbstractFile(std::string name, bool in_memory);
  TAbstractFile(const TAbstractFile&) = delete;
  TAbstractFile& operator=(const TAbstractFile&) = delete;
  virtual ~TAbstractFile() = default;

  //! Index of the handle record with this id, or -1 (also when none is open).
  virtual int32_t FindHandle(int32_t handle_id);
  //! The file's size in bytes, or -1 on a failure.
  virtual int64_t GetSize() = 0;
  //! Creates the file, or empties it when it exists; adds a handle at
  //! position 0. Returns the handle id or a negated code.
  virtual int32_t CreateNew() = 0;
  //! Opens the file unless a handle is open already; adds a handle at
  //! position 0. Returns the handle id or a negated code.
  virtual int32_t OpenHandle() = 0;
  //! Drops the handle; releasing the last one closes a disk file. False for
  //! an id that is not open.
  virtual bool ReleaseHandle(int32_t handle_id) = 0;
  //! Renames the file; the object takes the new name. 0 or a negated code.
  virtual int32_t Rename(const std::string& new_name) = 0;
  //! Deletes the file. 0 or a negated code.
  virtual int32_t Delete() = 0;
  //! Reads up to length bytes at the handle's position and advances it by
  //! the count; returns the count (short at the end), or -1 on a failure.
  virtual int64_t Read(int32_t handle_id, void* buffer, int64_t length) = 0;
  //! Writes length bytes at the position and advances it; length 0 sets the
  //! end of file at the position. Returns the count, or -1 on a failure.
  virtual int64_t Write(int32_t handle_id, const void* buffer, int64_t length) = 0;
  //! Writes the file's buffers through to the disk.
  virtual bool Flush(int32_t handle_id) = 0;
  //! Moves the position (origin a TSeekOrigin) and returns it. -1 when the
  //! target is negative or the arguments are bad; the position then becomes
  //! invalid, so that a read or write before the next good seek fails rather
  //! than transfer at a stale place.
  virtual int64_t Seek(int32_t handle_id, int32_t origin, int64_t offset) = 0;
  //! Copies length bytes at position from a mapping of the file's first
  //! page, without a system call; false when the file has no such mapping
  //! (the caller reads instead). In-memory files have none.
  virtual bool ReadHead(int64_t /*position*/, void* /*buffer*/, int64_t /*length*/) {
    return false;
  }
  //! Places a byte-range lock; false at once on any overlap.
  virtual bool LockRegion(int64_t offset, int64_t length) = 0;
  //! Removes the lock placed with exactly this offset and length.
  virtual bool UnlockRegion(int64_t offset, int64_t length) = 0;

  //! Enters the file lock (re-entrant); pair with EndAccess.
  void BeginAccess() { lock_.lock(); }
  void EndAccess() { lock_.unlock(); }
  //! The file lock itself, for scoped guards.
  platform::CriticalSection& FileLock() { return lock_; }

  const std::string& Name() const { return name_; }
  bool IsInMemory() const { return in_memory_; }
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool exclusive) { exclusive_ = exclusive; }
  bool Temporary() const { return temporary_; }
  void SetTemporary(bool temporary) { temporary_ = temporary; }
  bool ReadOnly() const { return read_only_; }
  bool ReadOnlyAttribute() const { return read_only_attribute_; }
  //! Number of open handles.
  int32_t OpenCount();

 protected:
  //! Adds a handle at position 0: its id, or -VEVURA_OSEMFILE when the
  //! object has no id or handle slot left.
  int32_t AddHandle();
  //! Removes the handle; false when it is not open.
  bool RemoveHandle(int32_t handle_id);
  //! The handle record with this id, or nullptr.
  TFileHandle* HandleOf(int32_t handle_id);
  //! The position a seek reaches from current (or the size), or -1 when the
  //! origin is unknown, the current position is invalid, the sum overflows
  //! or is negative.
  static int64_t SeekTarget(int32_t origin, int64_t offset, int64_t current, int64_t size);

  //! Records a region lock unless it overlaps one held; false when it does
  //! or the range is empty, negative or overflows.
  bool AddRegionLock(int64_t offset, int64_t length);
  //! Removes the region lock with exactly this offset and length.
  bool RemoveRegionLock(int64_t offset, int64_t length);

  void SetName(const std::string& name) { name_ = name; }
  void SetReadOnly(bool read_only) { read_only_ = read_only; }
  void SetReadOnlyAttribute(bool attribute) { read_only_attribute_ = attribute; }
  void ClearRegionLocks() { region_locks_.clear(); }

 private:
  platform::CriticalSection lock_;         //!< serialises every operation on this object
  std::string name_;                       //!< full path, or the in-memory name
  const bool in_memory_;                   //!< a TMemoryFile
  bool exclusive_ = false;                 //!< opened exclusively
  bool read_only_ = false;                 //!< opened read-only
  bool read_only_attribute_ = false;       //!< the disk file has the read-only attribute
  bool temporary_ = false;                 //!< temporary file
  std::vector<TRegionLock> region_locks_;  //!< byte ranges held (emulated locks)
  std::vector<TFileHandle> handles_;       //!< one per open handle
  int32_t last_handle_id_ = 0;             //!< ids are last + 1, never reused
};

//! Holds a file's access lock for a scope (BeginAccess/EndAccess).
class TFileAccessGuard {
 public:
  explicit TFileAccessGuard(TAbstractFile& file) : file_(file) { file_.BeginAccess(); }
  ~TFileAccessGuard() { file_.EndAccess(); }
  TFileAccessGuard(const TFileAccessGuard&) = delete;
  TFileAccessGuard& operator=(const TFileAccessGuard&) = delete;

 private:
  TAbstractFile& file_;
};

}  // namespace vevura
