#pragma once

#include <functional>
#include <ostream>

#include "cli/options.h"

namespace brisk {

// The standard streams brisk-peer works with.
struct PeerIo {
  int inputFd = 0;
  bool inputIsTerminal = false;
  std::ostream* output = nullptr;
  bool outputIsTerminal = false;
  std::function<int()> columns;  // the terminal's width, 0 when unknown
};

// Exit statuses besides 0 and a signal's 128 + N.
inline constexpr int kExitIncomplete = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitLinkFailed = 3;

// Runs brisk-peer with checked options (see resolvePaths) until it ends, and returns its
// exit status. While it runs, SIGINT, SIGTERM and SIGHUP end it cleanly and SIGPIPE is ignored.
int runPeer(const PeerOptions& options, const PeerIo& io);

}  // namespace brisk
