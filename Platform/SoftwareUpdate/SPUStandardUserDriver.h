// SPUStandardUserDriver: the updater's standard Qt Widgets user interface: a status window for
// checking, downloading and extracting, and modal alerts for "up to date", an available update
// and errors. The user-driver delegate hears about each modal alert before and after it shows.
// Main thread only.
#pragma once

#include "SoftwareUpdate/SPUStandardUserDriverDelegate.h"
#include "SoftwareUpdate/SPUUserDriver.h"

#include <QDialog>
#include <QPointer>
#include <string>

class QLabel;
class QProgressBar;
class QPushButton;

class SPUStandardUserDriver : public SPUUserDriver {
public:
  // `delegate` may be null; `displayVersion` is the installed version shown to the user.
  SPUStandardUserDriver(SPUStandardUserDriverDelegate* delegate, std::string applicationName,
                        std::string displayVersion);
  ~SPUStandardUserDriver() override;

  void showUserInitiatedUpdateCheck(std::function<void()> cancel) override;
  void showUpdateFound(const SUAppcastItem& item, bool userInitiated,
                       std::function<void(SPUUserUpdateChoice)> reply) override;
  void showUpdateNotFound(std::function<void()> acknowledge) override;
  void showUpdaterError(const std::string& message, std::function<void()> acknowledge) override;
  void showDownloadProgress(std::uint64_t received, std::uint64_t expectedLength,
                            std::function<void()> cancel) override;
  void showExtractingUpdate() override;
  void showReadyToRelaunch() override;
  void dismissUpdateInstallation() override;

  // The window shown while checking, downloading or extracting (null when none).
  QDialog* statusWindow() const { return statusWindow_; }

  // Exact texts of the standard dialogs.
  static std::string updateAvailableTitle(const std::string& applicationName);
  static std::string updateAvailableText(const std::string& applicationName,
                                         const std::string& newVersion,
                                         const std::string& installedVersion);

private:
  void showStatus(const QString& title, std::function<void()> cancel);
  void hideStatus();
  // Runs a modal dialog, telling the delegate before and after.
  int runModal(QDialog& dialog);

  SPUStandardUserDriverDelegate* delegate_;
  std::string applicationName_;
  std::string displayVersion_;
  QPointer<QDialog> statusWindow_;
  QLabel* statusLabel_ = nullptr;
  QProgressBar* statusProgress_ = nullptr;
  QPushButton* statusCancel_ = nullptr;
  std::function<void()> statusCancelAction_;
};
