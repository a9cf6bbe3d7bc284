// NSButton: a push button with AppKit's target and action (the action is a member function of
// the target, called with no arguments when the button is clicked), bezel style, key
// equivalent and enabled state. Main thread only.
#pragma once

#include "AppKit/NSView.h"

#include <QPushButton>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

enum NSBezelStyle { NSBezelStyleRounded = 1 };

class NSButton : public NSView {
public:
  // A push button with `title`; target and action may be empty and set later.
  static std::shared_ptr<NSButton> buttonWithTitle(std::string_view title,
                                                   NSObject* target = nullptr);

  std::string title() const;
  void setTitle(std::string_view title);

  // The target is not owned (as in AppKit it is not retained).
  NSObject* target() const { return target_; }
  void setTarget(NSObject* target) { target_ = target; }

  // The action is called on the target when it is an object of type T.
  template <class T> void setAction(void (T::*action)()) {
    action_ = [action](NSObject* target) {
      if (T* receiver = dynamic_cast<T*>(target))
        (receiver->*action)();
    };
  }
  bool hasAction() const { return static_cast<bool>(action_); }

  int bezelStyle() const { return bezelStyle_; }
  void setBezelStyle(int style) { bezelStyle_ = style; }

  // "\r" makes the button the window's default button, clicked by Return and Enter.
  const std::string& keyEquivalent() const { return keyEquivalent_; }
  void setKeyEquivalent(std::string_view key);

  bool isEnabled() const;
  void setEnabled(bool enabled);

  // Clicks the button as the user would: nothing happens while it is disabled.
  void performClick();

  QPushButton* button() const;

private:
  NSButton();
  void sendAction();

  NSObject* target_ = nullptr;
  std::function<void(NSObject*)> action_;
  int bezelStyle_ = NSBezelStyleRounded;
  std::string keyEquivalent_;
};
