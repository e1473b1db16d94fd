#include "ui/notice_box.h"

#include <QAbstractButton>
#include <QMessageBox>

namespace brisk {

namespace {

QMessageBox* createBox(const QString& text, QMessageBox::StandardButtons buttons) {
  auto* box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("提示信息"), text, buttons);
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
