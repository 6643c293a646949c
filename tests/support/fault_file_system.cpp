#include "tests/support/fault_file_system.h"

#include <cerrno>
#include <map>
#include <mutex>
#include <utility>

#include "platform/os_error.h"
#include "tests/support/unsynced_changes.h"

namespace vevura::platform {

//! What the wrapper and its files share: the failure plan, the counts and the
//! held changes of every file, all under one mutex.
struct FaultState {
  struct Plan {
    int64_t count = 0;  //!< operations since the plan was set
    int64_t nth = 0;    //!< 0: no failure planned
    bool sticky = false;
  };
  using FileKey = std::pair<uint64_t, uint64_t>;  //!< device and inode

  mutable std::mutex lock;
  Plan plans[3];
  bool keep_unsynced = false;
  std::map<FileKey, std::shared_ptr<UnsyncedChanges>> files;

  //! Counts an operation and says whether it must fail. REQUIRES: lock held.
  bool CountAndCheck(FaultFileSystem::Operation op) {
    Plan& plan = plans[static_cast<int>(op)];
    ++plan.count;
    if (plan.nth == 0) return false;
    return plan.count == plan.nth || (plan.sticky && plan.count > plan.nth);
  }

  //! The held changes of a file, made on first use. REQUIRES: lock held.
  std::shared_ptr<UnsyncedChanges> ChangesOf(FileKey key) {
    std::shared_ptr<UnsyncedChanges>& changes = files[key];
    if (!changes) changes = std::make_shared<UnsyncedChanges>();
    return changes;
  }
};

namespace {

using Operation = FaultFileSystem::Operation;

bool FailWithEio() {
  SetLastOsError(EIO);
  errno = EIO;
  return false;
}

int64_t FailCountWithEio() {
  FailWithEio();
  return -1;
}

class FaultFile final : public OsFile {
 public:
  FaultFile(std::unique_ptr<OsFile> base, std::shared_ptr<FaultState> state,
            std::shared_ptr<UnsyncedChanges> changes, FaultState::FileKey key, bool delete_on_close)
      : base_(std::move(base)),
        state_(std::move(state)),
        changes_(std::move(changes)),
        key_(key),
        delete_on_close_(delete_on_close) {}

  // A delete-on-close file vanishes with its last handle, and its held
  // changes with it.
  ~FaultFile() override {
    std::lock_guard<std::mutex> hold(state_->lock);
    base_.reset();
    if (delete_on_close_) {
      changes_->Clear();
      state_->files.erase(key_);
    }
  }

  int64_t ReadAt(int64_t pos, void* buf, int64_t len) override {
    std::lock_guard<std::mutex> hold(state_->lock);
    if (state_->CountAndCheck(Operation::Read)) return FailCountWithEio();
    if (changes_->Held()) return changes_->Read(*base_, pos, buf, len);
    return base_->ReadAt(pos, buf, len);
  }

  int64_t WriteAt(int64_t pos, const void* buf, int64_t len) override {
    std::lock_guard<std::mutex> hold(state_->lock);
    if (state_->CountAndCheck(Operation::Write)) return FailCountWithEio();
    if (!HoldChanges()) return base_->WriteAt(pos, buf, len);
    if (pos < 0 || len < 0 || (buf == nullptr && len > 0)) {
      SetLastOsError(EINVAL);
      return -1;
    }
    changes_->Write(pos, buf, len);
    return len;
  }

  int64_t Size() override {
    std::lock_guard<std::mutex> hold(state_->lock);
    return changes_->Held() ? changes_->Size() : base_->Size();
  }

  bool Truncate(int64_t size) override {
    std::lock_guard<std::mutex> hold(state_->lock);
    if (state_->CountAndCheck(Operation::Write)) return FailWithEio();
    if (!HoldChanges()) return base_->Truncate(size);
    if (size < 0) {
      SetLastOsError(EINVAL);
      return false;
    }
    changes_->Truncate(size);
    return true;
  }

  // Held changes reach the disk first, then the disk is synced; they are
  // forgotten only when both succeeded.
  bool Sync() override {
    std::lock_guard<std::mutex> hold(state_->lock);
    if (state_->CountAndCheck(Operation::Sync)) return FailWithEio();
    if (changes_->Held() && !changes_->Apply(*base_)) return false;
    if (!base_->Sync()) return false;
    changes_->Clear();
    return true;
  }

  bool LockRange(int64_t offset, int64_t length) override {
    return base_->LockRange(offset, length);
  }
  bool UnlockRange(int64_t offset, int64_t length) override {
    return base_->UnlockRange(offset, length);
  }
  bool IsReadOnly() const override { return base_->IsReadOnly(); }

 private:
  //! True when a change must be held rather than written; starts holding.
  //! REQUIRES: lock held.
  bool HoldChanges() {
    if (!state_->keep_unsynced && !changes_->Held()) return false;
    if (!changes_->Held()) {
      int64_t disk_size = base_->Size();
      changes_->Begin(disk_size < 0 ? 0 : disk_size);
    }
    return true;
  }

  std::unique_ptr<OsFile> base_;              //!< the real file
  std::shared_ptr<FaultState> state_;         //!< shared with the wrapper
  std::shared_ptr<UnsyncedChanges> changes_;  //!< held changes of this file on disk
  const FaultState::FileKey key_;             //!< device and inode of the file
  const bool delete_on_close_;                //!< the file goes when this handle closes
};

}  // namespace

FaultFileSystem::FaultFileSystem(FileSystem& base)
    : base_(base), state_(std::make_shared<FaultState>()) {}

FaultFileSystem::~FaultFileSystem() = default;

void FaultFileSystem::FailNth(Operation op, int64_t n, bool sticky) {
  std::lock_guard<std::mutex> hold(state_->lock);
  state_->plans[static_cast<int>(op)] = FaultState::Plan{0, n < 1 ? 1 : n, sticky};
}

void FaultFileSystem::Disarm() {
  std::lock_guard<std::mutex> hold(state_->lock);
  for (FaultState::Plan& plan : state_->plans) plan.nth = 0;
}

int64_t FaultFileSystem::Count(Operation op) const {
  std::lock_guard<std::mutex> hold(state_->lock);
  return state_->plans[static_cast<int>(op)].count;
}

void FaultFileSystem::KeepUnsyncedWrites(bool keep) {
  std::lock_guard<std::mutex> hold(state_->lock);
  state_->keep_unsynced = keep;
}

void FaultFileSystem::DropUnsyncedWrites() {
  std::lock_guard<std::mutex> hold(state_->lock);
  for (auto& entry : state_->files) entry.second->Clear();
}

bool FaultFileSystem::HasUnsyncedWrites() const {
  std::lock_guard<std::mutex> hold(state_->lock);
  for (const auto& entry : state_->files) {
    if (entry.second->Held()) return true;
  }
  return false;
}

std::unique_ptr<OsFile> FaultFileSystem::Wrap(std::unique_ptr<OsFile> file, const std::string& path,
                                              const OpenOptions& options, bool created) {
  if (!file) return nullptr;
  FileAttributes attributes;
  if (!base_.GetAttributes(path, &attributes)) return nullptr;
  FaultState::FileKey key{attributes.device, attributes.inode};
  std::lock_guard<std::mutex> hold(state_->lock);
  std::shared_ptr<UnsyncedChanges> changes = state_->ChangesOf(key);
  if (created) changes->Clear();  // the disk file was just emptied
  return std::make_unique<FaultFile>(std::move(file), state_, std::move(changes), key,
                                     options.delete_on_close);
}

std::unique_ptr<OsFile> FaultFileSystem::Open(const std::string& path, const OpenOptions& options) {
  return Wrap(base_.Open(path, options), path, options, false);
}

std::unique_ptr<OsFile> FaultFileSystem::Create(const std::string& path,
                                                const OpenOptions& options) {
  return Wrap(base_.Create(path, options), path, options, true);
}

bool FaultFileSystem::Remove(const std::string& path) {
  FileAttributes attributes;
  bool known = base_.GetAttributes(path, &attributes);
  if (!base_.Remove(path)) return false;
  if (known) {
    std::lock_guard<std::mutex> hold(state_->lock);
    auto it = state_->files.find(FaultState::FileKey{attributes.device, attributes.inode});
    if (it != state_->files.end()) {
      it->second->Clear();
      state_->files.erase(it);
    }
  }
  return true;
}

bool FaultFileSystem::Rename(const std::string& from, const std::string& to) {
  return base_.Rename(from, to);
}

bool FaultFileSystem::GetAttributes(const std::string& path, FileAttributes* attributes) {
  if (!base_.GetAttributes(path, attributes)) return false;
  std::lock_guard<std::mutex> hold(state_->lock);
  auto it = state_->files.find(FaultState::FileKey{attributes->device, attributes->inode});
  if (it != state_->files.end() && it->second->Held()) attributes->size = it->second->Size();
  return true;
}

}  // namespace vevura::platform
