#include "components/component_lock.h"

#include "components/vevura_session.h"

namespace vevura {

TComponentLock::TComponentLock(TVEVURASession& session) : session_(session) {
  session_.Lock();
}

TComponentLock::~TComponentLock() {
  session_.Unlock();
}

}  // namespace vevura
