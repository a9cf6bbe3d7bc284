// SMAppService: the application as a login item. On the desktop it is the XDG autostart entry
// $XDG_CONFIG_HOME/autostart/<bundle identifier>.desktop, whose Exec line starts the
// application with the login marker. Status: no entry = not registered; an entry the user
// turned off (Hidden=true or X-GNOME-Autostart-enabled=false) = requires approval (registering
// then fails rather than overriding the user); an entry whose program is missing = not found;
// otherwise enabled. Any thread; calls are not synchronised with each other.
#pragma once

#include "Foundation/NSError.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

enum class SMAppServiceStatus : int {
  notRegistered = 0,
  enabled = 1,
  requiresApproval = 2,
  notFound = 3,
};

class SMAppService {
public:
  // The running application: the entry named after the main bundle's identifier, starting
  // the running executable.
  static SMAppService& mainAppService();

  // A login item for `executable`, described by the entry file `entryPath`, shown as `name`.
  SMAppService(std::filesystem::path entryPath, std::filesystem::path executable, std::string name);

  SMAppServiceStatus status() const;

  // Writes (or rewrites) the entry so that the application starts at login. False with the
  // reason in `error` when the user turned the entry off or it cannot be written.
  bool registerAndReturnError(NSError* error);
  // Removes the entry. False with the reason when it cannot be removed.
  bool unregisterAndReturnError(NSError* error);

  const std::filesystem::path& entryPath() const { return entryPath_; }
  const std::filesystem::path& executable() const { return executable_; }

  // The entry's text for this service.
  std::string entryText() const;

private:
  std::filesystem::path entryPath_;
  std::filesystem::path executable_;
  std::string name_;
};
