// Brisk on a Linux desktop: the program's icon.

#include <QTest>

#include "ui/program_icon.h"
#include "ui_test_support.h"

namespace brisk::test {

class DesktopTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
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
