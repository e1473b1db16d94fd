// A peer that accepts or makes an offer and then leaves its data connection silent holds
// the offer's Index no longer than the limits of the data connection: after them the Index
// takes new offers again. A raw socket plays the peer; the limits are shortened.

#include <filesystem>

#include <gtest/gtest.h>

#include "link/peer.h"
#include "platform/text_codec.h"
#include "support/listening_peer_fixture.h"
#include "support/raw_connection.h"
#include "support/scripted_frontend.h"
#include "support/test_support.h"

namespace brisk {
namespace {

namespace fs = std::filesystem;
using test::RawConnection;
using test::ScriptedFrontend;

Timing shortLimits() {
  Timing timing = test::fastTiming();
  timing.acceptLimit = std::chrono::milliseconds(300);
  timing.idleDataLimit = std::chrono::milliseconds(400);
  return timing;
}

class DataConnectionLimits : public test::ListeningPeerFixture {
 protected:
  DataConnectionLimits() : ListeningPeerFixture(shortLimits()) {}
};

TEST_F(DataConnectionLimits, ASilentDataConnectionFreesItsIndexAfterTheAcceptLimit) {
  int offers = 0;
  ui.onPrompt = [&offers](PromptHandle&, const PromptRequest&) {
    return ++offers == 1 ? PromptAnswer::Accept : PromptAnswer::Refuse;
  };
  ui.onChooseSaveFile = [this](const std::string& name, const std::string&) {
    return std::optional<fs::path>(folder("in") / name);
  };
  ASSERT_TRUE(raw.send("TRANSFILE:ASK:Index:1\r\na.txt\t3 bytes\r\n"));
  const std::string accepted =
      "TRANSFILE:REPLY:YES:PORT:" + std::to_string(port + 2) + ":Index:1\r\n";
  EXPECT_EQ(raw.receive(accepted.size()), accepted);
  // The peer opens the data connection and sends nothing.
  const RawConnection data = RawConnection::connectTo(port + 2);
  ASSERT_TRUE(data.isOpen());
  EXPECT_TRUE(data.waitForClose());
  ASSERT_TRUE(ui.waitFor([this] { return ui.transferEnds().size() == 1; }));
  EXPECT_FALSE(ui.transferEnds()[0].complete);
  EXPECT_TRUE(ui.waitForNotice("对方已经300毫秒没有任何动静"));
  EXPECT_FALSE(fs::exists(folder("in") / "a.txt"));

  // The Index is free again: the next offer under it is asked, not answered "Slot in use".
  ASSERT_TRUE(ui.waitFor([this] { return peer.idle(); }));
  ASSERT_TRUE(raw.send("TRANSFILE:ASK:Index:1\r\nb.txt\t3 bytes\r\n"));
  const std::string refused = "TRANSFILE:REPLY:NO:Index:1\r\n";
  EXPECT_EQ(raw.receive(refused.size()), refused);
  EXPECT_EQ(offers, 2);
}

}  // namespace
}  // namespace brisk
