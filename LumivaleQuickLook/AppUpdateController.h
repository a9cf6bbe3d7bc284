// AppUpdateController: whether this build updates itself (a usable feed URL and public key
// in the Info.plist), the updater when it does, the background check after start-up and the
// check the user asks for. One per process, owned by the application delegate; main thread.
#pragma once

#include "Foundation/Bundle.h"
#include "Foundation/NSObject.h"
#include "SoftwareUpdate/SPUStandardUpdaterController.h"
#include "SoftwareUpdate/SPUStandardUserDriverDelegate.h"

#include <memory>
#include <string>

class AppUpdateController : public std::enable_shared_from_this<AppUpdateController> {
public:
  // Settings are read from `bundle`'s information dictionary each time they are needed.
  explicit AppUpdateController(const Bundle& bundle);
  virtual ~AppUpdateController();
  AppUpdateController(const AppUpdateController&) = delete;
  AppUpdateController& operator=(const AppUpdateController&) = delete;

  // SUFeedURL is text, a URL with a host not ending in ".invalid" and without an unexpanded
  // "$(" reference, and SUPublicEDKey is non-empty text.
  bool isConfigured() const;
  // Starts the updater when configured (the delegate must outlive it); otherwise logs that
  // updates are disabled.
  void configure(SPUStandardUserDriverDelegate* userDriverDelegate);
  // A background check `delaySeconds` from now on the main queue, skipped if this controller
  // is gone by then. Nothing when not configured.
  void scheduleBackgroundCheck(double delaySeconds);
  // The check the user asked for, with the updater's own windows.
  void checkNow(NSObject* sender);
  // The status window's update line.
  std::string statusText() const;

  SPUStandardUpdaterController* updaterController() const { return updaterController_.get(); }

protected:
  // What the delayed work item does when the controller still exists.
  virtual void runBackgroundCheck();

private:
  const Bundle& bundle_;
  std::unique_ptr<SPUStandardUpdaterController> updaterController_;
};

// The log line written at launch when updates are off.
inline constexpr const char* kUpdatesDisabledLogLine =
    "Lumivale Quick Look Sparkle updates are disabled until LUMIVALE_SPARKLE_FEED_URL points to "
    "a real appcast URL.";
