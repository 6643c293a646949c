#include "engine/storage/file/abstract_file.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <mutex>

#include "engine/base/error_codes.h"
#include "engine/base/os_error_code.h"
#include "platform/os_error.h"

namespace vevura {

int32_t FailWithCode(int err, uint16_t code) {
  platform::SetLastOsError(err);
  return -static_cast<int32_t>(code);
}

int32_t LastOsErrorResult() {
  return -static_cast<int32_t>(EngineCodeOfOsError(platform::LastOsError()));
}

TAbstractFile::TAbstractFile(std::string name, bool in_memory)
    : name_(std::move(name)), in_memory_(in_memory) {}

int32_t TAbstractFile::FindHandle(int32_t handle_id) {
  std::lock_guard guard(lock_);
  for (size_t i = 0; i < handles_.size(); ++i) {
    if (handles_[i].Id == handle_id) return static_cast<int32_t>(i);
  }
  return -1;
}

int32_t TAbstractFile::OpenCount() {
  std::lock_guard guard(lock_);
  return static_cast<int32_t>(handles_.size());
}

int32_t TAbstractFile::AddHandle() {
  if (last_handle_id_ == std::numeric_limits<int32_t>::max() ||
      handles_.size() >= static_cast<size_t>(kMaxOpenHandles)) {
    return FailWithCode(EMFILE, VEVURA_OSEMFILE);
  }
  handles_.push_back(TFileHandle{++last_handle_id_, 0});
  return last_handle_id_;
}

bool TAbstractFile::RemoveHandle(int32_t handle_id) {
  auto it = std::find_if(handles_.begin(), handles_.end(),
                         [&](const TFileHandle& h) { return h.Id == handle_id; });
  if (it == handles_.end()) return false;
  handles_.erase(it);
  return true;
}

TFileHandle* TAbstractFile::HandleOf(int32_t handle_id) {
  for (TFileHandle& handle : handles_) {
    if (handle.Id == handle_id) return &handle;
  }
  return nullptr;
}

int64_t TAbstractFile::SeekTarget(int32_t origin, int64_t offset, int64_t current, int64_t size) {
  int64_t base;
  switch (origin) {
    case soFromBeginning:
      base = 0;
      break;
    case soFromCurrent:
      base = current;
      break;
    case soFromEnd:
      base = size;
      break;
    default:
      return -1;
  }
  int64_t target;
  if (base < 0 || __builtin_add_overflow(base, offset, &target) || target < 0) return -1;
  return target;
}

bool TAbstractFile::AddRegionLock(int64_t offset, int64_t length) {
  int64_t last;
  if (offset < 0 || length <= 0 || __builtin_add_overflow(offset, length - 1, &last)) return false;
  for (const TRegionLock& held : region_locks_) {
    bool first_inside = offset >= held.First && offset <= held.Last;
    bool held_inside = held.First >= offset && held.First <= last;
    if (first_inside || held_inside) return false;
  }
  region_locks_.push_back(TRegionLock{offset, last, length});
  return true;
}

bool TAbstractFile::RemoveRegionLock(int64_t offset, int64_t length) {
  auto it = std::find_if(region_locks_.begin(), region_locks_.end(), [&](const TRegionLock& r) {
    return r.First == offset && r.Length == length;
  });
  if (it == region_locks_.end()) return false;
  region_locks_.erase(it);
  return true;
}

}  // namespace vevura
