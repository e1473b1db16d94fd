#pragma once

#include "link/peer.h"

namespace brisk {

// Gives the window's Peer its encrypted sessions: this installation's identity (made on
// first use), the trusted peers beside the settings, the name peers remember it by (the
// name announced on the local network) and the choice 只使用加密连接. When the identity
// cannot be had, the person is told why and the window speaks only the plain protocol.
// Before the first Listen or Connect, on the GUI thread.
void startSecureSessions(Peer& peer);

}  // namespace brisk
