// Registration: what `lsregister` does. Registering records an application bundle (and, when
// recursive, its extensions, which enter the plug-in registry with the default election) and
// installs its desktop integration; unregistering removes the records, the plug-ins, their
// elections and the desktop files again. Each is one read-modify-write under the registry lock;
// files are replaced atomically and restored when a later write fails.
#pragma once

#include "LaunchServices/ApplicationDatabase.h"
#include "PlugInKit/PlugInRegistry.h"

#include <filesystem>
#include <string>
#include <vector>

struct RegistrationOptions {
  bool force = false;     // -f: rewrite everything even when nothing changed
  bool recursive = false; // -R: also register the extensions inside the bundle
  bool trusted = false;   // -trusted
};

// Where the desktop integration goes and what it knows of the system.
struct DesktopLocation {
  std::filesystem::path dataHome;              // applications/ and mime/ go here
  std::vector<std::filesystem::path> dataDirs; // the system's MIME database
  // The preview tool the desktop entry runs when the app's Info.plist names none.
  std::filesystem::path defaultPreviewTool;
  bool runUpdateTools = true;

  static DesktopLocation forCurrentUser(std::filesystem::path defaultPreviewTool);
};

class Registration {
public:
  Registration(RegistryLocation registry, DesktopLocation desktop);

  // Registers the application at `bundle`. Returns false (recording nothing) when it was already
  // registered exactly so and `force` is not set. Throws InvalidBundleError for a bundle that
  // cannot be registered, std::runtime_error / std::system_error for failures to store.
  bool registerBundle(const std::filesystem::path& bundle, const RegistrationOptions& options);

  // Unregisters the application at `bundle` (which may no longer exist). Throws
  // std::runtime_error when it is not registered.
  void unregisterBundle(const std::filesystem::path& bundle);

  // The registered applications and plug-ins, for `lsregister -dump`.
  std::string dump();

  // Damaged files set aside, missing update tools: for the tool to report.
  const std::vector<std::string>& warnings() const { return warnings_; }

private:
  RegistryLocation registry_;
  DesktopLocation desktop_;
  PlugInRegistry plugIns_;
  std::vector<std::string> warnings_;
};
