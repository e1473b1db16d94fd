#pragma once

#include <functional>
#include <optional>
#include <string>

namespace brisk::test {

// Runs `body` in a child process inside new network and host-name namespaces: the network
// holds only a loopback interface (down), so no lookup or packet can leave the machine.
// With `hostName` the child's host name is set to it. Returns what `body` returned, or
// nothing when the namespaces cannot be made here (it needs root).
std::optional<std::string> runWithoutNetwork(const std::function<std::string()>& body,
                                             const char* hostName = nullptr);

// Inside runWithoutNetwork: gives the loopback interface `dotted` as its address and
// brings it up, so that the machine has one address that is not 127.x. False on failure.
bool addAddressToLoopback(const char* dotted);

// Inside runWithoutNetwork: brings the loopback interface up with ::1 alone (its IPv4
// address removed), so that only IPv6 works. False on failure.
bool keepOnlyIpv6Loopback();

// Inside runWithoutNetwork: gives this process (and its children) a hosts file of its own,
// with `lines` alone, through a mount namespace of its own. False on failure.
bool useHostsFile(const std::string& lines);

}  // namespace brisk::test
