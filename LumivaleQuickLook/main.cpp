// The process entry of Lumivale Quick Look: an accessory application (no menu bar, no tray
// icon) whose delegate lives as long as the process.
#include "AppDelegate.h"
#include "AppKit/NSApplication.h"

namespace {
NSApplication* application = nullptr;
std::shared_ptr<AppDelegate> delegate;
} // namespace

int main() {
  application = &NSApplication::sharedApplication();
  delegate = AppDelegate::create(AppContext::live());
  application->setDelegate(delegate.get());
  application->setActivationPolicy(NSApplicationActivationPolicyAccessory);
  const int status = application->run();
  // The delegate's windows go while the toolkit still runs; at exit it would be gone.
  application->setDelegate(nullptr);
  delegate.reset();
  return status;
}
