#include "link/control_writer.h"

#include <utility>

#include "platform/socket.h"

namespace brisk {

ControlWriter::ControlWriter(ByteStream& stream, std::size_t capacity,
                             std::chrono::milliseconds offerPause, SentFunction sent,
                             FailedFunction failed, DrainedFunction drained)
    : stream_(stream),
      capacity_(capacity),
      offerPause_(offerPause),
      sent_(std::move(sent)),
      failed_(std::move(failed)),
      drainedListener_(std::move(drained)) {
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

void ControlWriter::offerAnswered(int index) {
  {
    std::lock_guard lock(mutex_);
    if (index == 0 || unansweredOffer_ != index) return;
    unansweredOffer_ = 0;
  }
  changed_.notify_all();
}

std::chrono::steady_clock::time_point ControlWriter::allowedAt(const Message& next) const {
  if (!lastSent_) return {};
  const bool afterOffer = unansweredOffer_ != 0;
  const bool isOffer = next.offerIndex != 0;
  return afterOffer || isOffer ? *lastSent_ + offerPause_ : *lastSent_;
}

void ControlWriter::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
    if (waiting_.empty()) return;
    // The pause may end early (the offer was answered) or the writer stop meanwhile, so
    // the front is looked at again after every wake.
    if (!stopping_ && !broken_ && std::chrono::steady_clock::now() < allowedAt(waiting_.front())) {
      changed_.wait_until(lock, allowedAt(waiting_.front()));
      continue;
    }
    Message message = std::move(waiting_.front());
    waiting_.pop_front();
    sending_ = true;
    const bool givenUp = stopping_ || broken_;
    // Noted before the send: the peer may answer the offer before this thread looks again.
    if (!givenUp) unansweredOffer_ = message.offerIndex;
    lock.unlock();
    // The socket is blocking: a peer that stops reading holds only this thread, until
    // the connection is shut down.
    const bool sent = !givenUp && stream_.sendAll(message.wire) >= 0;
    const auto sentAt = std::chrono::steady_clock::now();
    if (sent) {
      sent_(message);
    } else if (!givenUp) {
      failed_();
    }
    if (message.done) message.done(sent);
    lock.lock();
    sending_ = false;
    if (sent) {
      lastSent_ = sentAt;
    } else {
      broken_ = true;
    }
    if (waiting_.empty() && drainedListener_) {
      lock.unlock();
      drainedListener_();
      lock.lock();
    }
  }
}

}  // namespace brisk
