// AppDelegate: the host application's delegate. It chooses the launch mode (register and
// quit, first-run setup, normal), answers the open and reopen events, keeps the application a
// login item, registers the extensions, and owns the setup and status windows with their
// controls. Main thread only, except where a member says otherwise.
#pragma once

#include "AppKit/NSAppleEventDescriptor.h"
#include "AppKit/NSApplication.h"
#include "AppKit/NSButton.h"
#include "AppKit/NSTextField.h"
#include "AppKit/NSView.h"
#include "AppKit/NSWindow.h"
#include "AppUpdateController.h"
#include "ExtensionRegistration.h"
#include "Foundation/Bundle.h"
#include "Foundation/NSObject.h"
#include "Foundation/NSUserDefaults.h"
#include "ServiceManagement/SMAppService.h"
#include "SoftwareUpdate/SPUStandardUserDriverDelegate.h"

#include <memory>
#include <string>
#include <vector>

// What the delegate works against: the running application's bundle, defaults and login item
// in the application, temporary ones in tests. Each must outlive the delegate.
struct AppContext {
  const Bundle& bundle;
  NSUserDefaults& defaults;
  SMAppService& loginItem;

  static AppContext live();
};

inline constexpr const char* kDidCompleteInitialSetupKey =
    "com.lumivale.quicklook.didCompleteInitialSetup";
inline constexpr const char* kRegisterAndQuitVariable = "LUMIVALE_QL_REGISTER_AND_QUIT";
inline constexpr const char* kShowSetupVariable = "LUMIVALE_QL_SHOW_SETUP";

// True when the environment variable's value is exactly "1", read now.
bool isEnvironmentFlagSet(const char* name);

class AppDelegate final : public NSObject,
                          public NSApplicationDelegate,
                          public SPUStandardUserDriverDelegate,
                          public std::enable_shared_from_this<AppDelegate> {
  // Declared first: the update controller below reads the bundle.
  const AppContext context_;

public:
  // Delegates are shared so that background work can hold them strongly or weakly.
  static std::shared_ptr<AppDelegate> create(AppContext context);
  ~AppDelegate() override;

  std::shared_ptr<NSWindow> window;
  std::shared_ptr<NSWindow> statusWindow;
  const std::shared_ptr<AppUpdateController> updates;
  const std::shared_ptr<NSTextField> title;
  const std::shared_ptr<NSTextField> subtitle;
  const std::shared_ptr<NSTextField> body;
  const std::shared_ptr<NSButton> close;
  const std::shared_ptr<NSTextField> versionStatus;
  const std::shared_ptr<NSTextField> providerStatus;
  const std::shared_ptr<NSTextField> loginStatus;
  const std::shared_ptr<NSTextField> updateStatus;
  const std::shared_ptr<NSButton> checkForUpdates;
  const std::shared_ptr<NSButton> refresh;

  // Start-up and launch modes.
  void applicationDidFinishLaunching() override;
  bool applicationShouldTerminateAfterLastWindowClosed() override { return false; }
  bool applicationShouldHandleReopen(bool hasVisibleWindows) override;
  void handleOpenApplicationEvent(const NSAppleEventDescriptor& event,
                                  NSAppleEventDescriptor& reply);
  void handleReopenApplicationEvent(const NSAppleEventDescriptor& event,
                                    NSAppleEventDescriptor& reply);
  void closeWindow();
  bool shouldShowSetup() const;
  static bool wasLaunchedAsLoginItem(const NSAppleEventDescriptor* event);
  void enableLaunchAtLogin();
  std::string launchAtLoginText() const;

  // Registration and the setup window.
  void startRegistration(bool quitWhenDone);
  void startSetupRegistration();
  std::shared_ptr<NSView> makeSetupView();
  void finishRegistration(const RegistrationResult& result, bool quitWhenDone);
  void finishSetup(const RegistrationResult& result);

  // The status window.
  void showStatusWindow();
  std::shared_ptr<NSWindow> makeStatusWindow();
  void refreshStatus();
  void refreshStatusNow();
  // Runs the plug-in registry query; blocking, any thread.
  std::vector<std::string> providerStatusLines() const;

  // Updates.
  void checkForUpdatesNow();
  void standardUserDriverWillShowModalAlert() override;
  void standardUserDriverDidShowModalAlert() override;

  const AppContext& context() const { return context_; }

private:
  explicit AppDelegate(AppContext context);
};
