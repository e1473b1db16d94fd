#include "link/control_writer.h"

#include <utility>

#include "platform/socket.h"

namespace brisk {

ControlWriter::ControlWriter(int fd, std::size_t capacity, SentFunction sent, FailedFunction failed)
    : fd_(fd), capacity_(capacity), sent_(std::move(sent)), failed_(std::move(failed)) {
  worker_ = std::thread([this] { run(); });
}

ControlWriter::PushResult ControlWriter::push(Message message) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ || broken_) return PushResult::Closed;
    if (waiting_.size() >= capacity_) return PushResult::Full;
    waiting_.push_back(std::move(message));
  }
  changed_.notify_all();
  return PushResult::Queued;
}

void ControlWriter::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
}

bool ControlWriter::drained() const {
  std::lock_guard lock(mutex_);
  return waiting_.empty() && !sending_;
}

void ControlWriter::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
    if (waiting_.empty()) return;
    Message message = std::move(waiting_.front());
    waiting_.pop_front();
    sending_ = true;
    const bool givenUp = stopping_ || broken_;
    lock.unlock();
    // The socket is blocking: a peer that stops reading holds only this thread, until
    // the connection is shut down.
    const bool sent = !givenUp && sendAllOn(fd_, message.wire) >= 0;
    if (sent) {
      sent_(message);
    } else if (!givenUp) {
      failed_();
    }
    if (message.done) message.done(sent);
    lock.lock();
    sending_ = false;
    if (!sent) broken_ = true;
  }
}

}  // namespace brisk
