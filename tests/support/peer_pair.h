#pragma once

#include <string>

#include "link/peer.h"
#include "support/scripted_frontend.h"

namespace brisk::test {

// Makes `connector` connect to `listener` at `host` (127.0.0.1 unless given) on `port`. The listen
// socket opens on the listener's own thread, so a connect that came too early is tried again.
// Returns whether both sides are connected.
bool connectPeers(Peer& listener, ScriptedFrontend& listenerUi, Peer& connector,
                  ScriptedFrontend& connectorUi, int port, const std::string& host = "127.0.0.1");

// Whether every Index of `peer` is free: no offer and no transfer holds one. A side lets
// go of an Index just after its last message for it left, so a test that offers again
// under the same Index waits for this first.
bool slotsEmpty(Peer& peer);

}  // namespace brisk::test
