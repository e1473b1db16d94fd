#include "link/outgoing_queue.h"

#include <algorithm>
#include <utility>

namespace brisk {

OutgoingQueue::OutgoingQueue(SendFunction send, std::size_t capacity, std::function<void()> emptied)
    : send_(std::move(send)), capacity_(capacity), emptied_(std::move(emptied)) {
  worker_ = std::thread([this] { run(); });
}

bool OutgoingQueue::push(Message message) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ || waiting_.size() >= capacity_) return false;
    waiting_.push_back({++lastPlace_, true, std::move(message)});
  }
  changed_.notify_all();
  return true;
}

std::uint64_t OutgoingQueue::reserve() {
  std::lock_guard lock(mutex_);
  if (stopping_ || waiting_.size() >= capacity_) return 0;
  waiting_.push_back({++lastPlace_, false, {}});
  return lastPlace_;
}

bool OutgoingQueue::fill(std::uint64_t place, Message message) {
  {
    std::lock_guard lock(mutex_);
    const auto entry = std::find_if(waiting_.begin(), waiting_.end(),
                                    [place](const Entry& e) { return e.place == place; });
    if (entry == waiting_.end()) return false;  // dropped by stop()
    entry->message = std::move(message);
    entry->ready = true;
  }
  changed_.notify_all();
  return true;
}

void OutgoingQueue::withdraw(std::uint64_t place) {
  {
    std::lock_guard lock(mutex_);
    std::erase_if(waiting_, [place](const Entry& e) { return e.place == place; });
  }
  changed_.notify_all();
}

void OutgoingQueue::dropWaiting() {
  std::lock_guard lock(mutex_);
  std::erase_if(waiting_, [](const Entry& e) { return e.ready && e.message.offerIndex == 0; });
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
    changed_.wait(lock, [this] { return stopping_ || frontReady(); });
    if (stopping_) return;
    Message message = std::move(waiting_.front().message);
    waiting_.pop_front();
    sending_ = true;
    lock.unlock();
    const bool sent = send_(message);
    if (message.done) message.done(sent);
    lock.lock();
    sending_ = false;
    if (waiting_.empty() && emptied_) {
      lock.unlock();
      emptied_();
      lock.lock();
    }
  }
}

}  // namespace brisk
