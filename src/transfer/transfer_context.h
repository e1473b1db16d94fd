#pragma once

#include <functional>
#include <string_view>

#include "common/frontend.h"
#include "common/notices.h"
#include "common/timing.h"

namespace brisk {

// What a transfer thread needs of the program that runs it, so that the transfer engine
// does not depend on the peer link.
struct TransferContext {
  Frontend& frontend;
  const Notices& notices;
  const Timing& timing;
  // True once the program is shutting down; may be empty (never).
  std::function<bool()> stopping;

  // Both peers offered streamed transfers (kStreamedCapability) in an encrypted session:
  // the offer goes as a manifest and back-to-back data, checked end to end. Off, every
  // transfer uses the plain protocol byte for byte.
  bool streamed = false;
};

// The capability word of streamed transfers in an encrypted session's capability line.
inline constexpr std::string_view kStreamedCapability = "stream1";

}  // namespace brisk
