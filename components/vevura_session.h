#pragma once
// TVEVURASession: the session component, an application's door to the engine.
//
// An active session has an engine session (TDataSession): the default
// session uses the engine's default one and starts the engine to get it;
// every other session makes its own, after activating the default session.
// Activation fires OnStartup, requires a session name, and hands the
// session's settings to the engine session; remote sessions are refused by
// the engine (only local sessions are offered). A failed activation leaves
// the session inactive.
//
// Deactivation disconnects the session's databases, last first, freeing the
// temporary ones it made on demand (OpenDatabase); the default session first
// deactivates every other active session, since stopping the engine takes
// the files their tables use.
//
// Names: a session name is unique in the process (ignoring case) and can
// change only while the session is inactive. With AutoSessionName the
// session names itself "<component name>_<N+1>" from the lowest free
// auto-session number N, renames itself with its component, and hands its
// name to the databases of its owner; only one auto-session per owner.
//
// Ownership: the session owns its engine session (the default session's is
// the engine's) and its temporary databases; it lists, but does not own, the
// database components attached to it. When a session is destroyed, its
// other databases fall back to the default session.
//
// Thread-safety: activation, deactivation, database connects, OpenDatabase,
// password changes and live setting changes run under the process-wide
// component lock (component_lock.h).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "components/framework/component.h"
#include "engine/core/data_session.h"

namespace vevura {

class TVEVURADatabase;
class TVEVURASession;
class TVEVURASessionList;

enum TSessionType : uint8_t { stLocal = 0, stRemote = 1 };

//! The prompt asked for a password when a session has no OnPassword handler;
//! answers whether to retry. The password dialog installs itself here.
using TPasswordPrompt = std::function<bool(TVEVURASession& session)>;
//! Installs the process-wide password prompt (nullptr removes it).
void SetPasswordPrompt(TPasswordPrompt prompt);

//! Largest ProgressSteps a session accepts; larger values are ignored.
inline constexpr uint16_t kMaxProgressSteps = 100;
inline constexpr const char* kDefaultSessionName = "Default";

class TVEVURASession : public TComponent {
 public:
  //! A session held by owner (may be nullptr), added to the session list.
  //! "This auto-session already exists." when owner holds an auto-session.
  explicit TVEVURASession(TComponent* owner = nullptr);
  //! Deactivates, frees its temporary databases, moves the others to the
  //! default session and leaves the list.
  ~TVEVURASession() override;

  // ----- Buffer sizes (not published) -----
  //! Bytes of record buffers each table keeps, of index pages cached per
  //! index and of BLOB blocks kept; the engine session's defaults until
  //! set. A table takes them when it opens. Values below 1 are ignored.
  int32_t DataBufferSize() const { return data_buffer_size_; }
  void SetDataBufferSize(int32_t bytes);
  int32_t IndexBufferSize() const { return index_buffer_size_; }
  void SetIndexBufferSize(int32_t bytes);
  int32_t BlobBufferSize() const { return blob_buffer_size_; }
  void SetBlobBufferSize(int32_t bytes);

  // ----- Published properties -----
  std::string EngineVersion() const;
  //! Writing the version has no effect.
  void SetEngineVersion(const std::string&) {}
  bool Active() const { return engine_ != nullptr; }
  void SetActive(bool active);
  bool AutoSessionName() const { return auto_number_ >= 0; }
  void SetAutoSessionName(bool automatic);
  bool ForceBufferFlush() const { return force_buffer_flush_; }
  void SetForceBufferFlush(bool force);
  bool KeepConnections() const { return keep_connections_; }
  void SetKeepConnections(bool keep) { keep_connections_ = keep; }
  uint8_t LockRetryCount() const { return lock_retry_count_; }
  void SetLockRetryCount(uint8_t count);
  uint16_t LockWaitTime() const { return lock_wait_time_; }
  void SetLockWaitTime(uint16_t ms);
  TLockProtocol LockProtocol() const { return lock_protocol_; }
  void SetLockProtocol(TLockProtocol protocol);
  const std::string& PrivateDir() const { return private_dir_; }
  void SetPrivateDir(const std::string& dir);
  uint16_t ProgressSteps() const { return progress_steps_; }
  //! Values above kMaxProgressSteps leave the old value.
  void SetProgressSteps(uint16_t steps);
  const std::string& SessionName() const { return session_name_; }
  void SetSessionName(const std::string& name);
  bool StrictChangeDetection() const { return strict_change_detection_; }
  void SetStrictChangeDetection(bool strict);
  TSessionType SessionType() const { return session_type_; }
  void SetSessionType(TSessionType type);
  TRemoteType RemoteType() const { return remote_.Kind; }
  void SetRemoteType(TRemoteType type);
  const std::string& RemoteHost() const { return remote_.Host; }
  void SetRemoteHost(const std::string& host);
  const std::string& RemoteAddress() const { return remote_.Address; }
  void SetRemoteAddress(const std::string& address);
  int32_t RemotePort() const { return remote_port_; }
  //! Ports outside 0..65535 are refused with an error.
  void SetRemotePort(int32_t port);
  const std::string& RemoteService() const { return remote_.Service; }
  void SetRemoteService(const std::string& service);
  bool RemoteTrace() const { return remote_.Trace; }
  void SetRemoteTrace(bool trace);
  const std::string& RemoteUser() const { return remote_.User; }
  void SetRemoteUser(const std::string& user);
  const std::string& RemotePassword() const { return remote_.Password; }
  void SetRemotePassword(const std::string& password);

  // ----- Events -----
  //! Asked when a table needs a password; sets Continue to retry.
  std::function<void(TVEVURASession& sender, bool& Continue)> OnPassword;
  //! Fired each time the session is activated, before anything else.
  std::function<void(TVEVURASession& sender)> OnStartup;
  //! Remote only: asked for the login.
  std::function<void(TVEVURASession& sender, std::string& UserName, std::string& Password,
                     bool& Continue)>
      OnRemoteLogin;
  //! Remote only: each request and reply.
  std::function<void(TVEVURASession& sender, const std::string& TraceMessage)> OnRemoteTrace;

  // ----- Operations -----
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  //! The database of that name (FindDatabase), connected, or a new connected
  //! temporary database for it; its use count is raised by one.
  TVEVURADatabase& OpenDatabase(const std::string& name, const TComponent* owner);
  //! Lowers database's use count; at 0 without KeepConnection a temporary
  //! database is freed and any other disconnected.
  void CloseDatabase(TVEVURADatabase* database);
  //! The matching database owned by owner with HandleShared, else the first
  //! matching one, else nullptr.
  TVEVURADatabase* FindDatabase(const std::string& name, const TComponent* owner) const;
  void AddPassword(const std::string& password);
  void RemovePassword(const std::string& password);
  void RemoveAllPasswords();
  //! Asked by a table that lacks a password: OnPassword's Continue answer
  //! (offered False), else the installed prompt's answer, else False.
  bool AskForPassword();

  // ----- State -----
  bool IsDefault() const { return is_default_; }
  //! The auto-session number, or -1.
  int AutoSessionNumber() const { return auto_number_; }
  //! The engine session while active, else nullptr.
  TDataSession* EngineSession() const { return engine_; }
  //! The attached databases, in attachment order.
  const std::vector<TVEVURADatabase*>& Databases() const { return databases_; }
  //! Enters and leaves the component lock (component_lock.h).
  void Lock();
  void Unlock();

 protected:
  void NameChanged() override;

 private:
  friend class TVEVURASessionList;
  friend class TVEVURADatabase;
  struct DefaultTag {};
  TVEVURASession(TVEVURASessionList& list, DefaultTag);
  static std::unique_ptr<TVEVURASession> MakeDefault(TVEVURASessionList& list);

  void Activate();
  void Deactivate();
  //! Steps of activation.
  void AttachEngineSession();
  void PassSettings();
  void PassRemoteSettingsAndConnect();
  //! Deactivation's first step.
  void DisconnectDatabases();
  //! The default session's: every other active session goes first.
  void DeactivateOtherSessions();
  void StoreSessionName(const std::string& name);
  void RequireInactive() const;
  //! The name "<component name>_<N+1>" of auto-session number N.
  std::string AutoName() const;
  //! Gives the session name to the owner's databases that name another.
  void NameOwnersComponents();
  //! Runs pass on the engine session under the component lock when active.
  void PassLive(const std::function<void(TDataSession&)>& pass);

  // Database bookkeeping, used by TVEVURADatabase.
  void Attach(TVEVURADatabase* database);
  void Detach(TVEVURADatabase* database);
  void FreeTemporary(TVEVURADatabase* database);

  TVEVURASessionList& list_;                                   //!< the list this session is in
  const bool is_default_;                                      //!< the default session
  TDataSession* engine_ = nullptr;                             //!< while active
  std::unique_ptr<TDataSession> own_engine_;                   //!< a non-default one's
  std::vector<TVEVURADatabase*> databases_;                    //!< attached, not owned
  std::vector<std::unique_ptr<TVEVURADatabase>> temporaries_;  //!< made on demand
  int auto_number_ = -1;                                       //!< -1: not an auto-session
  int lock_count_ = 0;                                         //!< component lock nesting
  bool starting_ = false;                                      //!< OnStartup is running
  std::string session_name_;
  bool force_buffer_flush_ = false;
  bool keep_connections_ = true;
  uint8_t lock_retry_count_ = kDefaultLockRetryCount;
  uint16_t lock_wait_time_ = kDefaultLockWaitTime;
  TLockProtocol lock_protocol_ = lpPessimistic;
  std::string private_dir_;
  uint16_t progress_steps_ = kDefaultProgressSteps;
  bool strict_change_detection_ = false;
  TSessionType session_type_ = stLocal;
  TRemoteSettings remote_;  //!< remote settings; the port is kept apart
  int32_t remote_port_ = 12005;
  int32_t data_buffer_size_ = kSessionDataBufferSize;
  int32_t index_buffer_size_ = kSessionIndexBufferSize;
  int32_t blob_buffer_size_ = kSessionBlobBufferSize;
};

}  // namespace vevura
