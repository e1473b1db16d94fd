#include "ui/attention_requests.h"

#include <QDesktopServices>
#include <QFile>
#include <QPointer>
#include <QUrl>

#include "ui/prompt_window.h"

namespace brisk {

std::vector<NotificationAction> offerActions(PromptWindow* prompt, const PromptRequest& request) {
  std::vector<NotificationAction> actions;
  if (request.kind == PromptKind::OwnOfferWaiting) return actions;
  const QPointer<PromptWindow> window(prompt);
  for (int button = 0; button < 2 && button < int(request.captions.size()); ++button) {
    actions.push_back(
        {QString::fromStdString(request.captions[std::size_t(button)]), [window, button] {
           if (window) window->press(button);
         }});
  }
  return actions;
}

VerdictNotification verdictNotification(const TransferWindowSetup& setup, const QString& status,
                                        const QString& title) {
  VerdictNotification shown;
  shown.summary = status;
  QString what = QString::fromStdString(setup.itemName);
  if (what.isEmpty() && setup.fileCount > 1)
    what = QStringLiteral("%1 个项目").arg(setup.fileCount);
  shown.body = what.isEmpty() ? title : what + QLatin1Char('\n') + title;
  if (!setup.folder.empty()) {
    const QUrl folder = QUrl::fromLocalFile(QFile::decodeName(setup.folder.c_str()));
    shown.actions.push_back(
        {QStringLiteral("打开文件夹"), [folder] { QDesktopServices::openUrl(folder); }});
  }
  return shown;
}

}  // namespace brisk
