#pragma once

#include <functional>
#include <string>
#include <variant>

#include "discovery/peer_hints.h"

namespace brisk {

// The network protocol a discovery result came in on.
enum class IpProtocol { V4, V6 };

// One resolved announcement of one peer, as seen on one interface over one protocol. The
// same peer usually arrives several times (each interface, IPv4 and IPv6).
struct ServiceFound {
  std::string name;     // the instance name, as received (not yet sanitised)
  std::string address;  // numeric, "192.168.1.20" or "fe80::1"
  int port = 0;
  int interfaceIndex = 0;
  IpProtocol protocol = IpProtocol::V4;
  bool ours = false;  // this program's own announcement, coming back to it
  PeerHints hints;    // what its text records tell, checked for form only
};

// One announcement that went away (its peer said goodbye, or its record expired).
struct ServiceLost {
  std::string name;
  int interfaceIndex = 0;
  IpProtocol protocol = IpProtocol::V4;
};

// Discovery works, or does not; `reason` says why not in one line.
struct AvailabilityChanged {
  bool available = false;
  std::string reason;
};

// This program's announcement is up under `name` (which the daemon may have renamed after
// a clash with another computer's name), or, with an empty name, no longer up.
struct AnnouncedAs {
  std::string name;
};

using DiscoveryEvent = std::variant<ServiceFound, ServiceLost, AvailabilityChanged, AnnouncedAs>;

// Receives the backend's events, as values. It is called on the backend's own thread and
// must only hand the event over (queue it), never block.
using DiscoverySink = std::function<void(DiscoveryEvent)>;

// Finds peers on the local network and announces this one. Implementations never block
// the caller on the network or on the daemon. Any thread may call; events go to the sink.
class DiscoveryBackend {
 public:
  virtual ~DiscoveryBackend() = default;

  // Starts browsing; every event from now on goes to `sink`. Called once.
  virtual void start(DiscoverySink sink) = 0;
  // Announces this computer under `name` with the control port `port` and `hints` in its
  // text records, replacing an announcement made before.
  virtual void announce(const std::string& name, int port, const PeerHints& hints) = 0;
  // Takes the announcement back; nothing happens when none is up.
  virtual void withdraw() = 0;
};

// The DNS-SD service type every Brisk announces and browses for.
inline constexpr const char* kServiceType = "_brisk._tcp";

}  // namespace brisk
