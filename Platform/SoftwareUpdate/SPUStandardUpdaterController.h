// SPUStandardUpdaterController: the updater with the standard Qt dialogs, configured from the
// main bundle's Info.plist (SUFeedURL, SUPublicEDKey, SUScheduledCheckInterval,
// CFBundleVersion) and the standard user defaults. Main thread only.
#pragma once

#include "Foundation/NSObject.h"
#include "SoftwareUpdate/SPUStandardUserDriverDelegate.h"
#include "SoftwareUpdate/SPUUpdater.h"

#include <memory>

class SPUStandardUserDriver;

class SPUStandardUpdaterController : public NSObject {
public:
  // Starts the scheduled checks at once when `startingUpdater`; the delegates may be null and
  // must otherwise outlive the controller.
  SPUStandardUpdaterController(bool startingUpdater, SPUUpdaterDelegate* updaterDelegate,
                               SPUStandardUserDriverDelegate* userDriverDelegate);
  ~SPUStandardUpdaterController() override;

  SPUUpdater& updater();
  // The action of a "Check for Updates…" menu item.
  void checkForUpdates(NSObject* sender);
  void startUpdater();

private:
  std::unique_ptr<SPUStandardUserDriver> userDriver_;
  std::unique_ptr<SPUUpdater> updater_;
};
