// NSAppleEventManager: routes the application's Apple events to installed handlers, and tells
// a handler (or the start-up code) which event is being handled. Main thread only.
#pragma once

#include "AppKit/NSAppleEventDescriptor.h"

#include <functional>
#include <map>
#include <optional>
#include <utility>

class NSAppleEventManager {
public:
  using Handler =
      std::function<void(const NSAppleEventDescriptor& event, NSAppleEventDescriptor& reply)>;

  static NSAppleEventManager& sharedAppleEventManager();

  // The event being handled (the launch event while the application finishes launching), or
  // null outside of any event.
  const NSAppleEventDescriptor* currentAppleEvent() const {
    return current_ ? &*current_ : nullptr;
  }

  // Installs `handler`'s `selector` for one event class and ID, replacing any handler (the
  // framework's default one included). The handler object is not owned and must outlive its
  // installation.
  template <class T>
  void setEventHandler(T* handler,
                       void (T::*selector)(const NSAppleEventDescriptor&, NSAppleEventDescriptor&),
                       AEEventClass eventClass, AEEventID eventID) {
    handlers_[{eventClass, eventID}] = [handler, selector](const NSAppleEventDescriptor& event,
                                                           NSAppleEventDescriptor& reply) {
      (handler->*selector)(event, reply);
    };
  }
  void removeEventHandler(AEEventClass eventClass, AEEventID eventID);
  bool hasEventHandler(AEEventClass eventClass, AEEventID eventID) const;

  // Delivers `event` to its installed handler with currentAppleEvent set while it runs.
  // Returns false, doing nothing, when no handler is installed.
  bool dispatch(const NSAppleEventDescriptor& event);

  // Runs `work` with `event` as the current event (the application's launch).
  void withCurrentEvent(const NSAppleEventDescriptor& event, const std::function<void()>& work);

private:
  std::map<std::pair<AEEventClass, AEEventID>, Handler> handlers_;
  std::optional<NSAppleEventDescriptor> current_;
};
