// NSError: the error record that crosses the preview service boundary (domain, code, text),
// and the bridge that turns any exception thrown by a pipeline into one.
#pragma once

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

struct NSError {
  std::string domain;
  std::int64_t code = 0;
  std::string localizedDescription;

  friend bool operator==(const NSError&, const NSError&) = default;
};

// Implemented by the system's own error types so that they keep their domain and code when
// they reach a completion handler.
class NSErrorConvertible {
public:
  virtual ~NSErrorConvertible() = default;
  virtual NSError nsError() const = 0;
};

// An exception that carries a platform error unchanged (file reads, JSON parsing).
class NSErrorException : public std::runtime_error, public NSErrorConvertible {
public:
  explicit NSErrorException(NSError error)
      : std::runtime_error(error.localizedDescription), error_(std::move(error)) {}
  NSError nsError() const override { return error_; }
  const NSError& error() const { return error_; }

private:
  NSError error_;
};

// Well-known domains and codes of the platform stand-ins.
namespace NSErrorDomain {
inline constexpr const char* kCocoa = "NSCocoaErrorDomain";
inline constexpr const char* kPOSIX = "NSPOSIXErrorDomain";
} // namespace NSErrorDomain

namespace NSCocoaErrorCode {
inline constexpr std::int64_t kFileReadNoSuchFile = 260;
inline constexpr std::int64_t kFileReadUnknown = 256;
inline constexpr std::int64_t kFileReadNoPermission = 257;
inline constexpr std::int64_t kFileReadInapplicableStringEncoding = 261;
inline constexpr std::int64_t kFileReadTooLarge = 263;
inline constexpr std::int64_t kPropertyListReadCorrupt = 3840;
} // namespace NSCocoaErrorCode

// Converts the exception in flight (any type) to the error a completion handler receives.
NSError makeNSError(std::exception_ptr error);
