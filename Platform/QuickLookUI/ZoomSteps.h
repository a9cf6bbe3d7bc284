// ZoomSteps: the preview panel's zoom levels. Zooming in or out moves to the next level of a
// fixed ladder (as browsers do), so that in and out retrace the same factors; the ladder's ends
// are the bounds.
#pragma once

namespace ZoomSteps {

inline constexpr double kSmallest = 0.25;
inline constexpr double kLargest = 5.0;

// The next level above / below `factor` (a factor between levels goes to the neighbouring one;
// at an end, that end).
double zoomedIn(double factor);
double zoomedOut(double factor);

} // namespace ZoomSteps
