// Offers one file again and again on one control connection, each offer after the last
// transfer has ended, and reports the resident memory and open descriptors of this process
// and of the peer process after the first hundred transfers and at the end.
//   brisk_offer_loop PORT FILE COUNT PEER_PID

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "common/silent_frontend.h"
#include "link/peer.h"

namespace {

using namespace brisk;

// Shows nothing; waits out the offering prompt until the peer's answer closes it, and
// counts the own offers that failed and the transfers' verdicts.
class CountingFrontend : public SilentFrontend {
 public:
  void showLinkState(LinkState state) override {
    std::lock_guard lock(mutex_);
    connected_ = state == LinkState::Connected;
    changed_.notify_all();
  }
  void showNotice(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  void showNoticeModal(const std::string& text) override { showNotice(text); }
  PromptAnswer showPrompt(PromptHandle& handle, const PromptRequest&) override {
    bool closed = false;
    handle.setCloseHook([&] {
      std::lock_guard lock(mutex_);
      closed = true;
      changed_.notify_all();
    });
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return closed; });
    }
    handle.clearCloseHook();
    return PromptAnswer::None;
  }
  TransferWindowId openTransferWindow(const TransferWindowSetup&) override { return 1; }
  void offerEnded(const OfferEnd& end) override {
    if (!end.ownOffer || end.outcome == OfferOutcome::Accepted) return;
    std::lock_guard lock(mutex_);
    ++failedOffers_;
    changed_.notify_all();
  }
  void transferEnded(const TransferEnd& end) override {
    std::lock_guard lock(mutex_);
    ++verdicts_;
    if (end.complete) ++complete_;
    changed_.notify_all();
  }

  bool waitConnected() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return connected_; });
  }
  int verdicts() {
    std::lock_guard lock(mutex_);
    return verdicts_;
  }
  int failedOffers() {
    std::lock_guard lock(mutex_);
    return failedOffers_;
  }
  // Waits until the offer made after `failedBefore` failures has ended: true when its
  // transfer gave verdict number `verdict`, false when the offer failed or nothing came.
  bool waitForVerdict(int verdict, int failedBefore) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(30),
                      [&] { return verdicts_ >= verdict || failedOffers_ > failedBefore; });
    return verdicts_ >= verdict;
  }
  int complete() {
    std::lock_guard lock(mutex_);
    return complete_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool connected_ = false;
  int verdicts_ = 0;
  int complete_ = 0;
  int failedOffers_ = 0;
};

// Waits until nothing is under way any more, so the next offer gets Index 1 again.
bool waitUntilSlotsFree(Peer& peer) {
  return peer.waitUntilIdle(std::chrono::seconds(30));
}

long residentKiB(const std::string& pid) {
  std::ifstream status("/proc/" + pid + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
  }
  return -1;
}

int openDescriptors(const std::string& pid) {
  int count = 0;
  if (DIR* folder = ::opendir(("/proc/" + pid + "/fd").c_str())) {
    while (const dirent* entry = ::readdir(folder)) count += entry->d_name[0] != '.';
    ::closedir(folder);
  }
  return count;
}

// The fewest descriptors seen over half a second: a side that has just given its verdict
// may still be closing the transfer's file and data connection, which is not a leak, while
// a leaked descriptor stays open for the whole window.
int settledDescriptors(const std::string& pid) {
  int fewest = openDescriptors(pid);
  for (int i = 0; i < 50; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    fewest = std::min(fewest, openDescriptors(pid));
  }
  return fewest;
}

void report(const char* when, const std::string& peerPid) {
  // Reading this process's own descriptors takes one descriptor of its own.
  const int ownDescriptors = settledDescriptors("self") - 1;
  std::printf("%-16s sender: %6ld KiB, %3d fds   receiver: %6ld KiB, %3d fds\n", when,
              residentKiB("self"), ownDescriptors, residentKiB(peerPid),
              settledDescriptors(peerPid));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: brisk_offer_loop PORT FILE COUNT PEER_PID\n");
    return 2;
  }
  const std::string port = argv[1];
  const std::filesystem::path file = std::filesystem::absolute(argv[2]);
  const int count = std::stoi(argv[3]);
  const std::string peerPid = argv[4];
  CountingFrontend frontend;
  Peer peer(frontend);
  peer.connect("127.0.0.1", std::stoi(port));
  if (!frontend.waitConnected()) {
    std::fprintf(stderr, "could not connect\n");
    return 3;
  }
  int refused = 0;
  for (int done = 1; done <= count; ++done) {
    // The receiving side frees its slot a moment after its verdict; an offer that comes
    // sooner is answered with an error and made again.
    for (;;) {
      const int failedBefore = frontend.failedOffers();
      peer.offerFiles({file});
      // The offer is composed on a thread of the Peer: its end, not the slots, tells.
      const bool transferred = frontend.waitForVerdict(done, failedBefore);
      if (!waitUntilSlotsFree(peer) || (!transferred && frontend.failedOffers() == failedBefore)) {
        std::fprintf(stderr, "offer %d did not end\n", done);
        return 1;
      }
      if (transferred) break;
      if (!peer.connected()) {
        std::fprintf(stderr, "the connection ended at offer %d\n", done);
        return 1;
      }
      ++refused;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (done == 100 || done == count) {
      report(done == 100 ? "after 100:" : ("after " + std::to_string(done) + ":").c_str(), peerPid);
    }
  }
  std::printf("offers answered with an error and made again: %d\n", refused);
  std::printf("complete: %d/%d\n", frontend.complete(), count);
  peer.shutdown();
  // One verdict per offer that was transferred, never more.
  return frontend.complete() == count && frontend.verdicts() == count ? 0 : 1;
}
