#pragma once

#include <chrono>

namespace brisk {

// The program's fixed delays and limits, in one place. Production code uses the defaults;
// tests shorten them so that the suite stays fast.
struct Timing {
  using ms = std::chrono::milliseconds;

  ms noticePause{200};   // after a notice, so that bursts of notices are spaced out
  ms messagePause{100};  // after starting a transfer, before reading on
  // A data connection's peer must connect within this, and send its first record within
  // this once connected.
  ms acceptLimit{8000};
  // A data connection on which nothing moves this long while this side waits for the peer
  // (for a record, an answer, file data, or room to send) ends its transfer. The protocol
  // has no way to say "still here", so a peer whose person is slow to answer looks like
  // one that has gone; time this side spends asking its own person does not count.
  ms idleDataLimit{60000};
  ms progressTick{100};  // the progress bars move at every tick, the texts every 10th
  // Before connecting a data connection again when the peer does not listen yet.
  ms connectRetryWait{20};
  // A control message cut by the network may wait this long for its rest; then it is
  // taken as it is.
  ms controlRestWait{2000};
  // The same for a record of a data connection (a name, a size, an answer).
  ms recordRestWait{2000};
  // The sender reads "+N0" either as "+N" and its acknowledgement "0" or as one number:
  // this long it waits for an acknowledgement still to come before taking the first.
  ms acknowledgementWait{2000};
  // At the end of a transfer, how long the peer's closing is waited for, so that the
  // last line sent is not destroyed by a reset.
  ms closeDrainWait{2000};
  // A data connection the peer closed before the end: this long its STOP may still come,
  // so that a transfer the peer stopped on purpose shows no notice here.
  ms peerStopWait{500};
  ms offerPause{1000};  // after an offer, before the person's next message goes out
  // An unattended inbox lets go of a peer that connects and sends nothing this long.
  ms silentPeerLimit{30000};
  // Connecting tries the encrypted port first; a peer that does not answer there within
  // this is taken for one without it.
  ms encryptedPortWait{2000};
  // An encrypted session's handshake, and each of its exchanges before the person is
  // asked anything, must be done within this.
  ms handshakeLimit{10000};
  // Both people must have compared the code of a first contact within this.
  ms codeAnswerLimit{180000};
};

}  // namespace brisk
