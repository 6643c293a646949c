#pragma once
// The operating system's last error, kept per thread the way the engine's
// error records expect it, and its translation into engine error codes.
//
// Every platform call that fails leaves the errno value it failed with in
// LastOsError(); a successful call leaves it as it was. The engine reads it
// when it raises an error, so that EVEVURAEngineError::OSErrorCode names the
// operating system's reason.

#include <cstdint>

namespace vevura::platform {

//! errno of the last failed platform call on this thread (0 when none yet).
int LastOsError();
//! Records err as the last failure of this thread.
void SetLastOsError(int err);

//! The engine error code for an errno value: ENOENT and ENOTDIR give
//! VEVURA_OSENOENT, EMFILE and ENFILE VEVURA_OSEMFILE, EACCES, EPERM, EROFS and
//! EAGAIN VEVURA_OSEACCES, EBADF VEVURA_OSEBADF, ENOMEM VEVURA_OSENOMEM, ENODEV
//! and ENXIO VEVURA_OSENODEV, EXDEV VEVURA_OSENOTSAM, anything else
//! VEVURA_OSUNKNOWN.
uint16_t EngineCodeOfOsError(int err);

}  // namespace vevura::platform
