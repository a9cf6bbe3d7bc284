// SPUUpdater: checks the application's appcast for a newer signed release and installs it in
// place of the running bundle. It lives on the Qt main thread (all members are called there);
// dialogs go through an SPUUserDriver so that they can be answered without a screen.
#pragma once

#include "SoftwareUpdate/SPUStandardUserDriverDelegate.h"
#include "SoftwareUpdate/SPUUpdaterConfiguration.h"
#include "SoftwareUpdate/SPUUserDriver.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

class NSUserDefaults;

class SPUUpdater {
public:
  // `userDriver` and `defaults` must outlive the updater; `delegate` may be null. Answers the
  // driver gives after the updater is gone are ignored.
  SPUUpdater(SPUUpdaterConfiguration configuration, SPUUserDriver& userDriver,
             NSUserDefaults& defaults, SPUUpdaterDelegate* delegate = nullptr);
  ~SPUUpdater();
  SPUUpdater(const SPUUpdater&) = delete;
  SPUUpdater& operator=(const SPUUpdater&) = delete;

  // Starts the scheduled checks (every configuration().scheduledCheckInterval). Returns false
  // with a message in `error` when the configuration cannot work (no feed URL or key).
  bool startUpdater(std::string* error = nullptr);
  bool sessionInProgress() const;

  // A check the user asked for: progress, "up to date" and errors are all shown.
  void checkForUpdates();
  // A quiet check: only an available update is shown; failures before the user accepts it
  // are only logged.
  void checkForUpdatesInBackground();

  bool canCheckForUpdates() const { return !sessionInProgress(); }
  const SPUUpdaterConfiguration& configuration() const;
  // Seconds since the epoch of the last completed check, or nullopt.
  std::optional<double> lastUpdateCheckDate() const;
  // How long until the next scheduled check, or nullopt when the updater is not started.
  std::optional<std::chrono::milliseconds> timeUntilScheduledCheck() const;

  // Keys of the updater's user defaults.
  static constexpr const char* kLastCheckTimeKey = "SULastCheckTime";
  static constexpr const char* kSkippedVersionKey = "SUSkippedVersion";
  // Scheduled checks come no more often than this, whatever the bundle asks.
  static constexpr double kMinimumCheckInterval = 3600;

private:
  struct Session;
  struct State;
  void check(bool userInitiated);
  std::unique_ptr<State> state_;
};
