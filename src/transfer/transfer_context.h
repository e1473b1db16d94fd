#pragma once

#include <functional>

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
};

}  // namespace brisk
