#include "ui/notice_throttle.h"

#include <algorithm>
#include <utility>

namespace brisk {

NoticeThrottle::Decision NoticeThrottle::take(const QString& text, Clock::time_point now) {
  // The newest box with the same text.
  const auto same = std::find_if(boxes_.rbegin(), boxes_.rend(),
                                 [&](const Box& box) { return box.text == text; });
  const bool full = openBoxes() >= kMaxOpenBoxes;
  // A repeat soon after counts in its box; a later one opens a box of its own (the person
  // sees that it came again), unless there is no room for one.
  if (same != boxes_.rend() && (now - same->last < kRepeatSpan || full)) {
    same->last = now;
    ++same->count;
    return {Decision::Where::CountInBox, same->id, same->count, false, 0};
  }
  if (!full) {
    overflowing_ = false;
    boxes_.push_back(Box{++lastId_, text, 1, now});
    return {Decision::Where::NewBox, lastId_, 1, false, 0};
  }
  Decision logged{Decision::Where::Log, 0, 1, false, 0};
  if (loggedInSpan_ == 0 || now - spanStart_ >= kRepeatSpan) {
    // A new span; what the last one left out is told first, if nobody told it yet.
    logged.leftOutBefore = std::exchange(leftOut_, 0);
    spanStart_ = now;
    loggedInSpan_ = 0;
  }
  if (loggedInSpan_ == kMaxLoggedPerSpan) {
    ++leftOut_;
    return {Decision::Where::LeftOut, 0, 1, false, 0};
  }
  ++loggedInSpan_;
  logged.firstLogged = !std::exchange(overflowing_, true);
  return logged;
}

void NoticeThrottle::boxClosed(int box) {
  std::erase_if(boxes_, [box](const Box& open) { return open.id == box; });
}

std::optional<NoticeThrottle::Clock::time_point> NoticeThrottle::leftOutDue() const {
  if (leftOut_ == 0) return std::nullopt;
  return spanStart_ + kRepeatSpan;
}

std::size_t NoticeThrottle::takeLeftOut(Clock::time_point now) {
  if (leftOut_ == 0 || now - spanStart_ < kRepeatSpan) return 0;
  const std::size_t told = leftOut_;
  leftOut_ = 0;
  return told;
}

}  // namespace brisk
