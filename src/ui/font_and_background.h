#pragma once

#include <QColor>
#include <QFont>

class QWidget;

namespace brisk {

// The face and size every window of the program uses. Fontconfig falls back to an installed
// CJK face where "宋体" itself is missing.
QFont mainFont();

// The light blue-grey of the main window, the prompts and the transfer windows.
inline constexpr QColor kBackgroundColour{241, 244, 251};

// Paints `window` with the program's background and black text, and gives it the main
// font. The background is the program's own on any colour scheme, so its text colour is too.
void applyFontAndBackground(QWidget* window);

// Gives a text box the window's background and black text, whatever the colour scheme.
void showOnWindowBackground(QWidget* box);

}  // namespace brisk
