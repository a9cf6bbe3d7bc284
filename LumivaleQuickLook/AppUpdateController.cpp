#include "AppUpdateController.h"

#include "Dispatch/DispatchQueue.h"
#include "Foundation/NSLog.h"

#include <QString>
#include <QUrl>
#include <chrono>
#include <cmath>

namespace {

// The host of an absolute URL as written (case kept): the authority without user
// information and port. Nullopt when the text does not parse as a URL.
std::optional<std::string> hostOf(const std::string& text) {
  const QUrl url(QString::fromStdString(text), QUrl::StrictMode);
  if (!url.isValid() || url.scheme().isEmpty())
    return std::nullopt;
  const std::size_t slashes = text.find("://");
  if (slashes == std::string::npos)
    return std::string();
  std::string authority = text.substr(slashes + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  if (const std::size_t at = authority.rfind('@'); at != std::string::npos)
    authority = authority.substr(at + 1);
  if (!authority.empty() && authority.front() == '[')
    return authority.substr(0, authority.find(']') + 1);
  return authority.substr(0, authority.find(':'));
}

} // namespace

AppUpdateController::AppUpdateController(const Bundle& bundle) : bundle_(bundle) {}

AppUpdateController::~AppUpdateController() = default;

bool AppUpdateController::isConfigured() const {
  const std::optional<std::string> feed = bundle_.infoString("SUFeedURL");
  if (!feed)
    return false;
  const std::optional<std::string> host = hostOf(*feed);
  if (!host || host->empty())
    return false;
  if (host->ends_with(".invalid"))
    return false;
  if (feed->find("$(") != std::string::npos)
    return false;
  const std::optional<std::string> key = bundle_.infoString("SUPublicEDKey");
  return key && !key->empty();
}

void AppUpdateController::configure(SPUStandardUserDriverDelegate* userDriverDelegate) {
  if (isConfigured())
    updaterController_ =
        std::make_unique<SPUStandardUpdaterController>(true, nullptr, userDriverDelegate);
  else
    NSLog(kUpdatesDisabledLogLine);
}

void AppUpdateController::scheduleBackgroundCheck(double delaySeconds) {
  if (!isConfigured())
    return;
  const auto delay = std::chrono::milliseconds(
      static_cast<long long>(std::llround(std::max(0.0, delaySeconds) * 1000)));
  std::weak_ptr<AppUpdateController> weakSelf = weak_from_this();
  DispatchQueue::main().asyncAfter(delay, [weakSelf] {
    if (std::shared_ptr<AppUpdateController> self = weakSelf.lock())
      self->runBackgroundCheck();
  });
}

void AppUpdateController::runBackgroundCheck() {
  if (updaterController_)
    updaterController_->updater().checkForUpdatesInBackground();
}

void AppUpdateController::checkNow(NSObject* sender) {
  if (isConfigured() && updaterController_)
    updaterController_->checkForUpdates(sender);
}

std::string AppUpdateController::statusText() const {
  const std::optional<std::string> feed = bundle_.infoString("SUFeedURL");
  if (!feed)
    return "Updates: Not configured";
  if (isConfigured())
    return "Updates: Enabled, checking " + *feed;
  return "Updates: Disabled in this build";
}
