#include "platform/posix_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include "platform/ofd_lock.h"
#include "platform/os_error.h"

namespace vevura::platform {

namespace {

// One pread/pwrite call moves at most this much; the kernel caps a transfer
// near 2 GiB anyway.
constexpr int64_t kMaxTransfer = int64_t{1} << 30;

bool Fail(int err) {
  SetLastOsError(err);
  return false;
}

int64_t FailCount(int err) {
  SetLastOsError(err);
  return -1;
}

bool ValidTransfer(int64_t pos, const void* buf, int64_t len) {
  return pos >= 0 && len >= 0 && (buf != nullptr || len == 0) &&
         pos <= std::numeric_limits<int64_t>::max() - len;
}

}  // namespace

bool IsLockableRange(int64_t offset, int64_t length) {
  return offset >= 0 && length > 0 && offset < kShareLockOffset &&
         length <= kShareLockOffset - offset;
}

PosixFile::PosixFile(int fd, bool read_only, std::string delete_path)
    : fd_(fd), read_only_(read_only), delete_path_(std::move(delete_path)) {}

PosixFile::~PosixFile() {
  if (!delete_path_.empty()) DeleteIfStillOurs();
  ::close(fd_);
}

void PosixFile::DeleteIfStillOurs() {
  struct stat ours, named;
  if (::fstat(fd_, &ours) != 0 || ::stat(delete_path_.c_str(), &named) != 0) return;
  if (ours.st_dev == named.st_dev && ours.st_ino == named.st_ino) ::unlink(delete_path_.c_str());
}

int64_t PosixFile::ReadAt(int64_t pos, void* buf, int64_t len) {
  if (!ValidTransfer(pos, buf, len)) return FailCount(EINVAL);
  char* out = static_cast<char*>(buf);
  int64_t done = 0;
  while (done < len) {
    ssize_t n = ::pread(fd_, out + done, std::min(len - done, kMaxTransfer), pos + done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return FailCount(errno);
    if (n == 0) break;  // end of file
    done += n;
  }
  return done;
}

int64_t PosixFile::WriteAt(int64_t pos, const void* buf, int64_t len) {
  if (!ValidTransfer(pos, buf, len)) return FailCount(EINVAL);
  const char* in = static_cast<const char*>(buf);
  int64_t done = 0;
  while (done < len) {
    ssize_t n = ::pwrite(fd_, in + done, std::min(len - done, kMaxTransfer), pos + done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return FailCount(errno);
    if (n == 0) return FailCount(ENOSPC);  // no progress: treat as a full disk
    done += n;
  }
  return done;
}

int64_t PosixFile::Size() {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return FailCount(errno);
  return static_cast<int64_t>(st.st_size);
}

bool PosixFile::Truncate(int64_t size) {
  if (size < 0) return Fail(EINVAL);
  int rc;
  do {
    rc = ::ftruncate(fd_, static_cast<off_t>(size));
  } while (rc != 0 && errno == EINTR);
  return rc == 0 || Fail(errno);
}

bool PosixFile::Sync() {
  // fdatasync also writes the size when it changed, which is all a reader of
  // the data needs after a crash.
  if (::fdatasync(fd_) == 0) return true;
  if (errno == EINVAL && ::fsync(fd_) == 0) return true;
  return Fail(errno);
}

std::unique_ptr<HeadMapping> PosixFile::MapHead(int64_t length) {
  std::unique_ptr<HeadMapping> mapping = HeadMapping::Map(fd_, length);
  if (mapping == nullptr) SetLastOsError(errno);
  return mapping;
}

void OsFile::SetNoMapping() {
  SetLastOsError(ENOTSUP);
}

bool PosixFile::OverlapsHeld(int64_t offset, int64_t length) const {
  return std::any_of(held_.begin(), held_.end(), [&](const Range& r) {
    return offset < r.offset + r.length && r.offset < offset + length;
  });
}

bool PosixFile::LockRange(int64_t offset, int64_t length) {
  if (!IsLockableRange(offset, length)) return Fail(EINVAL);
  if (OverlapsHeld(offset, length)) return Fail(EAGAIN);
  OfdLockType type = read_only_ ? OfdLockType::Read : OfdLockType::Write;
  if (!SetOfdLock(fd_, type, offset, length)) return Fail(errno);
  held_.push_back(Range{offset, length});
  return true;
}

bool PosixFile::UnlockRange(int64_t offset, int64_t length) {
  auto it = std::find_if(held_.begin(), held_.end(),
                         [&](const Range& r) { return r.offset == offset && r.length == length; });
  if (it == held_.end()) return Fail(EINVAL);
  if (!SetOfdLock(fd_, OfdLockType::Unlock, offset, length)) return Fail(errno);
  held_.erase(it);
  return true;
}

}  // namespace vevura::platform
