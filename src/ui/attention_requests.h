#pragma once

#include <vector>

#include <QString>

#include "common/frontend.h"
#include "ui/desktop_attention.h"

namespace brisk {

class PromptWindow;

// The buttons of the notification about the peer's offer: its first two captions (accept
// and refuse), each pressing that button of `prompt` as a click on it would.
std::vector<NotificationAction> offerActions(PromptWindow* prompt, const PromptRequest& request);

// The notification of a transfer's end: the verdict, what moved (the file's or folder's
// name, or how many items) and the transfer window's title, and a button that opens the
// folder it lies in.
struct VerdictNotification {
  QString summary;
  QString body;
  std::vector<NotificationAction> actions;
};
VerdictNotification verdictNotification(const TransferWindowSetup& setup, const QString& status,
                                        const QString& title);

}  // namespace brisk
