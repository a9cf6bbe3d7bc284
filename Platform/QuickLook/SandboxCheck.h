// SandboxCheck: lets an extension process make sure it was started inside its sandbox (by the
// preview service's launcher) before it serves any request, so that an extension run directly
// by something else refuses to work instead of running with the user's full rights.
#pragma once

#include <optional>
#include <string>

// Why the calling process is not sandboxed (no seccomp filter, or new privileges possible), or
// nullopt when it is.
std::optional<std::string> sandboxProblem();
