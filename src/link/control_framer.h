#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brisk {

// Cuts the control connection's byte stream into chat text and control messages.
//
// The peers send every message with one send call and mark none of its bounds, so one
// read may hold several messages and a message may be cut by the network. A control
// message is one that begins with "TRANSFILE:" at the start of a line; it ends with its
// "\r\n", and an offer (ASK) ends after its totals, or after its single item line when it
// offers one file. Chat text is handed on as soon as it arrives. An incomplete control
// message is held back until its rest arrives (or the caller gives up waiting and flushes).
class ControlFramer {
 public:
  struct Piece {
    std::string bytes;  // as received (GBK)
    bool isControl = false;
  };

  // A control message still incomplete after this many bytes is handed on as it is.
  static constexpr std::size_t kMaxHeldBytes = 256 * 1024;

  // Adds received bytes; returns the pieces that are now complete, in stream order.
  std::vector<Piece> feed(std::string_view bytes);
  // True while bytes are held back waiting for the rest of a message.
  bool holdsPartialMessage() const { return !buffer_.empty(); }
  // Stops waiting: whatever is held back, handed on as it is.
  std::vector<Piece> flush();

 private:
  std::vector<Piece> take(bool force);

  std::string buffer_;
  bool atLineStart_ = true;
};

}  // namespace brisk
