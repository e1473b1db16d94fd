#pragma once

#include <string>
#include <string_view>

#include "common/frontend.h"
#include "platform/text_codec.h"

namespace brisk {

// A chat line ready to go out on the control connection.
struct ChatLine {
  std::string wire;   // GBK, ending in "\r\n"
  std::string shown;  // what the log echoes once it went out (UTF-8), ending in "\r\n"
};

// Whether the peer would read the text as a control message rather than chat: one of its
// lines begins with "TRANSFILE:" (as the chat log shows such messages, pasting one is easy).
bool readAsControlMessage(std::string_view text);

// The input box's text (UTF-8, not empty) as a chat line. A text too long for one line is
// cut on the wire at a character boundary; the echo then shows what was actually sent.
ChatLine composeChatLine(const std::string& inputBoxText);

// What arrives on the control connection, shown in the chat log as it comes: the peer's
// chat and its control messages alike, in black. One per connection, on its receive
// thread: the network may cut a character between two reads, and the decoder keeps the
// first part until the rest comes.
class ChatReader {
 public:
  explicit ChatReader(Frontend& frontend) : frontend_(frontend) {}

  void show(std::string_view bytes);

 private:
  Frontend& frontend_;
  WireDecoder decoder_;
};

}  // namespace brisk
