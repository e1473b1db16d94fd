#pragma once

#include <cstdint>
#include <string>

namespace brisk {

// The control messages this side sends, each composed here and nowhere else, as UTF-8
// text (Peer::sendText puts it on the wire). Every one but the offer's header ends with
// "\r\n"; the dispatcher of the peer reads them with the keys of wire_keys.h.

// "TRANSFILE:ASK:Index:N\r\n": the first line of an offer; its body follows.
std::string askHeader(int index);
// The acceptance of an offer by a side that connects for the data: it waits for PORT.
std::string replyYes(int index);
// The acceptance of an offer by a side that listens for the data on `dataPort`.
std::string replyYesWithPort(std::int64_t dataPort, int index);
// The person refused the offer.
std::string replyNo(int index);
// Both sides offered under the same Index; the peer's offer fails.
std::string replySlotInUse(int index);
// The data port `named` cannot be used (its low 16 bits are 0).
std::string replyInvalidDataPort(std::int64_t named, int index);
// The offer does not fit the free space where it was to be saved.
std::string replyNotEnoughSpace(int index);
// The single offered file's name cannot be saved as sent.
std::string replyInvalidFileName(int index);
// Choosing where to save failed or was closed; `dialog` names the step.
std::string replyChoiceFailed(const std::string& dialog, int index);
// The offering side listens for the data on `dataPort`: the connecting receiver may start.
std::string portMessage(std::int64_t dataPort, int index);
// The offering side withdraws its offer before an answer.
std::string cancelMessage(int index);
// Either side stops a transfer under way.
std::string stopMessage(int index);

}  // namespace brisk
