#pragma once

#include <string>
#include <string_view>

namespace brisk {

// The longest name announced or shown, in bytes: a DNS label holds at most 63.
inline constexpr std::size_t kMaxDisplayNameBytes = 63;

// Makes a name from the network (or typed by the person) safe to show as plain text:
// invalid UTF-8 becomes U+FFFD, control characters and the characters that reorder text
// (bidirectional marks, embeddings, overrides and isolates) are dropped, surrounding
// spaces trimmed, and the result cut to kMaxDisplayNameBytes on a character boundary.
std::string sanitizeDisplayName(std::string_view raw);

// The name this computer is announced under when the person chose none: the account's
// full name, else the login name, with the host name, "Alice Smith (laptop)".
std::string defaultDisplayName();

}  // namespace brisk
