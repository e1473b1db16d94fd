#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <variant>

#include "cli/console.h"
#include "common/frontend.h"

namespace brisk {

// A JSON string literal, quotes included, for UTF-8 `text`: quotes, backslashes and
// control characters escaped; bytes that are not UTF-8 become U+FFFD, so every line is
// valid JSON whatever the peer sent.
std::string jsonString(std::string_view text);

// brisk-peer --json: one JSON object per line and per event, for scripts, in place of the
// lines a person reads. Every object has "event"; the others are:
//   link      "state": listening, connecting, connected, idle
//   log       "text", "colour": black for what the peer sent (chat and control messages,
//             as they arrive, not cut into lines) and this computer's address; red,
//             green for this program's own lines (connected, failures)
//   notice    "text"
//   question  "text" (asked of the person or answered by the options)
//   offer     "index", "own", "text"; the peer's also "bytes" (the fewest bytes the offer
//             stands for)
//   offer-end "index", "own", "outcome": accepted, refused, cancelled, failed
//   transfer  "index", "sender", "file" (its path here, once per file as it begins), "ms"
//   progress  "index", "sender", "fileDone", "fileSize", "done", "total", "bytesPerSecond",
//             "seconds" (once a second)
//   resume    "index", "sender", "offset": the file begun last continues the offset bytes
//             the receiving side had, checked to be the start of the sender's file
//   verdict   "index", "sender", "complete", "cause": complete, incomplete, stopped-here,
//             stopped-by-peer, connection-lost, local-disk, peer-failed; "ms"
// "ms" is the milliseconds since the events began, so that a script can time each file of
// a transfer however late it reads the lines.
// Any thread.
class JsonEvents {
 public:
  // Milliseconds of a steady clock; the events count from its value at construction.
  using Clock = std::function<std::int64_t()>;
  static std::int64_t steadyMilliseconds();

  explicit JsonEvents(Console& console, Clock clock = steadyMilliseconds)
      : console_(console), clock_(std::move(clock)), start_(clock_()) {}

  void link(LinkState state);
  void log(const std::string& text, Rgb colour);
  void notice(const std::string& text);
  void offer(const PromptRequest& request);
  void offerEnded(const OfferEnd& end);
  void question(const std::string& text);
  // Remembers which transfer `window` shows, for the events that name only the window.
  void openTransfer(TransferWindowId window, const TransferWindowSetup& setup);
  void fileName(TransferWindowId window, const std::string& name);
  void figures(TransferWindowId window, const TransferFigures& figures);
  void resumed(TransferWindowId window, std::uint64_t offset);
  void transferEnded(const TransferEnd& end);

 private:
  using Value = std::variant<std::string_view, std::int64_t, std::uint64_t, bool>;
  void emit(std::string_view event,
            std::initializer_list<std::pair<std::string_view, Value>> fields);

  std::int64_t elapsedMs() const { return clock_() - start_; }

  Console& console_;
  const Clock clock_;
  const std::int64_t start_;
  std::mutex mutex_;
  struct Transfer {
    int index = 0;
    bool sender = false;
  };
  std::map<TransferWindowId, Transfer> transfers_;
};

}  // namespace brisk
