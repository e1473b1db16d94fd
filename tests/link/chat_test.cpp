#include "link/chat.h"

#include <gtest/gtest.h>

namespace brisk {
namespace {

// A long line is cut on the wire, never in the middle of a two-byte character, and the
// echo shows exactly what went out.
TEST(ChatLine, IsCutAtACharacterBoundaryAndEchoedAsSent) {
  const std::string fill(61438, 'x');
  struct Row {
    std::string typed;
    std::string wire;   // without the "\r\n"
    std::string shown;  // without the "\r\n"
  };
  const Row rows[] = {
      {"中文 line\r\nsecond", "\xD6\xD0\xCE\xC4 line\r\nsecond", "中文 line\r\nsecond"},
      {fill + "y", fill + "y", fill + "y"},   // exactly the limit
      {fill + "yz", fill + "y", fill + "y"},  // one byte over
      {fill + "中", fill, fill},              // the character would straddle it
      {fill.substr(1) + "中中", fill.substr(1) + "\xD6\xD0", fill.substr(1) + "中"},
  };
  for (const Row& row : rows) {
    const ChatLine line = composeChatLine(row.typed);
    EXPECT_EQ(line.wire, row.wire + "\r\n") << row.typed.size();
    EXPECT_EQ(line.shown, row.shown + "\r\n") << row.typed.size();
  }
}

// A line the peer would take for a control message is never sent as chat: typing one stopped
// a running transfer. The marker anywhere but at a line's start is chat.
TEST(ChatLine, ALineThePeerWouldReadAsAControlMessageIsRecognised) {
  const std::pair<const char*, bool> rows[] = {
      {"TRANSFILE:STOP:Index:1", true},
      {"hello\r\nTRANSFILE:STOP:Index:1", true},
      {"hello\nTRANSFILE:ASK:Index:1", true},
      {"TRANSFILE:", true},
      {"see TRANSFILE:STOP:Index:1", false},
      {" TRANSFILE:STOP:Index:1", false},
      {"TRANSFILE", false},
      {"transfile:STOP", false},
      {"", false},
  };
  for (const auto& [text, control] : rows) EXPECT_EQ(readAsControlMessage(text), control) << text;
}

}  // namespace
}  // namespace brisk
