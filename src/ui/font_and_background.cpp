#include "ui/font_and_background.h"

#include <QPalette>
#include <QWidget>

namespace brisk {

QFont mainFont() {
  QFont font(QStringLiteral("宋体"));
  font.setPixelSize(15);
  font.setWeight(QFont::Normal);
  return font;
}

void applyFontAndBackground(QWidget* window) {
  QPalette palette = window->palette();
  palette.setColor(QPalette::Window, kBackgroundColour);
  palette.setColor(QPalette::WindowText, Qt::black);
  window->setPalette(palette);
  window->setAutoFillBackground(true);
  window->setFont(mainFont());
}

void showOnWindowBackground(QWidget* box) {
  QPalette palette = box->palette();
  palette.setColor(QPalette::Base, kBackgroundColour);
  palette.setColor(QPalette::Text, Qt::black);
  box->setPalette(palette);
}

}  // namespace brisk
