// ProcessInfo: what the running process was started with: its environment, its command line
// and whether the desktop started it as a login item.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ProcessInfo {

// The value of an environment variable, read anew at each call.
std::optional<std::string> environmentValue(const std::string& name);

// The process's arguments, the executable's name first (read from /proc/self/cmdline).
const std::vector<std::string>& arguments();

// The argument that the login item's desktop entry appends to the command line, so that a
// launch at login can be told from one by the user. Only the platform reads it.
inline constexpr std::string_view kLoginItemLaunchArgument = "--launched-as-login-item";

// True when the process was started with kLoginItemLaunchArgument as its first argument.
bool wasStartedAsLoginItem();

// The absolute path of the running executable.
std::string executablePath();

} // namespace ProcessInfo
