#include "AppKit/NSAppleEventManager.h"
#include "AppTestSupport.h"

#include <gtest/gtest.h>

using namespace apptest;

namespace {

NSAppleEventDescriptor openEvent(std::optional<FourCharCode> property) {
  NSAppleEventDescriptor event =
      NSAppleEventDescriptor::appleEvent(kCoreEventClass, kAEOpenApplication);
  if (property)
    event.setParamDescriptor(NSAppleEventDescriptor::descriptorWithEnumCode(*property),
                             keyAEPropData);
  return event;
}

const NSAppleEventDescriptor kLoginLaunch = openEvent(keyAELaunchedAsLogInItem);
const NSAppleEventDescriptor kUserLaunch = openEvent(std::nullopt);

class AppDelegateTest : public ::testing::Test {
protected:
  void TearDown() override {
    NSAppleEventManager& events = NSAppleEventManager::sharedAppleEventManager();
    events.removeEventHandler(kCoreEventClass, kAEOpenApplication);
    events.removeEventHandler(kCoreEventClass, kAEReopenApplication);
  }

  // Runs the start-up sequence with `event` as the launching event.
  void launch(const NSAppleEventDescriptor& event) {
    NSAppleEventManager::sharedAppleEventManager().withCurrentEvent(
        event, [&] { delegate->applicationDidFinishLaunching(); });
  }
  void storeSetupFlag() { app.defaults().setBool(true, kDidCompleteInitialSetupKey); }
  bool statusShown() const { return delegate->statusWindow && delegate->statusWindow->isVisible(); }
  bool setupShown() const { return delegate->window && delegate->window->isVisible(); }

  NSApplication& qt = application();
  ScopedEnvironment noQuit{kRegisterAndQuitVariable, nullptr};
  ScopedEnvironment noSetup{kShowSetupVariable, nullptr};
  TestApp app;
  std::shared_ptr<AppDelegate> delegate = AppDelegate::create(app.context());
};

} // namespace

TEST_F(AppDelegateTest, ControlsAsCreated) {
  EXPECT_EQ(delegate->title->stringValue(), "Lumivale Quick Look");
  EXPECT_EQ(delegate->subtitle->stringValue(), "");
  EXPECT_EQ(delegate->body->lineBreakMode(), NSLineBreakByWordWrapping);
  EXPECT_EQ(delegate->subtitle->lineBreakMode(), NSLineBreakByClipping);
  EXPECT_EQ(delegate->close->title(), "Close");
  EXPECT_EQ(delegate->close->target(), nullptr);
  EXPECT_EQ(delegate->checkForUpdates->title(), "Check for Updates");
  EXPECT_EQ(delegate->refresh->title(), "Refresh");
  EXPECT_EQ(delegate->providerStatus->lineBreakMode(), NSLineBreakByWordWrapping);
  EXPECT_EQ(delegate->updateStatus->lineBreakMode(), NSLineBreakByWordWrapping);
  EXPECT_EQ(delegate->window, nullptr);
  EXPECT_EQ(delegate->statusWindow, nullptr);
  EXPECT_FALSE(delegate->applicationShouldTerminateAfterLastWindowClosed());
}

TEST_F(AppDelegateTest, EnvironmentFlagsAreExactlyOne) {
  for (const char* value : {"1"}) {
    ScopedEnvironment set(kShowSetupVariable, value);
    EXPECT_TRUE(isEnvironmentFlagSet(kShowSetupVariable));
  }
  for (const char* value : {"true", "0", " 1", "1 ", "", "11", "yes"}) {
    ScopedEnvironment set(kShowSetupVariable, value);
    EXPECT_FALSE(isEnvironmentFlagSet(kShowSetupVariable)) << '"' << value << '"';
  }
  EXPECT_FALSE(isEnvironmentFlagSet(kShowSetupVariable));
}

TEST_F(AppDelegateTest, ShouldShowSetup) {
  EXPECT_TRUE(delegate->shouldShowSetup()) << "missing flag";
  storeSetupFlag();
  EXPECT_FALSE(delegate->shouldShowSetup());
  ScopedEnvironment force(kShowSetupVariable, "1");
  EXPECT_TRUE(delegate->shouldShowSetup());
  ScopedEnvironment other(kShowSetupVariable, "true");
  EXPECT_FALSE(delegate->shouldShowSetup());
}

TEST_F(AppDelegateTest, LoginItemTest) {
  EXPECT_FALSE(AppDelegate::wasLaunchedAsLoginItem(nullptr));
  EXPECT_TRUE(AppDelegate::wasLaunchedAsLoginItem(&kLoginLaunch));
  EXPECT_FALSE(AppDelegate::wasLaunchedAsLoginItem(&kUserLaunch)) << "no 'prdt'";
  const NSAppleEventDescriptor other = openEvent(fourCharCode("xxxx"));
  EXPECT_FALSE(AppDelegate::wasLaunchedAsLoginItem(&other)) << "another enumerated value";
  NSAppleEventDescriptor reopen =
      NSAppleEventDescriptor::appleEvent(kCoreEventClass, kAEReopenApplication);
  reopen.setParamDescriptor(
      NSAppleEventDescriptor::descriptorWithEnumCode(keyAELaunchedAsLogInItem), keyAEPropData);
  EXPECT_FALSE(AppDelegate::wasLaunchedAsLoginItem(&reopen)) << "another event ID";
  NSAppleEventDescriptor otherClass =
      NSAppleEventDescriptor::appleEvent(fourCharCode("misc"), kAEOpenApplication);
  otherClass.setParamDescriptor(
      NSAppleEventDescriptor::descriptorWithEnumCode(keyAELaunchedAsLogInItem), keyAEPropData);
  EXPECT_TRUE(AppDelegate::wasLaunchedAsLoginItem(&otherClass)) << "the class is not examined";
}

TEST_F(AppDelegateTest, RegisterAndQuitMode) {
  ScopedEnvironment quit(kRegisterAndQuitVariable, "1");
  testing::internal::CaptureStderr();
  launch(kUserLaunch);
  EXPECT_EQ(delegate->window, nullptr);
  EXPECT_EQ(delegate->statusWindow, nullptr);
  EXPECT_EQ(app.loginItem().status(), SMAppServiceStatus::notRegistered)
      << "launch at login is not touched before registration";
  ASSERT_TRUE(app.waitForToolRuns(7));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(app.toolLines(), app.expectedRegistration());
  EXPECT_TRUE(app.defaults().boolForKey(kDidCompleteInitialSetupKey));
  EXPECT_EQ(app.loginItem().status(), SMAppServiceStatus::enabled);
  EXPECT_TRUE(NSApplication::sharedApplication().isTerminating());
  // Open and reopen events do nothing in this mode.
  NSAppleEventManager::sharedAppleEventManager().dispatch(kUserLaunch);
  NSApplication::sharedApplication().handleReopen();
  EXPECT_EQ(delegate->statusWindow, nullptr);
}

TEST_F(AppDelegateTest, SetupModeEvenAtALoginItemLaunch) {
  launch(kLoginLaunch);
  ASSERT_NE(delegate->window, nullptr);
  EXPECT_TRUE(setupShown());
  EXPECT_EQ(delegate->window->title(), "Lumivale Quick Look");
  EXPECT_EQ(delegate->window->contentSize(), (NSSize{560, 320}));
  EXPECT_EQ(delegate->window->styleMask(), 7u);
  EXPECT_EQ(delegate->statusWindow, nullptr);
  EXPECT_EQ(app.loginItem().status(), SMAppServiceStatus::notRegistered);
  // While setup runs, open and reopen events change nothing.
  NSAppleEventManager::sharedAppleEventManager().dispatch(kUserLaunch);
  NSApplication::sharedApplication().handleReopen();
  EXPECT_EQ(delegate->statusWindow, nullptr);
  ASSERT_TRUE(app.waitForToolRuns(7));
  EXPECT_TRUE(app.defaults().boolForKey(kDidCompleteInitialSetupKey));
  EXPECT_EQ(app.loginItem().status(), SMAppServiceStatus::enabled);
  EXPECT_TRUE(delegate->close->isEnabled());
  // Once setup succeeded, a reopen shows the status window.
  NSApplication::sharedApplication().handleReopen();
  EXPECT_TRUE(statusShown());
  app.waitForToolRuns(8);
}

TEST_F(AppDelegateTest, NormalLaunchByTheUser) {
  storeSetupFlag();
  launch(kUserLaunch);
  EXPECT_EQ(delegate->window, nullptr);
  EXPECT_TRUE(statusShown());
  EXPECT_EQ(app.loginItem().status(), SMAppServiceStatus::enabled);
  ASSERT_TRUE(app.waitForToolRuns(8)); // registration and the extension query
}

TEST_F(AppDelegateTest, NormalLaunchAsLoginItemIsSilent) {
  storeSetupFlag();
  launch(kLoginLaunch);
  EXPECT_EQ(delegate->statusWindow, nullptr);
  EXPECT_EQ(app.loginItem().status(), SMAppServiceStatus::enabled);
  ASSERT_TRUE(app.waitForToolRuns(7));
  EXPECT_EQ(app.toolLines(), app.expectedRegistration());
  // The open handler ignores login-item events and shows the window for others.
  NSAppleEventManager::sharedAppleEventManager().dispatch(kLoginLaunch);
  EXPECT_EQ(delegate->statusWindow, nullptr);
  NSAppleEventManager::sharedAppleEventManager().dispatch(kUserLaunch);
  EXPECT_TRUE(statusShown());
  app.waitForToolRuns(8);
}

TEST_F(AppDelegateTest, ShowSetupForcedKeepsEventsFromTheStatusWindow) {
  storeSetupFlag();
  ScopedEnvironment force(kShowSetupVariable, "1");
  launch(kUserLaunch);
  EXPECT_TRUE(setupShown());
  ASSERT_TRUE(app.waitForToolRuns(7));
  NSAppleEventManager::sharedAppleEventManager().dispatch(kUserLaunch);
  NSApplication::sharedApplication().handleReopen();
  EXPECT_EQ(delegate->statusWindow, nullptr);
  // The delegate method shows it without either test.
  EXPECT_TRUE(delegate->applicationShouldHandleReopen(false));
  EXPECT_TRUE(statusShown());
  app.waitForToolRuns(8);
}

TEST_F(AppDelegateTest, CloseWindowIsHarmlessBeforeAndAfter) {
  delegate->closeWindow(); // no window yet
  ASSERT_NO_FATAL_FAILURE(launch(kUserLaunch));
  ASSERT_TRUE(setupShown());
  storeSetupFlag();
  delegate->showStatusWindow();
  delegate->closeWindow();
  EXPECT_FALSE(setupShown());
  EXPECT_NE(delegate->window, nullptr) << "the window object is kept";
  EXPECT_TRUE(statusShown()) << "closeWindow never touches the status window";
  delegate->closeWindow();
  EXPECT_FALSE(setupShown());
  app.waitForToolRuns(8);
}

TEST_F(AppDelegateTest, EnableLaunchAtLogin) {
  EXPECT_EQ(delegate->launchAtLoginText(), "Not registered");
  delegate->enableLaunchAtLogin();
  EXPECT_EQ(delegate->launchAtLoginText(), "Enabled");

  // Already enabled: no registration call (the entry is left exactly as it is).
  const auto entry = app.loginItem().entryPath();
  std::ofstream(entry, std::ios::app) << "X-Marker=kept\n";
  delegate->enableLaunchAtLogin();
  EXPECT_NE(readFile(entry).find("X-Marker=kept"), std::string::npos);

  // Turned off by the user: requires approval, registering fails with one literal log line.
  std::ofstream(entry, std::ios::app) << "Hidden=true\n";
  EXPECT_EQ(delegate->launchAtLoginText(), "Needs approval in System Settings");
  testing::internal::CaptureStderr();
  delegate->enableLaunchAtLogin();
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("] Lumivale Quick Look could not enable launch at login: Lumivale Quick "
                     "Look is turned off in the desktop"),
            std::string::npos)
      << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);
  EXPECT_NE(readFile(entry).find("Hidden=true"), std::string::npos) << "the user's choice stays";

  // The program it names is gone: not found, and registering writes it anew.
  std::filesystem::remove(entry);
  std::ofstream(entry) << "[Desktop Entry]\nType=Application\nExec=/nonexistent/app\n";
  EXPECT_EQ(delegate->launchAtLoginText(), "Not found");
  delegate->enableLaunchAtLogin();
  EXPECT_EQ(delegate->launchAtLoginText(), "Enabled");
}

TEST_F(AppDelegateTest, SetupViewTextsFontsAndFrames) {
  std::shared_ptr<NSView> view = delegate->makeSetupView();
  EXPECT_EQ(view->frame(), NSMakeRect(0, 0, 560, 320));
  ASSERT_EQ(view->subviews().size(), 4u);
  EXPECT_EQ(view->subviews()[0], delegate->title);
  EXPECT_EQ(view->subviews()[3], delegate->close);

  EXPECT_EQ(delegate->title->stringValue(), "Lumivale Quick Look");
  EXPECT_EQ(delegate->title->font(), NSFont::systemFontOfSize(22, NSFontWeightSemibold));
  EXPECT_EQ(delegate->title->frame(), NSMakeRect(24, 250, 512, 32));
  EXPECT_EQ(delegate->subtitle->stringValue(), "Registering Quick Look extensions...");
  EXPECT_EQ(delegate->subtitle->font(), NSFont::systemFontOfSize(13));
  EXPECT_EQ(delegate->subtitle->textColor(), NSColor::secondaryLabelColor());
  EXPECT_EQ(delegate->subtitle->lineBreakMode(), NSLineBreakByWordWrapping);
  EXPECT_EQ(delegate->subtitle->frame(), NSMakeRect(24, 210, 512, 36));
  EXPECT_EQ(delegate->body->stringValue(), "This only takes a few seconds.");
  EXPECT_EQ(delegate->body->font(), NSFont::systemFontOfSize(12));
  EXPECT_EQ(delegate->body->textColor(), NSColor::labelColor());
  EXPECT_EQ(delegate->body->frame(), NSMakeRect(24, 100, 512, 100));
  EXPECT_EQ(delegate->close->frame(), NSMakeRect(460, 36, 76, 32));
  EXPECT_EQ(delegate->close->target(), delegate.get());
  EXPECT_EQ(delegate->close->bezelStyle(), 1);
  EXPECT_EQ(delegate->close->keyEquivalent(), "\r");
  EXPECT_FALSE(delegate->close->isEnabled());
  // Qt geometry: the origin at the top-left of the 320-point-high view.
  EXPECT_EQ(delegate->title->widget()->geometry(), QRect(24, 320 - 250 - 32, 512, 32));
  EXPECT_EQ(delegate->close->widget()->geometry(), QRect(460, 320 - 36 - 32, 76, 32));
}

TEST_F(AppDelegateTest, FinishSetupReady) {
  delegate->window =
      std::make_shared<NSWindow>(NSMakeRect(0, 0, 560, 320), 7u, NSBackingStoreBuffered, false);
  delegate->window->setContentView(delegate->makeSetupView());
  delegate->window->makeKeyAndOrderFront(nullptr);
  delegate->finishSetup(RegistrationResult::success());
  EXPECT_TRUE(app.defaults().boolForKey(kDidCompleteInitialSetupKey));
  EXPECT_EQ(app.loginItem().status(), SMAppServiceStatus::enabled);
  EXPECT_EQ(delegate->title->stringValue(), "Lumivale Quick Look is ready!");
  EXPECT_EQ(delegate->title->font(), NSFont::systemFontOfSize(26, NSFontWeightSemibold));
  EXPECT_EQ(delegate->title->frame(), NSMakeRect(24, 236, 512, 42));
  EXPECT_EQ(delegate->subtitle->stringValue(), "");
  EXPECT_EQ(delegate->body->stringValue(),
            "Select a .md, .mermaid, .ipynb, .parquet, .sqlite, .arrow, .json, .jsonl, .ndjson, "
            "or .dta file in Finder and press Space to preview.");
  EXPECT_EQ(delegate->body->font(), NSFont::systemFontOfSize(13));
  EXPECT_EQ(delegate->body->frame(), NSMakeRect(24, 156, 512, 72));
  EXPECT_TRUE(delegate->close->isEnabled());
  // Close (the button, or Return) closes the window; the delegate stays.
  delegate->close->performClick();
  EXPECT_FALSE(delegate->window->isVisible());
}

TEST_F(AppDelegateTest, FinishSetupNeedsAttention) {
  delegate->makeSetupView();
  delegate->finishSetup(
      RegistrationResult::failure(QuickLookRegistrationError{"/usr/bin/qlmanage -r", 1, ""}));
  EXPECT_FALSE(app.defaults().boolForKey(kDidCompleteInitialSetupKey));
  EXPECT_EQ(app.loginItem().status(), SMAppServiceStatus::notRegistered);
  EXPECT_EQ(delegate->title->stringValue(), "Lumivale Quick Look");
  EXPECT_EQ(delegate->subtitle->stringValue(), "Registration needs attention.");
  EXPECT_EQ(delegate->body->stringValue(),
            "/usr/bin/qlmanage -r exited with status 1.\n\nOpen System Settings > General > "
            "Login Items & Extensions > Quick Look and make sure the Lumivale extensions are "
            "enabled.");
  EXPECT_EQ(delegate->body->font(), NSFont::systemFontOfSize(12));
  EXPECT_EQ(delegate->body->frame(), NSMakeRect(24, 100, 512, 100));
  EXPECT_TRUE(delegate->close->isEnabled());
}

TEST_F(AppDelegateTest, FinishRegistrationLogsLiterally) {
  testing::internal::CaptureStderr();
  delegate->finishRegistration(
      RegistrationResult::failure(QuickLookRegistrationError{"t", 2, "%s %n 100%"}), false);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("] Lumivale Quick Look registration failed: t exited with status 2: %s %n "
                     "100%\n"),
            std::string::npos);
  EXPECT_FALSE(app.defaults().boolForKey(kDidCompleteInitialSetupKey));
  EXPECT_EQ(app.loginItem().status(), SMAppServiceStatus::notRegistered);
}

TEST_F(AppDelegateTest, StatusWindowLayoutAndLines) {
  ScopedEnvironment listing("FAKE_TOOL_LISTING", "+    com.lumivale.quicklook.markdown(1.0)\n");
  storeSetupFlag();
  delegate->showStatusWindow();
  ASSERT_NE(delegate->statusWindow, nullptr);
  NSWindow& window = *delegate->statusWindow;
  EXPECT_EQ(window.contentSize(), (NSSize{500, 310}));
  EXPECT_EQ(window.styleMask(), 7u);
  EXPECT_FALSE(window.isReleasedWhenClosed());
  const auto& views = window.contentView()->subviews();
  ASSERT_EQ(views.size(), 8u);
  auto label = [&](std::size_t i) { return std::dynamic_pointer_cast<NSTextField>(views[i]); };
  EXPECT_EQ(label(0)->stringValue(), "Lumivale Quick Look");
  EXPECT_EQ(label(0)->font(), NSFont::systemFontOfSize(20, NSFontWeightSemibold));
  EXPECT_EQ(label(0)->frame(), NSMakeRect(24, 258, 452, 28));
  EXPECT_EQ(views[1], delegate->versionStatus);
  EXPECT_EQ(delegate->versionStatus->frame(), NSMakeRect(24, 232, 452, 20));
  EXPECT_EQ(delegate->versionStatus->textColor(), NSColor::secondaryLabelColor());
  EXPECT_EQ(label(2)->stringValue(), "Quick Look extensions");
  EXPECT_EQ(label(2)->font(), NSFont::systemFontOfSize(11, NSFontWeightSemibold));
  EXPECT_EQ(label(2)->frame(), NSMakeRect(24, 196, 452, 18));
  EXPECT_EQ(views[3], delegate->providerStatus);
  EXPECT_EQ(delegate->providerStatus->frame(), NSMakeRect(24, 122, 452, 72));
  EXPECT_EQ(views[4], delegate->loginStatus);
  EXPECT_EQ(delegate->loginStatus->frame(), NSMakeRect(24, 92, 452, 20));
  EXPECT_EQ(views[5], delegate->updateStatus);
  EXPECT_EQ(delegate->updateStatus->frame(), NSMakeRect(24, 52, 452, 36));
  EXPECT_EQ(views[6], delegate->refresh);
  EXPECT_EQ(delegate->refresh->frame(), NSMakeRect(220, 18, 84, 30));
  EXPECT_EQ(views[7], delegate->checkForUpdates);
  EXPECT_EQ(delegate->checkForUpdates->frame(), NSMakeRect(312, 18, 164, 30));
  EXPECT_EQ(delegate->checkForUpdates->target(), delegate.get());

  EXPECT_EQ(delegate->versionStatus->stringValue(), "Installed app version: 1.4 (27)");
  EXPECT_EQ(delegate->loginStatus->stringValue(), "Launch at login: Not registered");
  EXPECT_EQ(delegate->updateStatus->stringValue(), "Updates: Not configured");
  EXPECT_FALSE(delegate->checkForUpdates->isEnabled());
  EXPECT_EQ(delegate->providerStatus->stringValue(), "Checking...");
  ASSERT_TRUE(spinUntil([&] { return delegate->providerStatus->stringValue() != "Checking..."; }));
  EXPECT_EQ(delegate->providerStatus->stringValue(),
            "Markdown: Enabled 1.0\nNotebook: Not registered\nTabular: Not registered");

  // Closing hides it; showing it again brings back the same window.
  NSWindow* first = delegate->statusWindow.get();
  window.performClose(nullptr);
  EXPECT_FALSE(window.isVisible());
  delegate->showStatusWindow();
  EXPECT_EQ(delegate->statusWindow.get(), first);
  EXPECT_TRUE(window.isVisible());
  // Refresh runs the query again.
  delegate->refresh->performClick();
  EXPECT_EQ(delegate->providerStatus->stringValue(), "Checking...");
  ASSERT_TRUE(app.waitForToolRuns(3));
}

TEST_F(AppDelegateTest, VersionLineWithMissingKeys) {
  TestApp bare({{"CFBundleShortVersionString", "<absent>"}, {"CFBundleVersion", "<absent>"}});
  auto other = AppDelegate::create(bare.context());
  other->makeStatusWindow();
  other->refreshStatus();
  EXPECT_EQ(other->versionStatus->stringValue(), "Installed app version: Unknown (Unknown)");
  bare.waitForToolRuns(1);
}

TEST_F(AppDelegateTest, QueryResultDroppedWhenTheDelegateIsGone) {
  delegate->makeStatusWindow();
  delegate->refreshStatus();
  std::weak_ptr<AppDelegate> weak = delegate;
  delegate.reset();
  EXPECT_TRUE(app.waitForToolRuns(1));
  EXPECT_TRUE(weak.expired());
}
