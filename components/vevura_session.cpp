#include "components/vevura_session.h"

#include <algorithm>
#include <exception>
#include <mutex>

#include "components/component_lock.h"
#include "components/session_list.h"
#include "components/vevura_database.h"
#include "engine/base/engine_error.h"
#include "engine/base/engine_version.h"
#include "engine/core/engine.h"
#include "platform/locale.h"

namespace vevura {
namespace {

//! Guards the prompt below.
std::mutex& PromptLock() {
  static std::mutex lock;
  return lock;
}

TPasswordPrompt& InstalledPrompt() {
  static TPasswordPrompt prompt;
  return prompt;
}

}  // namespace

void SetPasswordPrompt(TPasswordPrompt prompt) {
  std::lock_guard guard(PromptLock());
  InstalledPrompt() = std::move(prompt);
}

TVEVURASession::TVEVURASession(TComponent* owner)
    : TComponent(owner), list_(Sessions()), is_default_(false) {
  if (owner != nullptr) {
    for (TComponent* held : owner->Components()) {
      auto* session = dynamic_cast<TVEVURASession*>(held);
      if (session != nullptr && session != this && session->AutoSessionName()) {
        throw EDatabaseError(msg::SAutoSessionExists);
      }
    }
  }
  list_.Add(this);
}

TVEVURASession::TVEVURASession(TVEVURASessionList& list, DefaultTag)
    : list_(list), is_default_(true), session_name_(kDefaultSessionName) {
  list_.Add(this);
}

std::unique_ptr<TVEVURASession> TVEVURASession::MakeDefault(TVEVURASessionList& list) {
  return std::unique_ptr<TVEVURASession>(new TVEVURASession(list, DefaultTag{}));
}

TVEVURASession::~TVEVURASession() {
  try {
    SetActive(false);
  } catch (...) {
    // A destroyed session is inactive whatever its datasets reported.
  }
  while (!temporaries_.empty()) FreeTemporary(temporaries_.back().get());
  std::vector<TVEVURADatabase*> remaining = databases_;
  for (TVEVURADatabase* database : remaining) {
    TVEVURASession* fallback = is_default_ ? nullptr : &list_.DefaultSession();
    database->MoveToSession(fallback);
    if (fallback != nullptr) database->session_name_ = fallback->SessionName();
  }
  if (auto_number_ >= 0) list_.FreeAutoSessionNumber(auto_number_);
  list_.Remove(this);
}

std::string TVEVURASession::EngineVersion() const {
  return kEngineVersion;
}

// ----- Activation -----

void TVEVURASession::SetActive(bool active) {
  if (active == Active()) return;
  if (active) {
    Activate();
  } else {
    Deactivate();
  }
}

void TVEVURASession::Activate() {
  std::lock_guard guard(list_.ComponentLock());
  // An OnStartup handler that opens the session (or a database of it)
  // again finds it starting: that inner activation does nothing.
  if (Active() || starting_) return;
  if (OnStartup) {
    starting_ = true;
    try {
      OnStartup(*this);
    } catch (...) {
      starting_ = false;
      throw;
    }
    starting_ = false;
  }
  if (session_name_.empty()) RaiseComponentError(*this, msg::SSessionNameMissing);
  try {
    AttachEngineSession();
    PassSettings();
    PassRemoteSettingsAndConnect();
  } catch (...) {
    try {
      Deactivate();
    } catch (...) {
      // The activation's own error is the one to report.
    }
    throw;
  }
}

void TVEVURASession::AttachEngineSession() {
  if (!is_default_) {
    list_.DefaultSession().SetActive(true);
    own_engine_ = std::make_unique<TDataSession>(false);
    engine_ = own_engine_.get();
    return;
  }
  StartEngine();
  engine_ = &DefaultEngineSession();
}

void TVEVURASession::PassSettings() {
  engine_->SetPrivateDir(private_dir_);
  engine_->SetStrictChangeDetection(strict_change_detection_);
  engine_->SetForceBufferFlush(force_buffer_flush_);
  engine_->SetLockRetryCount(lock_retry_count_);
  engine_->SetLockWaitTime(lock_wait_time_);
  engine_->SetLockProtocol(lock_protocol_);
  engine_->SetProgressSteps(progress_steps_);
  engine_->SetDataBufferSize(data_buffer_size_);
  engine_->SetDataBufferCount(kSessionDataBufferCount);
  engine_->SetIndexBufferSize(index_buffer_size_);
  engine_->SetBlobBufferSize(blob_buffer_size_);
  engine_->SetBlobBufferCount(kSessionBlobBufferCount);
}

void TVEVURASession::PassRemoteSettingsAndConnect() {
  engine_->SetRemote(session_type_ == stRemote);
  if (session_type_ == stRemote) {
    engine_->RemoteSettings() = remote_;
    engine_->RemoteSettings().Port = static_cast<uint16_t>(remote_port_);
  }
  engine_->Connect();
}

void TVEVURASession::Deactivate() {
  std::lock_guard guard(list_.ComponentLock());
  if (!Active()) return;
  std::exception_ptr first_error;
  try {
    if (is_default_) DeactivateOtherSessions();
  } catch (...) {
    first_error = std::current_exception();
  }
  try {
    DisconnectDatabases();
  } catch (...) {
    if (!first_error) first_error = std::current_exception();
  }
  engine_ = nullptr;
  if (is_default_) {
    StopEngine();
  } else {
    own_engine_.reset();
  }
  if (first_error) std::rethrow_exception(first_error);
}

void TVEVURASession::DeactivateOtherSessions() {
  std::vector<TVEVURASession*> sessions = list_.List();
  for (auto it = sessions.rbegin(); it != sessions.rend(); ++it) {
    if (*it != this) (*it)->SetActive(false);
  }
}

void TVEVURASession::DisconnectDatabases() {
  std::exception_ptr first_error;
  std::vector<TVEVURADatabase*> databases = databases_;
  for (auto it = databases.rbegin(); it != databases.rend(); ++it) {
    // A dataset closed by an earlier database may have freed this one.
    if (std::find(databases_.begin(), databases_.end(), *it) == databases_.end()) continue;
    try {
      if ((*it)->Temporary()) {
        FreeTemporary(*it);
      } else {
        (*it)->SetConnected(false);
      }
    } catch (...) {
      if (!first_error) first_error = std::current_exception();
    }
  }
  if (first_error) std::rethrow_exception(first_error);
}

void TVEVURASession::Lock() {
  if (lock_count_++ > 0) return;
  list_.ComponentLock().lock();
  try {
    SetActive(true);
  } catch (...) {
    --lock_count_;
    list_.ComponentLock().unlock();
    throw;
  }
}

void TVEVURASession::Unlock() {
  if (lock_count_ == 0) return;
  if (--lock_count_ == 0) list_.ComponentLock().unlock();
}

// ----- Names -----

void TVEVURASession::RequireInactive() const {
  if (Active()) RaiseComponentError(*this, msg::SSessionActive);
}

void TVEVURASession::SetSessionName(const std::string& name) {
  if (AutoSessionName()) RaiseComponentError(*this, msg::SAutoSessionActive);
  StoreSessionName(name);
}

void TVEVURASession::StoreSessionName(const std::string& name) {
  RequireInactive();
  if (!name.empty()) {
    for (TVEVURASession* other : list_.List()) {
      if (other != this && platform::SameTextSystem(other->SessionName(), name)) {
        RaiseComponentError(*this, FormatMessage(msg::SDuplicateSessionName, name));
      }
    }
  }
  session_name_ = name;
}

std::string TVEVURASession::AutoName() const {
  return Name() + "_" + std::to_string(auto_number_ + 1);
}

void TVEVURASession::SetAutoSessionName(bool automatic) {
  if (automatic == AutoSessionName()) return;
  if (!automatic) {
    list_.FreeAutoSessionNumber(auto_number_);
    auto_number_ = -1;
    return;
  }
  RequireInactive();
  if (Owner() != nullptr) {
    for (TComponent* held : Owner()->Components()) {
      if (held != this && dynamic_cast<TVEVURASession*>(held) != nullptr) {
        RaiseComponentError(*this, msg::SAutoSessionExclusive);
      }
    }
  }
  auto_number_ = list_.TakeAutoSessionNumber();
  try {
    StoreSessionName(AutoName());
  } catch (...) {
    list_.FreeAutoSessionNumber(auto_number_);
    auto_number_ = -1;
    throw;
  }
  NameOwnersComponents();
}

void TVEVURASession::NameChanged() {
  if (!AutoSessionName()) return;
  StoreSessionName(AutoName());
  NameOwnersComponents();
}

void TVEVURASession::NameOwnersComponents() {
  if (Owner() == nullptr) return;
  std::vector<TComponent*> held = Owner()->Components();
  for (TComponent* component : held) {
    auto* bound = dynamic_cast<TSessionBound*>(component);
    if (bound != nullptr && bound->SessionName() != session_name_) {
      bound->SetSessionName(session_name_);
    }
  }
}

// ----- Settings -----

void TVEVURASession::PassLive(const std::function<void(TDataSession&)>& pass) {
  if (!Active()) return;
  std::lock_guard guard(list_.ComponentLock());
  if (engine_ != nullptr) pass(*engine_);
}

void TVEVURASession::SetDataBufferSize(int32_t bytes) {
  if (bytes < 1) return;
  data_buffer_size_ = bytes;
  PassLive([bytes](TDataSession& engine) { engine.SetDataBufferSize(bytes); });
}

void TVEVURASession::SetIndexBufferSize(int32_t bytes) {
  if (bytes < 1) return;
  index_buffer_size_ = bytes;
  PassLive([bytes](TDataSession& engine) { engine.SetIndexBufferSize(bytes); });
}

void TVEVURASession::SetBlobBufferSize(int32_t bytes) {
  if (bytes < 1) return;
  blob_buffer_size_ = bytes;
  PassLive([bytes](TDataSession& engine) { engine.SetBlobBufferSize(bytes); });
}

void TVEVURASession::SetForceBufferFlush(bool force) {
  force_buffer_flush_ = force;
  PassLive([force](TDataSession& engine) { engine.SetForceBufferFlush(force); });
}

void TVEVURASession::SetLockRetryCount(uint8_t count) {
  lock_retry_count_ = count;
  PassLive([count](TDataSession& engine) { engine.SetLockRetryCount(count); });
}

void TVEVURASession::SetLockWaitTime(uint16_t ms) {
  lock_wait_time_ = ms;
  PassLive([ms](TDataSession& engine) { engine.SetLockWaitTime(ms); });
}

void TVEVURASession::SetLockProtocol(TLockProtocol protocol) {
  lock_protocol_ = protocol;
  PassLive([protocol](TDataSession& engine) { engine.SetLockProtocol(protocol); });
}

void TVEVURASession::SetPrivateDir(const std::string& dir) {
  private_dir_ = dir;
  PassLive([&dir](TDataSession& engine) { engine.SetPrivateDir(dir); });
}

void TVEVURASession::SetProgressSteps(uint16_t steps) {
  if (steps > kMaxProgressSteps) return;
  progress_steps_ = steps;
  PassLive([steps](TDataSession& engine) { engine.SetProgressSteps(steps); });
}

void TVEVURASession::SetStrictChangeDetection(bool strict) {
  strict_change_detection_ = strict;
  PassLive([strict](TDataSession& engine) { engine.SetStrictChangeDetection(strict); });
}

void TVEVURASession::SetRemoteTrace(bool trace) {
  remote_.Trace = trace;
  PassLive([trace](TDataSession& engine) { engine.RemoteSettings().Trace = trace; });
}

void TVEVURASession::SetSessionType(TSessionType type) {
  RequireInactive();
  session_type_ = type;
}

void TVEVURASession::SetRemoteType(TRemoteType type) {
  RequireInactive();
  remote_.Kind = type;
}

void TVEVURASession::SetRemoteHost(const std::string& host) {
  RequireInactive();
  remote_.Host = host;
}

void TVEVURASession::SetRemoteAddress(const std::string& address) {
  RequireInactive();
  remote_.Address = address;
}

void TVEVURASession::SetRemotePort(int32_t port) {
  RequireInactive();
  if (port < 0 || port > 65535) {
    RaiseComponentError(*this, "Remote port " + std::to_string(port) + " is not valid.");
  }
  remote_port_ = port;
}

void TVEVURASession::SetRemoteService(const std::string& service) {
  RequireInactive();
  remote_.Service = service;
}

void TVEVURASession::SetRemoteUser(const std::string& user) {
  RequireInactive();
  remote_.User = user;
}

void TVEVURASession::SetRemotePassword(const std::string& password) {
  RequireInactive();
  remote_.Password = password;
}

// ----- Passwords -----

void TVEVURASession::AddPassword(const std::string& password) {
  TComponentLock lock(*this);
  engine_->AddPassword(password);
}

void TVEVURASession::RemovePassword(const std::string& password) {
  TComponentLock lock(*this);
  engine_->RemovePassword(password);
}

void TVEVURASession::RemoveAllPasswords() {
  TComponentLock lock(*this);
  engine_->RemoveAllPasswords();
}

bool TVEVURASession::AskForPassword() {
  if (OnPassword) {
    bool retry = false;
    OnPassword(*this, retry);
    return retry;
  }
  TPasswordPrompt prompt;
  {
    std::lock_guard guard(PromptLock());
    prompt = InstalledPrompt();
  }
  return prompt ? prompt(*this) : false;
}

// ----- Databases -----

TVEVURADatabase* TVEVURASession::FindDatabase(const std::string& name,
                                              const TComponent* owner) const {
  std::string wanted = NormalizeDatabaseName(name);
  TVEVURADatabase* first = nullptr;
  for (TVEVURADatabase* database : databases_) {
    if (!platform::SameTextSystem(database->DatabaseName(), wanted)) continue;
    if (owner != nullptr && database->Owner() == owner && database->HandleShared()) {
      return database;
    }
    if (first == nullptr) first = database;
  }
  return first;
}

TVEVURADatabase& TVEVURASession::OpenDatabase(const std::string& name, const TComponent* owner) {
  TComponentLock lock(*this);
  TVEVURADatabase* database = FindDatabase(name, owner);
  if (database != nullptr) {
    database->SetConnected(true);
  } else {
    database = &TVEVURADatabase::OpenTemporary(*this, name);
  }
  ++database->use_count_;
  return *database;
}

void TVEVURASession::CloseDatabase(TVEVURADatabase* database) {
  if (database == nullptr) return;
  if (std::find(databases_.begin(), databases_.end(), database) == databases_.end()) return;
  if (database->use_count_ == 0 || --database->use_count_ > 0) return;
  if (database->KeepConnection() || database->closing_) return;
  if (database->Temporary()) {
    FreeTemporary(database);
  } else {
    database->SetConnected(false);
  }
}

void TVEVURASession::Attach(TVEVURADatabase* database) {
  databases_.push_back(database);
}

void TVEVURASession::Detach(TVEVURADatabase* database) {
  databases_.erase(std::remove(databases_.begin(), databases_.end(), database), databases_.end());
}

void TVEVURASession::FreeTemporary(TVEVURADatabase* database) {
  auto it = std::find_if(temporaries_.begin(), temporaries_.end(),
                         [database](const auto& held) { return held.get() == database; });
  if (it == temporaries_.end()) return;
  std::unique_ptr<TVEVURADatabase> freed = std::move(*it);
  temporaries_.erase(it);
}

}  // namespace vevura
