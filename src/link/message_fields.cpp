#include "link/message_fields.h"

#include <algorithm>
#include <limits>

#include "link/wire_keys.h"

namespace brisk {

namespace {

MessageNumber readNumber(std::string_view text, bool allowSign) {
  MessageNumber number;
  number.found = true;
  std::size_t at = 0;
  bool negative = false;
  if (allowSign && at < text.size() && (text[at] == '-' || text[at] == '+')) {
    negative = text[at] == '-';
    ++at;
  }
  std::uint64_t value = 0;
  const std::uint64_t limit = allowSign ? std::numeric_limits<std::int64_t>::max()
                                        : std::numeric_limits<std::uint64_t>::max();
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    const auto digit = static_cast<std::uint64_t>(text[at] - '0');
    if (value > (limit - digit) / 10) {
      number.overflow = true;
      return number;
    }
    value = value * 10 + digit;
  }
  number.value = static_cast<std::int64_t>(value);
  if (negative) number.value = -number.value;
  return number;
}

}  // namespace

ControlKind controlKindOf(std::string_view message) {
  const std::string_view command = message.substr(std::min(kControlMarker.size(), message.size()));
  if (command.starts_with("ASK")) return ControlKind::Ask;
  if (command.starts_with("REPLY")) {
    // Whatever follows "REPLY" and one separator.
    const std::string_view kind = message.size() > kReplyMessage.size()
                                      ? message.substr(kReplyMessage.size())
                                      : std::string_view();
    if (kind.starts_with("YES")) return ControlKind::ReplyYes;
    if (kind.starts_with("NO")) return ControlKind::ReplyNo;
    return ControlKind::ReplyFailed;
  }
  if (command.starts_with("PORT")) return ControlKind::Port;
  if (command.starts_with("CANCEL")) return ControlKind::Cancel;
  if (command.starts_with("STOP")) return ControlKind::Stop;
  return ControlKind::Unknown;
}

MessageNumber numberAfter(std::string_view message, std::string_view key) {
  const std::size_t at = message.find(key);
  if (at == std::string_view::npos) return {};
  return readNumber(message.substr(at + key.size()), true);
}

MessageNumber unsignedAfter(std::string_view message, std::string_view key, std::size_t from) {
  const std::size_t at = message.find(key, from);
  if (at == std::string_view::npos) return {};
  MessageNumber number = readNumber(message.substr(at + key.size()), false);
  // Kept as the bit pattern of the unsigned value; callers cast back.
  return number;
}

}  // namespace brisk
