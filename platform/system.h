#pragma once
// Threads, time and randomness: the small services of the operating system
// that the engine uses besides files.

#include <cstdint>
#include <mutex>
#include <string>

namespace vevura::platform {

//! A re-entrant lock: the owning thread may enter it again.
using CriticalSection = std::recursive_mutex;

//! Suspends the calling thread for ms milliseconds (0 yields).
void SleepMs(uint32_t ms);
//! Milliseconds from a steady clock, for measuring waits.
uint64_t TickCountMs();
uint32_t CurrentThreadId();
uint32_t CurrentProcessId();
//! True when standard error goes to a terminal (progress displays).
bool StandardErrorIsTerminal();
//! True when standard input comes from a terminal (password prompts).
bool StandardInputIsTerminal();
//! Writes prompt to standard error and reads one line from the terminal on
//! standard input with echo off (restored afterwards, also on failure); the
//! line without its end. False when standard input is no terminal or ends
//! before a line.
bool ReadHiddenLine(const std::string& prompt, std::string* line);
//! The value of an environment variable; "" when it is not set.
std::string EnvironmentVariable(const char* name);
//! A pseudo-random number in [0, bound) from a generator seeded from the
//! clock and the process id once per process; bound must be positive.
uint32_t Random(uint32_t bound);

}  // namespace vevura::platform
