// The QtFrontend's updates of open transfer windows, posted to the window's thread.
#include "ui/qt_frontend.h"

#include <algorithm>

#include "ui/attention_requests.h"
#include "ui/transfer_window.h"

namespace brisk {

TransferWindow* QtFrontend::transferWindow(TransferWindowId window) const {
  const auto found = transferWindows_.find(window);
  return found == transferWindows_.end() ? nullptr : found->second.data();
}

int QtFrontend::runningTransfers() const {
  return static_cast<int>(
      std::count_if(transferWindows_.begin(), transferWindows_.end(),
                    [](const auto& entry) { return entry.second && entry.second->running(); }));
}

void QtFrontend::setTransferFileName(TransferWindowId window, const std::string& name) {
  {
    const std::lock_guard lock(fileNamesMutex_);
    const bool waiting = !fileNames_.empty();
    fileNames_[window] = name;
    if (waiting) return;  // the posted update takes this name too
  }
  post([this] {
    std::map<TransferWindowId, std::string> names;
    {
      const std::lock_guard lock(fileNamesMutex_);
      names.swap(fileNames_);
    }
    for (const auto& [window, name] : names) {
      if (TransferWindow* shown = transferWindow(window)) {
        shown->setFileName(QString::fromStdString(name));
      }
    }
  });
}

void QtFrontend::setTransferStatus(TransferWindowId window, const std::string& status) {
  post([this, window, status] {
    if (TransferWindow* shown = transferWindow(window)) {
      shown->setStatus(QString::fromStdString(status));
    }
  });
}

void QtFrontend::showTransferFigures(TransferWindowId window, const TransferFigures& figures) {
  post([this, window, figures] {
    if (TransferWindow* shown = transferWindow(window)) shown->showFigures(figures);
  });
}

void QtFrontend::showTransferVerdict(TransferWindowId window, const TransferVerdict& verdict) {
  post([this, window, verdict] {
    TransferWindow* shown = transferWindow(window);
    if (!shown) return;
    VerdictNotification shownVerdict = verdictNotification(
        shown->setup(), QString::fromStdString(verdict.status), shown->windowTitle());
    shown->showVerdict(verdict);
    Q_EMIT runningTransfersChanged(runningTransfers());
    // A window that closed itself after the transfer leaves the main window to show.
    QWidget* target = verdict.closeWindow ? mainWindow_.data() : shown;
    attention_.call(target, shownVerdict.summary, shownVerdict.body,
                    std::move(shownVerdict.actions));
  });
}

}  // namespace brisk
