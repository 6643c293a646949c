#pragma once
// TFileList: the process-wide list of open file objects.
//
// Every file the engine opens in this process is one object in this list, so
// that two handlers of the same file (two cursors, sessions or tables) share
// one operating-system handle, one position and one set of byte-range locks,
// and so that share modes hold between them: an exclusive open conflicts
// with any other open of the file in the process, as it does with opens in
// other processes (which the platform's share modes refuse).
//
// Names are looked up only among objects of the requested kind, so an
// in-memory file and a disk file may share a name. In-memory names are
// trimmed and compared without regard to case. A disk name is trimmed, made
// absolute, and resolved to the file that exists under it: the exact name
// when it exists, else the entry of its directory that matches it without
// regard to letter case; the resolved names are then compared exactly, so
// two files whose names differ only in case stay two files.
//
// A disk file object lives from the first open or create of its name until
// its last handle is released; an in-memory file object from CreateFile until
// DeleteFile or the list's destruction, keeping its contents in between.
//
// Operations return 0 (or a handle id, from 1) on success and a negated
// engine code on failure, with the operating system's reason in
// platform::LastOsError(); the handlers above (file_handler.h) raise them.
//
// Thread-safety: every operation holds the list lock for its whole duration
// and takes a file object's lock inside it (list, then file; never the
// reverse: do not call the list while holding a file's access lock).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/file/abstract_file.h"
#include "platform/system.h"

namespace vevura {

//! Receives the user value and the percentage of a copy done so far.
using TCopyProgressEvent = std::function<void(void* user_value, int32_t percent)>;

//! How a whole-file copy reports its progress.
struct TCopyProgress {
  int32_t Step = 0;             //!< report when the percentage rose by this much
  TCopyProgressEvent Callback;  //!< nothing is reported when empty
  void* UserValue = nullptr;    //!< handed to the callback unchanged
};

//! What an open or create hands back to the handler.
struct TFileOpening {
  TAbstractFile* File = nullptr;   //!< the shared file object (owned by the list)
  int32_t HandleId = 0;            //!< the handler's handle on it
  bool ReadOnly = false;           //!< opened read-only
  bool ReadOnlyAttribute = false;  //!< the disk file has the read-only attribute
};

//! Bytes moved per step of a whole-file copy.
inline constexpr int64_t kCopyChunkSize = 65536;

class TFileList {
 public:
  TFileList();
  //! Frees every file object still in the list (closing disk files).
  ~TFileList();
  TFileList(const TFileList&) = delete;
  TFileList& operator=(const TFileList&) = delete;

  //! Creates the file (emptying an existing one), open exclusively with one
  //! handle. -VEVURA_OSEACCES when the name is open in the process.
  int32_t CreateFile(const std::string& name, bool in_memory, bool temporary,
                     TFileOpening* opening);
  //! Opens the file: a new handle on the object when the name is open
  //! (-VEVURA_OSEACCES when either side is exclusive), else an operating-system
  //! open. An in-memory name never created gives -VEVURA_OSENOENT.
  int32_t OpenFile(const std::string& name, bool in_memory, bool temporary, bool exclusive,
                   TFileOpening* opening);
  //! Releases the handle; the last release of a disk file closes and frees
  //! it. -VEVURA_OSENOENT when the object is not in the list or has no handle.
  int32_t CloseFile(TAbstractFile* file, bool in_memory, int32_t handle_id);
  //! -VEVURA_OSEACCES while the file is open in the process.
  int32_t RenameFile(const std::string& name, bool in_memory, const std::string& new_name);
  //! -VEVURA_OSEACCES while the file is open in the process.
  int32_t DeleteFile(const std::string& name, bool in_memory);
  //! True when the name is in the list, or (disk) names an existing
  //! non-directory.
  bool FileExists(const std::string& name, bool in_memory);

  //! Copies the whole file open through handle_id into a new file named
  //! destination (of the given kind), in chunks of kCopyChunkSize; with
  //! compress, each chunk is stored compressed behind its 4-byte
  //! little-endian length. A destination left incomplete by a failure is
  //! deleted.
  int32_t CopyOut(TAbstractFile* file, int32_t handle_id, const TCopyProgress& progress,
                  bool compress, const std::string& destination, bool destination_in_memory);
  //! Replaces the contents of the file open through handle_id with those of
  //! the file named source (opened exclusively for the copy); with compress,
  //! source holds chunks as CopyOut writes them. The file ends where the
  //! copied data ends.
  int32_t CopyIn(TAbstractFile* file, int32_t handle_id, const TCopyProgress& progress,
                 bool compress, const std::string& source, bool source_in_memory);

  //! Number of file objects in the list.
  int32_t Count();

 private:
  //! The name as the list keeps it (see above).
  static std::string ListName(const std::string& name, bool in_memory);
  //! The object of that kind with that list name, or nullptr.
  TAbstractFile* Find(const std::string& list_name, bool in_memory);
  //! Position of the object in files_, or -1.
  int32_t IndexOf(const TAbstractFile* file);
  //! Removes the object from the list and frees it.
  void Remove(const TAbstractFile* file);
  //! Opens a name not in the list: a new disk file object.
  int32_t OpenNewDiskFile(const std::string& list_name, bool temporary, bool exclusive,
                          TFileOpening* opening);
  //! Renames a disk file that is not open in the process.
  int32_t RenameDiskFile(const std::string& list_name, const std::string& new_name);
  //! Fills the opening for a handle just added to file.
  static void Opened(TAbstractFile* file, int32_t handle_id, TFileOpening* opening);

  platform::CriticalSection lock_;                     //!< guards the list, taken first
  std::vector<std::unique_ptr<TAbstractFile>> files_;  //!< every file object of the process
};

//! Creates the process-wide file list (at engine start); nothing when it
//! exists already.
void CreateFileList();
//! Destroys the process-wide file list (at engine stop), freeing every file
//! object in it. REQUIRES: no handler still holds a handle.
void DestroyFileList();
//! The process-wide file list, or nullptr while the engine is stopped.
TFileList* FileList();

}  // namespace vevura
