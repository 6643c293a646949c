#include "engine/core/data_session.h"

#include <algorithm>

#include "engine/base/engine_error.h"
#include "engine/core/data_directory.h"
#include "engine/storage/common/trim.h"
#include "platform/directory.h"
#include "platform/locale.h"

namespace vevura {

std::string NormalizeDirectory(const std::string& dir) {
  std::string path = TrimText(dir);
  std::replace(path.begin(), path.end(), '\\', '/');
  return platform::IncludeTrailingSlash(path);
}

TDataSession::TDataSession(bool server_side)
    : current_dir_(NormalizeDirectory(platform::CurrentDirectory())),
      private_dir_(platform::TempDirectory()),
      server_side_(server_side) {}

TDataSession::~TDataSession() {
  RemoveAllPasswords();
  // Last opened first, as a session closes its databases.
  while (!directories_.empty()) directories_.pop_back();
}

void TDataSession::SetTableLockTiming(const TBoundedLockTiming& timing) {
  table_lock_timing_ = timing;
  if (table_lock_timing_.Attempts == 0) table_lock_timing_.Attempts = 1;
}

void TDataSession::SetPrivateDir(const std::string& dir) {
  private_dir_ = NormalizeDirectory(dir);
}

const std::string& TDataSession::TemporaryFilesDir() const {
  return private_dir_.empty() ? current_dir_ : private_dir_;
}

void TDataSession::AddPassword(const std::string& password) {
  if (password.empty() || HasPassword(password)) return;
  passwords_.push_back(password);
}

void TDataSession::RemovePassword(const std::string& password) {
  auto it = std::find(passwords_.begin(), passwords_.end(), password);
  if (it != passwords_.end()) passwords_.erase(it);
}

bool TDataSession::HasPassword(const std::string& password) const {
  return std::find(passwords_.begin(), passwords_.end(), password) != passwords_.end();
}

void TDataSession::RaiseRemoteRefused() const {
  const std::string& server =
      remote_settings_.Host.empty() ? remote_settings_.Address : remote_settings_.Host;
  RaiseEngineError(VEVURA_REMOTECONNECT, server, remote_settings_.User, "", "", "", "", "");
}

void TDataSession::Connect() {
  if (remote_) RaiseRemoteRefused();
}

std::string TDataSession::DirectoryPath(const std::string& name,
                                        const std::string& directory) const {
  std::string given = NormalizeDirectory(directory);
  if (platform::SameTextSystem(TrimText(name), kMemoryDatabaseName)) return given;
  return given.empty() ? current_dir_ : given;
}

TDataDirectory* TDataSession::FindDirectory(const std::string& path) const {
  for (const auto& directory : directories_) {
    if (platform::SameTextSystem(directory->Path(), path)) return directory.get();
  }
  return nullptr;
}

TDataDirectory* TDataSession::OpenDataDirectory(const std::string& name,
                                                const std::string& directory) {
  if (remote_) RaiseRemoteRefused();
  std::string path = DirectoryPath(name, directory);
  if (TDataDirectory* existing = FindDirectory(path)) {
    existing->AddUse();
    return existing;
  }
  directories_.push_back(std::make_unique<TDataDirectory>(*this, name, path));
  return directories_.back().get();
}

void TDataSession::CloseDataDirectory(TDataDirectory* directory) {
  auto it = std::find_if(directories_.begin(), directories_.end(),
                         [&](const auto& held) { return held.get() == directory; });
  if (it == directories_.end()) return;
  if (!(*it)->ReleaseUse()) return;
  // Taken out of the list before it is freed, so that the list never holds a
  // directory being destroyed.
  std::unique_ptr<TDataDirectory> closing = std::move(*it);
  directories_.erase(it);
}

}  // namespace vevura
