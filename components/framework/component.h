#pragma once
// TComponent: the smallest component base the access components need.
//
// A component has a name and an optional owner. The owner lists the
// components it holds, in creation order, so that a session can find the
// other components of its owner (auto-session naming) and a database the one
// a dataset's owner prefers. The owner does not free its components: whoever
// creates a component owns it (a std::unique_ptr or a member); a component
// leaves its owner's list when destroyed, and an owner that goes first
// releases its components from it.
//
// TSessionBound is implemented by every component that names the session it
// works in (databases now, datasets later), so that an auto-session can hand
// its name to its owner's components.
//
// Thread-safety: components are used by one thread at a time.

#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace vevura {

class TComponent {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  const std::string& Name() const { return name_; }
  //! Renames the component; NameChanged tells the component afterwards.
  void SetName(const std::string& name);
  TComponent* Owner() const { return owner_; }
  //! The components this one holds, in creation order.
  const std::vector<TComponent*>& Components() const { return components_; }

 protected:
  //! Called after every rename that changed the name.
  virtual void NameChanged() {}

 private:
  std::string name_;                     //!< the component's name
  TComponent* owner_;                    //!< holder, or nullptr
  std::vector<TComponent*> components_;  //!< components held, not owned
};

//! A component that works in a session named by its SessionName.
class TSessionBound {
 public:
  virtual ~TSessionBound() = default;
  virtual const std::string& SessionName() const = 0;
  virtual void SetSessionName(const std::string& name) = 0;
};

//! Where errors go that no caller can receive (a destructor's): the
//! handler installed here, else standard error.
using TApplicationErrorHandler = std::function<void(const std::exception& error)>;
void SetApplicationErrorHandler(TApplicationErrorHandler handler);
void HandleApplicationError(const std::exception& error);

//! Throws EDatabaseError with message, prefixed "%s: %s" with the
//! component's name when it has one.
[[noreturn]] void RaiseComponentError(const TComponent& component, const std::string& message);

}  // namespace vevura
