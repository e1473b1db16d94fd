#include "link/outgoing_queue.h"

#include <utility>

namespace brisk {

OutgoingQueue::OutgoingQueue(SendFunction send, std::chrono::milliseconds offerPause,
                             std::size_t capacity)
    : send_(std::move(send)), offerPause_(offerPause), capacity_(capacity) {
  worker_ = std::thread([this] { run(); });
}

bool OutgoingQueue::push(Message message) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ || waiting_.size() >= capacity_) return false;
    waiting_.push_back(std::move(message));
  }
  changed_.notify_all();
  return true;
}

bool OutgoingQueue::busy() const {
  std::lock_guard lock(mutex_);
  return sending_ || !waiting_.empty();
}

void OutgoingQueue::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    waiting_.clear();
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void OutgoingQueue::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
    if (stopping_) return;
    // The pause after an offer; what the person did meanwhile waits its turn.
    if (changed_.wait_until(lock, nextAllowed_, [this] { return stopping_; })) return;
    Message message = std::move(waiting_.front());
    waiting_.pop_front();
    sending_ = true;
    lock.unlock();
    const bool sent = send_(message);
    if (sent && message.isOffer) nextAllowed_ = std::chrono::steady_clock::now() + offerPause_;
    if (message.done) message.done(sent);
    lock.lock();
    sending_ = false;
  }
}

}  // namespace brisk
