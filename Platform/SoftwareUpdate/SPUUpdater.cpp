#include "SoftwareUpdate/SPUUpdater.h"

#include "Foundation/NSUserDefaults.h"
#include "SoftwareUpdate/SUAppcast.h"
#include "SoftwareUpdate/SUArchiveExtractor.h"
#include "SoftwareUpdate/SUDownload.h"
#include "SoftwareUpdate/SUInstaller.h"
#include "SoftwareUpdate/SUSignatureVerifier.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr auto kMaximumTimerDelay = std::chrono::milliseconds(24LL * 24 * 3600 * 1000);

double now() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void log(const std::string& message) {
  std::fprintf(stderr, "SoftwareUpdate: %s\n", message.c_str());
}

} // namespace

// One check, from fetching the feed to the end of an installation. Owned by State::session.
struct SPUUpdater::Session {
  bool userInitiated = false;
  std::unique_ptr<SUDownload> download;
  std::optional<SUAppcastItem> item;
  std::optional<fs::path> staging;
};

struct SPUUpdater::State {
  SPUUpdaterConfiguration config;
  SPUUserDriver& driver;
  NSUserDefaults& defaults;
  SPUUpdaterDelegate* delegate;
  // Receives work posted back from other threads and deferred deletions; its death cancels them.
  QObject context;
  QNetworkAccessManager network;
  QTimer scheduler;
  bool started = false;
  std::unique_ptr<Session> session;
  // Shared with work on other threads, which posts its result back only while this lives.
  std::shared_ptr<void> alive = std::make_shared<int>(0);
  // Ended sessions, kept until the event loop comes round again.
  std::vector<std::unique_ptr<Session>> retired;
  // Bumped with every session, so that late results of an ended one are recognised.
  std::uint64_t generation = 0;

  State(SPUUpdaterConfiguration c, SPUUserDriver& d, NSUserDefaults& u, SPUUpdaterDelegate* g)
      : config(std::move(c)), driver(d), defaults(u), delegate(g) {
    scheduler.setSingleShot(true);
  }

  ~State() {
    if (session && session->staging) {
      std::error_code ec;
      fs::remove_all(*session->staging, ec);
    }
  }

  void endSession() {
    if (!session)
      return;
    // Dropped from the event loop: the caller may be running inside the session's own callback.
    retired.push_back(std::move(session));
    ++generation;
    QTimer::singleShot(0, &context, [this] { retired.clear(); });
    driver.dismissUpdateInstallation();
    scheduleNextCheck();
  }

  // Runs `work` for the current session only if it is still the current one when called.
  template <typename F> auto guarded(F work) {
    return [this, expected = generation, work = std::move(work)](auto&&... args) mutable {
      if (session && generation == expected)
        work(std::forward<decltype(args)>(args)...);
    };
  }

  // Like guarded, but run from the event loop: answers from the user driver (which may come
  // synchronously, from inside the call that asked) never re-enter the session.
  template <typename F> auto later(F work) {
    // The driver may answer after the updater is gone (a dialog outliving it): then nothing.
    return
        [this, token = std::weak_ptr<void>(alive), task = guarded(std::move(work))](auto... args) {
          if (token.lock())
            QTimer::singleShot(0, &context, [task, args...]() mutable { task(args...); });
        };
  }

  void scheduleNextCheck() {
    if (!started)
      return;
    auto delay = timeUntilCheck();
    scheduler.start(std::chrono::duration_cast<std::chrono::milliseconds>(delay));
  }

  std::chrono::milliseconds timeUntilCheck() const {
    double interval = std::max(config.scheduledCheckInterval, kMinimumCheckInterval);
    std::optional<double> last = defaults.doubleForKey(kLastCheckTimeKey);
    double seconds = interval;
    if (last)
      seconds = std::clamp(*last + interval - now(), 0.0, interval);
    return std::min(std::chrono::milliseconds(static_cast<std::int64_t>(seconds * 1000)),
                    kMaximumTimerDelay);
  }

  void fail(const std::string& message) {
    if (session->staging) {
      std::error_code ec;
      fs::remove_all(*session->staging, ec);
      session->staging.reset();
    }
    log(message);
    driver.showUpdaterError(message, later([this] { endSession(); }));
  }

  // Why updates cannot work with this configuration, or empty.
  std::string configurationProblem() const {
    if (config.feedURL.empty())
      return "The application has no update feed (SUFeedURL).";
    if (config.publicEDKey.empty())
      return "The application has no public key for updates (SUPublicEDKey).";
    if (auto key = SUSignatureVerifier::decodeBase64(config.publicEDKey); !key || key->size() != 32)
      return "The application's SUPublicEDKey is not a base64 Ed25519 public key.";
    if (config.bundleVersion.empty())
      return "The application has no CFBundleVersion.";
    return {};
  }

  void check(bool userInitiated) {
    if (session)
      return;
    std::string problem = configurationProblem();
    session = std::make_unique<Session>();
    session->userInitiated = userInitiated;
    ++generation;
    scheduler.stop();
    if (userInitiated)
      driver.showUserInitiatedUpdateCheck(later([this] { endSession(); }));
    if (!problem.empty()) {
      if (userInitiated)
        return fail("Updates cannot be checked in this build.\n\n" + problem);
      log(problem);
      return endSession();
    }
    SUDownload::Limits limits{SUAppcast::kMaximumFeedSize, 30s, 60s};
    session->download = std::make_unique<SUDownload>(
        network, config.feedURL, limits, std::nullopt, nullptr,
        guarded([this](const std::string& error, QByteArray body) { feedArrived(error, body); }));
  }

  void feedArrived(const std::string& error, const QByteArray& body) {
    defaults.setDouble(now(), kLastCheckTimeKey);
    SUAppcast::ParseResult feed;
    if (error.empty())
      feed = SUAppcast::parse(std::string_view(body.constData(), body.size()));
    std::string problem = error.empty() ? feed.error : error;
    if (!problem.empty()) {
      std::string message =
          "An error occurred in retrieving update information. Please try again later.\n\n" +
          problem;
      if (session->userInitiated)
        return fail(message);
      log(message);
      return endSession();
    }
    std::optional<SUAppcastItem> best = SUAppcast::bestUpdate(feed.items, config.bundleVersion);
    if (!best) {
      if (session->userInitiated)
        return driver.showUpdateNotFound(later([this] { endSession(); }));
      return endSession();
    }
    if (!session->userInitiated &&
        defaults.stringForKey(kSkippedVersionKey) == std::optional(best->versionString))
      return endSession();
    session->item = best;
    driver.showUpdateFound(*best, session->userInitiated,
                           later([this](SPUUserUpdateChoice choice) { choose(choice); }));
  }

  void choose(SPUUserUpdateChoice choice) {
    switch (choice) {
    case SPUUserUpdateChoice::Skip:
      defaults.setString(session->item->versionString, kSkippedVersionKey);
      return endSession();
    case SPUUserUpdateChoice::RemindLater:
      return endSession();
    case SPUUserUpdateChoice::Install:
      return download();
    }
  }

  void download() {
    const SUAppcastItem& item = *session->item;
    if (item.edSignature.empty())
      return fail("The update is not signed (its appcast item has no sparkle:edSignature), so "
                  "it was not installed.");
    if (item.contentLength > SUSignatureVerifier::kMaximumArchiveSize)
      return fail("The update is too large to be installed.");
    std::string error;
    session->staging = SUInstaller::makeStagingFolder(config.bundlePath, error);
    if (!session->staging)
      return fail(error);
    driver.showDownloadProgress(0, item.contentLength, later([this] { cancelInstall(); }));
    // The announced length is a hard limit: a longer archive stops arriving there.
    SUDownload::Limits limits{item.contentLength, 30s, 30min};
    session->download = std::make_unique<SUDownload>(
        network, archiveURL(item), limits, *session->staging / "update.tar.gz",
        guarded([this](std::uint64_t received, std::uint64_t) {
          driver.showDownloadProgress(received, session->item->contentLength,
                                      later([this] { cancelInstall(); }));
        }),
        guarded([this](const std::string& error, QByteArray) { archiveArrived(error); }));
  }

  // The enclosure's URL; a relative one is taken relative to the feed, as Sparkle does.
  std::string archiveURL(const SUAppcastItem& item) const {
    QUrl url(QString::fromStdString(item.fileURL));
    if (!url.isRelative())
      return item.fileURL;
    return QUrl(QString::fromStdString(config.feedURL)).resolved(url).toString().toStdString();
  }

  void cancelInstall() {
    session->download.reset();
    if (session->staging) {
      std::error_code ec;
      fs::remove_all(*session->staging, ec);
      session->staging.reset();
    }
    endSession();
  }

  void archiveArrived(const std::string& error) {
    if (!error.empty())
      return fail("The update could not be downloaded.\n\n" + error);
    driver.showExtractingUpdate();
    // Verifying and unpacking read the whole archive: done off the main thread.
    fs::path staging = *session->staging;
    SUAppcastItem item = *session->item;
    std::string publicKey = config.publicEDKey;
    SPUUpdaterConfiguration installed = config;
    installed.quitApplication = nullptr;
    // The result comes back through the application object, which outlives the updater; the
    // token (checked on the main thread, where the updater dies) says whether we are still here.
    std::weak_ptr<void> token = alive;
    auto finish = guarded([this](std::string error, fs::path bundle) { install(error, bundle); });
    QThreadPool::globalInstance()->start([=]() mutable {
      fs::path bundle;
      std::string error = prepare(staging, item, publicKey, installed, bundle);
      QMetaObject::invokeMethod(
          QCoreApplication::instance(),
          [token, finish, error, bundle]() mutable {
            if (token.lock())
              finish(error, bundle);
          },
          Qt::QueuedConnection);
    });
  }

  // Checks and unpacks the downloaded archive; returns an error or sets `bundle`.
  static std::string prepare(const fs::path& staging, const SUAppcastItem& item,
                             const std::string& publicKey, const SPUUpdaterConfiguration& installed,
                             fs::path& bundle) {
    fs::path archive = staging / "update.tar.gz";
    if (auto error = SUSignatureVerifier::verifyArchive(archive, item.contentLength,
                                                        item.edSignature, publicKey))
      return *error;
    fs::path unpacked = staging / "unpacked";
    std::error_code ec;
    fs::create_directory(unpacked, ec);
    if (ec)
      return "Cannot unpack the update: " + ec.message() + ".";
    if (auto error = SUArchiveExtractor::extract(archive, unpacked))
      return *error;
    fs::remove(archive, ec);
    std::string error;
    std::optional<fs::path> found = SUInstaller::findUpdatedBundle(unpacked, installed, error);
    if (!found)
      return error;
    bundle = *found;
    return {};
  }

  void install(const std::string& error, const fs::path& bundle) {
    if (!error.empty())
      return fail("The update could not be installed.\n\n" + error);
    fs::path tool = config.installerToolPath;
    if (tool.empty() || access(tool.c_str(), X_OK) != 0)
      return fail("The update could not be installed: its helper (Autoupdate) is missing" +
                  (tool.empty() ? std::string(".") : " at " + tool.string() + "."));
    if (auto problem = SUInstaller::exchange(bundle, config.bundlePath))
      return fail("The update could not be installed.\n\n" + *problem);
    // `bundle` now holds the previous version; so does the helper if it lived in the bundle.
    fs::path relative = tool.lexically_relative(config.bundlePath);
    if (!relative.empty() && *relative.begin() != "..")
      tool = bundle / relative;
    pid_t waitFor = config.processToQuit > 0 ? config.processToQuit : getpid();
    if (auto problem =
            SUInstaller::launchRelauncher(tool, waitFor, config.bundlePath, bundle,
                                          *session->staging, config.relaunchExecutable)) {
      if (auto undo = SUInstaller::exchange(bundle, config.bundlePath))
        log(*undo);
      return fail("The update could not be installed.\n\n" + *problem);
    }
    // The helper owns the staging folder from here on.
    session->staging.reset();
    driver.showReadyToRelaunch();
    std::function<void()> quit = config.quitApplication;
    endSession();
    if (quit)
      quit();
    else
      QCoreApplication::quit();
  }
};

SPUUpdater::SPUUpdater(SPUUpdaterConfiguration configuration, SPUUserDriver& userDriver,
                       NSUserDefaults& defaults, SPUUpdaterDelegate* delegate)
    : state_(std::make_unique<State>(std::move(configuration), userDriver, defaults, delegate)) {
  QObject::connect(&state_->scheduler, &QTimer::timeout, &state_->context, [this] {
    if (state_->session)
      return state_->scheduleNextCheck();
    // A late timer (after sleep, or a check by hand since) re-arms rather than checking early.
    if (state_->timeUntilCheck() > 0ms)
      return state_->scheduleNextCheck();
    checkForUpdatesInBackground();
  });
}

SPUUpdater::~SPUUpdater() = default;

bool SPUUpdater::startUpdater(std::string* error) {
  std::string problem = state_->configurationProblem();
  if (!problem.empty()) {
    log(problem);
    if (error)
      *error = problem;
    return false;
  }
  state_->started = true;
  state_->scheduleNextCheck();
  return true;
}

bool SPUUpdater::sessionInProgress() const {
  return state_->session != nullptr;
}

void SPUUpdater::checkForUpdates() {
  check(true);
}
void SPUUpdater::checkForUpdatesInBackground() {
  check(false);
}
void SPUUpdater::check(bool userInitiated) {
  state_->check(userInitiated);
}

const SPUUpdaterConfiguration& SPUUpdater::configuration() const {
  return state_->config;
}

std::optional<double> SPUUpdater::lastUpdateCheckDate() const {
  return state_->defaults.doubleForKey(kLastCheckTimeKey);
}

std::optional<std::chrono::milliseconds> SPUUpdater::timeUntilScheduledCheck() const {
  if (!state_->started || !state_->scheduler.isActive())
    return std::nullopt;
  return std::chrono::milliseconds(state_->scheduler.remainingTime());
}
