#include "AppTestSupport.h"
#include "AppUpdateController.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

using namespace apptest;

namespace {

struct Settings {
  const char* feed;
  const char* key;
  bool configured;
  const char* status;
};

class CountingController : public AppUpdateController {
public:
  using AppUpdateController::AppUpdateController;
  int* checks = nullptr;

protected:
  void runBackgroundCheck() override { ++*checks; }
};

} // namespace

TEST(AppUpdateControllerTest, SixTestsAndStatusLine) {
  application();
  const Settings cases[] = {
      {"<absent>", "key", false, "Updates: Not configured"},
      {"not a url at all", "key", false, "Updates: Disabled in this build"},
      {"file:///feed.xml", "key", false, "Updates: Disabled in this build"}, // no host
      {"https://updates.example.invalid/appcast.xml", "key", false,
       "Updates: Disabled in this build"},
      {"https://$(LUMIVALE_SPARKLE_FEED_URL)", "key", false, "Updates: Disabled in this build"},
      {"https://updates.example.com/$(FEED)", "key", false, "Updates: Disabled in this build"},
      {"https://updates.example.com/appcast.xml", "", false, "Updates: Disabled in this build"},
      {"https://updates.example.com/appcast.xml", "<absent>", false,
       "Updates: Disabled in this build"},
      {"https://updates.example.com/appcast.xml", "pubkey=", true,
       "Updates: Enabled, checking https://updates.example.com/appcast.xml"},
      // The suffix test is literal and case-sensitive.
      {"https://updates.example.INVALID/appcast.xml", "pubkey=", true,
       "Updates: Enabled, checking https://updates.example.INVALID/appcast.xml"},
      {"http://user@127.0.0.1:8080/a.xml", "k", true,
       "Updates: Enabled, checking http://user@127.0.0.1:8080/a.xml"},
  };
  for (const Settings& settings : cases) {
    SCOPED_TRACE(settings.feed);
    TestApp app({{"SUFeedURL", settings.feed}, {"SUPublicEDKey", settings.key}});
    AppUpdateController controller(app.bundle());
    EXPECT_EQ(controller.isConfigured(), settings.configured);
    EXPECT_EQ(controller.statusText(), settings.status);
  }
}

TEST(AppUpdateControllerTest, UnconfiguredLogsAndMakesNoUpdater) {
  application();
  TestApp app;
  auto controller = std::make_shared<AppUpdateController>(app.bundle());
  testing::internal::CaptureStderr();
  controller->configure(nullptr);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(controller->updaterController(), nullptr);
  EXPECT_NE(log.find("] " + std::string(kUpdatesDisabledLogLine) + "\n"), std::string::npos);
  controller->checkNow(nullptr); // nothing to do, nothing breaks
}

TEST(AppUpdateControllerTest, DelayedCheckRunsOnlyWhileTheControllerExists) {
  application();
  TestApp app({{"SUFeedURL", "https://updates.example.com/a.xml"}, {"SUPublicEDKey", "k"}});
  int checks = 0;
  auto kept = std::make_shared<CountingController>(app.bundle());
  kept->checks = &checks;
  kept->scheduleBackgroundCheck(0.05);
  EXPECT_EQ(checks, 0) << "the check waits for its delay";
  EXPECT_TRUE(spinUntil([&] { return checks == 1; }));

  auto dropped = std::make_shared<CountingController>(app.bundle());
  dropped->checks = &checks;
  dropped->scheduleBackgroundCheck(0.05);
  dropped.reset();
  spinFor(std::chrono::milliseconds(300));
  EXPECT_EQ(checks, 1) << "the check is skipped when the controller is gone";

  TestApp off;
  auto unconfigured = std::make_shared<CountingController>(off.bundle());
  unconfigured->checks = &checks;
  unconfigured->scheduleBackgroundCheck(0.0);
  spinFor(std::chrono::milliseconds(200));
  EXPECT_EQ(checks, 1) << "nothing is scheduled when updates are off";
}

TEST(AppUpdateControllerTest, CheckForUpdatesNowShowsTheAlertWhenOff) {
  application();
  TestApp app;
  auto delegate = AppDelegate::create(app.context());
  std::string text, informative;
  QStringList buttons;
  QTimer::singleShot(100, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    text = box->text().toStdString();
    informative = box->informativeText().toStdString();
    for (QAbstractButton* button : box->buttons())
      buttons << button->text();
    box->buttons().first()->click();
  });
  delegate->checkForUpdatesNow();
  EXPECT_EQ(text, "Updates are not configured in this build.");
  EXPECT_EQ(informative,
            "Release builds must set LUMIVALE_SPARKLE_FEED_URL to a real Sparkle appcast.");
  EXPECT_EQ(buttons, QStringList{"OK"});
}
