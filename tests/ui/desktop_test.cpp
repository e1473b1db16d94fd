// Brisk on a Linux desktop: Qt's own dialogs in Chinese and the program's icon.

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QTest>

#include "ui/program_icon.h"
#include "ui/qt_translations.h"
#include "ui_test_support.h"

namespace brisk::test {

namespace {

QStringList buttonTexts(const QDialogButtonBox& buttons) {
  QStringList texts;
  for (const QAbstractButton* button : buttons.buttons()) texts.append(button->text());
  return texts;
}

}  // namespace

class DesktopTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  // Qt's file dialog (its own, as on desktops without a native one) reads in Chinese.
  void qtDialogsSpeakChinese() {
    QVERIFY(installQtChineseTexts(*QCoreApplication::instance()));
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    const QStringList texts = buttonTexts(*dialog.findChild<QDialogButtonBox*>());
    QVERIFY2(texts.contains(QStringLiteral("保存(&S)")), qPrintable(texts.join(u'|')));
    QVERIFY2(texts.contains(QStringLiteral("取消")), qPrintable(texts.join(u'|')));
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("lookInLabel"))->text(),
             QStringLiteral("查找范围："));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    QVERIFY(
        buttonTexts(*dialog.findChild<QDialogButtonBox*>()).contains(QStringLiteral("打开(&O)")));
  }

  void iconIsDrawnAtEverySize() {
    const QIcon icon = programIcon();
    QVERIFY(!icon.isNull());
    for (const int side : {16, 48, 256}) {
      const QImage image = icon.pixmap(side).toImage();
      QCOMPARE(image.size(), QSize(side, side));
      // Opaque inside, transparent in the rounded corner.
      QCOMPARE(image.pixelColor(side / 2, side / 8).alpha(), 255);
      QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
    }
  }
};

}  // namespace brisk::test

int main(int argc, char** argv) {
  brisk::test::DesktopTest test;
  return brisk::test::runUiTest(argc, argv, test);
}

#include "desktop_test.moc"
