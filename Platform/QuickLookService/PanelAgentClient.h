// PanelAgentClient: hands documents to the per-user panel agent (started on demand by the
// session bus), which shows them in a panel of its already running web engine, and waits until
// that panel is closed. Every call says plainly when the agent cannot be used, so that the
// caller shows the panel itself. Blocking; thread-safe (a private bus connection per call).
#pragma once

#include "QuickLookService/PanelAgentRequest.h"

#include <optional>
#include <string>

namespace PanelAgentClient {

struct Outcome {
  int failed = 0;     // items whose preview failed
  int unfinished = 0; // still being made when the panel closed
};

// Shows `request`'s documents; the panel's messages go to this process's standard error.
// Returns once the panel is closed. nullopt, with `why`, when the agent cannot be used (no
// bus, not installed, cannot start, another desktop) and nothing was shown.
std::optional<Outcome> show(const PanelAgentRequest& request, std::string& why);

// Asks a running agent (none is started) to close its panels and quit. False, with `why`, on
// failure; true when none was running.
bool quit(std::string& why);

} // namespace PanelAgentClient
