#pragma once

#include <QDialog>

namespace brisk {

// A fingerprint's sixteen groups of four as two lines of eight, read out a line at a time;
// any other text as it is.
QString fingerprintInTwoLines(const QString& grouped);

// The Help and About dialogs of the main context menu. Each closes only through its OK
// button "确定" (or Enter): Esc and the close box leave it open.
class FixedDialog : public QDialog {
  Q_OBJECT

 public:
  void reject() override {}

 protected:
  // Lays the dialog out in dialog units of its font, as the window was drawn.
  FixedDialog(QWidget* parent, const QString& title, QSize units);
  QRect pixels(int x, int y, int width, int height) const;
  void addText(const QString& text, const QRect& units, Qt::Alignment alignment);
  void addOkButton(const QRect& units);
};

class HelpDialog : public FixedDialog {
  Q_OBJECT

 public:
  explicit HelpDialog(QWidget* parent);
};

class AboutDialog : public FixedDialog {
  Q_OBJECT

 public:
  // With this installation's fingerprint (grouped hex), the dialog grows to show it, so
  // that a person can read it out to a peer who checks it.
  explicit AboutDialog(QWidget* parent, const QString& fingerprint = {});
};

}  // namespace brisk
