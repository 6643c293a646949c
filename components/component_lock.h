#pragma once
// TComponentLock: a session's hold on the process-wide component lock.
//
// Entering increments the session's nesting count; the first entry takes the
// process-wide re-entrant component lock (owned by the session list) and
// then makes sure the session is active, activating it if not. Leaving
// decrements the count, and the last leave releases the process-wide lock.
// A failed entry undoes the count and releases what it took. Every engine
// call a session or its databases make runs inside one.

namespace vevura {

class TVEVURASession;

class TComponentLock {
 public:
  //! Enters session's component lock; throws what activation throws.
  explicit TComponentLock(TVEVURASession& session);
  ~TComponentLock();
  TComponentLock(const TComponentLock&) = delete;
  TComponentLock& operator=(const TComponentLock&) = delete;

 private:
  TVEVURASession& session_;  //!< whose lock is held
};

}  // namespace vevura
