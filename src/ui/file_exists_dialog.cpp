#include "ui/file_exists_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>

#include "ui/control_ids.h"
#include "ui/control_placement.h"
#include "ui/font_and_background.h"
#include "ui/outer_size.h"

namespace brisk {

FileExistsDialog::FileExistsDialog(const QString& text)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("FileExistDlg"));
  setWindowTitle(QStringLiteral("提示信息"));
  setAttribute(Qt::WA_DeleteOnClose);
  applyFontAndBackground(this);

  auto* label = new QLabel(this);
  label->setTextFormat(Qt::PlainText);
  label->setText(text);
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setFrameStyle(QFrame::Box | QFrame::Plain);
  placeControl(label, kIdPromptText, QRect(20, 20, 460, 100));

  const QStringList captions = {QStringLiteral("断点续传"), QStringLiteral("重新传输"),
                                QStringLiteral("忽略跳过"), QStringLiteral("终止")};
  for (int i = 0; i < captions.size(); ++i) {
    auto* button = new QPushButton(captions[i], this);
    const int id = kIdFirstButton + i;
    placeControl(button, id, QRect(35 + i * 110, 200, 100, 25));
    // Enter presses the focused button; Tab and the arrow keys move between them.
    button->setAutoDefault(true);
    connect(button, &QPushButton::clicked, this, [this, id] {
      Q_EMIT answered(id, always_->isChecked());
      closing_ = true;
      close();
    });
  }

  always_ = new QCheckBox(QStringLiteral("始终采取相同操作"), this);
  placeControl(always_, kIdAlwaysBox, QRect(160, 140, 150, 25));

  setOuterSize(this, QSize(500, 300), true);
}

void FileExistsDialog::closeEvent(QCloseEvent* event) {
  // Only the buttons answer; closed otherwise, the transfer would wait for nothing.
  if (closing_) {
    event->accept();
  } else {
    event->ignore();
  }
}

}  // namespace brisk
