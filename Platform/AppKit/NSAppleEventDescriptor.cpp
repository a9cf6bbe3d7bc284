#include "AppKit/NSAppleEventDescriptor.h"

NSAppleEventDescriptor NSAppleEventDescriptor::appleEvent(AEEventClass eventClass,
                                                          AEEventID eventID) {
  NSAppleEventDescriptor event;
  event.eventClass_ = eventClass;
  event.eventID_ = eventID;
  return event;
}

NSAppleEventDescriptor NSAppleEventDescriptor::descriptorWithEnumCode(FourCharCode code) {
  NSAppleEventDescriptor value;
  value.enumCode_ = code;
  return value;
}

std::optional<NSAppleEventDescriptor>
NSAppleEventDescriptor::paramDescriptorForKeyword(AEKeyword keyword) const {
  auto found = parameters_.find(keyword);
  if (found == parameters_.end())
    return std::nullopt;
  return *found->second;
}

void NSAppleEventDescriptor::setParamDescriptor(const NSAppleEventDescriptor& descriptor,
                                                AEKeyword keyword) {
  parameters_[keyword] = std::make_shared<const NSAppleEventDescriptor>(descriptor);
}
