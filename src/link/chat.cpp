#include "link/chat.h"

#include <cstddef>

#include "link/wire_keys.h"

namespace brisk {

namespace {

// A chat line is cut to this many bytes before its "\r\n".
constexpr std::size_t kMaxChatBytes = 61439;

}  // namespace

bool readAsControlMessage(std::string_view text) {
  for (std::size_t at = 0; at != std::string_view::npos;) {
    if (text.substr(at).starts_with(kControlMarker)) return true;
    at = text.find('\n', at);
    if (at != std::string_view::npos) ++at;
  }
  return false;
}

ChatLine composeChatLine(const std::string& inputBoxText) {
  std::string wire = toWire(inputBoxText);
  std::string shown = inputBoxText;
  if (wire.size() > kMaxChatBytes) {
    wire.resize(wirePrefixLength(wire, kMaxChatBytes));
    shown = fromWire(wire);
  }
  return ChatLine{wire + "\r\n", shown + "\r\n"};
}

void ChatReader::show(std::string_view bytes) {
  frontend_.appendLog(decoder_.decode(bytes), kBlack);
}

}  // namespace brisk
