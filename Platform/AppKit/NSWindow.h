// NSWindow: a top-level window with a fixed content size (windows here are not resizable), a
// title, a content view, AppKit's style mask and close semantics: closing hides the window, the
// object stays usable and can be shown again. Return clicks the enabled button whose key
// equivalent is "\r". Main thread only.
#pragma once

#include "AppKit/NSGeometry.h"
#include "AppKit/NSView.h"
#include "Foundation/NSObject.h"

#include <QPointer>
#include <QWidget>
#include <memory>
#include <string>
#include <string_view>

enum NSWindowStyleMask : unsigned {
  NSWindowStyleMaskBorderless = 0,
  NSWindowStyleMaskTitled = 1u << 0,
  NSWindowStyleMaskClosable = 1u << 1,
  NSWindowStyleMaskMiniaturizable = 1u << 2,
  NSWindowStyleMaskResizable = 1u << 3,
};

enum NSBackingStoreType { NSBackingStoreBuffered = 2 };

class NSWindow : public NSObject {
public:
  // A window whose content area is `contentRect` (origin in screen coordinates, bottom-left).
  NSWindow(NSRect contentRect, unsigned styleMask, NSBackingStoreType backing, bool defer);
  ~NSWindow() override;
  NSWindow(const NSWindow&) = delete;
  NSWindow& operator=(const NSWindow&) = delete;

  unsigned styleMask() const { return styleMask_; }
  NSSize contentSize() const { return contentSize_; }

  std::string title() const;
  void setTitle(std::string_view title);

  const std::shared_ptr<NSView>& contentView() const { return contentView_; }
  void setContentView(std::shared_ptr<NSView> view);

  // Windows are never destroyed by closing here; the flag is kept for AppKit's interface.
  bool isReleasedWhenClosed() const { return releasedWhenClosed_; }
  void setReleasedWhenClosed(bool released) { releasedWhenClosed_ = released; }

  // Horizontally centred on the screen, a little above the middle.
  void center();
  void makeKeyAndOrderFront(NSObject* sender);
  void orderOut(NSObject* sender);
  // As if the close button were pressed: hides the window. Without a close button (style
  // without closable) nothing happens.
  void performClose(NSObject* sender);
  bool isVisible() const;

  // The window's top-left position on the screen, in pixels (Qt's frame geometry).
  QPoint framePosition() const;
  QWidget* widget() const { return widget_; }

private:
  class Widget;
  QPointer<QWidget> widget_;
  unsigned styleMask_;
  NSSize contentSize_;
  bool releasedWhenClosed_ = true;
  std::shared_ptr<NSView> contentView_;
};
