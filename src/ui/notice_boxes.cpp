#include "ui/notice_boxes.h"

#include <algorithm>
#include <chrono>

#include <QMessageBox>

#include "ui/notice_box.h"

namespace brisk {

namespace {

// Notices in the chat log are in the colour of the program's failures there.
const QColor kNoticeColour(255, 0, 0);

std::chrono::milliseconds until(NoticeThrottle::Clock::time_point due) {
  return std::max(std::chrono::ceil<std::chrono::milliseconds>(due - NoticeThrottle::Clock::now()),
                  std::chrono::milliseconds(1));
}

}  // namespace

NoticeBoxes::NoticeBoxes(Own own, Log log) : own_(std::move(own)), log_(std::move(log)) {
  leftOutTimer_.setSingleShot(true);
  connect(&leftOutTimer_, &QTimer::timeout, this, &NoticeBoxes::tellLeftOut);
}

void NoticeBoxes::show(const QString& text) {
  using Where = NoticeThrottle::Decision::Where;
  const NoticeThrottle::Decision decision = throttle_.take(text, NoticeThrottle::Clock::now());
  switch (decision.where) {
    case Where::NewBox: {
      QMessageBox* box = createNoticeBox(text);
      const int id = decision.box;
      boxes_[id] = box;
      connect(box, &QObject::destroyed, this, [this, id] {
        boxes_.erase(id);
        throttle_.boxClosed(id);
      });
      own_(box);
      box->show();
      break;
    }
    case Where::CountInBox:
      if (const auto found = boxes_.find(decision.box); found != boxes_.end() && found->second) {
        found->second->setText(text +
                               QStringLiteral("\n\n（此提示共出现 %1 次）").arg(decision.count));
      }
      break;
    case Where::Log:
      if (decision.leftOutBefore > 0) logLeftOut(decision.leftOutBefore);
      if (decision.firstLogged) {
        log_(QStringLiteral("已打开的提示信息窗口太多，以下提示信息记在这里：\n"), kNoticeColour);
      }
      log_(QStringLiteral("提示信息：") + text + QLatin1Char('\n'), kNoticeColour);
      break;
    case Where::LeftOut:
      if (!leftOutTimer_.isActive()) {
        if (const auto due = throttle_.leftOutDue()) leftOutTimer_.start(until(*due));
      }
      break;
  }
}

void NoticeBoxes::tellLeftOut() {
  if (const std::size_t leftOut = throttle_.takeLeftOut(NoticeThrottle::Clock::now())) {
    logLeftOut(leftOut);
  } else if (const auto due = throttle_.leftOutDue()) {
    leftOutTimer_.start(until(*due));  // woken early: the rest of the span
  }
}

void NoticeBoxes::logLeftOut(std::size_t count) {
  log_(QStringLiteral("（另有 %1 条提示信息未显示）\n").arg(count), kNoticeColour);
}

}  // namespace brisk
