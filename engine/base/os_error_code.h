#pragma once
// The engine's name for an operating-system failure.
//
// The platform layer reports failures as errno values (platform/os_error.h);
// the file layer turns them into the engine's OS error codes with this one
// mapping, so every layer above names a missing file or a sharing violation
// the same way.

#include <cstdint>

namespace vevura {

//! The engine error code for an errno value: ENOENT and ENOTDIR give
//! VEVURA_OSENOENT, EMFILE and ENFILE VEVURA_OSEMFILE, EACCES, EPERM, EROFS and
//! EAGAIN VEVURA_OSEACCES, EBADF VEVURA_OSEBADF, ENOMEM VEVURA_OSENOMEM, ENODEV
//! and ENXIO VEVURA_OSENODEV, EXDEV VEVURA_OSENOTSAM, anything else
//! VEVURA_OSUNKNOWN.
uint16_t EngineCodeOfOsError(int err);

}  // namespace vevura
