#pragma once

#include <string>

namespace brisk {

class Peer;

// Acts on one control message (a complete "TRANSFILE:" message as received, GBK bytes).
// An offer (ASK) is handed over on a thread of its own, since it waits for the person;
// every other message runs on the control receive thread, which reads nothing more until
// it returns.
void dispatchControlMessage(Peer& peer, const std::string& message);

}  // namespace brisk
