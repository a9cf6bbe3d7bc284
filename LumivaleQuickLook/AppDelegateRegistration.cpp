// AppDelegate: registration of the extensions in the background, and the first-run setup
// window that shows its progress and outcome.
#include "AppDelegate.h"
#include "AppKit/NSColor.h"
#include "AppKit/NSFont.h"
#include "Dispatch/DispatchQueue.h"
#include "Foundation/NSLog.h"

void AppDelegate::startRegistration(bool quitWhenDone) {
  const URL bundleURL = URL::fileURLWithPath(context_.bundle.bundlePath().string());
  const RegistrationTools tools = RegistrationTools::fromBundle(context_.bundle);
  std::shared_ptr<AppDelegate> self = shared_from_this();
  DispatchQueue::global(DispatchQoS::utility).async([self, bundleURL, tools, quitWhenDone] {
    RegistrationResult result = registerExtensions(bundleURL, tools);
    DispatchQueue::main().async([self, result = std::move(result), quitWhenDone] {
      self->finishRegistration(result, quitWhenDone);
    });
  });
}

void AppDelegate::startSetupRegistration() {
  const URL bundleURL = URL::fileURLWithPath(context_.bundle.bundlePath().string());
  const RegistrationTools tools = RegistrationTools::fromBundle(context_.bundle);
  std::shared_ptr<AppDelegate> self = shared_from_this();
  DispatchQueue::global(DispatchQoS::userInitiated).async([self, bundleURL, tools]() mutable {
    RegistrationResult result = registerExtensions(bundleURL, tools);
    std::weak_ptr<AppDelegate> weakSelf = self;
    // Let go of the strong reference on the main thread, before the weak one is tried.
    DispatchQueue::main().async(
        [keep = std::move(self), weakSelf, result = std::move(result)]() mutable {
          keep.reset();
          if (std::shared_ptr<AppDelegate> delegate = weakSelf.lock())
            delegate->finishSetup(result);
        });
  });
}

void AppDelegate::finishRegistration(const RegistrationResult& result, bool quitWhenDone) {
  if (!result.succeeded()) {
    NSLog("Lumivale Quick Look registration failed: " + result.localizedDescription());
  } else {
    context_.defaults.setBool(true, kDidCompleteInitialSetupKey);
    enableLaunchAtLogin();
  }
  if (quitWhenDone)
    NSApplication::sharedApplication().terminate(nullptr);
}

std::shared_ptr<NSView> AppDelegate::makeSetupView() {
  auto view = std::make_shared<NSView>(NSMakeRect(0, 0, 560, 320));

  title->setFont(NSFont::systemFontOfSize(22, NSFontWeightSemibold));
  title->setFrame(NSMakeRect(24, 250, 512, 32));

  subtitle->setStringValue("Registering Quick Look extensions...");
  subtitle->setFont(NSFont::systemFontOfSize(13));
  subtitle->setTextColor(NSColor::secondaryLabelColor());
  subtitle->setLineBreakMode(NSLineBreakByWordWrapping);
  subtitle->setFrame(NSMakeRect(24, 210, 512, 36));

  body->setStringValue("This only takes a few seconds.");
  body->setFont(NSFont::systemFontOfSize(12));
  body->setTextColor(NSColor::labelColor());
  body->setFrame(NSMakeRect(24, 100, 512, 100));

  close->setTarget(this);
  close->setAction(&AppDelegate::closeWindow);
  close->setBezelStyle(NSBezelStyleRounded);
  close->setKeyEquivalent("\r");
  close->setFrame(NSMakeRect(460, 36, 76, 32));
  close->setEnabled(false);

  view->addSubview(title);
  view->addSubview(subtitle);
  view->addSubview(body);
  view->addSubview(close);
  return view;
}

void AppDelegate::finishSetup(const RegistrationResult& result) {
  if (!result.succeeded()) {
    subtitle->setStringValue("Registration needs attention.");
    body->setStringValue(result.localizedDescription() +
                         "\n\nOpen System Settings > General > Login Items & Extensions > Quick "
                         "Look and make sure the Lumivale extensions are enabled.");
  } else {
    context_.defaults.setBool(true, kDidCompleteInitialSetupKey);
    enableLaunchAtLogin();
    updates->scheduleBackgroundCheck(5.0);
    title->setStringValue("Lumivale Quick Look is ready!");
    title->setFont(NSFont::systemFontOfSize(26, NSFontWeightSemibold));
    title->setFrame(NSMakeRect(24, 236, 512, 42));
    subtitle->setStringValue("");
    body->setStringValue("Select a .md, .mermaid, .ipynb, .parquet, .sqlite, .arrow, .json, "
                         ".jsonl, .ndjson, or .dta file in Finder and press Space to preview.");
    body->setFont(NSFont::systemFontOfSize(13));
    body->setFrame(NSMakeRect(24, 156, 512, 72));
  }
  close->setEnabled(true);
}
