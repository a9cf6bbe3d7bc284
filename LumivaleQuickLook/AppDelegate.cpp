#include "AppDelegate.h"

#include "AppKit/NSAlert.h"
#include "AppKit/NSAppleEventManager.h"
#include "Foundation/NSLog.h"
#include "Foundation/ProcessInfo.h"

namespace {
constexpr const char* kAppName = "Lumivale Quick Look";
} // namespace

AppContext AppContext::live() {
  return {Bundle::main(), NSUserDefaults::standardUserDefaults(), SMAppService::mainAppService()};
}

bool isEnvironmentFlagSet(const char* name) {
  return ProcessInfo::environmentValue(name) == std::optional<std::string>("1");
}

std::shared_ptr<AppDelegate> AppDelegate::create(AppContext context) {
  return std::shared_ptr<AppDelegate>(new AppDelegate(context));
}

AppDelegate::AppDelegate(AppContext context)
    : context_(context), updates(std::make_shared<AppUpdateController>(context.bundle)),
      title(NSTextField::labelWithString(kAppName)), subtitle(NSTextField::labelWithString("")),
      body(NSTextField::wrappingLabelWithString("")), close(NSButton::buttonWithTitle("Close")),
      versionStatus(NSTextField::labelWithString("")),
      providerStatus(NSTextField::wrappingLabelWithString("")),
      loginStatus(NSTextField::labelWithString("")),
      updateStatus(NSTextField::wrappingLabelWithString("")),
      checkForUpdates(NSButton::buttonWithTitle("Check for Updates")),
      refresh(NSButton::buttonWithTitle("Refresh")) {}

AppDelegate::~AppDelegate() {
  // The windows go before the controls they hold.
  window.reset();
  statusWindow.reset();
}

void AppDelegate::applicationDidFinishLaunching() {
  updates->configure(this);

  NSAppleEventManager& events = NSAppleEventManager::sharedAppleEventManager();
  const bool launchedAsLoginItem = wasLaunchedAsLoginItem(events.currentAppleEvent());
  events.setEventHandler(this, &AppDelegate::handleOpenApplicationEvent, kCoreEventClass,
                         kAEOpenApplication);
  events.setEventHandler(this, &AppDelegate::handleReopenApplicationEvent, kCoreEventClass,
                         kAEReopenApplication);

  if (isEnvironmentFlagSet(kRegisterAndQuitVariable)) {
    startRegistration(true);
    return;
  }

  if (shouldShowSetup()) {
    window = std::make_shared<NSWindow>(NSMakeRect(0, 0, 560, 320),
                                        NSWindowStyleMaskTitled | NSWindowStyleMaskClosable |
                                            NSWindowStyleMaskMiniaturizable,
                                        NSBackingStoreBuffered, false);
    window->setTitle(kAppName);
    window->center();
    window->setContentView(makeSetupView());
    window->makeKeyAndOrderFront(nullptr);
    NSApplication::sharedApplication().activateIgnoringOtherApps(true);
    startSetupRegistration();
    return;
  }

  enableLaunchAtLogin();
  startRegistration(false);
  updates->scheduleBackgroundCheck(5.0);
  if (!launchedAsLoginItem)
    showStatusWindow();
}

bool AppDelegate::applicationShouldHandleReopen(bool) {
  showStatusWindow();
  return true;
}

void AppDelegate::handleOpenApplicationEvent(const NSAppleEventDescriptor& event,
                                             NSAppleEventDescriptor&) {
  if (isEnvironmentFlagSet(kRegisterAndQuitVariable))
    return;
  if (wasLaunchedAsLoginItem(&event))
    return;
  if (shouldShowSetup())
    return;
  showStatusWindow();
}

void AppDelegate::handleReopenApplicationEvent(const NSAppleEventDescriptor&,
                                               NSAppleEventDescriptor&) {
  if (isEnvironmentFlagSet(kRegisterAndQuitVariable))
    return;
  if (shouldShowSetup())
    return;
  showStatusWindow();
}

void AppDelegate::closeWindow() {
  if (window)
    window->performClose(nullptr);
}

bool AppDelegate::shouldShowSetup() const {
  if (isEnvironmentFlagSet(kShowSetupVariable))
    return true;
  return !context_.defaults.boolForKey(kDidCompleteInitialSetupKey);
}

bool AppDelegate::wasLaunchedAsLoginItem(const NSAppleEventDescriptor* event) {
  if (!event)
    return false;
  if (event->eventID() != kAEOpenApplication)
    return false;
  const std::optional<NSAppleEventDescriptor> property =
      event->paramDescriptorForKeyword(keyAEPropData);
  if (!property)
    return false;
  return property->enumCodeValue() == keyAELaunchedAsLogInItem;
}

void AppDelegate::enableLaunchAtLogin() {
  if (context_.loginItem.status() == SMAppServiceStatus::enabled)
    return;
  NSError error;
  if (!context_.loginItem.registerAndReturnError(&error))
    NSLog("Lumivale Quick Look could not enable launch at login: " + error.localizedDescription);
}

std::string AppDelegate::launchAtLoginText() const {
  switch (context_.loginItem.status()) {
  case SMAppServiceStatus::notRegistered:
    return "Not registered";
  case SMAppServiceStatus::enabled:
    return "Enabled";
  case SMAppServiceStatus::requiresApproval:
    return "Needs approval in System Settings";
  case SMAppServiceStatus::notFound:
    return "Not found";
  }
  return "Unknown";
}

void AppDelegate::checkForUpdatesNow() {
  NSApplication::sharedApplication().activateIgnoringOtherApps(true);
  if (updates->isConfigured()) {
    updates->checkNow(checkForUpdates.get());
    return;
  }
  NSAlert alert;
  alert.messageText = "Updates are not configured in this build.";
  alert.informativeText =
      "Release builds must set LUMIVALE_SPARKLE_FEED_URL to a real Sparkle appcast.";
  alert.addButtonWithTitle("OK");
  alert.runModal();
}

void AppDelegate::standardUserDriverWillShowModalAlert() {
  NSApplication::sharedApplication().activateIgnoringOtherApps(true);
}

void AppDelegate::standardUserDriverDidShowModalAlert() {
  NSApplication::sharedApplication().activateIgnoringOtherApps(true);
}
