// RegistryLocation: where one user's registration databases live. Discovered applications and
// plug-ins are data ($XDG_DATA_HOME/lumivale/), the user's elections are configuration
// ($XDG_CONFIG_HOME/lumivale/), the preview service's cache and reset stamp are cache
// ($XDG_CACHE_HOME/lumivale/). RegistryLock serialises every writer of these files.
#pragma once

#include "Foundation/FileLock.h"

#include <filesystem>

class RegistryLocation {
public:
  RegistryLocation(std::filesystem::path dataFolder, std::filesystem::path configFolder,
                   std::filesystem::path cacheFolder);
  // The folders under the current user's XDG base directories.
  static RegistryLocation forCurrentUser();

  std::filesystem::path plugInsFile() const;        // PlugInKit/plugins.json (data)
  std::filesystem::path electionsFile() const;      // PlugInKit/elections.json (configuration)
  std::filesystem::path applicationsFile() const;   // LaunchServices/applications.json (data)
  std::filesystem::path lockFile() const;           // registry.lock (data)
  std::filesystem::path previewCacheFolder() const; // QuickLook/Previews (cache)
  std::filesystem::path resetStampFile() const;     // QuickLook/reset-generation (cache)

private:
  std::filesystem::path data_;
  std::filesystem::path config_;
  std::filesystem::path cache_;
};

// Held around every read-modify-write of the registry files, by every process.
class RegistryLock {
public:
  explicit RegistryLock(const RegistryLocation& location) : lock_(location.lockFile()) {}

private:
  FileLock lock_;
};
