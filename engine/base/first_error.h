#pragma once
// Steps that must all run although one may fail, and the text of the failure
// being handled.
//
// Closing a table, committing a transaction over several tables or releasing
// every lock of a table goes on after a failed step, so that one failure does
// not leave the rest undone; the first failure is kept and raised at the end.

#include <exception>
#include <string>

namespace vevura {

//! Runs step and keeps its error in *first unless one is kept already.
template <typename Step>
void Attempt(std::exception_ptr* first, Step step) {
  try {
    step();
  } catch (...) {
    if (*first == nullptr) *first = std::current_exception();
  }
}

//! The message of the exception being handled, "unknown failure" for one that
//! is not a std::exception. REQUIRES: called inside a catch block.
std::string CurrentErrorText();

}  // namespace vevura
