#include "ui/readable_colour.h"

#include <algorithm>
#include <cmath>

#include <QPalette>

namespace brisk {

namespace {

constexpr double kBodyTextContrast = 4.5;

double channel(double value) {
  return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

double relativeLuminance(const QColor& colour) {
  return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
         0.0722 * channel(colour.blueF());
}

// `colour` moved `share` of the way to white.
QColor towardsWhite(const QColor& colour, double share) {
  const auto mix = [share](int value) {
    return static_cast<int>(std::lround(value + (255 - value) * share));
  };
  return {mix(colour.red()), mix(colour.green()), mix(colour.blue())};
}

}  // namespace

double contrastRatio(const QColor& a, const QColor& b) {
  const double la = relativeLuminance(a);
  const double lb = relativeLuminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

bool isDarkPalette(const QPalette& palette) {
  return relativeLuminance(palette.color(QPalette::Base)) <
         relativeLuminance(palette.color(QPalette::Text));
}

QColor readableLogColour(const QColor& colour, const QPalette& palette) {
  if (!isDarkPalette(palette)) return colour;
  const QColor base = palette.color(QPalette::Base);
  const QColor text = palette.color(QPalette::Text);
  if (colour == QColor(Qt::black)) return text;
  for (int step = 0; step <= 20; ++step) {
    const QColor lighter = towardsWhite(colour, step / 20.0);
    if (contrastRatio(lighter, base) >= kBodyTextContrast) return lighter;
  }
  // A base too light for even white: the scheme's own text colour is what it was made for.
  return text;
}

}  // namespace brisk
