#include "cli/transfer_lines.h"

#include <algorithm>
#include <filesystem>

#include "cli/question_desk.h"

namespace brisk {

TransferWindowId TransferLines::open(const TransferWindowSetup& setup) {
  std::lock_guard lock(mutex_);
  const TransferWindowId id = nextWindow_++;
  View& view = views_[id];
  view.title =
      (setup.isSender ? "发送文件 Index: " : "接收文件 Index: ") + std::to_string(setup.index);
  view.twoBars = setup.fileCount != 1;
  console_.printLine(view.title + "  开始");
  return id;
}

void TransferLines::setFileName(TransferWindowId window, const std::string& name) {
  std::lock_guard lock(mutex_);
  const auto view = views_.find(window);
  if (view == views_.end()) return;
  view->second.fileName = name;
  console_.printLine(view->second.title + "  文件名：" + name);
  showLiveLine();
}

void TransferLines::setStatus(TransferWindowId window, const std::string& status) {
  std::lock_guard lock(mutex_);
  const auto view = views_.find(window);
  if (view == views_.end()) return;
  console_.printLine(view->second.title + "  " + status);
}

void TransferLines::showFigures(TransferWindowId window, const TransferFigures& figures) {
  std::lock_guard lock(mutex_);
  const auto found = views_.find(window);
  if (found == views_.end()) return;
  View& view = found->second;
  // A bar without a value stays where it was; a position past 100 is a full bar.
  if (figures.fileBar) view.fileBar = std::clamp(*figures.fileBar, 0, 100);
  if (figures.totalBar) view.totalBar = std::clamp(*figures.totalBar, 0, 100);
  if (figures.texts) view.texts = figures.texts;
  if (console_.terminal()) {
    showLiveLine();
  } else if (figures.texts) {
    console_.printLine(progressText(view));
  }
}

void TransferLines::showVerdict(TransferWindowId window, const TransferVerdict& verdict) {
  std::lock_guard lock(mutex_);
  const auto found = views_.find(window);
  if (found == views_.end()) return;
  const std::string title = found->second.title;
  views_.erase(found);
  showLiveLine();
  console_.printLine(title + "  " + verdict.status);
}

void TransferLines::showLiveLine() {
  if (!console_.terminal()) return;
  std::string line;
  for (const auto& [id, view] : views_) {
    if (!line.empty()) line += "  |  ";
    line += progressText(view);
  }
  console_.setLiveLine(line);
}

std::string TransferLines::progressText(const View& view) {
  std::string text = view.title;
  if (!view.fileName.empty()) {
    text += "  " + std::filesystem::path(view.fileName).filename().string();
  }
  text += "  " + std::to_string(view.fileBar) + "%";
  if (view.twoBars) text += "  总计 " + std::to_string(view.totalBar) + "%";
  if (view.texts) {
    text += "  已经传送：" + view.texts->fileDone + " / " + view.texts->fileSize;
    text += "  传送速度：" + view.texts->speed;
    text += "  已用时间：" + trimmed(view.texts->elapsed);
  }
  return text;
}

}  // namespace brisk
