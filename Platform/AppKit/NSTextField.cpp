#include "AppKit/NSTextField.h"

#include <QEvent>
#include <QString>

// The label widget; it resolves the text colour again when the desktop's palette changes.
class NSTextField::Label final : public QLabel {
public:
  NSTextField* owner = nullptr;

protected:
  void changeEvent(QEvent* event) override {
    QLabel::changeEvent(event);
    const bool paletteChanged =
        event->type() == QEvent::ApplicationPaletteChange || event->type() == QEvent::PaletteChange;
    if (owner && paletteChanged && !applying_) {
      applying_ = true; // applying the colour changes the palette once more
      owner->applyColor();
      applying_ = false;
    }
  }

private:
  bool applying_ = false;
};

std::shared_ptr<NSTextField> NSTextField::labelWithString(std::string_view text) {
  std::shared_ptr<NSTextField> field(new NSTextField(new Label, NSLineBreakByClipping));
  field->setStringValue(text);
  return field;
}

std::shared_ptr<NSTextField> NSTextField::wrappingLabelWithString(std::string_view text) {
  std::shared_ptr<NSTextField> field(new NSTextField(new Label, NSLineBreakByWordWrapping));
  field->setStringValue(text);
  return field;
}

NSTextField::NSTextField(Label* label, NSLineBreakMode mode)
    : NSView(label, {}), lineBreakMode_(mode) {
  label->owner = this;
  label->setTextFormat(Qt::PlainText);
  label->setTextInteractionFlags(Qt::NoTextInteraction);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setWordWrap(mode == NSLineBreakByWordWrapping);
  label->setFont(NSFont::systemFontOfSize(13).qFont());
}

QLabel* NSTextField::label() const {
  return static_cast<QLabel*>(widget());
}

std::string NSTextField::stringValue() const {
  return label() ? label()->text().toStdString() : std::string();
}

void NSTextField::setStringValue(std::string_view text) {
  if (label())
    label()->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void NSTextField::setFont(const NSFont& font) {
  font_ = font;
  if (label())
    label()->setFont(font.qFont());
}

void NSTextField::setTextColor(const NSColor& color) {
  textColor_ = color;
  applyColor();
}

void NSTextField::setLineBreakMode(NSLineBreakMode mode) {
  lineBreakMode_ = mode;
  if (label())
    label()->setWordWrap(mode == NSLineBreakByWordWrapping);
}

void NSTextField::applyColor() {
  QLabel* widget = label();
  if (!widget || !textColor_)
    return;
  // Resolved against the application's palette (the desktop's), not the label's own, which
  // already holds the previous colour.
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, textColor_->resolve(QPalette()));
  widget->setPalette(palette);
}
