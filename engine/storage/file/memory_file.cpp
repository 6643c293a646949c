#include "engine/storage/file/memory_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>

#include "engine/base/error_codes.h"
#include "platform/os_error.h"

namespace vevura {

namespace {

int64_t FailCount(int err) {
  platform::SetLastOsError(err);
  return -1;
}

// size rounded up to the block granule; -1 when that overflows.
int64_t RoundedCapacity(int64_t size) {
  int64_t rounded;
  if (__builtin_add_overflow(size, kMemoryFileBlockSize - 1, &rounded)) return -1;
  return rounded / kMemoryFileBlockSize * kMemoryFileBlockSize;
}

}  // namespace

TMemoryFile::TMemoryFile(std::string name) : TAbstractFile(std::move(name), true) {}

int64_t TMemoryFile::GetSize() {
  std::lock_guard guard(FileLock());
  return size_;
}

int64_t TMemoryFile::Capacity() {
  std::lock_guard guard(FileLock());
  return static_cast<int64_t>(data_.size());
}

int32_t TMemoryFile::CreateNew() {
  std::lock_guard guard(FileLock());
  ReleaseData();
  ClearRegionLocks();
  return AddHandle();
}

int32_t TMemoryFile::OpenHandle() {
  std::lock_guard guard(FileLock());
  return AddHandle();
}

bool TMemoryFile::ReleaseHandle(int32_t handle_id) {
  std::lock_guard guard(FileLock());
  return RemoveHandle(handle_id);
}

int32_t TMemoryFile::Rename(const std::string& new_name) {
  std::lock_guard guard(FileLock());
  SetName(new_name);
  return 0;
}

int32_t TMemoryFile::Delete() {
  std::lock_guard guard(FileLock());
  ReleaseData();
  ClearRegionLocks();
  return 0;
}

void TMemoryFile::ReleaseData() {
  std::vector<uint8_t>().swap(data_);
  size_ = 0;
}

bool TMemoryFile::SetSize(int64_t new_size) {
  if (new_size <= 0) {
    ReleaseData();
    return true;
  }
  if (new_size < size_) {
    // Keep the block, but clear what was cut off so that it cannot come back.
    std::fill(data_.begin() + new_size, data_.begin() + size_, uint8_t{0});
  } else if (new_size > static_cast<int64_t>(data_.size())) {
    int64_t capacity = RoundedCapacity(new_size);
    if (capacity < 0 || static_cast<uint64_t>(capacity) > data_.max_size()) {
      platform::SetLastOsError(ENOMEM);
      return false;
    }
    try {
      data_.resize(static_cast<size_t>(capacity));  // new space is zero-filled
    } catch (const std::bad_alloc&) {
      platform::SetLastOsError(ENOMEM);
      return false;
    } catch (const std::length_error&) {
      platform::SetLastOsError(ENOMEM);
      return false;
    }
  }
  size_ = new_size;
  return true;
}

int64_t TMemoryFile::Read(int32_t handle_id, void* buffer, int64_t length) {
  std::lock_guard guard(FileLock());
  TFileHandle* handle = HandleOf(handle_id);
  if (handle == nullptr) return FailCount(EBADF);
  if (length < 0 || (buffer == nullptr && length > 0)) return FailCount(EINVAL);
  int64_t position = handle->Position;
  if (position < 0 || position >= size_) return 0;
  int64_t count = std::min(length, size_ - position);
  if (count > 0) std::memcpy(buffer, data_.data() + position, static_cast<size_t>(count));
  handle->Position = position + count;
  return count;
}

int64_t TMemoryFile::Write(int32_t handle_id, const void* buffer, int64_t length) {
  std::lock_guard guard(FileLock());
  TFileHandle* handle = HandleOf(handle_id);
  if (handle == nullptr) return FailCount(EBADF);
  int64_t position = handle->Position;
  if (position < 0 || length < 0 || (buffer == nullptr && length > 0)) return FailCount(EINVAL);
  if (length == 0) return SetSize(position) ? 0 : -1;
  int64_t end;
  if (__builtin_add_overflow(position, length, &end)) return FailCount(EFBIG);
  if (end > size_ && !SetSize(end)) return -1;
  std::memcpy(data_.data() + position, buffer, static_cast<size_t>(length));
  handle->Position = end;
  return length;
}

bool TMemoryFile::Flush(int32_t handle_id) {
  std::lock_guard guard(FileLock());
  if (HandleOf(handle_id) != nullptr) return true;
  platform::SetLastOsError(EBADF);
  return false;
}

int64_t TMemoryFile::Seek(int32_t handle_id, int32_t origin, int64_t offset) {
  std::lock_guard guard(FileLock());
  TFileHandle* handle = HandleOf(handle_id);
  if (handle == nullptr) return FailCount(EBADF);
  handle->Position = SeekTarget(origin, offset, handle->Position, size_);
  if (handle->Position < 0) return FailCount(EINVAL);
  return handle->Position;
}

bool TMemoryFile::LockRegion(int64_t offset, int64_t length) {
  std::lock_guard guard(FileLock());
  if (AddRegionLock(offset, length)) return true;
  platform::SetLastOsError(EAGAIN);
  return false;
}

bool TMemoryFile::UnlockRegion(int64_t offset, int64_t length) {
  std::lock_guard guard(FileLock());
  if (RemoveRegionLock(offset, length)) return true;
  platform::SetLastOsError(EINVAL);
  return false;
}

}  // namespace vevura
