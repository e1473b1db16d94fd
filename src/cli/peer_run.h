#pragma once

#include <functional>
#include <ostream>

#include "cli/options.h"
#include "cli/terminal_frontend.h"

namespace brisk {

// The standard streams brisk-peer works with.
struct PeerIo {
  int inputFd = 0;
  bool inputIsTerminal = false;
  std::ostream* output = nullptr;
  bool outputIsTerminal = false;
  std::function<int()> columns;  // the terminal's width, 0 when unknown
  // With --json the lines a person reads go here, and only JSON goes to `output`.
  std::ostream* errors = nullptr;
  bool errorsIsTerminal = false;
};

// Exit statuses besides 0 and a signal's 128 + N, so that a script can tell what happened.
inline constexpr int kExitIncomplete = 1;  // the --once offer or transfer did not complete
inline constexpr int kExitUsage = 2;
inline constexpr int kExitLinkFailed = 3;  // a network failure: no link, or a broken transfer
inline constexpr int kExitRefused = 4;     // the --once offer was refused
inline constexpr int kExitStoppedByPeer = 5;
inline constexpr int kExitLocalDisk = 6;  // a file here could not be created, written or read

// The exit status of a --once run whose judged offer ended so.
int exitStatusFor(RunOutcome outcome);

// Runs brisk-peer with checked options (see resolvePaths) until it ends, and returns its
// exit status. While it runs, SIGINT, SIGTERM and SIGHUP end it cleanly and SIGPIPE is ignored.
int runPeer(const PeerOptions& options, const PeerIo& io);

}  // namespace brisk
