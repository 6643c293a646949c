#pragma once
// TDataSession: the engine's per-session context.
//
// A session holds the settings every table of the session obeys (lock
// retries and waits, the record lock protocol, change detection, buffer
// flushing, buffer limits), its current and private directories, the
// passwords it knows for encrypted tables, and its open data directories
// (data_directory.h). Session components create and configure sessions;
// database components open and close data directories through them.
//
// Only local sessions are offered: a session marked remote refuses to
// connect and to open data directories with VEVURA_REMOTECONNECT. The remote
// settings are kept so that the components can carry them.
//
// Ownership: the session owns its data directories; a directory lives from
// the first OpenDataDirectory of its path until its use count returns to 0
// (or the session is freed). Freeing the session removes every password and
// frees every directory.
//
// Thread-safety: a session, its directories, tables and cursors are used by
// one thread at a time; the components serialise session changes with their
// component lock.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/lock_protocol.h"

namespace vevura {

class TDataDirectory;

//! When a record being edited is locked (cursor editing decides the steps).
enum TLockProtocol : uint8_t { lpPessimistic = 0, lpOptimistic = 1 };
//! How a remote session reaches its server.
enum TRemoteType : uint8_t { rtLAN = 0, rtInternet = 1 };

//! Defaults of a new session.
inline constexpr uint8_t kDefaultLockRetryCount = 15;
inline constexpr uint16_t kDefaultLockWaitTime = 100;
inline constexpr uint16_t kDefaultProgressSteps = 20;
inline constexpr int32_t kSessionDataBufferSize = 16384;
inline constexpr int32_t kSessionDataBufferCount = 8192;
inline constexpr int32_t kSessionIndexBufferSize = 16384;
inline constexpr int32_t kSessionBlobBufferSize = 32768;
inline constexpr int32_t kSessionBlobBufferCount = 8192;
//! Name of the database that stands for the in-memory store.
inline constexpr const char* kMemoryDatabaseName = "Memory";

//! Where and how a remote session would reach its server.
struct TRemoteSettings {
  std::string Host;                   //!< host name (instead of the address)
  std::string Address = "127.0.0.1";  //!< server address
  uint16_t Port = 12005;              //!< server port
  std::string Service;                //!< service name (instead of the port)
  std::string User;                   //!< login user
  std::string Password;               //!< login password
  bool Trace = false;                 //!< trace every request
  TRemoteType Kind = rtLAN;           //!< LAN traffic is sent uncompressed
  int32_t ReplyTimeout = 300;         //!< seconds per wait for a reply
};

class TDataSession {
 public:
  //! A local session with the defaults; server_side is True only for a
  //! database server's own sessions.
  explicit TDataSession(bool server_side = false);
  //! Removes every password and frees every data directory.
  ~TDataSession();
  TDataSession(const TDataSession&) = delete;
  TDataSession& operator=(const TDataSession&) = delete;

  // ----- Settings -----
  bool StrictChangeDetection() const { return strict_change_detection_; }
  void SetStrictChangeDetection(bool strict) { strict_change_detection_ = strict; }
  bool ForceBufferFlush() const { return force_buffer_flush_; }
  void SetForceBufferFlush(bool force) { force_buffer_flush_ = force; }
  //! Retries of a record lock after its first attempt.
  uint8_t LockRetryCount() const { return lock_retry_count_; }
  void SetLockRetryCount(uint8_t count) { lock_retry_count_ = count; }
  //! Milliseconds between the attempts of a record lock.
  uint16_t LockWaitTime() const { return lock_wait_time_; }
  void SetLockWaitTime(uint16_t ms) { lock_wait_time_ = ms; }
  TLockProtocol LockProtocol() const { return lock_protocol_; }
  void SetLockProtocol(TLockProtocol protocol) { lock_protocol_ = protocol; }
  uint16_t ProgressSteps() const { return progress_steps_; }
  void SetProgressSteps(uint16_t steps) { progress_steps_ = steps; }
  //! Pacing of the bounded attempts of read, write and transaction locks:
  //! the protocol's 32767 tries 3 ms apart unless changed. Programs keep the
  //! default; a shorter bound only makes this session give up sooner.
  const TBoundedLockTiming& TableLockTiming() const { return table_lock_timing_; }
  void SetTableLockTiming(const TBoundedLockTiming& timing);

  // ----- Buffer limits of the session's tables -----
  int32_t DataBufferSize() const { return data_buffer_size_; }
  void SetDataBufferSize(int32_t bytes) { data_buffer_size_ = bytes; }
  int32_t DataBufferCount() const { return data_buffer_count_; }
  void SetDataBufferCount(int32_t count) { data_buffer_count_ = count; }
  int32_t IndexBufferSize() const { return index_buffer_size_; }
  void SetIndexBufferSize(int32_t bytes) { index_buffer_size_ = bytes; }
  int32_t BlobBufferSize() const { return blob_buffer_size_; }
  void SetBlobBufferSize(int32_t bytes) { blob_buffer_size_ = bytes; }
  int32_t BlobBufferCount() const { return blob_buffer_count_; }
  void SetBlobBufferCount(int32_t count) { blob_buffer_count_ = count; }

  // ----- Directories -----
  //! Directory of a database named without one: the process's current
  //! directory at creation, ending with "/".
  const std::string& CurrentDir() const { return current_dir_; }
  //! Directory for private temporary files; "" when cleared.
  const std::string& PrivateDir() const { return private_dir_; }
  //! "" clears it; otherwise the trimmed text (with "\" as "/") ending with "/".
  void SetPrivateDir(const std::string& dir);
  //! The private directory, or the current directory when it is empty.
  const std::string& TemporaryFilesDir() const;

  // ----- Passwords (compared exactly, with regard to case) -----
  //! Appends password unless it is empty or already known.
  void AddPassword(const std::string& password);
  //! Removes the first entry equal to password.
  void RemovePassword(const std::string& password);
  void RemoveAllPasswords() { passwords_.clear(); }
  bool HasPassword(const std::string& password) const;
  const std::vector<std::string>& Passwords() const { return passwords_; }

  // ----- Local or remote -----
  bool Remote() const { return remote_; }
  //! Marks the session remote (stRemote) or local; the components change it
  //! only while the session is inactive.
  void SetRemote(bool remote) { remote_ = remote; }
  bool ServerSide() const { return server_side_; }
  TRemoteSettings& RemoteSettings() { return remote_settings_; }
  const TRemoteSettings& RemoteSettings() const { return remote_settings_; }
  //! Activation's last step: nothing for a local session; a remote session
  //! raises VEVURA_REMOTECONNECT naming the server address, since only local
  //! sessions are offered.
  void Connect();

  // ----- Data directories -----
  //! The data directory of the path that name and directory give (see
  //! data_directory.h): the session's existing one for that path, its use
  //! count raised, or a new one with use count 1. VEVURA_REMOTECONNECT for a
  //! remote session.
  TDataDirectory* OpenDataDirectory(const std::string& name, const std::string& directory);
  //! Lowers the directory's use count and frees it when that reaches 0;
  //! nothing for a directory the session does not hold.
  void CloseDataDirectory(TDataDirectory* directory);
  const std::vector<std::unique_ptr<TDataDirectory>>& DataDirectories() const {
    return directories_;
  }

 private:
  //! The path a database of this name and directory works in.
  std::string DirectoryPath(const std::string& name, const std::string& directory) const;
  //! The session's directory with that path, or nullptr.
  TDataDirectory* FindDirectory(const std::string& path) const;
  [[noreturn]] void RaiseRemoteRefused() const;

  std::vector<std::unique_ptr<TDataDirectory>> directories_;  //!< open data directories
  std::vector<std::string> passwords_;                        //!< known table passwords
  std::string current_dir_;                                   //!< ends with "/"
  std::string private_dir_;                                   //!< "" or ends with "/"
  bool strict_change_detection_ = false;                      //!< re-read at every navigation
  bool force_buffer_flush_ = false;                           //!< flush to disk after writes
  uint8_t lock_retry_count_ = kDefaultLockRetryCount;         //!< record lock retries
  uint16_t lock_wait_time_ = kDefaultLockWaitTime;            //!< ms between record lock tries
  TLockProtocol lock_protocol_ = lpPessimistic;               //!< when edited records lock
  uint16_t progress_steps_ = kDefaultProgressSteps;           //!< progress granularity
  TBoundedLockTiming table_lock_timing_;                      //!< bounded attempt pacing
  int32_t data_buffer_size_ = kSessionDataBufferSize;         //!< record buffer bytes
  int32_t data_buffer_count_ = kSessionDataBufferCount;       //!< record buffers at most
  int32_t index_buffer_size_ = kSessionIndexBufferSize;       //!< index page bytes per index
  int32_t blob_buffer_size_ = kSessionBlobBufferSize;         //!< BLOB block bytes
  int32_t blob_buffer_count_ = kSessionBlobBufferCount;       //!< BLOB buffers at most
  bool remote_ = false;                                       //!< a remote session
  const bool server_side_;                                    //!< a server's own session
  TRemoteSettings remote_settings_;                           //!< remote only
};

//! A directory as sessions store it: trimmed, "\" as "/", ending with "/"
//! ("" stays "").
std::string NormalizeDirectory(const std::string& dir);

}  // namespace vevura
