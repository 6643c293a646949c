#include "components/vevura_database.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <mutex>

#include "components/component_lock.h"
#include "components/database_user.h"
#include "components/session_list.h"
#include "components/vevura_session.h"
#include "engine/base/engine_error.h"
#include "engine/base/engine_version.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "platform/locale.h"

namespace vevura {

std::string NormalizeDatabaseName(const std::string& name) {
  std::string normalized = name;
  std::replace(normalized.begin(), normalized.end(), '\\', '/');
  return normalized;
}

bool IsPathName(const std::string& name) {
  return name.find_first_of(":/") != std::string::npos;
}

namespace {

//! The session a new database joins: the session that holds it, else the
//! default session.
TVEVURASession& HoldingSession(TComponent* owner) {
  if (auto* session = dynamic_cast<TVEVURASession*>(owner)) return *session;
  return Sessions().DefaultSession();
}

}  // namespace

TVEVURADatabase::TVEVURADatabase(TComponent* owner) : TComponent(owner) {
  TVEVURASession& session = HoldingSession(owner);
  session_name_ = session.SessionName();
  MoveToSession(&session);
}

TVEVURADatabase::TVEVURADatabase(TVEVURASession& session, TemporaryTag)
    : TComponent(&session), session_name_(session.SessionName()), temporary_(true) {
  MoveToSession(&session);
}

TVEVURADatabase& TVEVURADatabase::OpenTemporary(TVEVURASession& session, const std::string& name) {
  auto made = std::unique_ptr<TVEVURADatabase>(new TVEVURADatabase(session, TemporaryTag{}));
  TVEVURADatabase& database = *made;
  session.temporaries_.push_back(std::move(made));
  try {
    database.SetDatabaseName(name);
    bool memory = platform::SameTextSystem(database.database_name_, kMemoryDatabaseName);
    if (session.SessionType() == stRemote) {
      database.SetRemoteDatabase(database.database_name_);
    } else if (!memory) {
      database.SetDirectory(database.database_name_);
    }
    database.SetKeepConnection(session.KeepConnections());
    database.SetConnected(true);
  } catch (...) {
    session.FreeTemporary(&database);
    throw;
  }
  return database;
}

TVEVURADatabase::~TVEVURADatabase() {
  try {
    SetConnected(false);
  } catch (...) {
    // A destroyed database is disconnected whatever its datasets reported.
  }
  MoveToSession(nullptr);
}

std::string TVEVURADatabase::EngineVersion() const {
  return kEngineVersion;
}

// ----- Names -----

void TVEVURADatabase::RequireDisconnected() const {
  if (Connected()) RaiseComponentError(*this, msg::SDatabaseOpen);
}

void TVEVURADatabase::SetDatabaseName(const std::string& name) {
  std::string normalized = NormalizeDatabaseName(name);
  if (normalized == database_name_) return;
  RequireDisconnected();
  if (!temporary_ && IsPathName(normalized)) {
    RaiseComponentError(*this, FormatMessage(msg::SInvalidDatabaseName, normalized));
  }
  if (session_ != nullptr) CheckNameIn(*session_, normalized);
  database_name_ = normalized;
}

void TVEVURADatabase::CheckNameIn(TVEVURASession& session, const std::string& name) {
  if (name.empty()) return;
  std::vector<TVEVURADatabase*> others = session.Databases();
  for (TVEVURADatabase* other : others) {
    if (other == this || !platform::SameTextSystem(other->database_name_, name)) continue;
    if (handle_shared_ && other->handle_shared_) continue;
    if (other->temporary_ && other->use_count_ == 0 && !other->closing_) {
      session.FreeTemporary(other);
      continue;
    }
    RaiseComponentError(*this, FormatMessage(msg::SDuplicateDatabaseName, name));
  }
}

void TVEVURADatabase::CheckOwnNameIn(TVEVURASession& session) {
  try {
    CheckNameIn(session, database_name_);
  } catch (...) {
    database_name_.clear();
    throw;
  }
}

void TVEVURADatabase::SetDirectory(const std::string& directory) {
  RequireDisconnected();
  directory_name_ = NormalizeDirectory(directory);
}

void TVEVURADatabase::SetRemoteDatabase(const std::string& name) {
  RequireDisconnected();
  std::string normalized = NormalizeDatabaseName(name);
  size_t first = normalized.find_first_not_of('/');
  size_t last = normalized.find_last_not_of('/');
  remote_database_ = first == std::string::npos ? "" : normalized.substr(first, last - first + 1);
}

void TVEVURADatabase::SetSessionName(const std::string& name) {
  if (name == session_name_) return;
  RequireDisconnected();
  session_name_ = name;
  TVEVURASession* session = Sessions().FindSession(name);
  MoveToSession(session);
  if (session != nullptr) CheckOwnNameIn(*session);
}

void TVEVURADatabase::MoveToSession(TVEVURASession* session) {
  if (session == session_) return;
  if (session_ != nullptr) session_->Detach(this);
  session_ = session;
  if (session_ != nullptr) session_->Attach(this);
}

void TVEVURADatabase::SetKeepConnection(bool keep) {
  keep_connection_ = keep;
  if (!keep && use_count_ == 0) SetConnected(false);
}

// ----- Connecting -----

void TVEVURADatabase::SetConnected(bool connected) {
  if (connected == Connected()) return;
  if (connected) {
    Connect();
  } else {
    Disconnect();
  }
}

void TVEVURADatabase::Connect() {
  if (BeforeConnect) BeforeConnect(*this);
  if (database_name_.empty() && !temporary_) {
    RaiseComponentError(*this, msg::SDatabaseNameMissing);
  }
  TVEVURASession& session = AttachNamedSession();
  session.SetActive(true);
  if (BorrowSharedDirectory()) return;
  OpenEngineDirectory();
}

TVEVURASession& TVEVURADatabase::AttachNamedSession() {
  TVEVURASession* session = temporary_ ? session_ : Sessions().FindSession(session_name_);
  if (session == nullptr) {
    RaiseComponentError(*this, FormatMessage(msg::SInvalidSessionName, session_name_));
  }
  MoveToSession(session);
  CheckOwnNameIn(*session);
  return *session;
}

bool TVEVURADatabase::BorrowSharedDirectory() {
  if (!handle_shared_) return false;
  for (TVEVURADatabase* other : session_->Databases()) {
    if (other == this || !other->handle_shared_ || !other->Connected()) continue;
    if (!platform::SameTextSystem(other->database_name_, database_name_)) continue;
    TComponentLock lock(*session_);
    // One use of our own, so that the directory outlives the lender.
    other->directory_->AddUse();
    directory_ = other->directory_;
    borrowed_ = true;
    return true;
  }
  return false;
}

void TVEVURADatabase::OpenEngineDirectory() {
  TComponentLock lock(*session_);
  std::string engine_name = IsPathName(database_name_) ? "" : database_name_;
  const std::string& place =
      session_->SessionType() == stRemote ? remote_database_ : directory_name_;
  directory_ = session_->EngineSession()->OpenDataDirectory(engine_name, place);
  borrowed_ = false;
}

void TVEVURADatabase::Disconnect() {
  // A user closing from inside CloseUsers may give the database back.
  if (closing_) return;
  closing_ = true;
  std::exception_ptr first_error;
  try {
    CloseUsers();
  } catch (...) {
    first_error = std::current_exception();
  }
  {
    std::lock_guard guard(Sessions().ComponentLock());
    TDataSession* engine = session_ != nullptr ? session_->EngineSession() : nullptr;
    if (engine != nullptr) engine->CloseDataDirectory(directory_);
  }
  directory_ = nullptr;
  borrowed_ = false;
  use_count_ = 0;
  closing_ = false;
  if (first_error) std::rethrow_exception(first_error);
}

void TVEVURADatabase::CloseUsers() {
  std::exception_ptr first_error;
  std::vector<TDatabaseUser*> users = users_;
  for (auto it = users.rbegin(); it != users.rend(); ++it) {
    // An earlier user's close may have detached this one.
    if (std::find(users_.begin(), users_.end(), *it) == users_.end()) continue;
    try {
      (*it)->CloseForDatabase();
    } catch (...) {
      if (!first_error) first_error = std::current_exception();
    }
  }
  if (first_error) std::rethrow_exception(first_error);
}

void TVEVURADatabase::AttachUser(TDatabaseUser& user) {
  if (std::find(users_.begin(), users_.end(), &user) == users_.end()) users_.push_back(&user);
}

void TVEVURADatabase::DetachUser(TDatabaseUser& user) {
  users_.erase(std::remove(users_.begin(), users_.end(), &user), users_.end());
}

// ----- Transactions -----

TDataDirectory& TVEVURADatabase::RequireConnected() const {
  if (!Connected()) RaiseComponentError(*this, msg::SDatabaseClosed);
  return *directory_;
}

bool TVEVURADatabase::InTransaction() const {
  return directory_ != nullptr && directory_->InTransaction();
}

void TVEVURADatabase::StartTransaction() {
  TDataDirectory& directory = RequireConnected();
  if (directory.InTransaction()) {
    RaiseComponentError(*this, FormatMessage(msg::SActiveTransaction, database_name_));
  }
  TComponentLock lock(*session_);
  directory.StartTransaction();
}

void TVEVURADatabase::Commit(bool force_flush) {
  TDataDirectory& directory = RequireConnected();
  if (!directory.InTransaction()) {
    RaiseComponentError(*this, FormatMessage(msg::SNoActiveTransaction, database_name_));
  }
  TComponentLock lock(*session_);
  directory.Commit(true, force_flush);
}

void TVEVURADatabase::Rollback() {
  TDataDirectory& directory = RequireConnected();
  if (!directory.InTransaction()) {
    RaiseComponentError(*this, FormatMessage(msg::SNoActiveTransaction, database_name_));
  }
  TComponentLock lock(*session_);
  directory.Rollback();
}

}  // namespace vevura
