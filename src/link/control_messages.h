#pragma once

#include <string>

namespace brisk {

class Peer;

// Acts on one control message (a complete "TRANSFILE:" message as received, GBK bytes).
// An offer (ASK) is checked against the slot tables here and then waits for the person on
// a thread of its own; every other message runs on the control receive thread, which reads nothing
// more until it returns.
void dispatchControlMessage(Peer& peer, const std::string& message);

}  // namespace brisk
