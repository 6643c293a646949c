#pragma once
// Helpers shared by the platform tests: a scratch directory per test and
// child processes that hold files while the test process probes them.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/file_system.h"

namespace vevura::platform::testing {

//! A fresh directory under the system's temporary directory, removed with
//! everything in it when the object goes.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/vevura-XXXXXX";
    path_ = ::mkdtemp(pattern.data()) != nullptr ? pattern + "/" : "";
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  //! The directory, ending with "/".
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

//! Runs body in a forked child and returns its exit code (-1 when it did not
//! exit normally). The child never returns into the test framework.
inline int RunInChild(const std::function<int()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    int code = 100;
    try {
      code = body();
    } catch (...) {
    }
    ::_exit(code);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

//! A child process that runs setup and then holds whatever setup left open
//! (files, locks, objects kept alive by setup's captures) until the object is
//! destroyed or released.
class HoldingProcess {
 public:
  explicit HoldingProcess(const std::function<bool()>& setup) {
    int ready[2], release[2];
    if (::pipe(ready) != 0 || ::pipe(release) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      ::close(release[1]);
      char ok = 0;
      try {
        ok = setup() ? 1 : 0;
      } catch (...) {
      }
      (void)!::write(ready[1], &ok, 1);
      char go;
      (void)!::read(release[0], &go, 1);  // returns at the parent's write or close
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    release_ = release[1];
    char ok = 0;
    held_ = pid_ > 0 && ::read(ready[0], &ok, 1) == 1 && ok == 1;
    ::close(ready[0]);
  }
  ~HoldingProcess() { Release(); }
  HoldingProcess(const HoldingProcess&) = delete;
  HoldingProcess& operator=(const HoldingProcess&) = delete;

  //! True when setup succeeded in the child and the child holds it now.
  bool held() const { return held_; }

  //! Lets the child exit (closing what it holds) and waits for it.
  void Release() {
    if (release_ >= 0) ::close(release_);
    release_ = -1;
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool held_ = false;
};

//! A child process that opens a file with setup and keeps it open (with
//! whatever locks setup placed) until the object is destroyed.
class HoldingChild : public HoldingProcess {
 public:
  explicit HoldingChild(const std::function<std::unique_ptr<OsFile>()>& setup)
      : HoldingProcess([&setup] {
          static std::unique_ptr<OsFile> file;  // the child's; it lives until _exit
          file = setup();
          return file != nullptr;
        }) {}
};

}  // namespace vevura::platform::testing
