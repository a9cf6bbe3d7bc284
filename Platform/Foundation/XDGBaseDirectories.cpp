#include "Foundation/XDGBaseDirectories.h"

#include <cstdlib>
#include <pwd.h>
#include <string_view>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

fs::path homeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home == '/')
    return home;
  if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
    return entry->pw_dir;
  return "/";
}

fs::path fromEnvironment(const char* name, const fs::path& relativeToHome) {
  if (const char* value = std::getenv(name); value && *value == '/')
    return value;
  return homeFolder() / relativeToHome;
}

} // namespace

fs::path XDGBaseDirectories::dataHome() {
  return fromEnvironment("XDG_DATA_HOME", ".local/share");
}
fs::path XDGBaseDirectories::configHome() {
  return fromEnvironment("XDG_CONFIG_HOME", ".config");
}
fs::path XDGBaseDirectories::cacheHome() {
  return fromEnvironment("XDG_CACHE_HOME", ".cache");
}

std::vector<fs::path> XDGBaseDirectories::dataDirs() {
  std::vector<fs::path> folders;
  const char* value = std::getenv("XDG_DATA_DIRS");
  std::string_view list = value && *value ? value : "/usr/local/share:/usr/share";
  while (!list.empty()) {
    const std::size_t colon = list.find(':');
    const std::string_view entry = list.substr(0, colon);
    if (!entry.empty() && entry.front() == '/')
      folders.emplace_back(entry);
    list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
  }
  return folders;
}
