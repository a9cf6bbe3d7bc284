// ExtensionRegistration: makes the bundle's preview extensions known to the desktop by running
// the registration tools (Launch Services, the plug-in registry, the Quick Look reset) in a
// fixed order, and the command runner those runs use.
#pragma once

#include "Foundation/Bundle.h"
#include "Foundation/NSError.h"
#include "Foundation/URL.h"
#include "QuickLookRegistrationError.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The tools' paths and the competing SQLite extension's identifier, fixed for a build and
// recorded in the application's Info.plist.
struct RegistrationTools {
  std::string launchServices;
  std::string plugInKit;
  std::string quickLook;
  std::string foreignSQLitePreviewIdentifier;

  // From the keys LumivaleLaunchServicesToolPath, LumivalePlugInKitToolPath,
  // LumivaleQuickLookToolPath and LumivaleForeignSQLitePreviewIdentifier; a missing tool key
  // leaves the tool's bare name, which cannot be started.
  static RegistrationTools fromBundle(const Bundle& bundle);
};

// The application's own extensions, in the order they are elected.
inline constexpr std::array<std::string_view, 3> kOwnExtensionIdentifiers = {
    "com.lumivale.quicklook.markdown", "com.lumivale.quicklook.notebook",
    "com.lumivale.quicklook.tabular"};

// A tool that ended badly, or one that could not be started at all (the platform's error).
using RegistrationError = std::variant<QuickLookRegistrationError, NSError>;

class RegistrationResult {
public:
  static RegistrationResult success() { return RegistrationResult(); }
  static RegistrationResult failure(RegistrationError error) {
    RegistrationResult result;
    result.error_ = std::move(error);
    return result;
  }

  bool succeeded() const { return !error_; }
  const std::optional<RegistrationError>& error() const { return error_; }
  // The error's localized description; empty for a success.
  std::string localizedDescription() const;

private:
  std::optional<RegistrationError> error_;
};

// Runs a tool to its end. Throws NSErrorException when it cannot be started and
// QuickLookRegistrationError when it exits with a non-zero status. Blocking.
void runCommand(const std::string& path, const std::vector<std::string>& arguments);

// Runs a tool to its end and returns its combined output (empty when it is not valid UTF-8),
// whatever its status. Throws NSErrorException when it cannot be started. Blocking.
std::string captureOutput(const std::string& path, const std::vector<std::string>& arguments);

// The registration sequence for the bundle at `bundleURL`: lsregister (stops on failure),
// pluginkit ignore for the foreign extension and use for each own extension (failures
// ignored), qlmanage -r and qlmanage -r cache (each stops on failure). Blocking; called on a
// background queue.
RegistrationResult registerExtensions(const URL& bundleURL, const RegistrationTools& tools);
