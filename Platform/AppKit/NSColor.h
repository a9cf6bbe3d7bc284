// NSColor: the semantic text colours of AppKit, resolved against the desktop's palette when
// drawn, so that labels follow the light or dark theme (and changes of it).
#pragma once

#include <QColor>
#include <QPalette>

class NSColor {
public:
  enum class Kind { label, secondaryLabel };

  static NSColor labelColor() { return NSColor(Kind::label); }
  // Text of lesser importance: the label colour at half its strength.
  static NSColor secondaryLabelColor() { return NSColor(Kind::secondaryLabel); }

  Kind kind() const { return kind_; }
  QColor resolve(const QPalette& palette) const;

  friend bool operator==(const NSColor&, const NSColor&) = default;

private:
  explicit NSColor(Kind kind) : kind_(kind) {}
  Kind kind_;
};
