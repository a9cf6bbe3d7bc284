// NSAppleEventDescriptor: an Apple event (class, ID and keyword parameters) or one of its
// parameter values, as a plain value. On this platform the events are made by the application
// framework itself: the launch event from how the process started, and the reopen event when a
// second launch hands over to the running instance.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>

using FourCharCode = std::uint32_t;
using AEEventClass = FourCharCode;
using AEEventID = FourCharCode;
using AEKeyword = FourCharCode;

// A four-character code such as 'oapp' as a big-endian 32-bit value.
constexpr FourCharCode fourCharCode(const char (&text)[5]) {
  return (FourCharCode(std::uint8_t(text[0])) << 24) | (FourCharCode(std::uint8_t(text[1])) << 16) |
         (FourCharCode(std::uint8_t(text[2])) << 8) | FourCharCode(std::uint8_t(text[3]));
}

inline constexpr AEEventClass kCoreEventClass = fourCharCode("aevt");
inline constexpr AEEventID kAEOpenApplication = fourCharCode("oapp");
inline constexpr AEEventID kAEReopenApplication = fourCharCode("rapp");
inline constexpr AEKeyword keyAEPropData = fourCharCode("prdt");
inline constexpr FourCharCode keyAELaunchedAsLogInItem = fourCharCode("lgit");

class NSAppleEventDescriptor {
public:
  static NSAppleEventDescriptor appleEvent(AEEventClass eventClass, AEEventID eventID);
  static NSAppleEventDescriptor descriptorWithEnumCode(FourCharCode code);

  // Zero for a descriptor that is not an event.
  AEEventClass eventClass() const { return eventClass_; }
  AEEventID eventID() const { return eventID_; }
  // The code of an enumerated value; zero for other descriptors.
  FourCharCode enumCodeValue() const { return enumCode_; }

  std::optional<NSAppleEventDescriptor> paramDescriptorForKeyword(AEKeyword keyword) const;
  void setParamDescriptor(const NSAppleEventDescriptor& descriptor, AEKeyword keyword);

private:
  AEEventClass eventClass_ = 0;
  AEEventID eventID_ = 0;
  FourCharCode enumCode_ = 0;
  std::map<AEKeyword, std::shared_ptr<const NSAppleEventDescriptor>> parameters_;
};
