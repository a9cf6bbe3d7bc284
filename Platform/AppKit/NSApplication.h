// NSApplication: the application object on Qt Widgets: the event loop (which runs the main
// dispatch queue), the delegate, the activation policy, termination and activation, the
// launch event, and the single running instance per user (a second launch hands a reopen
// event to the running one and exits). Main thread only.
#pragma once

#include "Foundation/NSObject.h"

#include <QPointer>
#include <QWidget>
#include <memory>

class NSApplicationDelegate {
public:
  virtual ~NSApplicationDelegate() = default;
  virtual void applicationDidFinishLaunching() {}
  virtual bool applicationShouldTerminateAfterLastWindowClosed() { return false; }
  // Asked by the default reopen handling (when no 'rapp' handler is installed).
  virtual bool applicationShouldHandleReopen(bool hasVisibleWindows) {
    (void)hasVisibleWindows;
    return true;
  }
};

enum NSApplicationActivationPolicy {
  NSApplicationActivationPolicyRegular = 0,
  // No Dock icon and no menu bar of its own; may show windows and be activated.
  NSApplicationActivationPolicyAccessory = 1,
  NSApplicationActivationPolicyProhibited = 2,
};

class ApplicationInstance;

class NSApplication : public NSObject {
public:
  // Creates the Qt application on first use (on the calling thread, which becomes the main
  // thread) and connects the main dispatch queue to its event loop.
  static NSApplication& sharedApplication();

  // The delegate is not owned and must outlive the event loop.
  void setDelegate(NSApplicationDelegate* delegate);
  NSApplicationDelegate* delegate() const { return delegate_; }

  bool setActivationPolicy(NSApplicationActivationPolicy policy);
  NSApplicationActivationPolicy activationPolicy() const { return policy_; }

  // Becomes the running instance (or hands over to it and exits the process with status 0),
  // lets the delegate finish launching with the launch event current, and runs the event loop
  // until terminate:. Returns the exit status.
  int run();

  // Ends the event loop (the process ends when run returns). Before run, only remembered.
  void terminate(NSObject* sender);
  bool isTerminating() const { return terminating_; }

  // Brings the application's key window (the last window made key) to the front and gives
  // it the keyboard focus.
  void activateIgnoringOtherApps(bool flag);
  // Called by NSWindow when it becomes the key window.
  void windowBecameKey(QWidget* window);
  QWidget* keyWindow() const { return keyWindow_; }

  // Handles a reopen request of another launch: the 'rapp' handler when installed, otherwise
  // the delegate's applicationShouldHandleReopen.
  void handleReopen();

private:
  NSApplication();
  ~NSApplication() override;

  NSApplicationDelegate* delegate_ = nullptr;
  NSApplicationActivationPolicy policy_ = NSApplicationActivationPolicyRegular;
  bool terminating_ = false;
  QPointer<QWidget> keyWindow_;
  std::unique_ptr<ApplicationInstance> instance_;
};
