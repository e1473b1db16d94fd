// What every window of the program owes a person whatever their desktop: text that stands
// out from its background under a light and a dark colour scheme, and controls that a
// screen reader can name.

#include <memory>
#include <vector>

#include <QAbstractButton>
#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>

#include "ui/code_dialog.h"
#include "ui/file_exists_dialog.h"
#include "ui/help_dialogs.h"
#include "ui/notice_box.h"
#include "ui/prompt_window.h"
#include "ui/readable_colour.h"
#include "ui/transfer_window.h"
#include "ui/trusted_computers.h"
#include "ui_test_support.h"

namespace brisk::test {

namespace {

// A dark scheme as desktops ship them for Qt's Fusion style.
QPalette darkPalette() {
  QPalette palette;
  palette.setColor(QPalette::Window, QColor(49, 49, 49));
  palette.setColor(QPalette::WindowText, QColor(239, 239, 239));
  palette.setColor(QPalette::Base, QColor(35, 35, 35));
  palette.setColor(QPalette::AlternateBase, QColor(49, 49, 49));
  palette.setColor(QPalette::Text, QColor(239, 239, 239));
  palette.setColor(QPalette::Button, QColor(60, 60, 60));
  palette.setColor(QPalette::ButtonText, QColor(239, 239, 239));
  palette.setColor(QPalette::Highlight, QColor(42, 130, 218));
  palette.setColor(QPalette::HighlightedText, Qt::white);
  palette.setColor(QPalette::PlaceholderText, QColor(150, 150, 150));
  return palette;
}

// The colours the chat log keeps exactly on a light scheme, where they are the program's
// own: the green and red of the link's news and the grey of the log's notes stand out less
// than body text must, and stay as they always were.
bool keptOnLightScheme(const QColor& colour) {
  return colour == QColor(0, 255, 0) || colour == QColor(255, 0, 0) ||
         colour == QColor(128, 128, 128);
}

// Every program window, open at once: the main window with a line in each log colour, an
// offer's prompt, a transfer window, the file-exists dialog, a notice, Help, About, the
// trusted computers (with one), the rename dialog and the first-contact code.
struct EveryWindow {
  Program program;
  std::vector<QPointer<QWidget>> windows;
  QTemporaryDir trustFolder;

  EveryWindow() {
    program.window.start();
    for (Rgb colour : {kBlack, kBlue, kGreen, kRed}) {
      program.frontend.appendLog("你好 hello\r\n", colour);
    }
    [[maybe_unused]] const bool appended = QTest::qWaitFor([this] {
      return control<QTextEdit>(&program.window, kIdChatLog)->document()->blockCount() >= 5;
    });
    windows.emplace_back(&program.window);
    windows.emplace_back(new PromptWindow(PromptRequest{
        "对方要发送文件给你，你要接收吗？", "a.txt (1.2 KB)", {"接收", "拒绝", "续传已有文件"}}));
    auto* transfer = new TransferWindow(transferSpec(3));
    transfer->setFileName(QStringLiteral("/home/a/照片.jpg"));
    transfer->setStatus(QStringLiteral("正在传送..."));
    windows.emplace_back(transfer);
    windows.emplace_back(
        new FileExistsDialog(QStringLiteral("文件已经存在：/home/a/b.txt\n你要：")));
    windows.emplace_back(createNoticeBox(QStringLiteral("连接失败")));
    windows.emplace_back(new HelpDialog(nullptr));
    windows.emplace_back(new AboutDialog(nullptr));
    auto trust = std::make_shared<TrustStore>(
        TrustStore::fileIn(QFile::encodeName(trustFolder.path()).toStdString()));
    (void)trust->remember(Fingerprint{}, "甲", "192.168.1.20", {});
    windows.emplace_back(new TrustedComputersDialog(trust, nullptr));
    windows.emplace_back(new RenameDialog(QStringLiteral("甲"), nullptr));
    windows.emplace_back(createCodeDialog(CodeComparison{"042917", "甲", "10.0.0.2", "A", "B"}));
    for (const QPointer<QWidget>& window : windows) window->show();
  }

  ~EveryWindow() {
    for (const QPointer<QWidget>& window : windows) {
      if (window && window != &program.window) delete window.data();
    }
  }
};

// What one control shows: its text's colour on its background.
struct ShownText {
  QString where;
  QColor text, background;
  bool keptColour = false;
};

// What a control that paints no background of its own is seen on.
QColor backgroundBehind(const QWidget* widget) {
  const QWidget* under = widget->parentWidget();
  while (under && !under->autoFillBackground() && !under->isWindow()) under = under->parentWidget();
  return under ? under->palette().color(under->backgroundRole()) : QColor(Qt::white);
}

// The texts of a document: each run in its own colour, or the box's text colour.
void addDocumentTexts(const QString& where, const QTextDocument* document, const QWidget* box,
                      std::vector<ShownText>& out) {
  const QColor base = box->palette().color(QPalette::Base);
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextCharFormat format = it.fragment().charFormat();
      const QColor colour = format.hasProperty(QTextFormat::ForegroundBrush)
                                ? format.foreground().color()
                                : box->palette().color(QPalette::Text);
      out.push_back({where + u':' + it.fragment().text(), colour, base, keptOnLightScheme(colour)});
    }
  }
}

std::vector<ShownText> shownTexts(const QWidget* window) {
  std::vector<ShownText> out;
  QList<const QWidget*> widgets{window};
  for (const QWidget* child : window->findChildren<QWidget*>()) widgets.append(child);
  for (const QWidget* widget : widgets) {
    if (!widget->isVisible()) continue;
    const QString where = window->windowTitle() + u'/' + widget->objectName() + u'/' +
                          QString::fromLatin1(widget->metaObject()->className());
    const QPalette& palette = widget->palette();
    const auto add = [&](QPalette::ColorRole text, QPalette::ColorRole background) {
      out.push_back({where, palette.color(text), palette.color(background)});
    };
    if (const auto* edit = qobject_cast<const QTextEdit*>(widget)) {
      addDocumentTexts(where, edit->document(), edit, out);
    } else if (const auto* plain = qobject_cast<const QPlainTextEdit*>(widget)) {
      addDocumentTexts(where, plain->document(), plain, out);
    } else if (qobject_cast<const QLineEdit*>(widget)) {
      add(QPalette::Text, QPalette::Base);
    } else if (const auto* button = qobject_cast<const QPushButton*>(widget)) {
      if (!button->text().isEmpty()) add(QPalette::ButtonText, QPalette::Button);
    } else if (qobject_cast<const QAbstractButton*>(widget) ||
               qobject_cast<const QLabel*>(widget)) {
      const QString text = widget->property("text").toString();
      if (!text.isEmpty()) {
        out.push_back({where, palette.color(QPalette::WindowText), backgroundBehind(widget)});
      }
    }
  }
  return out;
}

}  // namespace

class EveryWindowTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void initTestCase() { lightPalette_ = QApplication::palette(); }
  void cleanup() { QApplication::setPalette(lightPalette_); }

  void everyTextStandsOutFromItsBackground_data() {
    QTest::addColumn<bool>("dark");
    QTest::newRow("light scheme") << false;
    QTest::newRow("dark scheme") << true;
  }

  void everyTextStandsOutFromItsBackground() {
    QFETCH(bool, dark);
    if (dark) QApplication::setPalette(darkPalette());
    EveryWindow every;
    int checked = 0;
    for (const QPointer<QWidget>& window : every.windows) {
      for (const ShownText& shown : shownTexts(window)) {
        ++checked;
        if (!dark && shown.keptColour) continue;
        const double contrast = contrastRatio(shown.text, shown.background);
        QVERIFY2(contrast >= 4.5,
                 qPrintable(QStringLiteral("%1: %2 on %3 is %4:1")
                                .arg(shown.where, shown.text.name(), shown.background.name())
                                .arg(contrast, 0, 'f', 2)));
      }
    }
    QVERIFY2(checked > 30, qPrintable(QString::number(checked)));
  }

  // Every control a person reaches is announced by a name, not only as "text".
  void everyControlHasAnAccessibleName() {
    EveryWindow every;
    int checked = 0;
    QStringList unnamed;
    for (const QPointer<QWidget>& window : every.windows) {
      for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (!widget->isVisible() || widget->focusPolicy() == Qt::NoFocus) continue;
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        QVERIFY(accessible);
        ++checked;
        if (accessible->text(QAccessible::Name).trimmed().isEmpty()) {
          unnamed.append(window->windowTitle() + u'/' + widget->objectName() + u'/' +
                         QString::fromLatin1(widget->metaObject()->className()));
        }
      }
    }
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral(", "))));
    QVERIFY(checked > 20);
  }

  // Each window's title shows whole, and a button with the keyboard focus looks it.
  void decorationsAndFocusShowWhatTheyMean() {
    EveryWindow every;
    for (const QPointer<QWidget>& window : every.windows) {
      if (!qobject_cast<QMessageBox*>(window)) continue;
      const QFontMetrics metrics(window->font());
      QVERIFY(window->width() >=
              metrics.horizontalAdvance(window->windowTitle()) + 8 * metrics.height());
    }
    int checked = 0;
    for (const QPointer<QWidget>& window : every.windows) {
      window->activateWindow();
      if (!QTest::qWaitForWindowActive(window)) QSKIP("this platform activates no window");
      // As after a press of Tab: the style shows focus once the keyboard has moved it.
      window->setAttribute(Qt::WA_KeyboardFocusChange);
      for (QPushButton* button : window->findChildren<QPushButton*>()) {
        if (!button->isVisible()) continue;
        QVERIFY2(button->focusPolicy() & Qt::TabFocus, qPrintable(button->text()));
        // A default button may show the same mark with or without the focus (Qt's own
        // style does): focused, it must still differ from a plain button.
        const bool isDefault = button->isDefault();
        button->setDefault(false);
        button->clearFocus();
        const QImage plain = button->grab().toImage();
        button->setDefault(isDefault);
        button->setFocus(Qt::TabFocusReason);
        QVERIFY(button->hasFocus());
        QVERIFY2(button->grab().toImage() != plain, qPrintable(button->text()));
        ++checked;
      }
    }
    QVERIFY(checked > 8);
  }

  // A scheme changed while the program runs recolours the log; back on the light scheme
  // the lines have exactly their own colours again.
  void theLogFollowsASchemeChange() {
    EveryWindow every;
    auto* log = control<QTextEdit>(&every.program.window, kIdChatLog);
    const auto colourOf = [&](Rgb rgb) {
      const QColor wanted(rgb.red, rgb.green, rgb.blue);
      for (QTextBlock block = log->document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
          const QTextCharFormat format = it.fragment().charFormat();
          if (format.property(QTextFormat::UserProperty).value<QColor>() == wanted) {
            return format.foreground().color();
          }
        }
      }
      return QColor();
    };
    QTRY_COMPARE(colourOf(kBlue), QColor(0, 0, 255));
    // A running program hands a new scheme down to its widgets; a test, which runs no
    // event loop of QApplication's own, hands it to the log.
    log->setPalette(darkPalette());
    QCOMPARE(colourOf(kBlack), QColor(239, 239, 239));
    QVERIFY(contrastRatio(colourOf(kBlue), QColor(35, 35, 35)) >= 4.5);
    log->setPalette(QPalette());
    for (Rgb rgb : {kBlack, kBlue, kGreen, kRed}) {
      QCOMPARE(colourOf(rgb), QColor(rgb.red, rgb.green, rgb.blue));
    }
  }

 private:
  QPalette lightPalette_;
};

}  // namespace brisk::test

int main(int argc, char** argv) {
  brisk::test::EveryWindowTest test;
  return brisk::test::runUiTest(argc, argv, test);
}

#include "every_window_test.moc"
