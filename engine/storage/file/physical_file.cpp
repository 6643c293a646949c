#include "engine/storage/file/physical_file.h"

#include <cerrno>
#include <mutex>

#include "engine/base/error_codes.h"
#include "platform/os_error.h"

namespace vevura {

namespace {

int64_t FailCount(int err) {
  platform::SetLastOsError(err);
  return -1;
}

}  // namespace

TPhysicalFile::TPhysicalFile(std::string name) : TAbstractFile(std::move(name), false) {}

platform::OpenOptions TPhysicalFile::OptionsFor(platform::OpenAccess access) const {
  platform::OpenOptions options;
  options.access = access;
  options.share = Exclusive() ? platform::ShareMode::Exclusive : platform::ShareMode::Shared;
  options.sequential = true;
  options.delete_on_close = Temporary();
  return options;
}

int32_t TPhysicalFile::OpenOsFile() {
  platform::FileAttributes attributes;
  if (!platform::Fs().GetAttributes(Name(), &attributes)) return LastOsErrorResult();
  SetReadOnlyAttribute(attributes.read_only);
  SetReadOnly(attributes.read_only);
  if (!attributes.read_only) {
    os_file_ = platform::Fs().Open(Name(), OptionsFor(platform::OpenAccess::ReadWrite));
  }
  if (os_file_ == nullptr) {
    os_file_ = platform::Fs().Open(Name(), OptionsFor(platform::OpenAccess::ReadOnly));
    if (os_file_ == nullptr) return LastOsErrorResult();
    SetReadOnly(true);
  }
  position_ = 0;
  ForgetHeadMapping();
  return 0;
}

void TPhysicalFile::ForgetHeadMapping() {
  head_.reset();
  head_state_ = THeadMap::kTry;
}

int32_t TPhysicalFile::OpenHandle() {
  std::lock_guard guard(FileLock());
  if (os_file_ == nullptr) {
    int32_t result = OpenOsFile();
    if (result < 0) return result;
  }
  int32_t id = AddHandle();
  if (id < 0 && OpenCount() == 0) os_file_.reset();
  return id;
}

int32_t TPhysicalFile::CreateNew() {
  std::lock_guard guard(FileLock());
  if (OpenCount() > 0) return FailWithCode(EACCES, VEVURA_OSEACCES);
  platform::OpenOptions options;
  options.access = platform::OpenAccess::ReadWrite;
  options.share = platform::ShareMode::Exclusive;
  options.sequential = true;
  options.delete_on_close = false;  // a created temporary file lasts until opened as one
  os_file_ = platform::Fs().Create(Name(), options);
  if (os_file_ == nullptr) return LastOsErrorResult();
  SetReadOnly(false);
  SetReadOnlyAttribute(false);
  position_ = 0;
  ForgetHeadMapping();
  int32_t id = AddHandle();
  if (id < 0) os_file_.reset();
  return id;
}

bool TPhysicalFile::ReleaseHandle(int32_t handle_id) {
  std::lock_guard guard(FileLock());
  if (!RemoveHandle(handle_id)) return false;
  if (OpenCount() == 0) {
    ForgetHeadMapping();
    os_file_.reset();  // closing releases every lock it held
  }
  return true;
}

std::unique_ptr<platform::OsFile> TPhysicalFile::OpenAlone() {
  platform::OpenOptions options;
  options.access = platform::OpenAccess::ReadOnly;
  options.share = platform::ShareMode::Exclusive;
  options.sequential = false;
  return platform::Fs().Open(Name(), options);
}

int32_t TPhysicalFile::Rename(const std::string& new_name) {
  std::lock_guard guard(FileLock());
  if (OpenCount() > 0) return FailWithCode(EACCES, VEVURA_OSEACCES);
  std::unique_ptr<platform::OsFile> alone = OpenAlone();
  if (alone == nullptr) return LastOsErrorResult();
  if (!platform::Fs().Rename(Name(), new_name)) return LastOsErrorResult();
  SetName(new_name);
  return 0;
}

int32_t TPhysicalFile::Delete() {
  std::lock_guard guard(FileLock());
  if (OpenCount() > 0) return FailWithCode(EACCES, VEVURA_OSEACCES);
  std::unique_ptr<platform::OsFile> alone = OpenAlone();
  if (alone == nullptr) return LastOsErrorResult();
  if (!platform::Fs().Remove(Name())) return LastOsErrorResult();
  return 0;
}

bool TPhysicalFile::UsableHandle(int32_t handle_id) {
  if (os_file_ != nullptr && HandleOf(handle_id) != nullptr) return true;
  platform::SetLastOsError(EBADF);
  return false;
}

int64_t TPhysicalFile::GetSize() {
  std::lock_guard guard(FileLock());
  if (os_file_ == nullptr) return FailCount(EBADF);
  return os_file_->Size();
}

int64_t TPhysicalFile::Read(int32_t handle_id, void* buffer, int64_t length) {
  std::lock_guard guard(FileLock());
  if (!UsableHandle(handle_id)) return -1;
  if (position_ < 0 || length < 0 || (buffer == nullptr && length > 0)) return FailCount(EINVAL);
  int64_t count = os_file_->ReadAt(position_, buffer, length);
  if (count > 0) position_ += count;
  return count;
}

int64_t TPhysicalFile::Write(int32_t handle_id, const void* buffer, int64_t length) {
  std::lock_guard guard(FileLock());
  if (!UsableHandle(handle_id)) return -1;
  if (position_ < 0 || length < 0 || (buffer == nullptr && length > 0)) return FailCount(EINVAL);
  if (length == 0) return os_file_->Truncate(position_) ? 0 : -1;
  int64_t count = os_file_->WriteAt(position_, buffer, length);
  if (count > 0) position_ += count;
  if (head_state_ == THeadMap::kWaitGrowth && position_ >= kMappedHeadLength) {
    head_state_ = THeadMap::kTry;
  }
  return count;
}

bool TPhysicalFile::ReadHead(int64_t position, void* buffer, int64_t length) {
  std::lock_guard guard(FileLock());
  if (os_file_ == nullptr || head_state_ == THeadMap::kNone) return false;
  if (head_ == nullptr) {
    if (head_state_ != THeadMap::kTry) return false;
    head_ = os_file_->MapHead(kMappedHeadLength);
    if (head_ == nullptr) {
      head_state_ = platform::LastOsError() == ERANGE ? THeadMap::kWaitGrowth : THeadMap::kNone;
      return false;
    }
  }
  if (head_->Read(position, buffer, length)) return true;
  if (head_->Broken()) {
    // Cut below the page by another program: system calls from now on.
    head_.reset();
    head_state_ = THeadMap::kNone;
  }
  return false;
}

bool TPhysicalFile::Flush(int32_t handle_id) {
  std::lock_guard guard(FileLock());
  return UsableHandle(handle_id) && os_file_->Sync();
}

int64_t TPhysicalFile::Seek(int32_t handle_id, int32_t origin, int64_t offset) {
  std::lock_guard guard(FileLock());
  if (!UsableHandle(handle_id)) return -1;
  int64_t size = 0;
  if (origin == soFromEnd) {
    size = os_file_->Size();
    if (size < 0) {
      position_ = -1;
      return -1;
    }
  }
  position_ = SeekTarget(origin, offset, position_, size);
  if (position_ < 0) return FailCount(EINVAL);
  return position_;
}

bool TPhysicalFile::LockRegion(int64_t offset, int64_t length) {
  std::lock_guard guard(FileLock());
  if (os_file_ == nullptr) {
    platform::SetLastOsError(EBADF);
    return false;
  }
  return os_file_->LockRange(offset, length);
}

bool TPhysicalFile::UnlockRegion(int64_t offset, int64_t length) {
  std::lock_guard guard(FileLock());
  if (os_file_ == nullptr) {
    platform::SetLastOsError(EBADF);
    return false;
  }
  return os_file_->UnlockRange(offset, length);
}

}  // namespace vevura
