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

}  // namespace brisk::test
