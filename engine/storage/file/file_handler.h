#pragma once
// TFileHandler: one table file as one open table sees it, and the common base
// of the data, index and BLOB file classes.
//
// The owning table sets the file name, and the exclusive, in-memory and
// temporary flags, before Open or CreateFile. The handler then holds one
// handle on the shared file object of the process-wide file list
// (file_list.h): several handlers of one file share its operating-system
// handle, its position and its byte-range locks.
//
// Failures raise EVEVURAEngineError with the file's full name in the table
// position: operating-system failures with their mapped code (VEVURA_OSENOENT,
// VEVURA_OSEACCES, ...), a short or failed read VEVURA_READERR, a short or
// failed write or flush VEVURA_WRITEERR. Close never raises.
//
// Positioning: disk files have one position for all their handlers, so a
// caller holds the access lock (BeginAccess/EndAccess, or TFileAccess, or the
// ReadAt/WriteAt helpers that do it) across a Seek and the Read or Write that
// follows. A handler never calls Close, Open or another file-list operation
// while it holds the access lock (the list's lock comes first).
//
// Derived classes override Open, Close and CreateFile and call these base
// versions; because a destructor does not dispatch to a derived class, each
// derived class closes itself in its own destructor.
//
// Thread-safety: one handler is used by one thread at a time; handlers of the
// same file may be used from different threads.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/storage/file/abstract_file.h"
#include "engine/storage/file/file_list.h"

namespace vevura {

//! Bytes a writer knows the file holds, offered to the journal so that it
//! need not read them back before they are overwritten.
class TKnownBytes {
 public:
  //! Fills out with the length bytes the file holds at position now and
  //! returns true, or returns false when they are not all known.
  virtual bool CopyKnown(int64_t position, int64_t length, uint8_t* out) const = 0;

 protected:
  ~TKnownBytes() = default;
};

class TFileHandler {
 public:
  //! A closed handler with no name and every flag clear.
  TFileHandler();
  //! Closes the handler.
  virtual ~TFileHandler();
  TFileHandler(const TFileHandler&) = delete;
  TFileHandler& operator=(const TFileHandler&) = delete;

  //! Opens the file unless already open: VEVURA_OSENOENT when it does not
  //! exist (nothing is created), else the file list's open with the flags.
  //! Sets ReadOnly and ReadOnlyAttribute.
  virtual void Open();
  //! Releases the handle, if one is held.
  virtual void Close();
  //! Creates the file empty (emptying an existing one) and holds it open
  //! exclusively.
  virtual void CreateFile();
  //! Deletes the file; VEVURA_OSEACCES while it is open anywhere in the process.
  virtual void DeleteFile();
  //! Renames the file and takes the new name; VEVURA_OSEACCES while it is open.
  virtual void RenameFile(const std::string& new_name);
  //! REQUIRES: open. Copies the whole file into a new file of the same kind.
  virtual void CopyTo(const std::string& destination, bool compress, const TCopyProgress& progress);
  //! REQUIRES: open. Replaces the contents with those of the named file of
  //! the same kind (written by CopyTo with the same compress flag).
  virtual void CopyFrom(const std::string& source, bool compress, const TCopyProgress& progress);
  //! Reads at the position and returns the count; VEVURA_READERR when it
  //! fails or is short and allow_short is false.
  virtual int64_t Read(void* buffer, int64_t length, bool allow_short = false);
  //! Writes at the position; length 0 sets the end of file there.
  //! VEVURA_WRITEERR unless every byte is written.
  virtual void Write(const void* buffer, int64_t length);
  //! Writes the operating system's buffers to disk; VEVURA_WRITEERR on failure.
  virtual void Flush();

  //! Places (lock true) or removes a byte-range lock; false when the handler
  //! is closed or the range is refused. Never waits.
  bool LockRegion(bool lock, int64_t offset, int64_t length);
  //! Moves the position (origin a TSeekOrigin) and returns it; 0 when closed,
  //! -1 for a bad seek (the next Read or Write then fails).
  int64_t Seek(int32_t origin, int64_t offset);
  //! The file's size (0 when closed); VEVURA_READERR when it cannot be read.
  int64_t GetSize();
  //! True when the file exists (in the list or, for disk files, on disk).
  bool Exists();
  //! Enter and leave the file object's access lock; nothing when closed.
  void BeginAccess();
  void EndAccess();

  //! Seek and Read under the access lock.
  int64_t ReadAt(int64_t position, void* buffer, int64_t length, bool allow_short = false);
  //! Reads length bytes of the file's first page as ReadAt does, from the
  //! file's mapping of that page when it has one (no system call).
  void ReadHeadAt(int64_t position, void* buffer, int64_t length);
  //! Seek and Write under the access lock. While journaling, known may
  //! offer the bytes being overwritten (their before-image).
  void WriteAt(int64_t position, const void* buffer, int64_t length,
               const TKnownBytes* known = nullptr);
  //! Cuts the file to size bytes (VEVURA_WRITEERR when it cannot be cut).
  void Cut(int64_t size);
  //! Forgets the file's size as this handler's writes kept it (see
  //! BeginJournal). The table calls it whenever it takes a header that
  //! another writer may have written.
  void ForgetSize() { known_size_ = -1; }

  //! Before-images. From BeginJournal on, WriteAt first keeps the bytes it
  //! overwrites (and the file's size at the first write), so that
  //! RollBackJournal can put the file back as it was: the images written
  //! back newest first, then the file cut to its old size. EndJournal
  //! forgets them. RollBackJournal returns false when a write fails (the
  //! file is then in neither state) and ends the journal either way.
  //! The old size is asked of the file once and then kept from this
  //! handler's writes: another program changes a table file's size only
  //! with a header write, whose change counter makes the table take the new
  //! header and forget the size (ForgetSize) before it writes again.
  void BeginJournal();
  void EndJournal();
  virtual bool RollBackJournal();
  bool Journaling() const { return journaling_; }

  const std::string& FileName() const { return file_name_; }
  void SetFileName(const std::string& name) { file_name_ = name; }
  bool InMemory() const { return in_memory_; }
  void SetInMemory(bool in_memory) { in_memory_ = in_memory; }
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool exclusive) { exclusive_ = exclusive; }
  bool Temporary() const { return temporary_; }
  void SetTemporary(bool temporary) { temporary_ = temporary; }
  //! Opened for a repair: a header the file cannot be used with is taken
  //! as far as it goes, for the repair to set right, instead of refused.
  bool ForRepair() const { return for_repair_; }
  void SetForRepair(bool for_repair) { for_repair_ = for_repair; }
  //! The file is open read-only (set by Open).
  bool ReadOnly() const { return read_only_; }
  //! The disk file has the read-only attribute (set by Open).
  bool ReadOnlyAttribute() const { return read_only_attribute_; }
  bool IsOpen() const { return open_; }
  int32_t HandleId() const { return handle_id_; }
  //! The shared file object while open, else nullptr.
  TAbstractFile* File() const { return file_; }

 protected:
  //! Raises code naming this file.
  [[noreturn]] void RaiseFileError(uint16_t code) const;
  //! Raises -result naming this file when result is negative.
  void CheckResult(int32_t result) const;
  //! The process-wide file list; VEVURA_NOTINITIALIZED while the engine is stopped.
  TFileList& List() const;

 private:
  //! Takes the file list's answer to an open or create.
  void Attach(const TFileOpening& opening);
  //! Forgets the handle.
  void Detach();
  //! Keeps the bytes read at offset 0 as the header the journal uses.
  void NoteHeadRead(const void* buffer, int64_t count);
  //! The file's size: kept, or asked of the file and kept.
  int64_t KnownSize();

  bool in_memory_ = false;            //!< an in-memory file (TMemoryFile)
  TAbstractFile* file_ = nullptr;     //!< the shared file object while open
  std::string file_name_;             //!< full path, or the in-memory name
  int32_t handle_id_ = 0;             //!< this handler's handle on the file object
  bool exclusive_ = false;            //!< open the file exclusively
  bool read_only_ = false;            //!< opened read-only
  bool read_only_attribute_ = false;  //!< the file has the read-only attribute
  bool open_ = false;                 //!< a handle is held
  bool temporary_ = false;            //!< a temporary file
  bool for_repair_ = false;           //!< opened for a repair

  //! One before-image: the bytes at position before the journal's writes.
  struct TBeforeImage {
    int64_t Position;
    std::vector<uint8_t> Bytes;
  };
  //! The bytes from offset 0 as this handler last read or wrote them.
  std::vector<uint8_t> head_;
  bool journaling_ = false;
  int64_t journal_size_ = -1;          //!< the size at the first journaled write, -1 before
  int64_t known_size_ = -1;            //!< the file's size after this handler's writes, -1 unknown
  std::vector<TBeforeImage> journal_;  //!< the first journal_used_ are this change's
  size_t journal_used_ = 0;
};

//! Holds a handler's access lock for a scope. REQUIRES: the handler stays
//! open for the scope.
class TFileAccess {
 public:
  explicit TFileAccess(TFileHandler& handler) : file_(handler.File()) {
    if (file_ != nullptr) file_->BeginAccess();
  }
  ~TFileAccess() {
    if (file_ != nullptr) file_->EndAccess();
  }
  TFileAccess(const TFileAccess&) = delete;
  TFileAccess& operator=(const TFileAccess&) = delete;

 private:
  TAbstractFile* file_;  //!< the file whose lock is held, or nullptr
};

}  // namespace vevura
