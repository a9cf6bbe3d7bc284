// PreviewServiceError: the failures of the preview service's own machinery (as opposed to a
// document's), in the domain "Lumivale.PreviewService": one table of codes and their messages,
// used by the extension side (ExtensionMain) and the host side (ExtensionKit).
#pragma once

#include "Foundation/NSError.h"

#include <cstdint>
#include <string_view>

inline constexpr const char* kPreviewServiceErrorDomain = "Lumivale.PreviewService";

enum class PreviewServiceError : std::int64_t {
  noResult = 1,             // the provider completed with neither a reply nor an error
  malformedRequest = 2,     // the extension could not decode a request frame
  undeliverableReply = 3,   // the reply does not fit a frame
  extensionUnavailable = 4, // the extension process ended or stopped answering
  unsendableRequest = 5,    // the request does not fit a frame
  timedOut = 6,             // no reply within the host's time-out; the process was ended
  cannotStart = 7,          // the extension could not be started (no sandbox, no launcher)
};

// The platform error: the case's message, completed by `detail` (what exactly went wrong).
NSError makeServiceError(PreviewServiceError error, std::string_view detail = {});
