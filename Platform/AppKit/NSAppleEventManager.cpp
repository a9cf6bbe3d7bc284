#include "AppKit/NSAppleEventManager.h"

NSAppleEventManager& NSAppleEventManager::sharedAppleEventManager() {
  static NSAppleEventManager* manager = new NSAppleEventManager;
  return *manager;
}

void NSAppleEventManager::removeEventHandler(AEEventClass eventClass, AEEventID eventID) {
  handlers_.erase({eventClass, eventID});
}

bool NSAppleEventManager::hasEventHandler(AEEventClass eventClass, AEEventID eventID) const {
  return handlers_.count({eventClass, eventID}) != 0;
}

bool NSAppleEventManager::dispatch(const NSAppleEventDescriptor& event) {
  auto found = handlers_.find({event.eventClass(), event.eventID()});
  if (found == handlers_.end())
    return false;
  Handler handler = found->second; // the handler may replace itself while it runs
  withCurrentEvent(event, [&] {
    NSAppleEventDescriptor reply;
    handler(event, reply);
  });
  return true;
}

void NSAppleEventManager::withCurrentEvent(const NSAppleEventDescriptor& event,
                                           const std::function<void()>& work) {
  std::optional<NSAppleEventDescriptor> outer = std::move(current_);
  current_ = event;
  work();
  current_ = std::move(outer);
}
