#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/frontend.h"
#include "common/notices.h"
#include "common/timing.h"
#include "platform/byte_stream.h"
#include "platform/socket.h"

namespace brisk {

// The data connection of an encrypted session, made over a connected socket, or why it
// could not be made (for the person).
struct DataStreamStart {
  std::unique_ptr<ByteStream> stream;
  std::string failure;
};
// Runs the handshake of an encrypted data connection over `socket` (`connecting`: this
// side connected), waiting at most `limit`.
using DataSessionStart =
    std::function<DataStreamStart(Socket socket, bool connecting, std::chrono::milliseconds limit)>;

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
  // Set when the control connection is an encrypted session: every data connection of
  // the transfer is one too, and a peer that cannot make it is refused. Empty: plain.
  DataSessionStart secureData = {};
};

// The capability word of streamed transfers in an encrypted session's capability line.
inline constexpr std::string_view kStreamedCapability = "stream2";

}  // namespace brisk
