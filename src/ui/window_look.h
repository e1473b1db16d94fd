#pragma once

#include <string>

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>

class QWidget;

namespace brisk {

// The face and size every window of the program uses. Fontconfig falls back to an installed
// CJK face where "宋体" itself is missing.
QFont mainFont();

// The light blue-grey of the main window, the prompts and the transfer windows.
inline constexpr QColor kBackgroundColour{241, 244, 251};

// Paints `window` with the program's background and gives it the main font.
void applyWindowLook(QWidget* window);

// Places a child control at a fixed rectangle and names it after its id.
void placeControl(QWidget* control, int id, const QRect& rect);

// Qt line breaks from the engine's "\r\n" (a lone "\r" counts as a break too).
QString fromEngineText(const std::string& text);

}  // namespace brisk
