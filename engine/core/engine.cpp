#include "engine/core/engine.h"

#include <memory>
#include <mutex>

#include "engine/base/engine_error.h"
#include "engine/core/data_session.h"
#include "engine/expr/records_bitmap_stack.h"
#include "engine/storage/file/file_list.h"
#include "engine/storage/language/char_map.h"
#include "engine/storage/language/languages.h"

namespace vevura {
namespace {

//! Guards the engine's state below.
std::mutex& EngineLock() {
  static std::mutex lock;
  return lock;
}

//! The default engine session while the engine runs.
std::unique_ptr<TDataSession>& DefaultSessionSlot() {
  static std::unique_ptr<TDataSession> session;
  return session;
}

}  // namespace

void StartEngine() {
  std::lock_guard guard(EngineLock());
  if (DefaultSessionSlot() != nullptr) return;
  CreateFileList();
  CreateRecordsBitmapStack();
  Languages();  // the list of language names and ids, built once
  DefaultSessionSlot() = std::make_unique<TDataSession>(false);
}

void StopEngine() {
  std::unique_ptr<TDataSession> session;
  {
    std::lock_guard guard(EngineLock());
    if (DefaultSessionSlot() == nullptr) return;
    session = std::move(DefaultSessionSlot());
  }
  // Freed outside the lock: closing tables reaches the file list, whose own
  // lock comes after nothing of ours.
  session.reset();
  std::lock_guard guard(EngineLock());
  LanguageCharMaps().Clear();
  DestroyRecordsBitmapStack();
  DestroyFileList();
}

bool EngineStarted() {
  std::lock_guard guard(EngineLock());
  return DefaultSessionSlot() != nullptr;
}

TDataSession& DefaultEngineSession() {
  std::lock_guard guard(EngineLock());
  if (DefaultSessionSlot() == nullptr) {
    RaiseEngineError(VEVURA_NOTINITIALIZED, "", "", "", "", "", "", "");
  }
  return *DefaultSessionSlot();
}

}  // namespace vevura
