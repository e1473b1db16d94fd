#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "common/notices.h"
#include "common/thread_set.h"
#include "common/timing.h"
#include "link/link_context.h"
#include "link/offer_slots.h"

namespace brisk::fuzz {

// The Peer's side of the link code without a network: what is sent is kept, offers go out
// at once, and the connection ends when the fuzzer says so. Messages handed to
// dispatchControlMessage act on real offer slots and start real threads.
class LinkHarness : public LinkContext {
 public:
  LinkHarness(Frontend& frontend, const Timing& timing, bool connecting, int controlPort)
      : frontend_(frontend),
        timing_(timing),
        notices_(frontend_, timing_),
        offers_(frontend_),
        connecting_(connecting),
        controlPort_(controlPort) {}
  ~LinkHarness() {
    stopping_ = true;
    offers_.stop();
    threads_.joinAll();
  }

  // The connection ends as the Peer's does: nothing can be sent, and the offers waiting
  // for an answer, a person or a port end.
  void endLink() {
    connected_ = false;
    offers_.endWaitingOffers();
  }
  // Waits for every thread the link code started; they must end on their own.
  void joinThreads() { threads_.joinAll(); }

  Frontend& frontend() override { return frontend_; }
  const Notices& notices() const override { return notices_; }
  const Timing& timing() const override { return timing_; }
  OfferSlots& offers() override { return offers_; }
  int sendText(const std::string& text) override {
    if (!connected_) return -1;
    std::lock_guard lock(mutex_);
    sent_.push_back(text);
    return static_cast<int>(text.size());
  }
  void offerAnswered(int) override {}
  std::uint64_t reserveOfferPlace() override { return connected_ ? ++places_ : 0; }
  bool queueOffer(std::uint64_t, int, const std::string& text,
                  std::function<void(bool sent)> done) override {
    done(sendText(text) >= 0);
    return true;
  }
  void withdrawOfferPlace(std::uint64_t) override {}
  void startThread(std::function<void()> work) override { threads_.start(std::move(work)); }
  bool stopping() const override { return stopping_; }
  bool connected() const override { return connected_; }
  bool connectingPeer() const override { return connecting_; }
  int controlPort() const override { return controlPort_; }
  IpAddress controlPeerAddress() const override { return *IpAddress::parseDotted("127.0.0.1"); }
  // The plain protocol's session: nothing encrypted, no capabilities.
  bool sessionEncrypted() const override { return false; }
  std::vector<std::string> sharedCapabilities() const override { return {}; }
  DataSessionStart dataSessionFor(int) override { return {}; }
  bool autoClose() const override { return false; }
  void setAutoClose(bool) override {}

 private:
  Frontend& frontend_;
  const Timing timing_;
  const Notices notices_;
  OfferSlots offers_;
  const bool connecting_;
  const int controlPort_;
  std::atomic<bool> connected_{true};
  std::atomic<bool> stopping_{false};
  std::atomic<std::uint64_t> places_{0};
  std::mutex mutex_;
  std::vector<std::string> sent_;
  ThreadSet threads_;
};

}  // namespace brisk::fuzz
