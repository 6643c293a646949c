#pragma once
// TVEVURASessionList: every session component of the process.
//
// The list holds the sessions in creation order. Its first session is the
// default session "Default": it is created with the list, before any other
// session, has no owner, is owned by the list and is the only session marked
// default. Finding a session by an empty name gives the default session.
//
// The list also keeps the bit set of auto-session numbers in use (numbers
// from 0 up; the lowest free one is taken) and owns the process-wide
// re-entrant component lock (component_lock.h) under which sessions and
// databases change.
//
// The list is never destroyed (sessions may be touched by static
// destructors); CloseAll deactivates every session at program end, the
// default one last, which stops the engine.
//
// Thread-safety: the list and the number set are guarded by the list lock;
// the component lock is separate and may be held while the list lock is
// taken, never the other way round.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/system.h"

namespace vevura {

class TVEVURASession;

class TVEVURASessionList {
 public:
  TVEVURASessionList();
  TVEVURASessionList(const TVEVURASessionList&) = delete;
  TVEVURASessionList& operator=(const TVEVURASessionList&) = delete;

  //! The default session for "", else the first session of that name
  //! (compared without regard to case), else nullptr.
  TVEVURASession* FindSession(const std::string& name) const;
  //! As FindSession; "Session name %s is not valid." when there is none.
  TVEVURASession& GetSession(const std::string& name) const;
  TVEVURASession& DefaultSession() const { return *default_session_; }
  //! A copy of the list, in creation order.
  std::vector<TVEVURASession*> List() const;
  //! Deactivates every session, last first and the default session last.
  void CloseAll();

  //! The process-wide re-entrant component lock.
  platform::CriticalSection& ComponentLock() { return component_lock_; }

  // ----- Used by sessions -----
  void Add(TVEVURASession* session);
  void Remove(TVEVURASession* session);
  //! Takes the lowest free auto-session number and marks it used.
  int TakeAutoSessionNumber();
  //! Frees a number; nothing for a number not in use.
  void FreeAutoSessionNumber(int number);

 private:
  mutable std::mutex list_lock_;                     //!< guards the two members below
  std::vector<TVEVURASession*> sessions_;            //!< creation order, default first
  std::vector<bool> auto_numbers_;                   //!< used auto-session numbers
  platform::CriticalSection component_lock_;         //!< the component lock
  std::unique_ptr<TVEVURASession> default_session_;  //!< "Default", owned here
};

//! The process-wide session list, made with its default session on first use.
TVEVURASessionList& Sessions();

}  // namespace vevura
