#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "link/message_fields.h"

namespace brisk {

// What an offer tells the receiving side.
struct OfferTerms {
  int fileCount = 1;            // 1: one file; -1: one folder; else the number of items
  std::uint64_t totalSize = 0;  // 0: the offer names no total (one file)
  // The fewest bytes the offer stands for: its total, or for one file the size its item
  // line names.
  std::uint64_t offeredBytes = 0;
  std::string body;  // UTF-8, without a single item's totals
  // The first item's name as sent (GBK bytes), up to its tab or line break: the name a
  // single file is saved under is checked on these bytes, before anything is decoded.
  std::string firstNameWire;
};

// What follows "PORT:" in a PORT message or in an acceptance that names the data port.
struct PortField {
  bool found = false;
  bool overflow = false;
  std::int64_t named = 0;  // as written; used by its low 16 bits
};

// One control message, read once where the framer hands it over. Handlers act on these
// fields and never read the message's text again.
struct ControlMessage {
  ControlKind kind = ControlKind::Unknown;
  // The slot the message is about. Empty when it names none that can be used; `problem`
  // then says why.
  std::optional<int> index;
  // The notice for a message that cannot be acted on at all (no usable Index, an offer
  // whose totals cannot be read); empty when the message can be handled.
  std::string problem;
  PortField port;      // PORT and REPLY YES
  std::string reason;  // a failure reply: its reason, as sent (before " Index:")
  OfferTerms offer;    // ASK
};

// Reads a complete control message (GBK bytes as received, beginning "TRANSFILE:").
ControlMessage parseControlMessage(std::string_view wire);

// The notice for a port field no data connection can use: missing, too long a number, or
// a number whose low 16 bits are 0 (port 0 means "any port", which no peer can find).
// Nothing when the port can be used.
std::optional<std::string> portProblem(const PortField& port);

// The notice for a data port this side names itself that no peer could reach (see
// portProblem); nothing when it can be used.
std::optional<std::string> namedPortProblem(std::int64_t named);

}  // namespace brisk
