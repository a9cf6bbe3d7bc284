#include "AppKit/NSButton.h"

#include "AppKit/NSFont.h"

#include <QString>

std::shared_ptr<NSButton> NSButton::buttonWithTitle(std::string_view title, NSObject* target) {
  std::shared_ptr<NSButton> button(new NSButton);
  button->setTitle(title);
  button->setTarget(target);
  return button;
}

NSButton::NSButton() : NSView(new QPushButton, {}) {
  button()->setFont(NSFont::systemFontOfSize(13).qFont());
  QObject::connect(button(), &QPushButton::clicked, [this] { sendAction(); });
}

QPushButton* NSButton::button() const {
  return static_cast<QPushButton*>(widget());
}

std::string NSButton::title() const {
  return button() ? button()->text().toStdString() : std::string();
}

void NSButton::setTitle(std::string_view title) {
  if (button())
    button()->setText(QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())));
}

void NSButton::setKeyEquivalent(std::string_view key) {
  keyEquivalent_ = key;
  if (button())
    button()->setDefault(key == "\r");
}

bool NSButton::isEnabled() const {
  return button() && button()->isEnabled();
}

void NSButton::setEnabled(bool enabled) {
  if (button())
    button()->setEnabled(enabled);
}

void NSButton::performClick() {
  if (button() && button()->isEnabled())
    button()->click();
}

void NSButton::sendAction() {
  if (action_ && target_)
    action_(target_);
}
