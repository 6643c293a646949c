#include "platform/os_error.h"

#include <cerrno>

#include "engine/core/error_codes.h"

namespace vevura::platform {

namespace {
thread_local int last_os_error = 0;
}  // namespace

int LastOsError() {
  return last_os_error;
}

void SetLastOsError(int err) {
  last_os_error = err;
}

uint16_t EngineCodeOfOsError(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return VEVURA_OSENOENT;
    case EMFILE:
    case ENFILE:
      return VEVURA_OSEMFILE;
    case EACCES:
    case EPERM:
    case EROFS:
    case EAGAIN:
      return VEVURA_OSEACCES;
    case EBADF:
      return VEVURA_OSEBADF;
    case ENOMEM:
      return VEVURA_OSENOMEM;
    case ENODEV:
    case ENXIO:
      return VEVURA_OSENODEV;
    case EXDEV:
      return VEVURA_OSENOTSAM;
    default:
      return VEVURA_OSUNKNOWN;
  }
}

}  // namespace vevura::platform
