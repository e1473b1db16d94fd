#pragma once

#include <QRect>
#include <QString>

class QWidget;

namespace brisk {

// Places a child control at a fixed rectangle and names it after its id (see controlName).
void placeControl(QWidget* control, int id, const QRect& rect);

// Gives a control the name and description a screen reader announces it by, for controls
// that show no text of their own to be named after.
void nameControl(QWidget* control, const QString& name, const QString& description);

}  // namespace brisk
