#pragma once

#include <memory>

#include "discovery/discovery_backend.h"

namespace brisk {

// Discovery through the system's Avahi daemon over D-Bus. All Avahi work runs on Avahi's
// own thread; announce() and withdraw() only record what is wanted and wake that thread,
// so they never wait for the daemon. When the system bus or the daemon is missing, or the
// daemon goes away, it reports discovery unavailable and tries again every second: a
// daemon started later is picked up and a restarted one is used again.
class AvahiDiscovery : public DiscoveryBackend {
 public:
  AvahiDiscovery();
  // Stops Avahi's thread and leaves the daemon, which takes the announcement back.
  ~AvahiDiscovery() override;
  AvahiDiscovery(const AvahiDiscovery&) = delete;
  AvahiDiscovery& operator=(const AvahiDiscovery&) = delete;

  void start(DiscoverySink sink) override;
  void announce(const std::string& name, int port, const PeerHints& hints) override;
  void withdraw() override;

 private:
  struct Worker;
  std::unique_ptr<Worker> worker_;
};

}  // namespace brisk
