#include "QuickLookUI/ZoomSteps.h"

#include <array>

namespace ZoomSteps {
namespace {

constexpr std::array kLevels = {kSmallest, 0.33, 0.5,  0.67, 0.75, 0.8, 0.9, 1.0,     1.1,
                                1.25,      1.5,  1.75, 2.0,  2.5,  3.0, 4.0, kLargest};
// Factors that differ by less are the same level (the engine rounds what it is given).
constexpr double kTolerance = 0.005;

} // namespace

double zoomedIn(double factor) {
  for (double level : kLevels)
    if (level > factor + kTolerance)
      return level;
  return kLargest;
}

double zoomedOut(double factor) {
  for (auto level = kLevels.rbegin(); level != kLevels.rend(); ++level)
    if (*level < factor - kTolerance)
      return *level;
  return kSmallest;
}

} // namespace ZoomSteps
