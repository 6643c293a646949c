#pragma once
// Open-file-description locks: byte-range locks owned by one open() of a
// file rather than by the process, so that two descriptors of one process
// conflict just as two processes do, and closing an unrelated descriptor of
// the same file releases nothing. They never wait.

#include <cstdint>

namespace vevura::platform {

enum class OfdLockType { Read, Write, Unlock };

//! Places or removes a lock on [offset, offset + length); length must be
//! positive. False when refused, with errno EAGAIN for a conflicting holder.
bool SetOfdLock(int fd, OfdLockType type, int64_t offset, int64_t length);

//! Asks whether a lock of type on the range would conflict with a lock held
//! through another open file description; *held receives the answer. False
//! when the question itself fails (errno set).
bool ProbeOfdLock(int fd, OfdLockType type, int64_t offset, int64_t length, bool* held);

}  // namespace vevura::platform
