#pragma once

#include <optional>
#include <string>

#include "common/frontend.h"

namespace brisk {

// Where Connect goes: a host name or dotted address, and the control port.
struct LinkTarget {
  std::string host;
  int port = 0;
};

// The notice for a port box that names no port.
inline constexpr const char* kInvalidPortNotice = "端口无效：请填写 1 到 65535 之间的端口号。";

// The port box as both front ends read it before Listen or Connect: its first 5
// characters, leading digits, 1 to 65535 (0 would listen on a port no peer can find).
// Nothing, after the notice above, when it names no port.
std::optional<int> readPortBox(const std::string& portBoxText, Frontend& frontend);

// The address box (its first 79 characters) and the port box, for Connect.
std::optional<LinkTarget> readLinkBoxes(const std::string& addressBoxText,
                                        const std::string& portBoxText, Frontend& frontend);

}  // namespace brisk
