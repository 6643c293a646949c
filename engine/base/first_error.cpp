#include "engine/base/first_error.h"

#include <stdexcept>

namespace vevura {

std::string CurrentErrorText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown failure";
  }
}

}  // namespace vevura
