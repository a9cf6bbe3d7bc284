// Points, sizes and rectangles in points, in AppKit's convention: the origin of a view's
// coordinates is its bottom-left corner and y grows upwards.
#pragma once

struct NSPoint {
  double x = 0;
  double y = 0;
  friend bool operator==(const NSPoint&, const NSPoint&) = default;
};

struct NSSize {
  double width = 0;
  double height = 0;
  friend bool operator==(const NSSize&, const NSSize&) = default;
};

struct NSRect {
  NSPoint origin;
  NSSize size;
  friend bool operator==(const NSRect&, const NSRect&) = default;
};

inline NSRect NSMakeRect(double x, double y, double width, double height) {
  return {{x, y}, {width, height}};
}
