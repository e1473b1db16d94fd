#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace brisk {

// The one thread that writes on a control connection. Every sender (the person's message
// queue, the receive, dispatcher, waiting and transfer threads) hands its message over and
// returns at once, so none of them waits for a peer that has stopped reading. Messages go
// out whole and in the order they were handed over.
class ControlWriter {
 public:
  struct Message {
    std::string wire;     // the bytes to send (GBK)
    std::string logText;  // what the log shows once they went out
    // Called once on the writer's thread: with true after the bytes went out, with false
    // when the connection failed or ended first.
    std::function<void(bool sent)> done;
  };
  // Called on the writer's thread for every message that went out, in order.
  using SentFunction = std::function<void(const Message&)>;
  // Called once on the writer's thread when a send fails.
  using FailedFunction = std::function<void()>;

  // Starts the thread that writes on `fd`, which the caller owns and keeps open until
  // stop() has returned. At most `capacity` messages wait at a time.
  ControlWriter(int fd, std::size_t capacity, SentFunction sent, FailedFunction failed);
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

 private:
  void run();

  const int fd_;
  const std::size_t capacity_;
  const SentFunction sent_;
  const FailedFunction failed_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Message> waiting_;
  bool sending_ = false;
  bool stopping_ = false;
  bool broken_ = false;
  std::thread worker_;
};

}  // namespace brisk
