#include "components/framework/component.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "engine/base/engine_error.h"

namespace vevura {

namespace {

std::mutex& HandlerLock() {
  static std::mutex lock;
  return lock;
}

TApplicationErrorHandler& InstalledHandler() {
  static TApplicationErrorHandler handler;
  return handler;
}

}  // namespace

void SetApplicationErrorHandler(TApplicationErrorHandler handler) {
  std::lock_guard<std::mutex> guard(HandlerLock());
  InstalledHandler() = std::move(handler);
}

void HandleApplicationError(const std::exception& error) {
  TApplicationErrorHandler handler;
  {
    std::lock_guard<std::mutex> guard(HandlerLock());
    handler = InstalledHandler();
  }
  if (handler) {
    handler(error);
  } else {
    std::fprintf(stderr, "%s\n", error.what());
  }
}

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_ != nullptr) owner_->components_.push_back(this);
}

TComponent::~TComponent() {
  for (TComponent* component : components_) component->owner_ = nullptr;
  if (owner_ == nullptr) return;
  auto& held = owner_->components_;
  held.erase(std::remove(held.begin(), held.end(), this), held.end());
}

void TComponent::SetName(const std::string& name) {
  if (name == name_) return;
  std::string old_name = name_;
  name_ = name;
  try {
    NameChanged();
  } catch (...) {
    name_ = old_name;
    throw;
  }
}

void RaiseComponentError(const TComponent& component, const std::string& message) {
  if (component.Name().empty()) throw EDatabaseError(message);
  throw EDatabaseError(ComponentMessage(component.Name(), message));
}

}  // namespace vevura
