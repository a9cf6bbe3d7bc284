#include "SoftwareUpdate/SPUStandardUpdaterController.h"

#include "Foundation/Bundle.h"
#include "Foundation/NSUserDefaults.h"
#include "SoftwareUpdate/SPUStandardUserDriver.h"

SPUStandardUpdaterController::SPUStandardUpdaterController(
    bool startingUpdater, SPUUpdaterDelegate* updaterDelegate,
    SPUStandardUserDriverDelegate* userDriverDelegate) {
  const Bundle& bundle = Bundle::main();
  SPUUpdaterConfiguration configuration = SPUUpdaterConfiguration::fromBundle(bundle);
  std::string displayVersion =
      bundle.infoString("CFBundleShortVersionString").value_or(configuration.bundleVersion);
  userDriver_ = std::make_unique<SPUStandardUserDriver>(
      userDriverDelegate, configuration.applicationName, displayVersion);
  updater_ = std::make_unique<SPUUpdater>(std::move(configuration), *userDriver_,
                                          NSUserDefaults::standardUserDefaults(), updaterDelegate);
  if (startingUpdater)
    startUpdater();
}

SPUStandardUpdaterController::~SPUStandardUpdaterController() {
  // The updater goes first: it may still hold callbacks into the user driver's windows.
  updater_.reset();
}

SPUUpdater& SPUStandardUpdaterController::updater() {
  return *updater_;
}

void SPUStandardUpdaterController::checkForUpdates(NSObject*) {
  updater_->checkForUpdates();
}

void SPUStandardUpdaterController::startUpdater() {
  updater_->startUpdater();
}
