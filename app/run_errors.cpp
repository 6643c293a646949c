#include "app/run_errors.h"

#include <system_error>

namespace vevura::app {

namespace {

std::string InOutMessage(int os_error, const std::string& path) {
  std::string text = os_error != 0 ? std::system_category().message(os_error) : "I/O error";
  return text + ": " + path;
}

}  // namespace

EInOutError::EInOutError(int os_error, const std::string& path)
    : std::runtime_error(InOutMessage(os_error, path)), ErrorCode(os_error), Path(path) {}

EListError::EListError(int index)
    : std::runtime_error("List index out of bounds (" + std::to_string(index) + ")"),
      Index(index) {}

}  // namespace vevura::app
