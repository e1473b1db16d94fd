#include "cli/peer_browse.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <utility>

#include "cli/peer_run.h"

namespace brisk {

int browsePeers(std::unique_ptr<DiscoveryBackend> discovery, std::chrono::milliseconds wait,
                std::ostream& out, std::ostream& errors, PeerList::VerifiedTestSource verified) {
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<DiscoveryEvent> events;
  discovery->start([&](DiscoveryEvent event) {
    {
      std::lock_guard lock(mutex);
      events.push_back(std::move(event));
    }
    arrived.notify_one();
  });

  PeerList list(std::move(verified));
  bool answered = false;
  std::string reason = "avahi-daemon did not answer";
  const auto deadline = std::chrono::steady_clock::now() + wait;
  {
    std::unique_lock lock(mutex);
    for (;;) {
      while (!events.empty()) {
        const DiscoveryEvent event = std::move(events.front());
        events.pop_front();
        list.apply(event);
        if (const auto* change = std::get_if<AvailabilityChanged>(&event)) {
          answered = true;
          if (!change->available) reason = change->reason;
        }
      }
      // Unavailable now: the person asked about the network as it is, so no waiting for
      // the daemon to come back.
      if (answered && !list.available()) break;
      if (!arrived.wait_until(lock, deadline, [&] { return !events.empty(); })) break;
    }
  }
  // No more events may arrive once the list is read.
  discovery.reset();

  if (!answered || !list.available()) {
    errors << "brisk-peer: local network discovery is unavailable: " << reason << "\n";
    return kExitLinkFailed;
  }
  for (const DiscoveredPeer& peer : list.peers()) {
    out << peer.name << '\t' << peer.address << '\t' << peer.port << '\t'
        << (peer.hints.encryptedPort ? std::to_string(*peer.hints.encryptedPort) : "-") << '\t'
        << (peer.verified ? kVerifiedPrefixMark : "-") << '\n';
  }
  out.flush();
  return 0;
}

}  // namespace brisk
