#include "ui/control_placement.h"

#include <QWidget>

#include "ui/control_ids.h"

namespace brisk {

void placeControl(QWidget* control, int id, const QRect& rect) {
  if (id != 0) control->setObjectName(controlName(id));
  control->setGeometry(rect);
}

void nameControl(QWidget* control, const QString& name, const QString& description) {
  control->setAccessibleName(name);
  if (!description.isEmpty()) control->setAccessibleDescription(description);
}

}  // namespace brisk
