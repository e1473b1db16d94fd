#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/byte_stream.h"
#include "secure/fingerprint.h"

namespace brisk {

// The lines an encrypted session exchanges before the protocol's own messages begin, each
// ending with "\r\n":
//   BRISK-HELLO known|new <name>        right after the handshake: whether this side has
//                                       verified the peer's key before, and its own name
//   BRISK-COMMIT <64 lower-case hex>    first contact: the commitment to a nonce
//   BRISK-REVEAL <64 lower-case hex>    first contact: the nonce itself
//   BRISK-CONFIRM                       the person pressed 相同
//   BRISK-DENY                          the person pressed 不同 (or the side gave up)
//   BRISK-CAPS <version> [<word>,<word>...]   what this side's program can do
// Each has exactly one written form, so that the parser is strict and simple: anything
// else is refused with a reason. Only the name of HELLO may hold bytes beyond ASCII (it is
// UTF-8 text, shown to the person and kept with the peer's key); no line holds controls.
enum class SessionLineKind { Hello, Commit, Reveal, Confirm, Deny, Caps };

struct SessionLine {
  SessionLineKind kind = SessionLineKind::Deny;
  Digest value{};                         // Commit, Reveal
  unsigned version = 0;                   // Caps: 1 to kMaxSessionVersion
  std::vector<std::string> capabilities;  // Caps: as sent, unknown ones included
  bool knowsPeer = false;                 // Hello: the sender has verified our key before
  std::string name;                       // Hello: 1 to kMaxPeerNameBytes

  friend bool operator==(const SessionLine&, const SessionLine&) = default;
};

inline constexpr std::size_t kMaxSessionLineBytes = 512;
inline constexpr std::size_t kMaxPeerNameBytes = 200;
inline constexpr unsigned kMaxSessionVersion = 99999;
inline constexpr std::size_t kMaxCapabilities = 32;
// A capability word: 1 to 32 of a-z, 0-9 and "-", not beginning with "-".
inline constexpr std::size_t kMaxCapabilityBytes = 32;

// This program's version of the session lines (what it can do beyond the protocol is
// named by the layer that does it).
inline constexpr unsigned kSessionVersion = 1;

struct SessionLineParse {
  std::optional<SessionLine> line;
  std::string error;  // why the line was refused, for the person
};

// Reads one whole line, "\r\n" included.
SessionLineParse parseSessionLine(std::string_view bytes);

// An empty or overlong name is sent as the longest valid prefix, or "?".
std::string helloLine(bool knowsPeer, std::string_view name);
std::string commitLine(const Digest& commitment);
std::string revealLine(const Digest& nonce);
std::string confirmLine();
std::string denyLine();
// The words must be capability words (see above); at most kMaxCapabilities.
std::string capsLine(unsigned version, const std::vector<std::string>& capabilities);

// The capabilities both sides have, in this side's order; words this side does not know
// are left out, so a newer peer never gets something this side cannot do.
std::vector<std::string> agreedCapabilities(const std::vector<std::string>& ours,
                                            const std::vector<std::string>& theirs);

// Reads one line from `stream`, a byte at a time so that nothing after it is taken from
// the stream, until "\r\n" or `deadline`.
struct SessionLineRead {
  enum class Status { Line, TimedOut, Ended, Failed, TooLong };
  Status status = Status::Failed;
  std::string bytes;  // the line, "\r\n" included
};
SessionLineRead readSessionLine(ByteStream& stream, std::chrono::steady_clock::time_point deadline);

}  // namespace brisk
