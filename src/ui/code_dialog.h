#pragma once

#include <QMessageBox>

#include "common/frontend.h"

namespace brisk {

// The first-contact question: the code (验证码) in large digits, who the peer says it
// is, both fingerprints, and the buttons 相同 and 不同. Deleted when closed.
QMessageBox* createCodeDialog(const CodeComparison& comparison);

// The answer the dialog was closed with: 相同, 不同, or None when it was closed otherwise.
CodeAnswer codeDialogAnswer(const QMessageBox& dialog);

}  // namespace brisk
