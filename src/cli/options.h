#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "common/frontend.h"

namespace brisk {

// What brisk-peer was asked to do on its command line.
struct PeerOptions {
  enum class Role { Listen, Connect, Peers, Id, Trust };
  // One thing to do once the connection is up, in command-line order.
  struct Say {
    std::string text;
  };
  struct Send {
    std::vector<std::filesystem::path> paths;
  };
  using Action = std::variant<Say, Send>;

  Role role = Role::Listen;
  std::string address;        // connect only
  std::string port = "6000";  // digits, 1 to 65535
  std::optional<std::filesystem::path> saveTo;
  bool refuse = false;
  bool resume = false;
  std::optional<FileExistsAnswer> existsAnswer;  // nothing means the default
  std::optional<std::uint64_t> maxSize;          // offers larger than this are refused
  std::vector<Action> actions;
  bool once = false;
  bool keep = false;  // listen: listen again after each peer leaves
  bool json = false;  // events as JSON lines on standard output, the rest on standard error
  // listen: announce on the local network, under this name (the default name when empty)
  bool announce = true;
  std::string name;
  int waitSeconds = 3;             // peers: how long to look for peers
  bool plain = false;              // the plain port only: no encryption, no verification
  bool noStream = false;           // encrypted sessions: transfers use the protocol's records
  bool trustFirstContact = false;  // answer a first-contact code as equal (for tests)
  bool acceptAnyone = false;       // listen --keep: take sessions from unverified peers too
  // trust: "list", or "forget" with the peer in trustTarget: its fingerprint, the start
  // of it, or its name
  std::string trustAction;
  std::string trustTarget;
};

// The outcome of reading the command line: options to run with, a request for the help
// text, or a usage error with its reason.
struct ParsedCommandLine {
  std::optional<PeerOptions> options;
  bool helpRequested = false;
  std::string error;  // set for a usage error
};

// Reads the arguments after the program's name. Looks at nothing outside them.
ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments);

// Checks what the options name on disk: the save folder must be a folder and every path
// to send must exist. Makes those paths absolute. Returns an error text, or nothing.
std::optional<std::string> resolvePaths(PeerOptions& options);

// The help text, ending with a line break.
std::string usageText();
// The lines that show how brisk-peer is called, for a usage error.
std::string usageSummary();

}  // namespace brisk
