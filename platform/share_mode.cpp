#include "platform/share_mode.h"

#include <cerrno>

#include "platform/ofd_lock.h"

namespace vevura::platform {

namespace {

// A lock refused because someone else holds the byte is a sharing violation.
bool TakeShareByte(int fd, OfdLockType type, int64_t offset) {
  if (SetOfdLock(fd, type, offset, 1)) return true;
  if (errno == EAGAIN) errno = EACCES;
  return false;
}

// False (errno EACCES) when another open holds the byte, so that a write lock
// on it would be refused.
bool NobodyElseHolds(int fd, int64_t offset) {
  bool held = false;
  if (!ProbeOfdLock(fd, OfdLockType::Write, offset, 1, &held)) return false;
  if (held) errno = EACCES;
  return !held;
}

bool AcquireExclusiveReadOnly(int fd) {
  return TakeShareByte(fd, OfdLockType::Read, kExclusiveReadMarkerOffset) &&
         TakeShareByte(fd, OfdLockType::Read, kShareLockOffset) &&
         NobodyElseHolds(fd, kShareLockOffset);
}

bool AcquireShared(int fd) {
  return TakeShareByte(fd, OfdLockType::Read, kShareLockOffset) &&
         NobodyElseHolds(fd, kExclusiveReadMarkerOffset);
}

}  // namespace

bool AcquireShareMode(int fd, ShareMode share, bool read_only) {
  if (share == ShareMode::Shared) return AcquireShared(fd);
  if (read_only) return AcquireExclusiveReadOnly(fd);
  return TakeShareByte(fd, OfdLockType::Write, kShareLockOffset);
}

}  // namespace vevura::platform
