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

#include "engine/base/engine_error.h"
#include "engine/storage/file/file_handler.h"
#include "engine/storage/file/file_list.h"
#include "tests/platform/platform_test_support.h"
#include "tests/support/raised.h"

namespace vevura::test {

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
class FileHoldingChild : public platform::testing::HoldingProcess {
 public:
  explicit FileHoldingChild(const std::function<bool()>& setup)
      : HoldingProcess([&setup] {
          StartOwnFileList();
          return setup();
        }) {}
};

}  // namespace vevura::test
