#pragma once
// Shared pieces of the engine core tests: a started engine with a scratch
// directory, small tables written through a table object, records changed
// as a cursor would change them, a file system that counts lock calls, and
// another program (a forked child) that holds locks on command.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/base/engine_error.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "engine/core/data_table.h"
#include "engine/core/engine.h"
#include "engine/storage/fields/field_codec.h"
#include "engine/storage/file/file_list.h"
#include "engine/storage/keys/key_context.h"
#include "platform/file_system.h"
#include "tests/platform/platform_test_support.h"
#include "tests/support/raised.h"

namespace vevura::test {

inline TFieldDescriptor Field(uint16_t number, const std::string& name, uint8_t type,
                              uint8_t subtype = fsNone, uint8_t size = 0) {
  TFieldDescriptor d;
  d.FieldNumber = number;
  d.Name = name;
  d.Type = type;
  d.Subtype = subtype;
  d.Size = size;
  return d;
}

//! Writes a small table into a table object that CreateTableFiles prepared:
//! ID (auto-increment, the primary index), NAME (string 20) and, with_blob,
//! NOTES (memo).
inline void WriteTestTable(TDataTable& table, bool with_blob) {
  std::vector<TFieldDescriptor> fields = {Field(1, "ID", fcInteger, fsAutoInc, 0),
                                          Field(2, "NAME", fcString, fsNone, 20)};
  if (with_blob) fields.push_back(Field(3, "NOTES", fcBlob, fsMemo, 0));
  table.DataFile().CreateHeader(TNewTableHeader{}, fields);
  table.IndexFile().CreateFile();
  TIndexDescriptor primary;
  primary.FieldCount = 1;
  primary.FieldNumbers[0] = 1;
  primary.Unique = 1;
  primary.KeyLength = OrdinaryKeyLength(primary, table.DataFile().Fields(), table.TableName());
  table.IndexFile().DefinePrimaryIndex(primary, table.DataFile().Fields());
  if (with_blob) {
    table.BlobFile().SetBlockSize(table.DataFile().GetBlobBlockSize());
    table.BlobFile().CreateFile();
  }
}

//! Creates a table through the directory and closes it (which writes it).
inline void CreateTestTable(TDataDirectory& directory, const std::string& name,
                            bool with_blob = false, bool in_memory = false) {
  TDataTable* table = nullptr;
  int32_t result = directory.CreateTableObject(
      name, in_memory, false, [&](TDataTable& t) { WriteTestTable(t, with_blob); }, &table);
  ASSERT_EQ(result, 0);
  ASSERT_EQ(directory.CloseTableObject(table, false), 0);
}

//! Appends a record with the next row id and NAME := name, as an insert
//! leaves it in the buffers; returns its record number.
inline int32_t AppendRecord(TDataTable& table, const std::string& name) {
  TRecordStorage& records = table.DataFile().Records();
  int32_t number = table.DataFile().Header().NextRecordNumber;
  TRecordRef record(records, records.GetRecord(nullptr, number, rdForward, false, false));
  record->SetAutoIncValue(table.DataFile().NextAutoIncValue());
  SetStringField(record->MutableData(), table.DataFile().GetFieldDescriptor(2), name, 0);
  return number;
}

//! NAME of record number as the table's buffers (or the disk) hold it.
inline std::string NameOf(TDataTable& table, int32_t number) {
  TRecordStorage& records = table.DataFile().Records();
  TRecordRef record(records, records.GetRecord(nullptr, number, rdForward, false, false));
  return GetStringField(record->Data(), table.DataFile().GetFieldDescriptor(2));
}

//! Sets NAME of record number in the buffers.
inline void Rename(TDataTable& table, int32_t number, const std::string& name) {
  TRecordStorage& records = table.DataFile().Records();
  TRecordRef record(records, records.GetRecord(nullptr, number, rdForward, false, false));
  SetStringField(record->MutableData(), table.DataFile().GetFieldDescriptor(2), name, 0);
}

//! A whole change as a cursor makes it: write lock, change, written (or
//! marked), unlock.
inline void ChangeUnderWriteLock(TDataTable& table, const std::function<void()>& change) {
  table.WriteLock();
  change();
  table.ChangesMade(true, true, false);
  table.WriteUnlock();
}

//! Counts the byte-range lock calls made through it, per offset, with how
//! many were refused. Safe to read from another thread.
class LockCountingFileSystem final : public platform::FileSystem {
 public:
  struct Counts {
    int64_t calls = 0;    //!< lock requests
    int64_t refused = 0;  //!< lock requests refused
    int64_t unlocks = 0;  //!< unlock requests
  };

  std::unique_ptr<platform::OsFile> Open(const std::string& path,
                                         const platform::OpenOptions& options) override {
    return Wrap(platform::PosixFileSystem().Open(path, options));
  }
  std::unique_ptr<platform::OsFile> Create(const std::string& path,
                                           const platform::OpenOptions& options) override {
    return Wrap(platform::PosixFileSystem().Create(path, options));
  }
  bool Remove(const std::string& path) override { return platform::PosixFileSystem().Remove(path); }
  bool Rename(const std::string& from, const std::string& to) override {
    return platform::PosixFileSystem().Rename(from, to);
  }
  bool GetAttributes(const std::string& path, platform::FileAttributes* attributes) override {
    return platform::PosixFileSystem().GetAttributes(path, attributes);
  }

  //! Counts of lock calls at offset (every file together).
  Counts At(int64_t offset) const {
    std::lock_guard guard(lock_);
    auto it = counts_.find(offset);
    return it == counts_.end() ? Counts{} : it->second;
  }
  //! Lock requests refused at offsets first to last.
  int64_t RefusedIn(int64_t first, int64_t last) const {
    std::lock_guard guard(lock_);
    int64_t total = 0;
    for (auto it = counts_.lower_bound(first); it != counts_.end() && it->first <= last; ++it) {
      total += it->second.refused;
    }
    return total;
  }
  //! Lock and unlock calls of every offset.
  int64_t TotalCalls() const {
    std::lock_guard guard(lock_);
    int64_t total = 0;
    for (const auto& [offset, counts] : counts_) total += counts.calls + counts.unlocks;
    return total;
  }
  //! Writes made through it.
  int64_t Writes() const {
    std::lock_guard guard(lock_);
    return writes_;
  }
  void Reset() {
    std::lock_guard guard(lock_);
    counts_.clear();
    writes_ = 0;
  }

 private:
  class CountingFile final : public platform::OsFile {
   public:
    CountingFile(std::unique_ptr<platform::OsFile> base, LockCountingFileSystem& fs)
        : base_(std::move(base)), fs_(fs) {}
    int64_t ReadAt(int64_t pos, void* buf, int64_t len) override {
      return base_->ReadAt(pos, buf, len);
    }
    int64_t WriteAt(int64_t pos, const void* buf, int64_t len) override {
      fs_.NoteWrite();
      return base_->WriteAt(pos, buf, len);
    }
    int64_t Size() override { return base_->Size(); }
    bool Truncate(int64_t size) override { return base_->Truncate(size); }
    bool Sync() override { return base_->Sync(); }
    bool LockRange(int64_t offset, int64_t length) override {
      bool granted = base_->LockRange(offset, length);
      fs_.Note(offset, granted ? 0 : 1, 0);
      return granted;
    }
    bool UnlockRange(int64_t offset, int64_t length) override {
      fs_.Note(offset, 0, 1);
      return base_->UnlockRange(offset, length);
    }
    bool IsReadOnly() const override { return base_->IsReadOnly(); }

   private:
    std::unique_ptr<platform::OsFile> base_;
    LockCountingFileSystem& fs_;
  };

  std::unique_ptr<platform::OsFile> Wrap(std::unique_ptr<platform::OsFile> file) {
    if (file == nullptr) return nullptr;
    return std::make_unique<CountingFile>(std::move(file), *this);
  }
  void NoteWrite() {
    std::lock_guard guard(lock_);
    ++writes_;
  }
  void Note(int64_t offset, int refused, int unlocks) {
    std::lock_guard guard(lock_);
    Counts& counts = counts_[offset];
    if (unlocks == 0) ++counts.calls;
    counts.refused += refused;
    counts.unlocks += unlocks;
  }

  mutable std::mutex lock_;
  std::map<int64_t, Counts> counts_;
  int64_t writes_ = 0;
};

//! Polls until ready() holds, at most about ten seconds; false when it never did.
inline bool WaitFor(const std::function<bool()>& ready) {
  for (int i = 0; i < 10000; ++i) {
    if (ready()) return true;
    ::usleep(1000);
  }
  return ready();
}

//! A started engine, the lock-counting file system, a scratch directory and
//! a data directory on it in the default session.
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetFileSystem(&fs_);
    StartEngine();
    session_ = &DefaultEngineSession();
    directory_ = session_->OpenDataDirectory("", dir_.path());
  }
  void TearDown() override {
    StopEngine();
    platform::SetFileSystem(nullptr);
  }

  //! Opens the table for one more cursor; fails the test on a refusal.
  TDataTable* Open(const std::string& name, bool exclusive = false) {
    TDataTable* table = nullptr;
    TTableOpenRequest request;
    request.Exclusive = exclusive;
    EXPECT_EQ(directory_->OpenTableObject(name, request, &table), 0);
    return table;
  }
  void Close(TDataTable* table) { EXPECT_EQ(directory_->CloseTableObject(table, false), 0); }

  std::string PathOf(const std::string& name) const { return dir_ / name; }

  LockCountingFileSystem fs_;
  platform::testing::ScratchDir dir_;
  TDataSession* session_ = nullptr;
  TDataDirectory* directory_ = nullptr;
};

//! The session settings of a peer program: record locks try once; bounded
//! attempts give up after a few tries instead of 98 seconds.
struct PeerSettings {
  uint8_t LockRetryCount = 0;
  uint16_t LockWaitTime = 1;
  TBoundedLockTiming TableLockTiming{20, 1};
};

//! Another program sharing a table: a forked child with its own file list
//! and session that opens the table in dir and runs commands sent to it.
//! Each command answers with one 32-bit result (negative: the engine error
//! code it raised, negated). The child ends with the object.
class PeerProgram {
 public:
  enum Command : char {
    kReadLock = 'R',
    kReadUnlock = 'r',
    kWriteLock = 'W',
    kWriteUnlock = 'w',
    kLockRecord = 'L',    //!< argument: record number
    kUnlockRecord = 'l',  //!< argument: record number
    kRenameRecord = 'N',  //!< argument: record number; NAME := "peer"
    kAppendRecord = 'A',  //!< result: the new record number
    kLockTableRegion = 'T',
    kReadSlot = 'S',  //!< result: the index read slot held
  };

  PeerProgram(const std::string& dir, const std::string& table,
              PeerSettings settings = PeerSettings{}) {
    int to_child[2], to_parent[2];
    if (::pipe(to_child) != 0 || ::pipe(to_parent) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(to_child[1]);
      ::close(to_parent[0]);
      int code = Serve(to_child[0], to_parent[1], dir, table, settings);
      ::_exit(code);
    }
    ::close(to_child[0]);
    ::close(to_parent[1]);
    send_ = to_child[1];
    receive_ = to_parent[0];
    ready_ = pid_ > 0 && Receive() == 0;
  }
  ~PeerProgram() {
    if (send_ >= 0) ::close(send_);
    if (receive_ >= 0) ::close(receive_);
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
  }
  PeerProgram(const PeerProgram&) = delete;
  PeerProgram& operator=(const PeerProgram&) = delete;

  //! True when the child opened the table.
  bool ready() const { return ready_; }
  //! Runs a command in the child and returns its result.
  int32_t Do(Command command, int32_t argument = 0) {
    char message[5] = {command};
    std::memcpy(message + 1, &argument, 4);
    if (::write(send_, message, 5) != 5) return -1;
    return Receive();
  }

 private:
  int32_t Receive() {
    int32_t result = -1;
    return ::read(receive_, &result, 4) == 4 ? result : -1;
  }

  static int Serve(int in, int out, const std::string& dir, const std::string& name,
                   const PeerSettings& settings) {
    // The parent's open files are its own: this program starts afresh.
    platform::SetFileSystem(nullptr);
    DestroyFileList();
    CreateFileList();
    TDataSession session;
    session.SetLockRetryCount(settings.LockRetryCount);
    session.SetLockWaitTime(settings.LockWaitTime);
    session.SetTableLockTiming(settings.TableLockTiming);
    TDataDirectory* directory = session.OpenDataDirectory("", dir);
    TDataTable* table = nullptr;
    int32_t result = 0;
    try {
      result = directory->OpenTableObject(name, TTableOpenRequest{}, &table);
    } catch (const EVEVURAEngineError& e) {
      result = -e.ErrorCode;
    }
    if (::write(out, &result, 4) != 4 || result != 0) return 1;
    char message[5];
    while (::read(in, message, 5) == 5) {
      int32_t argument = 0;
      std::memcpy(&argument, message + 1, 4);
      result = 0;
      try {
        result = Run(*table, message[0], argument);
      } catch (const EVEVURAEngineError& e) {
        result = -e.ErrorCode;
      }
      if (::write(out, &result, 4) != 4) break;
    }
    return 0;
  }

  static int32_t Run(TDataTable& table, char command, int32_t argument) {
    switch (command) {
      case kReadLock:
        return table.ReadLock() ? 1 : 0;
      case kReadUnlock:
        table.ReadUnlock();
        return 0;
      case kWriteLock:
        return table.WriteLock() ? 1 : 0;
      case kWriteUnlock:
        table.WriteUnlock();
        return 0;
      case kLockRecord:
        return table.LockRecord(argument) ? 1 : 0;
      case kUnlockRecord:
        table.UnlockRecord(argument);
        return 0;
      case kRenameRecord:
        ChangeUnderWriteLock(table, [&] { Rename(table, argument, "peer"); });
        return 0;
      case kAppendRecord: {
        int32_t number = 0;
        ChangeUnderWriteLock(table, [&] { number = AppendRecord(table, "appended"); });
        return number;
      }
      case kLockTableRegion:
        return table.DataFile().LockRegion(true, kTableLockRegionOffset, kTableLockRegionLength)
                   ? 1
                   : 0;
      case kReadSlot:
        return table.IndexReadSlot();
      default:
        return -1;
    }
  }

  pid_t pid_ = -1;
  int send_ = -1;
  int receive_ = -1;
  bool ready_ = false;
};

}  // namespace vevura::test
