#include <chrono>
#include <clocale>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <sys/ioctl.h>
#include <unistd.h>

#include "cli/options.h"
#include "cli/peer_browse.h"
#include "cli/peer_run.h"
#include "cli/secure_commands.h"
#include "discovery/avahi_discovery.h"
#include "secure/private_file.h"
#include "secure/trusted_prefixes.h"

int main(int argc, char* argv[]) {
  // System error texts follow the person's language; the wire text codec ignores the locale.
  std::setlocale(LC_ALL, "");
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  brisk::ParsedCommandLine parsed = brisk::parseCommandLine(arguments);
  if (parsed.helpRequested) {
    std::cout << brisk::usageText();
    return 0;
  }
  if (!parsed.options) {
    std::cerr << "brisk-peer: " << parsed.error << "\n" << brisk::usageSummary();
    return brisk::kExitUsage;
  }
  if (parsed.options->role == brisk::PeerOptions::Role::Peers) {
    // Peers announcing the fingerprint prefix of a verified peer are marked.
    auto prefixes = std::make_shared<brisk::TrustedPrefixes>(
        std::make_shared<brisk::TrustStore>(brisk::TrustStore::fileIn(brisk::settingsFolder())));
    return brisk::browsePeers(std::make_unique<brisk::AvahiDiscovery>(),
                              std::chrono::seconds(parsed.options->waitSeconds), std::cout,
                              std::cerr,
                              brisk::verifiedByPrefix([prefixes] { return prefixes->current(); }));
  }
  if (parsed.options->role == brisk::PeerOptions::Role::Id) {
    return brisk::printIdentity(std::cout, std::cerr);
  }
  if (parsed.options->role == brisk::PeerOptions::Role::Trust) {
    return brisk::runTrustCommand(*parsed.options, std::cout, std::cerr);
  }
  if (const auto problem = brisk::resolvePaths(*parsed.options)) {
    std::cerr << "brisk-peer: " << *problem << "\n";
    return brisk::kExitUsage;
  }

  brisk::PeerIo io;
  io.inputFd = STDIN_FILENO;
  io.inputIsTerminal = ::isatty(STDIN_FILENO) == 1;
  io.output = &std::cout;
  io.outputIsTerminal = ::isatty(STDOUT_FILENO) == 1;
  io.errors = &std::cerr;
  io.errorsIsTerminal = ::isatty(STDERR_FILENO) == 1;
  io.columns = [] {
    winsize size{};
    return ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? static_cast<int>(size.ws_col) : 0;
  };
  return brisk::runPeer(*parsed.options, io);
}
