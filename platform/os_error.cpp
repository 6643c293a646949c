#include "platform/os_error.h"

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

}  // namespace vevura::platform
