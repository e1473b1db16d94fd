#include "ui/notice_box.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

namespace brisk {

namespace {

// A short text makes a narrow box, in which the window manager cuts the title down to
// "提… 息" between its icon and buttons. The box is kept wide enough for the title and for
// about eight title-bar buttons' worth of decoration, in the box's own font, so that it
// grows with the font and the scale. (A message box sizes itself when shown and ignores
// a minimum width; a fixed spacer under its grid holds.)
void keepTitleVisible(QMessageBox* box) {
  auto* grid = qobject_cast<QGridLayout*>(box->layout());
  if (grid == nullptr) return;
  const QFontMetrics metrics(box->font());
  const int width = metrics.horizontalAdvance(box->windowTitle()) + 8 * metrics.height();
  grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Fixed, QSizePolicy::Minimum),
                grid->rowCount(), 0, 1, grid->columnCount());
}

QMessageBox* createBox(const QString& text, QMessageBox::StandardButtons buttons) {
  auto* box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("提示信息"), text, buttons);
  keepTitleVisible(box);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setTextFormat(Qt::PlainText);
  // A message box is modal by default; these hold only their caller, if anyone.
  box->setWindowModality(Qt::NonModal);
  return box;
}

}  // namespace

QMessageBox* createNoticeBox(const QString& text) {
  QMessageBox* box = createBox(text, QMessageBox::Ok);
  box->button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
  // Enter and Esc both close a notice, as OK would.
  box->setEscapeButton(QMessageBox::Ok);
  return box;
}

QMessageBox* createQuestionBox(const QString& text) {
  QMessageBox* box = createBox(text, QMessageBox::Yes | QMessageBox::No);
  box->button(QMessageBox::Yes)->setText(QStringLiteral("是(&Y)"));
  box->button(QMessageBox::No)->setText(QStringLiteral("否(&N)"));
  box->setDefaultButton(QMessageBox::Yes);
  return box;
}

}  // namespace brisk
