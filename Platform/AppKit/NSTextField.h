// NSTextField: AppKit's label, a non-editable, non-selectable text drawn from the top-left of
// its frame; the wrapping variant breaks lines at words. The text is always plain text, never
// markup. Main thread only.
#pragma once

#include "AppKit/NSColor.h"
#include "AppKit/NSFont.h"
#include "AppKit/NSView.h"

#include <QLabel>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

enum NSLineBreakMode { NSLineBreakByWordWrapping = 0, NSLineBreakByClipping = 2 };

class NSTextField : public NSView {
public:
  static std::shared_ptr<NSTextField> labelWithString(std::string_view text);
  static std::shared_ptr<NSTextField> wrappingLabelWithString(std::string_view text);

  std::string stringValue() const;
  void setStringValue(std::string_view text);

  // The font set, or nullopt for the default (the 13 pt system font).
  const std::optional<NSFont>& font() const { return font_; }
  void setFont(const NSFont& font);

  const std::optional<NSColor>& textColor() const { return textColor_; }
  void setTextColor(const NSColor& color);

  NSLineBreakMode lineBreakMode() const { return lineBreakMode_; }
  void setLineBreakMode(NSLineBreakMode mode);

  // What is drawn: the colour as resolved against the current palette.
  QLabel* label() const;

private:
  class Label;
  NSTextField(Label* label, NSLineBreakMode mode);
  void applyColor();

  std::optional<NSFont> font_;
  std::optional<NSColor> textColor_;
  NSLineBreakMode lineBreakMode_;
};
