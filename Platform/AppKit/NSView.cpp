#include "AppKit/NSView.h"

#include <algorithm>
#include <cmath>

namespace {
int pixels(double points) {
  return static_cast<int>(std::lround(points));
}
} // namespace

NSView::NSView(NSRect frame) : NSView(new QWidget, frame) {}

NSView::NSView(QWidget* widget, NSRect frame) : widget_(widget) {
  setFrame(frame);
}

NSView::~NSView() {
  for (const std::shared_ptr<NSView>& view : subviews_) {
    view->superview_ = nullptr;
    if (view->widget_)
      view->widget_->setParent(nullptr);
  }
  subviews_.clear();
  delete widget_.data();
}

void NSView::setFrame(NSRect frame) {
  const bool heightChanged = frame.size.height != frame_.size.height;
  frame_ = frame;
  placeWidget();
  if (heightChanged)
    for (const std::shared_ptr<NSView>& view : subviews_)
      view->placeWidget();
}

void NSView::placeWidget() {
  if (!widget_)
    return;
  widget_->resize(pixels(frame_.size.width), pixels(frame_.size.height));
  // AppKit's y is the distance of the view's bottom from the superview's bottom.
  const double superHeight = superview_ ? superview_->frame_.size.height : frame_.size.height;
  const double top = superview_ ? superHeight - frame_.origin.y - frame_.size.height : 0;
  widget_->move(pixels(frame_.origin.x), pixels(top));
}

void NSView::addSubview(std::shared_ptr<NSView> view) {
  if (!view || view.get() == this)
    return;
  std::shared_ptr<NSView> keep = view;
  view->removeFromSuperview();
  view->superview_ = this;
  subviews_.push_back(view);
  if (view->widget_ && widget_) {
    view->widget_->setParent(widget_);
    view->placeWidget();
    view->widget_->raise();
    view->widget_->show();
  }
}

void NSView::removeFromSuperview() {
  NSView* parent = superview_;
  if (!parent)
    return;
  superview_ = nullptr;
  if (widget_)
    widget_->setParent(nullptr);
  auto& siblings = parent->subviews_;
  auto found = std::find_if(siblings.begin(), siblings.end(),
                            [this](const std::shared_ptr<NSView>& v) { return v.get() == this; });
  if (found != siblings.end()) {
    std::shared_ptr<NSView> keepAlive = *found; // not destroyed while still running here
    siblings.erase(found);
  }
}

bool NSView::isHidden() const {
  return widget_ && widget_->isHidden();
}

void NSView::setHidden(bool hidden) {
  if (widget_)
    widget_->setVisible(!hidden);
}
