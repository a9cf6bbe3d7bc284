#include "QuickLook/PreviewServiceError.h"

#include <string>

namespace {

// Each case's message; the detail follows it.
std::string_view messageOf(PreviewServiceError error) {
  switch (error) {
  case PreviewServiceError::noResult:
    return "The preview failed without an error.";
  case PreviewServiceError::malformedRequest:
    return "The preview request is malformed: ";
  case PreviewServiceError::undeliverableReply:
    return "The preview cannot be delivered: ";
  case PreviewServiceError::extensionUnavailable:
    return "The preview extension ";
  case PreviewServiceError::unsendableRequest:
    return "The preview request cannot be sent: ";
  }
  return "The preview failed: ";
}

} // namespace

NSError makeServiceError(PreviewServiceError error, std::string_view detail) {
  std::string description(messageOf(error));
  description += detail;
  return {kPreviewServiceErrorDomain, static_cast<std::int64_t>(error), std::move(description)};
}
