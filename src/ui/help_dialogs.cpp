#include "ui/help_dialogs.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>

namespace brisk {

namespace {

// A dialog unit is a quarter of the dialog font's average character width across and an
// eighth of its height down, so the texts keep the room they were drawn with whatever face
// stands in for "宋体".
QSize baseUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  const int width = (metrics.horizontalAdvance(alphabet) / 26 + 1) / 2;
  return {width, metrics.height()};
}

QFont dialogFont() {
  QFont font(QStringLiteral("宋体"));
  font.setPointSize(10);
  return font;
}

}  // namespace

QString fingerprintInTwoLines(const QString& grouped) {
  const QStringList groups = grouped.split(u' ');
  if (groups.size() != 16) return grouped;
  return groups.mid(0, 8).join(u' ') + u'\n' + groups.mid(8).join(u' ');
}

FixedDialog::FixedDialog(QWidget* parent, const QString& title, QSize units) : QDialog(parent) {
  setWindowTitle(title);
  setFont(dialogFont());
  setModal(true);
  const QRect size = pixels(0, 0, units.width(), units.height());
  setFixedSize(size.size());
}

QRect FixedDialog::pixels(int x, int y, int width, int height) const {
  const QSize base = baseUnits(font());
  const auto across = [&](int units) { return (units * base.width() + 2) / 4; };
  const auto down = [&](int units) { return (units * base.height() + 4) / 8; };
  return {across(x), down(y), across(width), down(height)};
}

void FixedDialog::addText(const QString& text, const QRect& units, Qt::Alignment alignment) {
  auto* label = new QLabel(text, this);
  label->setGeometry(pixels(units.x(), units.y(), units.width(), units.height()));
  label->setAlignment(alignment);
  label->setWordWrap(true);
}

void FixedDialog::addOkButton(const QRect& units) {
  auto* ok = new QPushButton(QStringLiteral("确定"), this);
  ok->setObjectName(QStringLiteral("okButton"));
  ok->setGeometry(pixels(units.x(), units.y(), units.width(), units.height()));
  ok->setDefault(true);
  ok->setFocus();
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

HelpDialog::HelpDialog(QWidget* parent)
    : FixedDialog(parent, QStringLiteral("帮助"), QSize(302, 300)) {
  setObjectName(QStringLiteral("HelpDialog"));
  const Qt::Alignment left = Qt::AlignLeft | Qt::AlignTop;
  addText(
      QStringLiteral("软件介绍：\n"
                     "    小巧而强大的点对点文件传送工具，传输速度极快，支持批量文件传输，"
                     "支持超大文件传输，支持断点续传，支持整个文件夹的传输。界面简洁，操作方便。"),
      QRect(30, 6, 239, 34), left);
  addText(QStringLiteral("使用方法：  首先是连接，具体步骤如下：\n\n"
                         "在两台电脑上运行该软件后，\n"
                         "1. 其中一方“监听”（不需要输入IP地址）；\n"
                         "2. 另一方在IP地址框内输入对方的IP地址，然后“连接”。\n\n"
                         "连接成功之后就可以传送文件了，步骤如下：\n\n"
                         "先选择文件，选择文件有两种方法：\n"
                         "方法一，点击“发送文件”按钮，在文件对话框内选择文件；"
                         "（可以批量选择文件，但不能选择文件夹）\n"
                         "方法二，在Windows资源管理器内，直接将文件用鼠标拖放到软件的输入编辑框内。"
                         "（可以批量选择文件，包括文件夹）\n\n"
                         "然后等待对方接收"),
          QRect(30, 50, 239, 140), left);
  addText(QStringLiteral("本软件适用于以下情形：\n\n"
                         "1. 双方在同一个局域网内；\n"
                         "2. 双方不在同一局域网内，但至少有一方在公网，即具有公网的IP地址；\n\n"
                         "本软件不适用于以下情形：\n\n"
                         "双方不在同一局域网内，也都不在公网，即都没有公网的IP地址。"),
          QRect(30, 185, 239, 100), left);
  addOkButton(QRect(121, 266, 50, 16));
}

AboutDialog::AboutDialog(QWidget* parent, const QString& fingerprint)
    : FixedDialog(parent, QStringLiteral("About Brisk"),
                  QSize(242, fingerprint.isEmpty() ? 96 : 136)) {
  setObjectName(QStringLiteral("AboutDialog"));
  addText(QStringLiteral("Brisk ") + QLatin1String(BRISK_VERSION), QRect(54, 20, 130, 8),
          Qt::AlignCenter);
  addText(QStringLiteral("点对点文件传送工具"), QRect(55, 43, 135, 8), Qt::AlignCenter);
  if (fingerprint.isEmpty()) {
    addOkButton(QRect(95, 69, 50, 16));
    return;
  }
  addText(QStringLiteral("本机指纹：\n") + fingerprintInTwoLines(fingerprint),
          QRect(14, 62, 214, 36), Qt::AlignCenter);
  addOkButton(QRect(95, 109, 50, 16));
}

}  // namespace brisk
