// NSView: a rectangle of a window backed by a Qt widget. Frames are in points in the
// superview's coordinates with the origin at its bottom-left corner (AppKit's unflipped
// coordinates); the view maps them to Qt's top-left origin and keeps them mapped when the
// superview's height changes. Main thread only.
#pragma once

#include "AppKit/NSGeometry.h"
#include "Foundation/NSObject.h"

#include <QPointer>
#include <QWidget>
#include <memory>
#include <vector>

class NSView : public NSObject {
public:
  // A plain view with the given frame.
  explicit NSView(NSRect frame = {});
  ~NSView() override;
  NSView(const NSView&) = delete;
  NSView& operator=(const NSView&) = delete;

  NSRect frame() const { return frame_; }
  void setFrame(NSRect frame);

  // Adds `view` on top of the other subviews; the superview keeps it alive. A view that had
  // another superview leaves it first.
  void addSubview(std::shared_ptr<NSView> view);
  void removeFromSuperview();
  const std::vector<std::shared_ptr<NSView>>& subviews() const { return subviews_; }
  NSView* superview() const { return superview_; }

  bool isHidden() const;
  void setHidden(bool hidden);

  // The backing widget (null only after Qt destroyed it with a window).
  QWidget* widget() const { return widget_; }

protected:
  // A view backed by `widget`, which the view owns.
  NSView(QWidget* widget, NSRect frame);

private:
  void placeWidget();

  QPointer<QWidget> widget_;
  NSRect frame_;
  NSView* superview_ = nullptr;
  std::vector<std::shared_ptr<NSView>> subviews_;
};
