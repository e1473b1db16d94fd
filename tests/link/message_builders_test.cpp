#include "link/message_builders.h"

#include <cstdint>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "common/data_port.h"
#include "link/message_fields.h"
#include "link/wire_keys.h"

namespace brisk {
namespace {

// Every message this side composes, as the peer's dispatcher reads it back: its exact
// bytes, its kind, its Index and the data port it names.
TEST(MessageBuilders, EachMessageReadsBackAsComposed) {
  struct Case {
    std::string built;
    std::string wire;
    ControlKind kind;
    int index;
    std::optional<std::int64_t> port;
  };
  const Case cases[] = {
      {askHeader(7), "TRANSFILE:ASK:Index:7\r\n", ControlKind::Ask, 7, std::nullopt},
      {replyYes(1), "TRANSFILE:REPLY:YES:Index:1\r\n", ControlKind::ReplyYes, 1, std::nullopt},
      {replyYesWithPort(65537, 1), "TRANSFILE:REPLY:YES:PORT:65537:Index:1\r\n",
       ControlKind::ReplyYes, 1, 65537},
      {replyNo(99), "TRANSFILE:REPLY:NO:Index:99\r\n", ControlKind::ReplyNo, 99, std::nullopt},
      {replySlotInUse(3), "TRANSFILE:REPLY:Slot in use. Index:3\r\n", ControlKind::ReplyFailed, 3,
       std::nullopt},
      // The refused port is named in the text, not under the PORT key.
      {replyInvalidDataPort(65536, 4), "TRANSFILE:REPLY:Invalid data port 65536. Index:4\r\n",
       ControlKind::ReplyFailed, 4, std::nullopt},
      {replyInvalidFileName(6), "TRANSFILE:REPLY:Invalid file name. Index:6\r\n",
       ControlKind::ReplyFailed, 6, std::nullopt},
      {replyChoiceFailed("GetSaveFileName", 5),
       "TRANSFILE:REPLY:GetSaveFileName failed or closed. Index:5\r\n", ControlKind::ReplyFailed, 5,
       std::nullopt},
      {portMessage(5001, 12), "TRANSFILE:PORT:5001:Index:12\r\n", ControlKind::Port, 12, 5001},
      {cancelMessage(2), "TRANSFILE:CANCEL:Index:2\r\n", ControlKind::Cancel, 2, std::nullopt},
      {stopMessage(8), "TRANSFILE:STOP:Index:8\r\n", ControlKind::Stop, 8, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wire);
    EXPECT_EQ(c.built, c.wire);
    EXPECT_EQ(controlKindOf(c.built), c.kind);
    const MessageNumber index = numberAfter(c.built, kIndexKey);
    EXPECT_TRUE(index.found);
    EXPECT_EQ(index.value, c.index);
    const MessageNumber port = numberAfter(c.built, kPortKey);
    EXPECT_EQ(port.found ? std::optional(port.value) : std::nullopt, c.port);
  }
}

TEST(MessageBuilders, UnknownWordsAreNoCommand) {
  EXPECT_EQ(controlKindOf("TRANSFILE:HELLO:Index:1\r\n"), ControlKind::Unknown);
  EXPECT_EQ(controlKindOf("TRANSFILE:"), ControlKind::Unknown);
  EXPECT_EQ(controlKindOf("TRANSFILE:REPLY"), ControlKind::ReplyFailed);
}

TEST(DataPort, IsTheControlPortPlusIndexPlusOneByItsLow16Bits) {
  EXPECT_EQ(namedDataPort(5000, 1), 5002);
  EXPECT_EQ(namedDataPort(65535, 99), 65635);
  EXPECT_EQ(dataPortNumber(65635), 99);
  // 65536 is port 0 by its low bits: no peer could find it.
  EXPECT_EQ(dataPortNumber(namedDataPort(65534, 1)), 0);
  EXPECT_EQ(dataPortNumber(-1), 65535);
}

}  // namespace
}  // namespace brisk
