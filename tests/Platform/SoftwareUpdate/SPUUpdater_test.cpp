#include "UpdaterFixture.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class SPUUpdaterTest : public sutest::UpdaterFixture {
protected:
  fs::path feed = publishFolder.path() / "appcast.xml";
  fs::path archive = publishFolder.path() / "update.tar.gz";

  std::string fileURL(const fs::path& p) { return "file://" + p.string(); }

  void publish(const std::string& version) {
    std::string bytes = archiveOf(version);
    sutest::writeFile(archive, bytes);
    sutest::writeFile(feed, feedWith(version, fileURL(archive), bytes.size(), signatureOf(bytes)));
  }
};

TEST_F(SPUUpdaterTest, UserCheckWithNothingNewerSaysUpToDateAndRecordsTheCheck) {
  publish("1");
  makeUpdater(fileURL(feed));
  updater->checkForUpdates();
  ASSERT_TRUE(waitForSession());
  EXPECT_EQ(driver.events, (std::vector<std::string>{"checking", "up to date"}));
  EXPECT_TRUE(driver.dismissed);
  ASSERT_TRUE(updater->lastUpdateCheckDate());
  EXPECT_NEAR(
      *updater->lastUpdateCheckDate(),
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count(),
      60);
}

TEST_F(SPUUpdaterTest, BackgroundCheckWithNothingNewerShowsNothing) {
  publish("0.9");
  makeUpdater(fileURL(feed));
  updater->checkForUpdatesInBackground();
  ASSERT_TRUE(waitForSession());
  EXPECT_TRUE(driver.events.empty());
}

TEST_F(SPUUpdaterTest, RemindMeLaterLeavesEverythingAsItWas) {
  publish("2");
  driver.choice = SPUUserUpdateChoice::RemindLater;
  makeUpdater(fileURL(feed));
  updater->checkForUpdatesInBackground();
  ASSERT_TRUE(waitForSession());
  EXPECT_EQ(driver.events, std::vector<std::string>{"found"});
  ASSERT_TRUE(driver.offered);
  EXPECT_EQ(driver.offered->displayVersionString, "1.2");
  EXPECT_EQ(driver.offered->itemDescription, "Better previews.");
  expectUntouched();
}

TEST_F(SPUUpdaterTest, ASkippedVersionIsNotOfferedAgainInTheBackgroundButIsOnRequest) {
  publish("2");
  driver.choice = SPUUserUpdateChoice::Skip;
  makeUpdater(fileURL(feed));
  updater->checkForUpdatesInBackground();
  ASSERT_TRUE(waitForSession());
  EXPECT_EQ(defaults->stringForKey(SPUUpdater::kSkippedVersionKey), "2");

  driver.events.clear();
  updater->checkForUpdatesInBackground();
  ASSERT_TRUE(waitForSession());
  EXPECT_TRUE(driver.events.empty());

  updater->checkForUpdates();
  ASSERT_TRUE(waitForSession());
  EXPECT_EQ(driver.events, (std::vector<std::string>{"checking", "found (asked)"}));

  // A release newer than the skipped one is offered again.
  publish("3");
  driver.events.clear();
  updater->checkForUpdatesInBackground();
  ASSERT_TRUE(waitForSession());
  EXPECT_EQ(driver.events, std::vector<std::string>{"found"});
  expectUntouched();
}

TEST_F(SPUUpdaterTest, FeedErrorsAreShownOnlyForChecksTheUserAskedFor) {
  makeUpdater(fileURL(publishFolder.path() / "missing.xml"));
  updater->checkForUpdatesInBackground();
  ASSERT_TRUE(waitForSession());
  EXPECT_TRUE(driver.events.empty());

  updater->checkForUpdates();
  ASSERT_TRUE(waitForSession());
  EXPECT_EQ(driver.events, (std::vector<std::string>{"checking", "error"}));
  EXPECT_NE(driver.error.find("retrieving update information"), std::string::npos);

  sutest::writeFile(feed, "<rss><channel><item>");
  updater = nullptr;
  makeUpdater(fileURL(feed));
  driver.events.clear();
  updater->checkForUpdates();
  ASSERT_TRUE(waitForSession());
  EXPECT_EQ(driver.events, (std::vector<std::string>{"checking", "error"}));
  EXPECT_NE(driver.error.find("not well-formed"), std::string::npos);
}

TEST_F(SPUUpdaterTest, UnsupportedFeedAddressesAreRefused) {
  for (std::string url : {"ftp://example.org/appcast.xml", "appcast.xml", "http:///x"}) {
    updater = nullptr;
    makeUpdater(url);
    driver.events.clear();
    updater->checkForUpdates();
    ASSERT_TRUE(waitForSession()) << url;
    EXPECT_EQ(driver.events, (std::vector<std::string>{"checking", "error"})) << url;
  }
}

TEST_F(SPUUpdaterTest, CancellingTheDownloadLeavesNoTrace) {
  publish("2");
  driver.cancelDownload = true;
  makeUpdater(fileURL(feed));
  updater->checkForUpdates();
  ASSERT_TRUE(waitForSession());
  EXPECT_EQ(driver.events, (std::vector<std::string>{"checking", "found (asked)", "downloading"}));
  expectUntouched();
}

TEST_F(SPUUpdaterTest, ARelativeArchiveURLIsTakenRelativeToTheFeed) {
  std::string bytes = archiveOf("2");
  sutest::writeFile(archive, bytes);
  sutest::writeFile(feed, feedWith("2", "update.tar.gz", bytes.size(), signatureOf(bytes)));
  makeUpdater(fileURL(feed));
  updater->checkForUpdates();
  ASSERT_TRUE(waitForSession());
  // Downloaded, verified and unpacked; only the missing helper stops it, leaving no trace.
  EXPECT_EQ(driver.events, (std::vector<std::string>{"checking", "found (asked)", "downloading",
                                                     "extracting", "error"}));
  EXPECT_NE(driver.error.find("helper (Autoupdate) is missing"), std::string::npos) << driver.error;
  expectUntouched();
}

TEST_F(SPUUpdaterTest, StartingNeedsAFeedAndAValidKey) {
  std::string error;
  SPUUpdaterConfiguration config = configuration("");
  EXPECT_FALSE(SPUUpdater(config, driver, *defaults).startUpdater(&error));
  EXPECT_NE(error.find("SUFeedURL"), std::string::npos);
  config = configuration("https://example.org/appcast.xml");
  config.publicEDKey = "bm90IGEga2V5";
  EXPECT_FALSE(SPUUpdater(config, driver, *defaults).startUpdater(&error));
  EXPECT_NE(error.find("SUPublicEDKey"), std::string::npos);

  // Nor does a check go out without them.
  publish("2");
  config = configuration(fileURL(feed));
  config.publicEDKey = "";
  SPUUpdater keyless(config, driver, *defaults);
  keyless.checkForUpdatesInBackground();
  ASSERT_TRUE(sutest::runUntil([&] { return !keyless.sessionInProgress(); }));
  EXPECT_TRUE(driver.events.empty());
  keyless.checkForUpdates();
  ASSERT_TRUE(sutest::runUntil([&] { return !keyless.sessionInProgress(); }));
  EXPECT_EQ(driver.events, (std::vector<std::string>{"checking", "error"}));
  EXPECT_FALSE(defaults->doubleForKey(SPUUpdater::kLastCheckTimeKey));
}

TEST_F(SPUUpdaterTest, ScheduledChecksFollowTheLastCheckAndTheInterval) {
  SPUUpdaterConfiguration config = configuration(fileURL(feed));
  config.scheduledCheckInterval = 7200;
  SPUUpdater scheduled(config, driver, *defaults);
  EXPECT_EQ(scheduled.timeUntilScheduledCheck(), std::nullopt) << "not started yet";
  ASSERT_TRUE(scheduled.startUpdater());
  // Never checked: a full interval from now.
  auto first = scheduled.timeUntilScheduledCheck();
  ASSERT_TRUE(first);
  EXPECT_NEAR(first->count(), 7200000, 5000);

  // Checked half an interval ago: the rest of it.
  double now =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  defaults->setDouble(now - 3600, SPUUpdater::kLastCheckTimeKey);
  SPUUpdater later(config, driver, *defaults);
  ASSERT_TRUE(later.startUpdater());
  EXPECT_NEAR(later.timeUntilScheduledCheck()->count(), 3600000, 5000);

  // Overdue: at once, and the check runs from the timer.
  publish("1");
  defaults->setDouble(now - 100000, SPUUpdater::kLastCheckTimeKey);
  SPUUpdater overdue(config, driver, *defaults);
  ASSERT_TRUE(overdue.startUpdater());
  EXPECT_LE(overdue.timeUntilScheduledCheck()->count(), 10);
  ASSERT_TRUE(sutest::runUntil(
      [&] { return *defaults->doubleForKey(SPUUpdater::kLastCheckTimeKey) > now - 10; }));
  ASSERT_TRUE(sutest::runUntil([&] { return !overdue.sessionInProgress(); }));
  // Then the next one is a whole interval away; a tiny interval is raised to the minimum.
  EXPECT_NEAR(overdue.timeUntilScheduledCheck()->count(), 7200000, 5000);
  config.scheduledCheckInterval = 1;
  SPUUpdater eager(config, driver, *defaults);
  ASSERT_TRUE(eager.startUpdater());
  EXPECT_NEAR(eager.timeUntilScheduledCheck()->count(), SPUUpdater::kMinimumCheckInterval * 1000,
              5000);
}

} // namespace
