#include "platform/system.h"

#include <pthread.h>
#include <sched.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>

namespace vevura::platform {

namespace {

// The process's generator, seeded at its first use in each process: a fork
// handler makes a child seed afresh, so that it does not repeat its parent's
// numbers (asking the process id at every draw costs a system call).
struct RandomSource {
  std::mutex lock;
  std::mt19937_64 engine;
  bool seeded = false;

  void SeedIfNeeded() {
    if (seeded) return;
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    std::seed_seq seed{static_cast<uint64_t>(ts.tv_sec), static_cast<uint64_t>(ts.tv_nsec),
                       static_cast<uint64_t>(::getpid())};
    engine.seed(seed);
    seeded = true;
  }
};

RandomSource& Source() {
  static RandomSource source;
  static const bool fork_handler = [] {
    return ::pthread_atfork(nullptr, nullptr, [] { Source().seeded = false; }) == 0;
  }();
  (void)fork_handler;
  return source;
}

}  // namespace

void SleepMs(uint32_t ms) {
  if (ms == 0) {
    sched_yield();
    return;
  }
  struct timespec left;
  left.tv_sec = ms / 1000;
  left.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

uint64_t TickCountMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000;
}

uint32_t CurrentThreadId() {
  return static_cast<uint32_t>(::gettid());
}

uint32_t CurrentProcessId() {
  return static_cast<uint32_t>(::getpid());
}

uint32_t Random(uint32_t bound) {
  if (bound == 0) return 0;
  RandomSource& source = Source();
  std::lock_guard<std::mutex> hold(source.lock);
  source.SeedIfNeeded();
  return std::uniform_int_distribution<uint32_t>(0, bound - 1)(source.engine);
}

bool StandardErrorIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

bool StandardInputIsTerminal() {
  return ::isatty(STDIN_FILENO) == 1;
}

bool ReadHiddenLine(const std::string& prompt, std::string* line) {
  if (!StandardInputIsTerminal()) return false;
  struct termios saved;
  if (::tcgetattr(STDIN_FILENO, &saved) != 0) return false;
  struct termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ECHONL;
  if (::write(STDERR_FILENO, prompt.data(), prompt.size()) < 0) return false;
  if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) != 0) return false;
  std::string text;
  bool ended = false;
  char ch = 0;
  while (::read(STDIN_FILENO, &ch, 1) == 1) {
    if (ch == '\n') {
      ended = true;
      break;
    }
    text += ch;
  }
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  if (!ended) return false;
  if (!text.empty() && text.back() == '\r') text.pop_back();
  *line = std::move(text);
  return true;
}

std::string EnvironmentVariable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace vevura::platform
