#include "AppKit/NSApplication.h"

#include "AppKit/ApplicationInstance.h"
#include "AppKit/DesktopAppearance.h"
#include "AppKit/NSAppleEventManager.h"
#include "Dispatch/DispatchQueue.h"
#include "Foundation/Bundle.h"
#include "Foundation/ProcessInfo.h"

#include <QApplication>
#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The main dispatch queue on the Qt event loop: work items are queued calls on the
// application object, delayed ones single-shot timers started on the main thread.
class QtMainQueueScheduler final : public MainQueueScheduler {
public:
  void post(std::function<void()> work) override {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
  }
  void postAfter(std::chrono::milliseconds delay, std::function<void()> work) override {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [delay, work = std::move(work)]() mutable {
          QTimer::singleShot(delay, QCoreApplication::instance(), std::move(work));
        },
        Qt::QueuedConnection);
  }
};

std::string applicationIdentifier() {
  if (std::optional<std::string> identifier = Bundle::main().bundleIdentifier())
    return *identifier;
  const std::vector<std::string>& args = ProcessInfo::arguments();
  return args.empty() ? std::string("application") : args.front();
}

// The event that launched the process: 'oapp', marked as a login-item launch when the login
// entry started it.
NSAppleEventDescriptor launchEvent() {
  NSAppleEventDescriptor event =
      NSAppleEventDescriptor::appleEvent(kCoreEventClass, kAEOpenApplication);
  if (ProcessInfo::wasStartedAsLoginItem())
    event.setParamDescriptor(
        NSAppleEventDescriptor::descriptorWithEnumCode(keyAELaunchedAsLogInItem), keyAEPropData);
  return event;
}

} // namespace

NSApplication& NSApplication::sharedApplication() {
  // Never destroyed: the Qt application lives as long as the process.
  static NSApplication* application = new NSApplication;
  return *application;
}

NSApplication::NSApplication() {
  if (!QCoreApplication::instance()) {
    static int argc = 1;
    static std::string program = [] {
      const std::vector<std::string>& args = ProcessInfo::arguments();
      return args.empty() ? std::string("application") : args.front();
    }();
    static char* argv[] = {program.data(), nullptr};
    new QApplication(argc, argv);
  }
  QApplication::setQuitOnLastWindowClosed(false);
  if (std::optional<std::string> identifier = Bundle::main().bundleIdentifier())
    QGuiApplication::setDesktopFileName(QString::fromStdString(*identifier));
  DesktopAppearance::apply();
  DispatchQueue::setMainQueueScheduler(std::make_shared<QtMainQueueScheduler>());
}

NSApplication::~NSApplication() = default;

void NSApplication::setDelegate(NSApplicationDelegate* delegate) {
  delegate_ = delegate;
}

bool NSApplication::setActivationPolicy(NSApplicationActivationPolicy policy) {
  // Windows of an accessory application are ordinary windows; it has no menu bar or tray
  // icon of its own, which a Qt Widgets application only gets when it makes one.
  policy_ = policy;
  return true;
}

int NSApplication::run() {
  ApplicationInstance::Outcome outcome = ApplicationInstance::Outcome::primary;
  instance_ = ApplicationInstance::claim(
      applicationIdentifier(), [this] { DispatchQueue::main().async([this] { handleReopen(); }); },
      outcome);
  if (outcome == ApplicationInstance::Outcome::handedOver)
    std::exit(0);
  if (outcome == ApplicationInstance::Outcome::unreachable)
    std::exit(1);

  QApplication::setQuitOnLastWindowClosed(
      delegate_ && delegate_->applicationShouldTerminateAfterLastWindowClosed());
  const NSAppleEventDescriptor event = launchEvent();
  DispatchQueue::main().async([this, event] {
    NSAppleEventManager::sharedAppleEventManager().withCurrentEvent(event, [this] {
      if (delegate_)
        delegate_->applicationDidFinishLaunching();
    });
  });
  return QApplication::exec();
}

void NSApplication::terminate(NSObject*) {
  terminating_ = true;
  // Outside of any event loop Qt would keep the request for the next loop to start (a modal
  // alert's, say); before run there is nothing to end.
  if (QThread::currentThread()->loopLevel() > 0)
    QCoreApplication::exit(0);
}

void NSApplication::activateIgnoringOtherApps(bool) {
  if (keyWindow_ && keyWindow_->isVisible()) {
    keyWindow_->raise();
    keyWindow_->activateWindow();
  }
}

void NSApplication::windowBecameKey(QWidget* window) {
  keyWindow_ = window;
}

void NSApplication::handleReopen() {
  const NSAppleEventDescriptor event =
      NSAppleEventDescriptor::appleEvent(kCoreEventClass, kAEReopenApplication);
  if (NSAppleEventManager::sharedAppleEventManager().dispatch(event))
    return;
  if (!delegate_)
    return;
  bool visible = false;
  for (QWidget* window : QApplication::topLevelWidgets())
    visible = visible || window->isVisible();
  delegate_->applicationShouldHandleReopen(visible);
}
