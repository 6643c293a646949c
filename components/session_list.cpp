#include "components/session_list.h"

#include <algorithm>

#include "components/vevura_session.h"
#include "engine/base/engine_error.h"
#include "platform/locale.h"

namespace vevura {

TVEVURASessionList::TVEVURASessionList() : default_session_(TVEVURASession::MakeDefault(*this)) {}

TVEVURASession* TVEVURASessionList::FindSession(const std::string& name) const {
  if (name.empty()) return default_session_.get();
  std::lock_guard guard(list_lock_);
  for (TVEVURASession* session : sessions_) {
    if (platform::SameTextSystem(session->SessionName(), name)) return session;
  }
  return nullptr;
}

TVEVURASession& TVEVURASessionList::GetSession(const std::string& name) const {
  TVEVURASession* session = FindSession(name);
  if (session == nullptr) throw EDatabaseError(FormatMessage(msg::SInvalidSessionName, name));
  return *session;
}

std::vector<TVEVURASession*> TVEVURASessionList::List() const {
  std::lock_guard guard(list_lock_);
  return sessions_;
}

void TVEVURASessionList::CloseAll() {
  std::vector<TVEVURASession*> sessions = List();
  for (auto it = sessions.rbegin(); it != sessions.rend(); ++it) (*it)->SetActive(false);
}

void TVEVURASessionList::Add(TVEVURASession* session) {
  std::lock_guard guard(list_lock_);
  sessions_.push_back(session);
}

void TVEVURASessionList::Remove(TVEVURASession* session) {
  std::lock_guard guard(list_lock_);
  sessions_.erase(std::remove(sessions_.begin(), sessions_.end(), session), sessions_.end());
}

int TVEVURASessionList::TakeAutoSessionNumber() {
  std::lock_guard guard(list_lock_);
  auto free = std::find(auto_numbers_.begin(), auto_numbers_.end(), false);
  int number = static_cast<int>(free - auto_numbers_.begin());
  if (free == auto_numbers_.end()) {
    auto_numbers_.push_back(true);
  } else {
    *free = true;
  }
  return number;
}

void TVEVURASessionList::FreeAutoSessionNumber(int number) {
  std::lock_guard guard(list_lock_);
  if (number >= 0 && static_cast<size_t>(number) < auto_numbers_.size()) {
    auto_numbers_[number] = false;
  }
}

TVEVURASessionList& Sessions() {
  // Never destroyed: see the header.
  static TVEVURASessionList* list = new TVEVURASessionList();
  return *list;
}

}  // namespace vevura
