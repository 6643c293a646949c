#pragma once
// TVEVURADatabase: a named directory of tables, connected through a session.
//
// A database belongs to the session its SessionName names (the default
// session when none is named) and is listed by it. Connecting fires
// BeforeConnect, activates the session and opens an engine data directory
// for the database's Directory (or, for a database named "Memory" without
// one, the in-memory store); the engine shares one data directory among all
// databases of a session that name the same path. With HandleShared, a
// database borrows the data directory of a connected database of the same
// name that also has HandleShared.
//
// Names: DatabaseName, Directory and RemoteDatabase use "/" as separator
// ("\" is turned into "/"); a stored Directory ends with "/". A database
// name is unique within its session (ignoring case) unless both databases
// have HandleShared; a database component may not be named with a path (a
// name with ":" or "/"), a temporary database, made on demand by its
// session's OpenDatabase, may. Names, directory and session change only
// while disconnected.
//
// Users: datasets attach themselves (database_user.h) and are closed, most
// recently attached first, when the database disconnects. The use count
// counts the session's OpenDatabase calls not yet given back; without
// KeepConnection the database disconnects when it returns to 0.
//
// Ownership: the database holds one use of its data directory while
// connected, borrowed or not, so a borrowed directory outlives the database
// it was borrowed from. It owns nothing else; temporary databases are owned
// by their session.
//
// Thread-safety: engine calls run under the session's component lock.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "components/framework/component.h"

namespace vevura {

class TDataDirectory;
class TDatabaseUser;
class TVEVURASession;

class TVEVURADatabase : public TComponent, public TSessionBound {
 public:
  //! A disconnected database of owner (may be nullptr), in the session
  //! owner is, else the default session.
  explicit TVEVURADatabase(TComponent* owner = nullptr);
  //! Disconnects and leaves its session.
  ~TVEVURADatabase() override;

  // ----- Published properties -----
  std::string EngineVersion() const;
  void SetEngineVersion(const std::string&) {}
  bool Connected() const { return directory_ != nullptr; }
  void SetConnected(bool connected);
  const std::string& DatabaseName() const { return database_name_; }
  void SetDatabaseName(const std::string& name);
  const std::string& Directory() const { return directory_name_; }
  void SetDirectory(const std::string& directory);
  const std::string& RemoteDatabase() const { return remote_database_; }
  void SetRemoteDatabase(const std::string& name);
  bool HandleShared() const { return handle_shared_; }
  void SetHandleShared(bool shared) { handle_shared_ = shared; }
  bool KeepConnection() const { return keep_connection_; }
  //! False disconnects at once when no dataset uses the database.
  void SetKeepConnection(bool keep);
  const std::string& SessionName() const override { return session_name_; }
  //! Attaches to that session at once when it exists; a name clash there
  //! clears DatabaseName and passes the error on.
  void SetSessionName(const std::string& name) override;

  //! Fired at the start of each connect.
  std::function<void(TVEVURADatabase& sender)> BeforeConnect;

  // ----- Operations -----
  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }
  // REQUIRES for the four below: Connected(), else "Cannot perform this
  // operation on a closed database."
  //! "Database %s already has an active transaction." when one is active.
  void StartTransaction();
  //! Commits and ends the transaction; force_flush flushes to disk. A
  //! commit that fails to write writes nothing and rolls the transaction
  //! back; one that cannot lock a table keeps the transaction.
  //! "Database %s has no active transaction." when none is active.
  void Commit(bool force_flush);
  //! "Database %s has no active transaction." when none is active.
  void Rollback();
  bool InTransaction() const;

  // ----- State -----
  TVEVURASession* Session() const { return session_; }
  TDataDirectory* DataDirectory() const { return directory_; }
  bool Temporary() const { return temporary_; }
  bool Borrowed() const { return borrowed_; }
  int32_t UseCount() const { return use_count_; }
  void AttachUser(TDatabaseUser& user);
  void DetachUser(TDatabaseUser& user);
  const std::vector<TDatabaseUser*>& Users() const { return users_; }

 private:
  friend class TVEVURASession;
  struct TemporaryTag {};
  TVEVURADatabase(TVEVURASession& session, TemporaryTag);
  //! A new connected temporary database of session for name (OpenDatabase).
  static TVEVURADatabase& OpenTemporary(TVEVURASession& session, const std::string& name);

  void Connect();
  void Disconnect();
  //! Connect's steps.
  TVEVURASession& AttachNamedSession();
  bool BorrowSharedDirectory();
  void OpenEngineDirectory();
  //! Closes every user, most recently attached first.
  void CloseUsers();
  //! The name clash check of name against session's other databases.
  void CheckNameIn(TVEVURASession& session, const std::string& name);
  //! CheckNameIn for the current name, clearing it on failure.
  void CheckOwnNameIn(TVEVURASession& session);
  //! Leaves the current session for session (may be nullptr).
  void MoveToSession(TVEVURASession* session);
  void RequireDisconnected() const;
  TDataDirectory& RequireConnected() const;

  TVEVURASession* session_ = nullptr;    //!< attached session, or nullptr
  TDataDirectory* directory_ = nullptr;  //!< while connected; one use held
  std::vector<TDatabaseUser*> users_;    //!< attached datasets, oldest first
  std::string database_name_;
  std::string directory_name_;  //!< "" or ends with "/"
  std::string remote_database_;
  std::string session_name_;
  const bool temporary_ = false;  //!< made on demand by the session
  bool handle_shared_ = false;
  bool keep_connection_ = true;
  bool borrowed_ = false;  //!< directory borrowed from a sibling
  bool closing_ = false;   //!< disconnecting: users are closing
  int32_t use_count_ = 0;  //!< open OpenDatabase calls
};

//! A database name or directory with "\" turned into "/".
std::string NormalizeDatabaseName(const std::string& name);
//! True for a name that is a path: it contains ":" or "/".
bool IsPathName(const std::string& name);

}  // namespace vevura
