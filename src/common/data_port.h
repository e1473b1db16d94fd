#pragma once

#include <cstdint>

namespace brisk {

// The data port of a transfer in slot `index`: the side that listens for the data
// connection listens on the control port + Index + 1, and that is the number it names to
// the peer. Near the top of the range the sum passes 65535; it is named as it is.
inline int namedDataPort(int controlPort, int index) {
  return controlPort + index + 1;
}

// The port a named data port is used as: its low 16 bits, as the peer's own conversion
// into an address does. 0 would mean "any port", which no peer can find: such a port is
// unusable.
inline std::uint16_t dataPortNumber(std::int64_t named) {
  return static_cast<std::uint16_t>(named & 0xFFFF);
}

}  // namespace brisk
