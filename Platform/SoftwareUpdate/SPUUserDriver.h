// SPUUserDriver: everything the updater shows the user and asks of them. The standard driver
// uses Qt dialogs; tests give their own to answer without a screen. Main thread only.
#pragma once

#include "SoftwareUpdate/SUAppcastItem.h"

#include <cstdint>
#include <functional>
#include <string>

enum class SPUUserUpdateChoice { Install, RemindLater, Skip };

class SPUUserDriver {
public:
  virtual ~SPUUserDriver() = default;

  // A user-initiated check has begun; `cancel` stops it.
  virtual void showUserInitiatedUpdateCheck(std::function<void()> cancel) = 0;
  // A newer release was found; `reply` must be called exactly once with the user's choice.
  virtual void showUpdateFound(const SUAppcastItem& item, bool userInitiated,
                               std::function<void(SPUUserUpdateChoice)> reply) = 0;
  // A user-initiated check found nothing newer; `acknowledge` closes it.
  virtual void showUpdateNotFound(std::function<void()> acknowledge) = 0;
  // A user-initiated check or an accepted update failed.
  virtual void showUpdaterError(const std::string& message, std::function<void()> acknowledge) = 0;
  // The archive is being downloaded: `expectedLength` bytes in all, `received` so far.
  virtual void showDownloadProgress(std::uint64_t received, std::uint64_t expectedLength,
                                    std::function<void()> cancel) = 0;
  virtual void showExtractingUpdate() = 0;
  // The update is in place; the application is about to be relaunched.
  virtual void showReadyToRelaunch() = 0;
  // The session is over (whatever its end): close any window still open.
  virtual void dismissUpdateInstallation() = 0;
};
