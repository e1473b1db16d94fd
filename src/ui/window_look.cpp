#include "ui/window_look.h"

#include <QPalette>
#include <QWidget>

#include "ui/control_ids.h"

namespace brisk {

QFont mainFont() {
  QFont font(QStringLiteral("宋体"));
  font.setPixelSize(15);
  font.setWeight(QFont::Normal);
  return font;
}

void applyWindowLook(QWidget* window) {
  QPalette palette = window->palette();
  palette.setColor(QPalette::Window, kBackgroundColour);
  palette.setColor(QPalette::WindowText, Qt::black);
  window->setPalette(palette);
  window->setAutoFillBackground(true);
  window->setFont(mainFont());
}

void placeControl(QWidget* control, int id, const QRect& rect) {
  if (id != 0) control->setObjectName(controlName(id));
  control->setGeometry(rect);
}

QString fromEngineText(const std::string& text) {
  QString result = QString::fromStdString(text);
  result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return result;
}

}  // namespace brisk
