#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace brisk {

// The person's messages (chat lines and offers) on their way to the peer, in the order
// they were made, including offers still being composed. One worker thread hands them to
// the control writer one at a time, each once the one before it has gone out, so the
// caller (the window's thread) never waits for the network and the writer never holds more
// than one of them behind its pauses. Messages of the receive, dispatcher, waiting and
// transfer threads do not pass through here.
class OutgoingQueue {
 public:
  struct Message {
    std::string wire;     // the bytes to send (GBK)
    std::string logText;  // what the log shows once they went out
    int offerIndex = 0;   // the Index of the offer an ASK makes; 0 for a chat line
    // Called on the worker thread after the attempt, with whether the message went out.
    std::function<void(bool sent)> done;
  };
  // Sends one message and echoes it; shows its own notice and returns false on failure.
  using SendFunction = std::function<bool(const Message&)>;

  // Starts the worker. At most `capacity` messages wait at a time. `emptied` runs on the
  // worker each time it is done with a message and nothing more waits.
  OutgoingQueue(SendFunction send, std::size_t capacity, std::function<void()> emptied = {});
  ~OutgoingQueue() { stop(); }
  OutgoingQueue(const OutgoingQueue&) = delete;
  OutgoingQueue& operator=(const OutgoingQueue&) = delete;

  // Queues `message` behind the ones before it and returns at once; false when the queue
  // is full or stopped (then `done` is never called). Any thread.
  [[nodiscard]] bool push(Message message);
  // Keeps a place for a message still being composed (an offer whose folders are being
  // totalled): what is queued later waits behind it, so the wire keeps the order in which
  // the person acted. Returns the place, or 0 when the queue is full or stopped.
  [[nodiscard]] std::uint64_t reserve();
  // Puts the message into its place; false when the queue stopped meanwhile (then `done`
  // is never called).
  [[nodiscard]] bool fill(std::uint64_t place, Message message);
  // Gives a place up; the messages behind it go on.
  void withdraw(std::uint64_t place);
  // Drops the chat lines that wait; offers, and places kept for offers still being
  // composed, stay, so that each is still sent or released with its notice. For the end
  // of the connection the lines were meant for.
  void dropWaiting();
  // Whether a message waits or is being sent.
  bool busy() const;
  // Drops the messages still waiting (their `done` is not called) and joins the worker
  // once the message it is sending is done. Idempotent; not from the worker itself.
  void stop();

 private:
  struct Entry {
    std::uint64_t place = 0;
    bool ready = false;
    Message message;
  };
  void run();
  bool frontReady() const { return !waiting_.empty() && waiting_.front().ready; }

  const SendFunction send_;
  const std::size_t capacity_;
  const std::function<void()> emptied_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Entry> waiting_;
  std::uint64_t lastPlace_ = 0;
  bool sending_ = false;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace brisk
