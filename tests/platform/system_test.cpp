#include "platform/system.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "tests/platform/platform_test_support.h"

namespace vevura::platform {
namespace {

TEST(System, RandomStaysBelowItsBoundAndReachesEveryValue) {
  std::set<uint32_t> seen;
  for (int i = 0; i < 2000; ++i) {
    uint32_t r = Random(7);
    ASSERT_LT(r, 7u);
    seen.insert(r);
  }
  EXPECT_EQ(seen.size(), 7u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(Random(1), 0u);
}

TEST(System, AForkedChildDrawsOtherNumbersThanItsParent) {
  // The child sends its draws through a pipe; the parent then draws as many.
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  int code = testing::RunInChild([&] {
    uint32_t draws[4];
    for (uint32_t& d : draws) d = Random(0x7fffffff);
    return ::write(pipe_fds[1], draws, sizeof draws) == sizeof draws ? 0 : 1;
  });
  ASSERT_EQ(code, 0);
  uint32_t child[4], parent[4];
  ASSERT_EQ(::read(pipe_fds[0], child, sizeof child), static_cast<ssize_t>(sizeof child));
  for (uint32_t& d : parent) d = Random(0x7fffffff);
  ::close(pipe_fds[0]);
  ::close(pipe_fds[1]);
  EXPECT_FALSE(std::equal(child, child + 4, parent));
}

TEST(System, NoPasswordPromptWithoutATerminal) {
  // Standard input from a pipe that holds a line: no terminal, so no prompt
  // and nothing read.
  int code = testing::RunInChild([] {
    int fds[2];
    if (::pipe(fds) != 0 || ::write(fds[1], "secret\n", 7) != 7) return 1;
    ::dup2(fds[0], STDIN_FILENO);
    std::string line = "unchanged";
    if (StandardInputIsTerminal() || ReadHiddenLine("Password: ", &line)) return 2;
    return line == "unchanged" ? 0 : 3;
  });
  EXPECT_EQ(code, 0);
}

TEST(System, IdentifiesThreadsAndTheProcess) {
  EXPECT_EQ(CurrentProcessId(), static_cast<uint32_t>(::getpid()));
  EXPECT_EQ(CurrentThreadId(), static_cast<uint32_t>(::getpid()));  // the main thread
  uint32_t other = 0;
  std::thread([&] { other = CurrentThreadId(); }).join();
  EXPECT_NE(other, CurrentThreadId());
  EXPECT_NE(other, 0u);
}

TEST(System, SleepingLetsTheSteadyClockAdvance) {
  uint64_t before = TickCountMs();
  SleepMs(0);
  SleepMs(5);
  EXPECT_GE(TickCountMs(), before + 5);
}

TEST(System, CriticalSectionIsReentrant) {
  CriticalSection section;
  std::lock_guard<CriticalSection> outer(section);
  EXPECT_TRUE(section.try_lock());  // the owner may enter again
  section.unlock();
}

}  // namespace
}  // namespace vevura::platform
