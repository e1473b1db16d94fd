// brisk-peer's command line: arguments cut from the input at its NUL bytes. Reading them
// must end in options, the help request or a usage error with its reason, never a crash;
// options that come back must hold what their use relies on.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli/options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brisk;
  std::vector<std::string> arguments;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  while (!rest.empty()) {
    const std::size_t end = rest.find('\0');
    arguments.emplace_back(rest.substr(0, end));
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  const ParsedCommandLine parsed = parseCommandLine(arguments);
  const int outcomes =
      (parsed.options ? 1 : 0) + (parsed.helpRequested ? 1 : 0) + (parsed.error.empty() ? 0 : 1);
  if (outcomes != 1) std::abort();
  if (parsed.options) {
    const int port = std::stoi(parsed.options->port);
    if (port < 1 || port > 65535) std::abort();
    if (parsed.options->role == PeerOptions::Role::Connect && parsed.options->address.empty()) {
      std::abort();
    }
  }
  return 0;
}
