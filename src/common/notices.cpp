#include "common/notices.h"

#include <thread>

#include "platform/system_error.h"

namespace brisk {

void appendErrorText(int code, std::string& text) {
  if (text.empty() || text.back() != '\n') text += "\r\n";
  text += "Error code: " + std::to_string(code) + "\r\n";
  const std::string message = systemErrorMessage(code);
  if (!message.empty()) text += message + "\r\n";
}

void appendLastErrorText(std::string& text) {
  const int code = errno;
  appendErrorText(code, text);
}

namespace {
thread_local bool noticesPauseHere = true;
}  // namespace

NoNoticePauseHere::NoNoticePauseHere() : previous_(noticesPauseHere) {
  noticesPauseHere = false;
}

NoNoticePauseHere::~NoNoticePauseHere() {
  noticesPauseHere = previous_;
}

void Notices::showNotice(const std::string& text) const {
  frontend_.showNotice(text);
  // The pause spaces out a worker's burst of notices; the window's own thread shows one
  // notice per command of the person and must never stall, nor may the link thread.
  if (noticesPauseHere && !frontend_.onInterfaceThread()) {
    std::this_thread::sleep_for(timing_.noticePause);
  }
}

void Notices::showNoticeModal(const std::string& text) const {
  frontend_.showNoticeModal(text);
}

void Notices::showJoinedNotice(const std::string& first, const std::string& second) const {
  showNotice(first + "\r\n" + second);
}

void Notices::showErrorNotice(const std::string& text, int code) const {
  std::string composed = text;
  appendErrorText(code, composed);
  showNotice(composed);
}

}  // namespace brisk
