#include "AppKit/NSWindow.h"

#include "AppKit/NSApplication.h"
#include "AppKit/NSButton.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QString>
#include <cmath>
#include <functional>

// The top-level widget: hides when closed and turns Return into a click on the default button.
class NSWindow::Widget final : public QWidget {
public:
  NSWindow* owner = nullptr;

protected:
  void keyPressEvent(QKeyEvent* event) override {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && owner &&
        owner->contentView_) {
      if (NSButton* button = defaultButton(*owner->contentView_)) {
        button->performClick();
        return;
      }
    }
    QWidget::keyPressEvent(event);
  }

private:
  static NSButton* defaultButton(const NSView& view) {
    for (const std::shared_ptr<NSView>& subview : view.subviews()) {
      if (auto* button = dynamic_cast<NSButton*>(subview.get()))
        if (button->keyEquivalent() == "\r" && button->isEnabled() && !button->isHidden())
          return button;
      if (NSButton* found = defaultButton(*subview))
        return found;
    }
    return nullptr;
  }
};

namespace {
int pixels(double points) {
  return static_cast<int>(std::lround(points));
}
} // namespace

NSWindow::NSWindow(NSRect contentRect, unsigned styleMask, NSBackingStoreType, bool)
    : styleMask_(styleMask), contentSize_(contentRect.size) {
  auto* widget = new Widget;
  widget->owner = this;
  widget_ = widget;
  Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint;
  if (styleMask & NSWindowStyleMaskTitled)
    flags |= Qt::WindowTitleHint;
  else
    flags |= Qt::FramelessWindowHint;
  if (styleMask & NSWindowStyleMaskClosable)
    flags |= Qt::WindowCloseButtonHint;
  if (styleMask & NSWindowStyleMaskMiniaturizable)
    flags |= Qt::WindowMinimizeButtonHint;
  if (styleMask & NSWindowStyleMaskResizable)
    flags |= Qt::WindowMaximizeButtonHint;
  widget_->setWindowFlags(flags);
  widget_->setAttribute(Qt::WA_DeleteOnClose, false);
  const QSize size(pixels(contentRect.size.width), pixels(contentRect.size.height));
  if (styleMask & NSWindowStyleMaskResizable)
    widget_->resize(size);
  else
    widget_->setFixedSize(size);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const int top = screen->geometry().height() - pixels(contentRect.origin.y) - size.height();
    widget_->move(pixels(contentRect.origin.x), std::max(0, top));
  }
}

NSWindow::~NSWindow() {
  contentView_.reset();
  delete widget_.data();
}

std::string NSWindow::title() const {
  return widget_ ? widget_->windowTitle().toStdString() : std::string();
}

void NSWindow::setTitle(std::string_view title) {
  if (widget_)
    widget_->setWindowTitle(QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())));
}

void NSWindow::setContentView(std::shared_ptr<NSView> view) {
  if (contentView_ && contentView_->widget())
    contentView_->widget()->setParent(nullptr);
  contentView_ = std::move(view);
  if (!contentView_ || !contentView_->widget() || !widget_)
    return;
  // The content view fills the content area.
  contentView_->removeFromSuperview();
  contentView_->setFrame(NSMakeRect(0, 0, contentSize_.width, contentSize_.height));
  contentView_->widget()->setParent(widget_);
  contentView_->widget()->move(0, 0);
  contentView_->widget()->show();
}

void NSWindow::center() {
  if (!widget_)
    return;
  QScreen* screen = widget_->screen() ? widget_->screen() : QGuiApplication::primaryScreen();
  if (!screen)
    return;
  const QRect area = screen->availableGeometry();
  const QSize frame = widget_->frameGeometry().size().expandedTo(widget_->size());
  const int x = area.x() + (area.width() - frame.width()) / 2;
  // AppKit leaves a third of the free height above the window and two thirds below.
  const int y = area.y() + std::max(0, (area.height() - frame.height()) / 3);
  widget_->move(x, y);
}

void NSWindow::makeKeyAndOrderFront(NSObject*) {
  if (!widget_)
    return;
  widget_->show();
  widget_->raise();
  widget_->activateWindow();
  NSApplication::sharedApplication().windowBecameKey(widget_);
}

void NSWindow::orderOut(NSObject*) {
  if (widget_)
    widget_->hide();
}

void NSWindow::performClose(NSObject*) {
  if (widget_ && (styleMask_ & NSWindowStyleMaskClosable))
    widget_->close();
}

bool NSWindow::isVisible() const {
  return widget_ && widget_->isVisible();
}

QPoint NSWindow::framePosition() const {
  return widget_ ? widget_->pos() : QPoint();
}
