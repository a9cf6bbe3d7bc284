// ApplicationDatabase: the per-user Launch Services database of registered applications, one
// record per bundle path, with the desktop files its registration installed so that
// unregistration removes exactly those.
#pragma once

#include "PlugInKit/RegistryLocation.h"

#include <filesystem>
#include <string>
#include <vector>

struct ApplicationRecord {
  std::string identifier;
  std::string name;
  std::string version;
  std::string bundleVersion;
  std::filesystem::path path;
  std::filesystem::path executable;
  bool trusted = false;
  std::vector<std::string> mimeTypes; // advertised by the desktop entry
  std::filesystem::path desktopEntry; // installed desktop entry
  std::filesystem::path mimePackage;  // installed shared-mime-info package, or empty

  friend bool operator==(const ApplicationRecord&, const ApplicationRecord&) = default;
};

namespace ApplicationDatabase {

// The records as stored; a damaged file is set aside and reported in `warnings`.
std::vector<ApplicationRecord> read(const RegistryLocation& location, bool lockHeld,
                                    std::vector<std::string>& warnings);
// Replaces the database (caller holds the lock). Throws std::system_error on failure.
void write(const RegistryLocation& location, const RegistryLock& lock,
           const std::vector<ApplicationRecord>& records);

} // namespace ApplicationDatabase
