#pragma once
// Share modes for POSIX descriptors, built from open-file-description locks
// on two bytes far above every offset the engine locks.
//
// Every open holds a lock on kShareLockOffset: a write lock for an exclusive
// read-write open, a read lock otherwise. A descriptor opened read-only cannot
// hold a write lock, so an exclusive read-only open instead holds read locks
// on kShareLockOffset and on the marker byte after it, and checks that no
// other open holds kShareLockOffset; shared opens check that nobody holds the
// marker. Each side takes its own lock before it checks for the other, so of
// two racing opens at least one sees the other and fails.

#include "platform/file_system.h"

namespace vevura::platform {

//! The byte an exclusive read-only open marks with a read lock.
inline constexpr int64_t kExclusiveReadMarkerOffset = kShareLockOffset + 1;

//! Takes the share-mode locks of a freshly opened descriptor. False with errno
//! EACCES when another open holds the file in a conflicting mode, or with the
//! failing call's errno; the caller then closes the descriptor, which drops
//! whatever was taken.
bool AcquireShareMode(int fd, ShareMode share, bool read_only);

}  // namespace vevura::platform
