#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <vector>

#include <QString>

namespace brisk {

// Decides where each notice goes, so that a flood of notices (a stranger's malformed
// messages) opens neither a window per notice nor an endless chat log:
// - the same text again, within kRepeatSpan of its last showing, counts in the box that
//   shows it instead of opening another;
// - at most kMaxOpenBoxes boxes are open at once; the notices beyond them go to the chat
//   log, at most kMaxLoggedPerSpan in each span of kRepeatSpan; the rest are left out,
//   counted, and their number is logged once their span is over.
// Time is a parameter, so that the rules are tested without waiting. One thread.
class NoticeThrottle {
 public:
  using Clock = std::chrono::steady_clock;

  static constexpr int kMaxOpenBoxes = 5;
  static constexpr Clock::duration kRepeatSpan = std::chrono::seconds(10);
  static constexpr int kMaxLoggedPerSpan = 10;

  struct Decision {
    enum class Where {
      NewBox,      // open a box with the text, under the id `box`
      CountInBox,  // box `box` shows the text already: it has come `count` times now
      Log,         // into the chat log
      LeftOut,     // counted, told later (see takeLeftOut)
    };
    Where where = Where::NewBox;
    int box = 0;
    int count = 1;
    // Log: the first notice logged since the boxes ran out, so the log says why.
    bool firstLogged = false;
    // Log: notices left out before this one and not told yet, to be told first.
    std::size_t leftOutBefore = 0;
  };

  Decision take(const QString& text, Clock::time_point now);
  // The person closed box `box`.
  void boxClosed(int box);
  int openBoxes() const { return static_cast<int>(boxes_.size()); }

  // When the notices left out so far may be told: the end of their span, if any are waiting.
  std::optional<Clock::time_point> leftOutDue() const;
  // The number of notices left out whose span is over (0 before leftOutDue()); they
  // are then told.
  std::size_t takeLeftOut(Clock::time_point now);

 private:
  struct Box {
    int id = 0;
    QString text;
    int count = 1;
    Clock::time_point last;
  };

  std::vector<Box> boxes_;
  int lastId_ = 0;
  bool overflowing_ = false;
  Clock::time_point spanStart_;
  int loggedInSpan_ = 0;
  std::size_t leftOut_ = 0;
};

}  // namespace brisk
