#pragma once
// Shared pieces of the file layer tests: a fixture with a scratch directory
// and a fresh process-wide file list, the engine error a call raises, and
// child processes that use the file layer on their own.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/core/engine_error.h"
#include "engine/storage/file_handler.h"
#include "engine/storage/file_list.h"
#include "platform/platform_test_support.h"

namespace vevura::test {

//! The engine error fn raises, or nothing when it returns normally.
inline std::optional<EVEVURAEngineError> RaisedBy(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const EVEVURAEngineError& e) {
    return e;
  }
  return std::nullopt;
}

//! The code of the engine error fn raises; 0 when it returns normally.
inline uint16_t CodeRaisedBy(const std::function<void()>& fn) {
  std::optional<EVEVURAEngineError> error = RaisedBy(fn);
  return error ? error->ErrorCode : 0;
}

//! A handler on name with the given flags, not yet open.
inline std::unique_ptr<TFileHandler> Handler(const std::string& name, bool in_memory = false,
                                             bool exclusive = false) {
  auto handler = std::make_unique<TFileHandler>();
  handler->SetFileName(name);
  handler->SetInMemory(in_memory);
  handler->SetExclusive(exclusive);
  return handler;
}

inline std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

//! Creates the file (of either kind) holding contents and closes it.
inline void MakeFile(const std::string& name, const std::vector<uint8_t>& contents,
                     bool in_memory = false) {
  auto handler = Handler(name, in_memory);
  handler->CreateFile();
  handler->Write(contents.data(), static_cast<int64_t>(contents.size()));
  handler->Close();
}

//! The whole contents of an open handler's file.
inline std::vector<uint8_t> ContentsOf(TFileHandler& handler) {
  std::vector<uint8_t> contents(static_cast<size_t>(handler.GetSize()));
  handler.ReadAt(0, contents.data(), static_cast<int64_t>(contents.size()));
  return contents;
}

//! The whole contents of a closed file (of either kind).
inline std::vector<uint8_t> ContentsOf(const std::string& name, bool in_memory = false) {
  auto handler = Handler(name, in_memory);
  handler->Open();
  return ContentsOf(*handler);
}

//! A scratch directory and a process-wide file list made for each test.
class FileLayerTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateFileList(); }
  void TearDown() override { DestroyFileList(); }

  //! A path in the scratch directory.
  std::string PathOf(const std::string& name) const { return dir_ / name; }

  platform::testing::ScratchDir dir_;
};

//! In a forked child: forgets the parent's file objects (the descriptors it
//! inherited share the parent's locks) and starts with a list of its own.
inline void StartOwnFileList() {
  DestroyFileList();
  CreateFileList();
}

//! Runs body in a child process with its own file list; its exit code.
inline int RunInChildProcess(const std::function<int()>& body) {
  return platform::testing::RunInChild([&] {
    StartOwnFileList();
    return body();
  });
}

//! A child process that runs setup with its own file list and keeps whatever
//! it opened (handlers kept alive by setup's captures) until destroyed.
class FileHoldingChild {
 public:
  explicit FileHoldingChild(const std::function<bool()>& setup) {
    int ready[2], release[2];
    if (::pipe(ready) != 0 || ::pipe(release) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      ::close(release[1]);
      StartOwnFileList();
      char ok = 0;
      try {
        ok = setup() ? 1 : 0;
      } catch (...) {
      }
      (void)!::write(ready[1], &ok, 1);
      char go;
      (void)!::read(release[0], &go, 1);  // returns when the parent closes its end
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    release_ = release[1];
    char ok = 0;
    held_ = pid_ > 0 && ::read(ready[0], &ok, 1) == 1 && ok == 1;
    ::close(ready[0]);
  }
  ~FileHoldingChild() { Release(); }

  //! True when setup succeeded in the child.
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

}  // namespace vevura::test
