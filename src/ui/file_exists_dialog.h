#pragma once

#include <QWidget>

class QCheckBox;

namespace brisk {

// The question asked when a received file already exists (class FileExistDlg): the text,
// "断点续传", "重新传输", "忽略跳过", "终止" (1001 to 1004) and the box "始终采取相同操作"
// (1005), which makes the answer hold for every further existing file of the transfer.
// It has a caption only, closes through its buttons (or at shutdown, without an answer)
// and deletes itself when closed.
class FileExistsDialog : public QWidget {
  Q_OBJECT

 public:
  explicit FileExistsDialog(const QString& text);

 Q_SIGNALS:
  void answered(int buttonId, bool alwaysTicked);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QCheckBox* always_ = nullptr;
  bool closing_ = false;
};

}  // namespace brisk
