#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/byte_stream.h"

namespace brisk {

// The one thread that writes on a control connection. Every sender (the person's message
// queue, the receive, dispatcher, waiting and transfer threads) hands its message over and
// returns at once, so none of them waits for a peer that has stopped reading. Messages go
// out whole and in the order they were handed over.
//
// The writer also keeps the one rule that spaces messages out. Peers mark no message's
// bounds and some take whatever one read returns for one message, so two messages that
// leave back to back may reach such a peer as one and the second is lost. Offers matter
// most (an offer lost leaves both sides waiting), so nothing leaves within `offerPause`
// after an offer, and an offer does not leave within `offerPause` after any message. The
// pause after an offer ends early once the peer has answered it: the answer shows that it
// read the offer on its own.
class ControlWriter {
 public:
  struct Message {
    std::string wire;     // the bytes to send (GBK)
    std::string logText;  // what the log shows once they went out
    int offerIndex = 0;   // the Index of the offer an ASK makes; 0 for any other message
    // Called once on the writer's thread: with true after the bytes went out, with false
    // when the connection failed or ended first.
    std::function<void(bool sent)> done;
  };
  // Called on the writer's thread for every message that went out, in order.
  using SentFunction = std::function<void(const Message&)>;
  // Called once on the writer's thread when a send fails.
  using FailedFunction = std::function<void()>;
  // Called on the writer's thread each time it has dealt with every message handed over.
  using DrainedFunction = std::function<void()>;

  // Starts the thread that writes on `stream`, which the caller owns and keeps open until
  // stop() has returned. At most `capacity` messages wait at a time.
  ControlWriter(ByteStream& stream, std::size_t capacity, std::chrono::milliseconds offerPause,
                SentFunction sent, FailedFunction failed, DrainedFunction drained = {});
  ~ControlWriter() { stop(); }
  ControlWriter(const ControlWriter&) = delete;
  ControlWriter& operator=(const ControlWriter&) = delete;

  enum class PushResult { Queued, Full, Closed };
  // Queues a message and returns at once. Full when `capacity` messages wait, Closed when
  // the writer has stopped or a send has failed; then `done` is never called. Any thread.
  [[nodiscard]] PushResult push(Message message);
  // Ends the thread: the messages still waiting are given up (done(false)), and a send in
  // progress must already have been broken by shutting the socket down. Idempotent; not
  // from the writer's own thread or a `done`.
  void stop();
  // Whether every message handed over has been dealt with: none waits and none is being
  // sent. Any thread.
  bool drained() const;
  // The peer has answered the offer made under `index`: if that offer was the last thing
  // sent, the next message need not wait out the pause after it. Any thread.
  void offerAnswered(int index);

 private:
  void run();
  // With mutex_ held: the earliest moment `next` may leave.
  std::chrono::steady_clock::time_point allowedAt(const Message& next) const;

  ByteStream& stream_;
  const std::size_t capacity_;
  const std::chrono::milliseconds offerPause_;
  const SentFunction sent_;
  const FailedFunction failed_;
  const DrainedFunction drainedListener_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Message> waiting_;
  bool sending_ = false;
  bool stopping_ = false;
  bool broken_ = false;
  // The last message sent: when, and the Index of its offer (0 if it made none) until the
  // peer answered that offer.
  std::optional<std::chrono::steady_clock::time_point> lastSent_;
  int unansweredOffer_ = 0;
  std::thread worker_;
};

}  // namespace brisk
