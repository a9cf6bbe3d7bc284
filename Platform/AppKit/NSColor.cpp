#include "AppKit/NSColor.h"

QColor NSColor::resolve(const QPalette& palette) const {
  QColor text = palette.color(QPalette::Active, QPalette::WindowText);
  text.setAlphaF(kind_ == Kind::label ? 0.88 : 0.55);
  return text;
}
