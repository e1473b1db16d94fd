#pragma once

#include <QWidget>

#include "common/frontend.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace brisk {

// The small window of one transfer ("发送文件 Index: N" or "接收文件 Index: N"): the file
// now moving, its size, what is done, the speed and the elapsed time, a bar for the file
// and, for an offer of more than one file, one for the whole offer; the status line, the
// auto-close box and the Stop button, which reads "关闭" once the transfer is over. It has
// a caption only, closes through its button or by itself, and deletes itself when closed.
class TransferWindow : public QWidget {
  Q_OBJECT

 public:
  explicit TransferWindow(TransferWindowSetup spec);

  void setFileName(const QString& name);
  void setStatus(const QString& status);
  void showFigures(const TransferFigures& figures);
  void showVerdict(const TransferVerdict& verdict);

  const TransferWindowSetup& setup() const { return spec_; }

  // Whether the transfer still runs: no verdict yet and not stopped here.
  bool running() const { return running_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // The parts of the window, top to bottom; `shift` moves the lower ones below a second bar.
  void addFileNameBox();
  void addFigures(bool twoBars);
  void addStatusAndButtons(int shift);
  void pressStopOrClose();
  void finish();

  const TransferWindowSetup spec_;
  bool running_ = true;
  bool closing_ = false;

  QPlainTextEdit* fileName_ = nullptr;
  QLabel* fileSize_ = nullptr;
  QLabel* fileDone_ = nullptr;
  QLabel* speed_ = nullptr;
  QLabel* elapsed_ = nullptr;
  QProgressBar* fileBar_ = nullptr;
  QProgressBar* totalBar_ = nullptr;
  QLabel* status_ = nullptr;
  QPushButton* stopButton_ = nullptr;
};

}  // namespace brisk
