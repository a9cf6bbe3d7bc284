#include "PlugInKit/RegistryLocation.h"

#include "Foundation/XDGBaseDirectories.h"

namespace fs = std::filesystem;

RegistryLocation::RegistryLocation(fs::path dataFolder, fs::path configFolder, fs::path cacheFolder)
    : data_(std::move(dataFolder)), config_(std::move(configFolder)),
      cache_(std::move(cacheFolder)) {}

RegistryLocation RegistryLocation::forCurrentUser() {
  return RegistryLocation(XDGBaseDirectories::dataHome() / "lumivale",
                          XDGBaseDirectories::configHome() / "lumivale",
                          XDGBaseDirectories::cacheHome() / "lumivale");
}

fs::path RegistryLocation::plugInsFile() const {
  return data_ / "PlugInKit" / "plugins.json";
}
fs::path RegistryLocation::electionsFile() const {
  return config_ / "PlugInKit" / "elections.json";
}
fs::path RegistryLocation::applicationsFile() const {
  return data_ / "LaunchServices" / "applications.json";
}
fs::path RegistryLocation::lockFile() const {
  return data_ / "registry.lock";
}
fs::path RegistryLocation::previewCacheFolder() const {
  return cache_ / "QuickLook" / "Previews";
}
fs::path RegistryLocation::resetStampFile() const {
  return cache_ / "QuickLook" / "reset-generation";
}
