#include "platform/ofd_lock.h"

#include <fcntl.h>

#include <cerrno>

namespace vevura::platform {

namespace {

short FcntlType(OfdLockType type) {
  switch (type) {
    case OfdLockType::Read:
      return F_RDLCK;
    case OfdLockType::Write:
      return F_WRLCK;
    case OfdLockType::Unlock:
      break;
  }
  return F_UNLCK;
}

struct flock Describe(OfdLockType type, int64_t offset, int64_t length) {
  struct flock fl {};
  fl.l_type = FcntlType(type);
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  fl.l_pid = 0;  // required to be 0 for open-file-description locks
  return fl;
}

}  // namespace

bool SetOfdLock(int fd, OfdLockType type, int64_t offset, int64_t length) {
  if (offset < 0 || length <= 0) {
    errno = EINVAL;
    return false;
  }
  struct flock fl = Describe(type, offset, length);
  int rc;
  do {
    rc = ::fcntl(fd, F_OFD_SETLK, &fl);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0 && errno == EACCES) errno = EAGAIN;  // both mean "held by another"
  return rc == 0;
}

bool ProbeOfdLock(int fd, OfdLockType type, int64_t offset, int64_t length, bool* held) {
  if (offset < 0 || length <= 0 || type == OfdLockType::Unlock) {
    errno = EINVAL;
    return false;
  }
  struct flock fl = Describe(type, offset, length);
  if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  *held = fl.l_type != F_UNLCK;
  return true;
}

}  // namespace vevura::platform
