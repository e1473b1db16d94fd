#pragma once

#include <condition_variable>
#include <mutex>
#include <utility>

namespace brisk {

// The part of an answer the front end can give up on at shutdown, whatever its type.
class AnswerSlot {
 public:
  virtual ~AnswerSlot() = default;
  // Answers with "no answer" unless an answer came already.
  virtual void abandon() = 0;
};

// One answer a thread waits for while the GUI thread asks the person. The first answer
// counts; later ones (a button pressed while the window is being closed from elsewhere, the
// shutdown) are dropped. Any thread may answer; one thread waits.
template <typename T>
class PendingAnswer : public AnswerSlot {
 public:
  explicit PendingAnswer(T noAnswer) : noAnswer_(std::move(noAnswer)) {}

  void give(T value) {
    {
      std::lock_guard lock(mutex_);
      if (given_) return;
      value_ = std::move(value);
      given_ = true;
    }
    answered_.notify_all();
  }

  void abandon() override { give(noAnswer_); }

  bool given() const {
    std::lock_guard lock(mutex_);
    return given_;
  }

  // Blocks until an answer was given and returns it.
  T wait() {
    std::unique_lock lock(mutex_);
    answered_.wait(lock, [this] { return given_; });
    return value_;
  }

  // The answer once given (no waiting).
  T value() const {
    std::lock_guard lock(mutex_);
    return given_ ? value_ : noAnswer_;
  }

 private:
  const T noAnswer_;
  mutable std::mutex mutex_;
  std::condition_variable answered_;
  bool given_ = false;
  T value_{};
};

}  // namespace brisk
