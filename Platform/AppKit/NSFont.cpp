#include "AppKit/NSFont.h"

#include <QFontDatabase>
#include <cmath>

NSFont NSFont::systemFontOfSize(double pointSize, NSFontWeight weight) {
  return NSFont(pointSize, weight);
}

QFont NSFont::qFont() const {
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPixelSize(std::max(1, static_cast<int>(std::lround(pointSize_))));
  if (weight_ >= NSFontWeightBold)
    font.setWeight(QFont::Bold);
  else if (weight_ >= NSFontWeightSemibold)
    font.setWeight(QFont::DemiBold);
  else if (weight_ >= NSFontWeightMedium)
    font.setWeight(QFont::Medium);
  else
    font.setWeight(QFont::Normal);
  return font;
}
