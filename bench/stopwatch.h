#pragma once
// Timing for the benchmark programs: wall clock, and the processor time of
// the process (user and system), which a busy machine disturbs less.

#include <chrono>
#include <ctime>

namespace vevura::bench {

struct TTiming {
  double Wall = -1;  //!< seconds; -1: not measured
  double Cpu = -1;   //!< seconds
};

//! Adds up the time between each Start and the following Stop.
class TStopwatch {
 public:
  using Clock = std::chrono::steady_clock;
  void Start() {
    wall_started_ = Clock::now();
    cpu_started_ = std::clock();
  }
  void Stop() {
    wall_ += Clock::now() - wall_started_;
    cpu_ += std::clock() - cpu_started_;
  }
  TTiming Timing() const {
    return {std::chrono::duration<double>(wall_).count(),
            static_cast<double>(cpu_) / CLOCKS_PER_SEC};
  }

 private:
  Clock::time_point wall_started_;
  Clock::duration wall_{};
  std::clock_t cpu_started_ = 0;
  std::clock_t cpu_ = 0;
};

}  // namespace vevura::bench
