#pragma once
// TMemoryFile: a file kept only in memory, the storage of in-memory tables
// and of temporary index pages.
//
// The contents live in one data block whose capacity is the size rounded up
// to a multiple of kMemoryFileBlockSize. The block grows when the size
// exceeds it and is released only when the size drops to 0 (or by CreateNew
// and Delete). Bytes between the size and the capacity are always zero, so a
// file that shrinks and grows again reads zeros in the gap, never its old
// contents. Every handle keeps its own position. Byte-range locks are kept in
// the object's region-lock list with the semantics of disk locks: a request
// overlapping a held range is refused at once, an unlock must name a held
// range exactly.
//
// The object outlives its handles: after the last close it keeps its
// contents in the file list until it is deleted or the engine stops.
//
// Thread-safety: as TAbstractFile.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/storage/file/abstract_file.h"

namespace vevura {

//! The granule of an in-memory file's capacity.
inline constexpr int64_t kMemoryFileBlockSize = 4096;

class TMemoryFile final : public TAbstractFile {
 public:
  explicit TMemoryFile(std::string name);

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
  bool LockRegion(int64_t offset, int64_t length) override;
  bool UnlockRegion(int64_t offset, int64_t length) override;

  //! Bytes in the data block (0 when it is released).
  int64_t Capacity();

 private:
  //! Sets the size, growing the block as needed; false when memory for it
  //! cannot be had (ENOMEM).
  bool SetSize(int64_t new_size);
  //! Frees the data block; the size becomes 0.
  void ReleaseData();

  std::vector<uint8_t> data_;  //!< the data block; its size() is the capacity
  int64_t size_ = 0;           //!< the file's size
};

}  // namespace vevura
