// The load script's sending side, on a Peer of its own, in one of two ways:
//   brisk_offer_loop [--offer-pause MS] PORT FILE COUNT PEER_PID
// offers one file again and again on one control connection, each offer after the last
// transfer has ended, and reports the resident memory and open descriptors of this process
// and of the peer process after the first hundred transfers and at the end;
//   brisk_offer_loop [--offer-pause MS] --at-once PORT FILE...
// offers every FILE at once, each as an offer of its own, waits until each offer that found
// a free slot has ended, and reports how many transfers completed.
// MS is the pause after each offer before the next message goes out (the program's own
// when not given); the pacing has tests of its own, so a short pause makes the load quick
// without changing what it checks.

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/silent_frontend.h"
#include "common/timing.h"
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
  void showNoticeModal(const std::string& text) override {
    showNotice(text);
    // An offer that found every slot taken: it never had a slot, so no offerEnded follows.
    if (text == "同时传送的文件太多") {
      std::lock_guard lock(mutex_);
      ++tooMany_;
    }
  }
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
  int tooMany() {
    std::lock_guard lock(mutex_);
    return tooMany_;
  }
  // Waits until `offers` own offers have ended, with a verdict or as failed offers.
  bool waitForEnds(int offers, std::chrono::seconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return verdicts_ + failedOffers_ >= offers; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool connected_ = false;
  int verdicts_ = 0;
  int complete_ = 0;
  int failedOffers_ = 0;
  int tooMany_ = 0;
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

int offerOneAfterAnother(Peer& peer, CountingFrontend& frontend, const std::filesystem::path& file,
                         int count, const std::string& peerPid) {
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
  // One verdict per offer that was transferred, never more.
  return frontend.complete() == count && frontend.verdicts() == count ? 0 : 1;
}

int offerAtOnce(Peer& peer, CountingFrontend& frontend,
                const std::vector<std::filesystem::path>& files) {
  // Each call keeps its slot before it returns; the load script holds the receiving side
  // stopped meanwhile, so no transfer ends and frees its slot before the last offer.
  for (const std::filesystem::path& file : files) peer.offerFiles({file});
  const int made = static_cast<int>(files.size()) - frontend.tooMany();
  const bool ended =
      frontend.waitForEnds(made, std::chrono::seconds(120)) && waitUntilSlotsFree(peer);
  if (!ended) std::fprintf(stderr, "not every offer ended\n");
  std::printf("offers with a slot: %d; refused for too many transfers: %d\n", made,
              frontend.tooMany());
  std::printf("complete: %d/%d\n", frontend.complete(), made);
  return ended && frontend.complete() == made && frontend.verdicts() == made ? 0 : 1;
}

int usage() {
  std::fprintf(stderr,
               "usage: brisk_offer_loop [--offer-pause MS] PORT FILE COUNT PEER_PID\n"
               "       brisk_offer_loop [--offer-pause MS] --at-once PORT FILE...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  Timing timing;
  if (arguments.size() >= 2 && arguments[0] == "--offer-pause") {
    timing.offerPause = std::chrono::milliseconds(std::stoi(arguments[1]));
    arguments.erase(arguments.begin(), arguments.begin() + 2);
  }
  const bool atOnce = !arguments.empty() && arguments[0] == "--at-once";
  if (atOnce) arguments.erase(arguments.begin());
  if (atOnce ? arguments.size() < 2 : arguments.size() != 4) return usage();

  CountingFrontend frontend;
  Peer peer(frontend, timing);
  peer.connect("127.0.0.1", std::stoi(arguments[0]));
  if (!frontend.waitConnected()) {
    std::fprintf(stderr, "could not connect\n");
    return 3;
  }
  int status = 0;
  if (atOnce) {
    std::vector<std::filesystem::path> files;
    for (auto it = arguments.begin() + 1; it != arguments.end(); ++it) {
      files.push_back(std::filesystem::absolute(*it));
    }
    status = offerAtOnce(peer, frontend, files);
  } else {
    status = offerOneAfterAnother(peer, frontend, std::filesystem::absolute(arguments[1]),
                                  std::stoi(arguments[2]), arguments[3]);
  }
  peer.shutdown();
  return status;
}
