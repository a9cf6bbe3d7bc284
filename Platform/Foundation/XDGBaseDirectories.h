// The per-user base folders of the XDG Base Directory specification: where user data,
// configuration and caches live ($XDG_DATA_HOME, $XDG_CONFIG_HOME, $XDG_CACHE_HOME, with their
// defaults under the home folder) and the system data folders ($XDG_DATA_DIRS).
#pragma once

#include <filesystem>
#include <vector>

namespace XDGBaseDirectories {

// Each variable counts only when it holds an absolute path; otherwise the default applies.
std::filesystem::path dataHome();              // ~/.local/share
std::filesystem::path configHome();            // ~/.config
std::filesystem::path cacheHome();             // ~/.cache
std::vector<std::filesystem::path> dataDirs(); // /usr/local/share, /usr/share

} // namespace XDGBaseDirectories
