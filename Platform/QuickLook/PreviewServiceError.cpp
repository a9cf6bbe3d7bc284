#include "QuickLook/PreviewServiceError.h"

#include <iterator>
#include <string>

namespace {

// Each case's message, by code; the detail follows it.
constexpr std::string_view kMessages[] = {
    "",
    "The preview failed without an error.", // noResult
    "The preview request is malformed: ",   // malformedRequest
    "The preview cannot be delivered: ",    // undeliverableReply
    "The preview extension ",               // extensionUnavailable
    "The preview request cannot be sent: ", // unsendableRequest
    "The preview extension ",               // timedOut
    "The preview extension cannot start: ", // cannotStart
};

} // namespace

NSError makeServiceError(PreviewServiceError error, std::string_view detail) {
  const auto code = static_cast<std::size_t>(error);
  std::string description(code < std::size(kMessages) ? kMessages[code] : std::string_view());
  description += detail;
  return {kPreviewServiceErrorDomain, static_cast<std::int64_t>(error), std::move(description)};
}
