// The window thread's cost of one prompt for a stranger's huge offer (1,000 item lines of
// 240 characters): cutting its text, building the window, showing and painting it, and
// closing it again; with the whole text beside it, as the window took it before.
//   prompt_bench [PROMPTS]      default 20; QT_QPA_PLATFORM=xcb under X, offscreen otherwise
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <QApplication>

#include "common/frontend.h"
#include "ui/prompt_window.h"
#include "ui/shown_text.h"

namespace {

std::string hugeOffer() {
  std::string body;
  for (int i = 0; i < 1000; ++i) {
    body += std::to_string(100000 + i) + std::string(224, 'x') + "\t100 bytes\r\n";
  }
  return body + "\r\n总计 文件个数：1000\r\n\u3000\u3000 文件大小：100000 Bytes = 97.6 KB\r\n";
}

// Milliseconds each of `count` prompts took, the slowest last.
std::vector<double> measure(int count, bool cut) {
  const std::string offer = hugeOffer();
  std::vector<double> took;
  for (int i = 0; i < count; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const brisk::PromptRequest request{"对方要发送文件给你，你要接收吗？",
                                       cut ? brisk::shownPromptText(offer) : offer,
                                       {"接收", "拒绝"},
                                       brisk::PromptKind::PeerItemsOffer};
    auto* prompt = new brisk::PromptWindow(request);
    prompt->show();
    prompt->repaint();
    QApplication::processEvents();
    took.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    prompt->closeFromOutside();
    QApplication::processEvents();
  }
  std::sort(took.begin(), took.end());
  return took;
}

void report(const char* what, const std::vector<double>& took) {
  std::printf("%-28s median %6.1f ms, slowest %6.1f ms (%zu prompts)\n", what,
              took[took.size() / 2], took.back(), took.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY")) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  QApplication app(argc, argv);
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  report("the text as shown", measure(count, true));
  report("the whole text", measure(std::max(1, count / 4), false));
  return 0;
}
