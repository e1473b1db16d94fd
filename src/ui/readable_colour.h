#pragma once

#include <QColor>

class QPalette;

namespace brisk {

// The contrast ratio of two colours as WCAG 2 defines it, from 1 (the same) to 21 (black
// on white).
double contrastRatio(const QColor& a, const QColor& b);

// Whether a palette shows light text on a dark base, as dark colour schemes do.
bool isDarkPalette(const QPalette& palette);

// The colour a chat log line of `colour` is shown in on `palette`'s base. On a light base
// every colour stays exactly as it is. On a dark base black becomes the palette's text
// colour and every other colour is lightened, keeping its hue, until it stands out from
// the base at least as much as body text must (4.5:1).
QColor readableLogColour(const QColor& colour, const QPalette& palette);

}  // namespace brisk
