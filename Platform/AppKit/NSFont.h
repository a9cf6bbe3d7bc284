// NSFont: the desktop's user-interface font at a size in points and a weight, as AppKit's
// system font. One point is one device-independent pixel, as for frames.
#pragma once

#include <QFont>

using NSFontWeight = double;
inline constexpr NSFontWeight NSFontWeightRegular = 0.0;
inline constexpr NSFontWeight NSFontWeightMedium = 0.23;
inline constexpr NSFontWeight NSFontWeightSemibold = 0.3;
inline constexpr NSFontWeight NSFontWeightBold = 0.4;

class NSFont {
public:
  static NSFont systemFontOfSize(double pointSize, NSFontWeight weight = NSFontWeightRegular);

  double pointSize() const { return pointSize_; }
  NSFontWeight weight() const { return weight_; }
  // The Qt font for this size and weight in the desktop's font family.
  QFont qFont() const;

  friend bool operator==(const NSFont& a, const NSFont& b) {
    return a.pointSize_ == b.pointSize_ && a.weight_ == b.weight_;
  }

private:
  NSFont(double pointSize, NSFontWeight weight) : pointSize_(pointSize), weight_(weight) {}
  double pointSize_;
  NSFontWeight weight_;
};
