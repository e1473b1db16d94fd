#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace brisk {

// What follows a key in a control message, read like the standard decimal conversion: an
// optional sign and the leading digits (0 when there are none).
struct MessageNumber {
  bool found = false;     // the key is in the message
  bool overflow = false;  // the digits do not fit
  std::int64_t value = 0;
};

// What a control message asks for, by the word after "TRANSFILE:" (and, for a reply, the
// word after "REPLY"). A reply that is neither YES nor NO tells of a failure on the peer.
enum class ControlKind { Ask, ReplyYes, ReplyNo, ReplyFailed, Port, Cancel, Stop, Unknown };

// The kind of `message`, which begins with "TRANSFILE:".
ControlKind controlKindOf(std::string_view message);

// The number right after the first `key` in `message`.
MessageNumber numberAfter(std::string_view message, std::string_view key);

// The unsigned number right after the first `key` at or after `from`.
MessageNumber unsignedAfter(std::string_view message, std::string_view key, std::size_t from = 0);

}  // namespace brisk
