// PreviewServiceClient: asks the per-user preview server (started on demand by the session
// bus) for previews, and resets it. Every call says plainly when the server cannot be used, so
// that callers fall back to running the extensions themselves. Thread-safe: each call is one
// blocking round trip on the session bus.
#pragma once

#include "QuickLook/PreviewWire.h"

#include <filesystem>
#include <optional>
#include <string>

namespace PreviewServiceClient {

// Whether a session bus is there to reach (DBUS_SESSION_BUS_ADDRESS, else
// $XDG_RUNTIME_DIR/bus); without one, no call is made at all.
bool sessionBusAvailable();

// The reply for `path` from the server serving `appBundle` (contentType may be empty: the
// server decides it from the name). nullopt, with `why`, when the server cannot be used: no
// bus, no service installed, or a server of another app bundle. A failed preview is a reply
// with its error.
std::optional<PreviewWire::Reply> preview(const std::filesystem::path& appBundle,
                                          const std::string& path, const std::string& contentType,
                                          std::string& why);

// Resets a running server (does not start one): extension processes end, requests in flight
// fail, the registrations are read again; `dropCache` also drops cached replies. False, with
// `why`, on failure; true when no server was running either.
bool reset(bool dropCache, std::string& why);

} // namespace PreviewServiceClient
