#include "engine/base/os_error_code.h"

#include <cerrno>

#include "engine/base/error_codes.h"

namespace vevura {

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

}  // namespace vevura
