#pragma once
// What a piece of code raises, for tests that expect an engine error.
//
// RaisedBy answers the error itself, so that a test can look at its context
// strings; a test that must have one writes ASSERT_TRUE(error) first, or
// takes RaisedBy(fn).value(), which fails the test when nothing was raised.
// Any other exception passes through and fails the test where it happens.

#include <cstdint>
#include <functional>
#include <optional>

#include "engine/base/engine_error.h"

namespace vevura::test {

//! The engine error fn raises; nothing when it returns normally.
inline std::optional<EVEVURAEngineError> RaisedBy(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const EVEVURAEngineError& error) {
    return error;
  }
  return std::nullopt;
}

//! The code of the engine error fn raises; 0 when it returns normally.
inline uint16_t CodeRaisedBy(const std::function<void()>& fn) {
  std::optional<EVEVURAEngineError> error = RaisedBy(fn);
  return error ? error->ErrorCode : 0;
}

}  // namespace vevura::test
