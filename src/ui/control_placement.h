#pragma once

#include <QRect>

class QWidget;

namespace brisk {

// Places a child control at a fixed rectangle and names it after its id (see controlName).
void placeControl(QWidget* control, int id, const QRect& rect);

}  // namespace brisk
