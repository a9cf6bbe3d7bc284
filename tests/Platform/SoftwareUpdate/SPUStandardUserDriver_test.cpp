#include "SoftwareUpdate/SPUStandardUserDriver.h"
#include "SoftwareUpdateTestSupport.h"

#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>
#include <gtest/gtest.h>

// Fontconfig (under Qt's fonts) keeps its caches for the life of the process by design; the leak
// checker of sanitizer builds is told so.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace {

class CountingDelegate : public SPUStandardUserDriverDelegate {
public:
  std::vector<std::string> calls;
  void standardUserDriverWillShowModalAlert() override { calls.push_back("will"); }
  void standardUserDriverDidShowModalAlert() override { calls.push_back("did"); }
};

// Once the next modal dialog is up, hands it to `act` (which must close it).
void whenModalShows(std::function<void(QWidget*)> act) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, act] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      poll->stop();
      poll->deleteLater();
      act(modal);
    }
  });
  poll->start(10);
}

SUAppcastItem release() {
  SUAppcastItem item;
  item.versionString = "2";
  item.displayVersionString = "1.1";
  item.itemDescription = "<h2>New</h2><p>Faster previews.</p><img src=\"file:///etc/passwd\">";
  return item;
}

class SPUStandardUserDriverTest : public ::testing::Test {
protected:
  void SetUp() override { sutest::application(); }
  CountingDelegate delegate;
  SPUStandardUserDriver driver{&delegate, "Lumivale Quick Look", "1.0"};
};

TEST_F(SPUStandardUserDriverTest, UpdateFoundShowsTheNewVersionNotesAndThreeChoices) {
  QString title, text, notes;
  QStringList buttons;
  whenModalShows([&](QWidget* dialog) {
    title = dialog->findChild<QLabel*>("titleLabel")->text();
    text = dialog->findChild<QLabel*>("informativeLabel")->text();
    notes = dialog->findChild<QTextBrowser*>("releaseNotes")->toPlainText();
    for (auto* button : dialog->findChildren<QPushButton*>())
      buttons << button->text();
    dialog->findChild<QPushButton*>("installButton")->click();
  });
  std::optional<SPUUserUpdateChoice> choice;
  driver.showUpdateFound(release(), true, [&](SPUUserUpdateChoice c) { choice = c; });
  EXPECT_EQ(choice, SPUUserUpdateChoice::Install);
  EXPECT_EQ(title, "A new version of Lumivale Quick Look is available!");
  EXPECT_EQ(text, QString::fromUtf8("Lumivale Quick Look 1.1 is now available\u2014you have 1.0. "
                                    "Would you like to download it now?"));
  EXPECT_TRUE(notes.contains("Faster previews."));
  buttons.sort();
  EXPECT_EQ(buttons, (QStringList{"Install Update", "Remind Me Later", "Skip This Version"}));
  EXPECT_EQ(delegate.calls, (std::vector<std::string>{"will", "did"}));
}

TEST_F(SPUStandardUserDriverTest, SkipAndRemindLaterAreAnswered) {
  for (auto [button, expected] : {std::pair{"skipButton", SPUUserUpdateChoice::Skip},
                                  std::pair{"laterButton", SPUUserUpdateChoice::RemindLater}}) {
    whenModalShows(
        [button = button](QWidget* dialog) { dialog->findChild<QPushButton*>(button)->click(); });
    std::optional<SPUUserUpdateChoice> choice;
    driver.showUpdateFound(release(), false, [&](SPUUserUpdateChoice c) { choice = c; });
    EXPECT_EQ(choice, expected) << button;
  }
}

TEST_F(SPUStandardUserDriverTest, UpToDateAndErrorsAreModalAlertsAroundTheDelegate) {
  QString upToDate, error;
  whenModalShows([&](QWidget* dialog) {
    auto* box = qobject_cast<QMessageBox*>(dialog);
    upToDate = box->text() + " " + box->informativeText();
    box->accept();
  });
  bool acknowledged = false;
  driver.showUpdateNotFound([&] { acknowledged = true; });
  EXPECT_TRUE(acknowledged);
  EXPECT_EQ(upToDate, QString::fromUtf8("You\u2019re up to date! Lumivale Quick Look 1.0 is "
                                        "currently the newest version available."));

  whenModalShows([&](QWidget* dialog) {
    error = qobject_cast<QMessageBox*>(dialog)->informativeText();
    qobject_cast<QMessageBox*>(dialog)->accept();
  });
  driver.showUpdaterError("The update is not signed.", [&] { acknowledged = false; });
  EXPECT_FALSE(acknowledged);
  EXPECT_EQ(error, "The update is not signed.");
  EXPECT_EQ(delegate.calls, (std::vector<std::string>{"will", "did", "will", "did"}));
}

TEST_F(SPUStandardUserDriverTest, TheStatusWindowFollowsCheckingDownloadingAndCancel) {
  bool cancelled = false;
  driver.showUserInitiatedUpdateCheck([&] { cancelled = true; });
  ASSERT_TRUE(driver.statusWindow());
  EXPECT_TRUE(driver.statusWindow()->isVisible());
  auto* label = driver.statusWindow()->findChild<QLabel*>("statusLabel");
  EXPECT_TRUE(label->text().startsWith("Checking for updates"));

  driver.showDownloadProgress(512 * 1024, 1024 * 1024, [&] { cancelled = true; });
  EXPECT_TRUE(label->text().startsWith("Downloading update"));
  EXPECT_EQ(driver.statusWindow()->findChild<QProgressBar*>()->value(), 500);
  driver.statusWindow()->findChild<QPushButton*>("cancelButton")->click();
  EXPECT_TRUE(cancelled);

  driver.showExtractingUpdate();
  EXPECT_FALSE(driver.statusWindow()->findChild<QPushButton*>("cancelButton")->isEnabled());
  driver.dismissUpdateInstallation();
  EXPECT_EQ(driver.statusWindow(), nullptr);
  EXPECT_TRUE(delegate.calls.empty()) << "the status window is not a modal alert";
}

} // namespace
