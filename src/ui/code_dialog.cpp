#include "ui/code_dialog.h"

#include <QAbstractButton>
#include <QPushButton>

#include "ui/engine_text.h"

namespace brisk {

namespace {

const char* const kAnswerProperty = "briskCodeAnswer";

}  // namespace

QMessageBox* createCodeDialog(const CodeComparison& comparison) {
  auto* dialog = new QMessageBox();
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle(QStringLiteral("验证码"));
  dialog->setIcon(QMessageBox::Question);
  // The code is what the person reads out, so it stands out from the sentence around it;
  // three and three digits read aloud more easily. The peer chose its own name: it is
  // escaped, so that markup in it shows as the characters it is.
  const QString code = fromEngineText(comparison.code).toHtmlEscaped();
  dialog->setTextFormat(Qt::RichText);
  dialog->setText(QStringLiteral("第一次连接 %1（%2）。<br>请和对方核对验证码：")
                      .arg(fromEngineText(comparison.peerName).toHtmlEscaped(),
                           fromEngineText(comparison.peerAddress).toHtmlEscaped()) +
                  QStringLiteral("<p style=\"font-size:xx-large; font-weight:bold\">%1&nbsp;%2</p>")
                      .arg(code.left(3), code.mid(3)));
  dialog->setInformativeText(
      QStringLiteral("两边显示的验证码相同，才说明没有人在中间冒充。只有双方都按“相同”，"
                     "两台计算机才会互相记住。"));
  dialog->setDetailedText(QStringLiteral("对方的指纹：%1\n本机的指纹：%2")
                              .arg(fromEngineText(comparison.peerFingerprint),
                                   fromEngineText(comparison.ownFingerprint)));
  QPushButton* same = dialog->addButton(QStringLiteral("相同"), QMessageBox::AcceptRole);
  QPushButton* different = dialog->addButton(QStringLiteral("不同"), QMessageBox::RejectRole);
  same->setProperty(kAnswerProperty, static_cast<int>(CodeAnswer::Same));
  different->setProperty(kAnswerProperty, static_cast<int>(CodeAnswer::Different));
  // Nothing is confirmed by a stray Enter.
  dialog->setDefaultButton(different);
  return dialog;
}

CodeAnswer codeDialogAnswer(const QMessageBox& dialog) {
  const QAbstractButton* clicked = dialog.clickedButton();
  if (!clicked) return CodeAnswer::None;
  const QVariant answer = clicked->property(kAnswerProperty);
  return answer.isValid() ? static_cast<CodeAnswer>(answer.toInt()) : CodeAnswer::None;
}

}  // namespace brisk
