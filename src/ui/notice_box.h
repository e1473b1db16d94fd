#pragma once

#include <QString>

class QMessageBox;

namespace brisk {

// A box titled "提示信息" with the text and one OK button, no icon and no owner. It deletes
// itself when closed; the caller shows it.
QMessageBox* createNoticeBox(const QString& text);

// The same box with Yes and No.
QMessageBox* createQuestionBox(const QString& text);

}  // namespace brisk
