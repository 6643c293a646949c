#pragma once
// TScopeExit: runs a function when the scope it was made in ends, however it
// ends, for putting state back after an operation (the function must not
// throw).

#include <utility>

namespace vevura {

template <typename F>
class TScopeExit {
 public:
  explicit TScopeExit(F f) : f_(std::move(f)) {}
  ~TScopeExit() { f_(); }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;

 private:
  F f_;
};

}  // namespace vevura
