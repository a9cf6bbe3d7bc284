// AppDelegate: the status window (installed version, the extensions' registration, launch at
// login, updates) and its refresh.
#include "AppDelegate.h"
#include "AppKit/NSColor.h"
#include "AppKit/NSFont.h"
#include "Dispatch/DispatchQueue.h"
#include "ProviderStatus.h"

namespace {

std::shared_ptr<NSTextField> placed(std::shared_ptr<NSTextField> label, double size,
                                    NSFontWeight weight, std::optional<NSColor> color,
                                    NSRect frame) {
  label->setFont(NSFont::systemFontOfSize(size, weight));
  if (color)
    label->setTextColor(*color);
  label->setFrame(frame);
  return label;
}

} // namespace

void AppDelegate::showStatusWindow() {
  if (!statusWindow)
    statusWindow = makeStatusWindow();
  refreshStatus();
  if (!statusWindow->isVisible())
    statusWindow->center();
  statusWindow->makeKeyAndOrderFront(nullptr);
  NSApplication::sharedApplication().activateIgnoringOtherApps(true);
}

std::shared_ptr<NSWindow> AppDelegate::makeStatusWindow() {
  auto created = std::make_shared<NSWindow>(NSMakeRect(0, 0, 500, 310),
                                            NSWindowStyleMaskTitled | NSWindowStyleMaskClosable |
                                                NSWindowStyleMaskMiniaturizable,
                                            NSBackingStoreBuffered, false);
  created->setTitle("Lumivale Quick Look");
  created->setReleasedWhenClosed(false);

  auto view = std::make_shared<NSView>(NSMakeRect(0, 0, 500, 310));
  const NSColor secondary = NSColor::secondaryLabelColor();
  const NSColor primary = NSColor::labelColor();
  view->addSubview(placed(NSTextField::labelWithString("Lumivale Quick Look"), 20,
                          NSFontWeightSemibold, std::nullopt, NSMakeRect(24, 258, 452, 28)));
  view->addSubview(
      placed(versionStatus, 13, NSFontWeightRegular, secondary, NSMakeRect(24, 232, 452, 20)));
  view->addSubview(placed(NSTextField::labelWithString("Quick Look extensions"), 11,
                          NSFontWeightSemibold, secondary, NSMakeRect(24, 196, 452, 18)));
  view->addSubview(
      placed(providerStatus, 13, NSFontWeightRegular, primary, NSMakeRect(24, 122, 452, 72)));
  view->addSubview(
      placed(loginStatus, 13, NSFontWeightRegular, primary, NSMakeRect(24, 92, 452, 20)));
  view->addSubview(
      placed(updateStatus, 13, NSFontWeightRegular, primary, NSMakeRect(24, 52, 452, 36)));

  refresh->setTarget(this);
  refresh->setAction(&AppDelegate::refreshStatusNow);
  refresh->setBezelStyle(NSBezelStyleRounded);
  refresh->setFrame(NSMakeRect(220, 18, 84, 30));
  view->addSubview(refresh);

  checkForUpdates->setTarget(this);
  checkForUpdates->setAction(&AppDelegate::checkForUpdatesNow);
  checkForUpdates->setBezelStyle(NSBezelStyleRounded);
  checkForUpdates->setFrame(NSMakeRect(312, 18, 164, 30));
  view->addSubview(checkForUpdates);

  created->setContentView(view);
  return created;
}

void AppDelegate::refreshStatus() {
  const std::string shortVersion =
      context_.bundle.infoString("CFBundleShortVersionString").value_or("Unknown");
  const std::string buildVersion =
      context_.bundle.infoString("CFBundleVersion").value_or("Unknown");
  versionStatus->setStringValue("Installed app version: " + shortVersion + " (" + buildVersion +
                                ")");
  loginStatus->setStringValue("Launch at login: " + launchAtLoginText());
  updateStatus->setStringValue(updates->statusText());
  checkForUpdates->setEnabled(updates->isConfigured());
  providerStatus->setStringValue("Checking...");

  std::shared_ptr<AppDelegate> self = shared_from_this();
  DispatchQueue::global(DispatchQoS::utility).async([self]() mutable {
    std::vector<std::string> lines = self->providerStatusLines();
    std::weak_ptr<AppDelegate> weakSelf = self;
    // The strong reference travels to the main thread and is let go there first, so that a
    // delegate nobody else holds ends on the main thread and its result is dropped.
    DispatchQueue::main().async(
        [keep = std::move(self), weakSelf, lines = std::move(lines)]() mutable {
          keep.reset();
          std::shared_ptr<AppDelegate> delegate = weakSelf.lock();
          if (!delegate)
            return;
          std::string text;
          for (const std::string& line : lines)
            text += (text.empty() ? "" : "\n") + line;
          delegate->providerStatus->setStringValue(text);
        });
  });
}

void AppDelegate::refreshStatusNow() {
  refreshStatus();
}

std::vector<std::string> AppDelegate::providerStatusLines() const {
  return ::providerStatusLines(RegistrationTools::fromBundle(context_.bundle).plugInKit);
}
