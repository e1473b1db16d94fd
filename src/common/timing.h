#pragma once

#include <chrono>

namespace brisk {

// The program's fixed delays and limits, in one place. Production code uses the defaults;
// tests shorten them so that the suite stays fast.
struct Timing {
  using ms = std::chrono::milliseconds;

  ms noticePause{200};          // after a notice, so that bursts of notices are spaced out
  ms messagePause{100};         // after starting a transfer, before reading on
  ms acceptLimit{8000};         // a data connection's peer must connect within this
  ms progressTick{100};         // the progress bars move at every tick, the texts every 10th
  ms retryWait{20};             // before retrying a send or receive that would block
  ms partialMessageWait{2000};  // how long an incomplete control message may wait for its rest
  ms offerPause{1000};          // after an offer, before the person's next message goes out
};

}  // namespace brisk
