#include "link/chat.h"

#include <cstddef>

namespace brisk {

namespace {

// A chat line is cut to this many bytes before its "\r\n".
constexpr std::size_t kMaxChatBytes = 61439;

}  // namespace

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
