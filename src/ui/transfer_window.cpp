#include "ui/transfer_window.h"

#include <algorithm>

#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>

#include "ui/control_ids.h"
#include "ui/control_placement.h"
#include "ui/font_and_background.h"
#include "ui/outer_size.h"

namespace brisk {

namespace {

QLabel* makeLabel(QWidget* parent, int id, const QString& text, const QRect& rect) {
  auto* label = new QLabel(parent);
  label->setTextFormat(Qt::PlainText);  // the elapsed time keeps its runs of blanks
  label->setText(text);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  placeControl(label, id, rect);
  return label;
}

QProgressBar* makeBar(QWidget* parent, int id, const QRect& rect) {
  auto* bar = new QProgressBar(parent);
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setTextVisible(false);
  placeControl(bar, id, rect);
  return bar;
}

// Bars run from 0 to 100; a position beyond shows a full bar.
void moveBar(QProgressBar* bar, int position) {
  bar->setValue(std::clamp(position, 0, 100));
}

}  // namespace

TransferWindow::TransferWindow(TransferWindowSetup spec)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      spec_(std::move(spec)) {
  const QString title =
      (spec_.isSender ? QStringLiteral("发送文件 Index: ") : QStringLiteral("接收文件 Index: ")) +
      QString::number(spec_.index);
  setObjectName(title);
  setWindowTitle(title);
  setAttribute(Qt::WA_DeleteOnClose);
  applyFontAndBackground(this);

  // A transfer of many files has a second bar for the total, which moves the lower
  // controls down by its height.
  const bool twoBars = spec_.fileCount != 1;
  const int e = twoBars ? 30 : 0;
  addFileNameBox();
  addFigures(twoBars);
  addStatusAndButtons(e);
  setOuterSize(this, QSize(420, 235 + e), true);
}

void TransferWindow::addFileNameBox() {
  fileName_ = new QPlainTextEdit(this);
  placeControl(fileName_, ID_FILENAME, QRect(10, 10, 400, 45));
  nameControl(fileName_, QStringLiteral("文件名"), QStringLiteral("正在传送的文件"));
  fileName_->setReadOnly(true);
  fileName_->setFrameShape(QFrame::NoFrame);
  fileName_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  fileName_->setPlainText(QStringLiteral("文件名"));
  showOnWindowBackground(fileName_);
}

void TransferWindow::addFigures(bool twoBars) {
  makeLabel(this, 0, QStringLiteral("文件大小："), QRect(10, 60, 80, 25));
  fileSize_ = makeLabel(this, kIdFileSize, QString(), QRect(90, 60, 120, 25));
  nameControl(fileSize_, QStringLiteral("文件大小"), QString());
  makeLabel(this, 0, QStringLiteral("已经传送："), QRect(10, 85, 80, 25));
  fileDone_ = makeLabel(this, kIdFileDone, QString(), QRect(90, 85, 120, 25));
  nameControl(fileDone_, QStringLiteral("已经传送"), QString());
  makeLabel(this, 0, QStringLiteral("传送速度："), QRect(210, 60, 80, 25));
  speed_ = makeLabel(this, kIdSpeed, QString(), QRect(290, 60, 120, 25));
  nameControl(speed_, QStringLiteral("传送速度"), QString());
  makeLabel(this, 0, QStringLiteral("已用时间："), QRect(210, 85, 80, 25));
  elapsed_ = makeLabel(this, kIdElapsed, QString(), QRect(290, 85, 120, 25));
  nameControl(elapsed_, QStringLiteral("已用时间"), QString());

  fileBar_ = makeBar(this, kIdFileBar, QRect(20, 115, 375, 20));
  nameControl(fileBar_, QStringLiteral("文件进度"), QString());
  if (twoBars) {
    totalBar_ = makeBar(this, kIdTotalBar, QRect(20, 145, 375, 20));
    nameControl(totalBar_, QStringLiteral("总进度"), QString());
  }
}

void TransferWindow::addStatusAndButtons(int shift) {
  status_ = makeLabel(this, kIdStatus, QStringLiteral("状态"), QRect(40, 145 + shift, 340, 25));
  status_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  nameControl(status_, QStringLiteral("状态"), QString());

  auto* autoClose = new QCheckBox(QStringLiteral("传送完后关闭窗口"), this);
  placeControl(autoClose, kIdAutoCloseBox, QRect(10, 175 + shift, 140, 25));
  autoClose->setChecked(spec_.autoCloseTicked);
  connect(autoClose, &QCheckBox::clicked, this, [this](bool checked) {
    if (spec_.onAutoCloseToggled) spec_.onAutoCloseToggled(checked);
  });

  stopButton_ = new QPushButton(QStringLiteral("终止"), this);
  placeControl(stopButton_, kIdStopButton, QRect(320, 175 + shift, 80, 25));
  stopButton_->setAutoDefault(false);
  connect(stopButton_, &QPushButton::clicked, this, &TransferWindow::pressStopOrClose);
}

void TransferWindow::setFileName(const QString& name) {
  fileName_->setPlainText(name);
}

void TransferWindow::setStatus(const QString& status) {
  status_->setText(status);
}

void TransferWindow::showFigures(const TransferFigures& figures) {
  if (figures.fileBar) moveBar(fileBar_, *figures.fileBar);
  if (figures.totalBar && totalBar_) moveBar(totalBar_, *figures.totalBar);
  if (figures.texts) {
    fileSize_->setText(QString::fromStdString(figures.texts->fileSize));
    fileDone_->setText(QString::fromStdString(figures.texts->fileDone));
    speed_->setText(QString::fromStdString(figures.texts->speed));
    elapsed_->setText(QString::fromStdString(figures.texts->elapsed));
  }
}

void TransferWindow::showVerdict(const TransferVerdict& verdict) {
  running_ = false;
  status_->setText(QString::fromStdString(verdict.status));
  speed_->setText(QStringLiteral("0"));
  stopButton_->setText(QStringLiteral("关闭"));
  if (verdict.hideFileBar) fileBar_->hide();
  if (verdict.closeWindow) finish();
}

void TransferWindow::pressStopOrClose() {
  if (running_ && spec_.onStop) {
    running_ = false;
    // Stopping sends a message and may tell the person that it failed; the window may be
    // gone by the time that returns.
    const QPointer<TransferWindow> self(this);
    spec_.onStop();
    if (!self) return;
  }
  finish();
}

void TransferWindow::finish() {
  closing_ = true;
  close();
}

void TransferWindow::closeEvent(QCloseEvent* event) {
  // The window closes through its button or by itself after a complete transfer.
  if (closing_) {
    event->accept();
  } else {
    event->ignore();
  }
}

}  // namespace brisk
