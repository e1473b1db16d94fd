// The pause after an offer and before it: a peer that takes one read as one message sees
// each offer on its own, the caller never waits, and the messages of other threads are not held
// back.

#include <chrono>
#include <filesystem>

#include <gtest/gtest.h>

#include "link/offer_composition.h"
#include "link/peer.h"
#include "support/listening_peer_fixture.h"
#include "support/raw_connection.h"
#include "support/scripted_frontend.h"
#include "support/test_support.h"

namespace brisk {
namespace {

namespace fs = std::filesystem;
using test::RawConnection;
using test::ScriptedFrontend;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A listening Peer with the given pause around offers, and a raw socket in the other
// peer's place that reads the way such a peer reads.
template <int kPauseMilliseconds>
class PacedPeer : public test::ListeningPeerFixture {
 protected:
  static constexpr milliseconds kPause{kPauseMilliseconds};

  static Timing pacedTiming() {
    Timing timing = test::fastTiming();
    timing.offerPause = kPause;
    return timing;
  }

  PacedPeer() : ListeningPeerFixture(pacedTiming()) {}

  fs::path file(const std::string& name) {
    const fs::path path = folder("out") / name;
    test::writeFile(path, "x");
    return path;
  }

  static std::string ask(int index, const std::string& name) {
    return "TRANSFILE:ASK:Index:" + std::to_string(index) + "\r\n" + name + "\t1 bytes\r\n";
  }

  std::vector<std::string> blueLines() const {
    std::vector<std::string> lines;
    for (const auto& line : ui.log()) {
      if (line.colour == kBlue) lines.push_back(line.text);
    }
    return lines;
  }
};

// Long enough that a caller held for it stands out from one slowed by a busy machine.
using OfferPacing = PacedPeer<2000>;
// Only ever checked as a lower bound, which a busy machine cannot make pass wrongly.
using MessageSpacing = PacedPeer<400>;

TEST_F(OfferPacing, OffersArriveInSeparateReadsAPauseApartAndChatWaitsItsTurn) {
  const fs::path a = file("a.txt");
  const fs::path b = file("b.txt");
  const fs::path c = file("c.txt");
  const auto start = Clock::now();
  peer.offerFiles({a});
  peer.offerFiles({b});
  EXPECT_EQ(peer.sendChatLine("typed meanwhile"), 17);
  peer.offerFiles({c});
  // The caller (the window's thread) never waits for the pause.
  EXPECT_LT(Clock::now() - start, kPause);

  EXPECT_EQ(raw.receiveSome(), ask(1, "a.txt"));
  EXPECT_EQ(raw.receiveSome(), ask(2, "b.txt"));
  EXPECT_GE(Clock::now() - start, kPause);
  EXPECT_EQ(raw.receiveSome(), "typed meanwhile\r\n");
  EXPECT_GE(Clock::now() - start, 2 * kPause);
  // An offer behind a chat line keeps the pause from it too.
  EXPECT_EQ(raw.receiveSome(), ask(3, "c.txt"));
  EXPECT_GE(Clock::now() - start, 3 * kPause);

  // The log shows them in the order they went out.
  EXPECT_TRUE(ui.waitFor([&] { return blueLines().size() == 4; }));
  EXPECT_EQ(blueLines(), (std::vector<std::string>{ask(1, "a.txt"), ask(2, "b.txt"),
                                                   "typed meanwhile\r\n", ask(3, "c.txt")}));
  // Each offer waits for its answer once it has gone out.
  EXPECT_TRUE(ui.waitFor([&] { return ui.prompts().size() == 3; }));
  EXPECT_TRUE(ui.notices().empty());
}

// The peer's answer shows that it read the offer on its own: the messages behind the
// offer go out at once, the port first among them when the answer came before them.
TEST_F(OfferPacing, TheAnswerToAnOfferEndsThePauseAfterIt) {
  const auto start = Clock::now();
  peer.offerFiles({file("a.txt")});
  EXPECT_EQ(raw.receiveSome(), ask(1, "a.txt"));
  ASSERT_TRUE(raw.send("TRANSFILE:REPLY:YES:Index:1\r\n"));
  const std::string portMessage = "TRANSFILE:PORT:" + std::to_string(port + 2) + ":Index:1\r\n";
  EXPECT_EQ(raw.receiveSome(), portMessage);
  EXPECT_EQ(peer.sendChatLine("after the answer"), 18);
  EXPECT_EQ(raw.receiveSome(), "after the answer\r\n");
  EXPECT_LT(Clock::now() - start, kPause);
}

TEST_F(OfferPacing, AnOfferThatCannotGoOutReleasesItsSlot) {
  peer.offerFiles({file("a.txt")});
  peer.offerFiles({file("b.txt")});
  EXPECT_EQ(raw.receiveSome(), ask(1, "a.txt"));
  raw.close();  // the peer goes away during the pause
  ASSERT_TRUE(ui.waitForLinkState(LinkState::Idle));

  EXPECT_TRUE(ui.waitForNotice("未连接或者连接已断开！"));
  EXPECT_TRUE(ui.waitFor([&] { return !peer.personMessagesPending(); }));
  EXPECT_FALSE(peer.offers().tsf(2));
  EXPECT_FALSE(peer.offers().tsfwnd(2));
  EXPECT_EQ(blueLines(), std::vector<std::string>{ask(1, "a.txt")});
}

TEST_F(OfferPacing, TooManyWaitingMessagesAreRefusedWithoutHoldingTheCaller) {
  peer.offerFiles({file("a.txt")});
  const auto start = Clock::now();
  int refused = 0;
  for (int i = 0; i < 200; ++i) {
    if (peer.sendChatLine("line " + std::to_string(i)) < 0) ++refused;
  }
  EXPECT_LT(Clock::now() - start, kPause);
  EXPECT_GT(refused, 0);
  EXPECT_TRUE(ui.waitForNotice("发送的消息太多，请稍后再试。"));
  EXPECT_EQ(raw.receiveSome(), ask(1, "a.txt"));
  // The ones accepted still go out, in order, after the pause.
  EXPECT_EQ(raw.receive(16), "line 0\r\nline 1\r\n");
}

// Whatever sends them, an offer and the message next to it never leave back to back:
// this side's offer after its refusal of the peer's crossing offer, its refusal after its
// own offer, its offer after its acceptance. A peer that takes one read for one message
// would see the two as one and lose the second.
TEST_F(MessageSpacing, AnOfferAndTheMessageBesideItLeaveAPauseApart) {
  ui.onPrompt = [](PromptHandle& handle, const PromptRequest& request) {
    if (request.kind == PromptKind::OwnOfferWaiting) {
      return ScriptedFrontend::waitUntilClosed(handle);
    }
    return PromptAnswer::Accept;
  };
  ui.onChooseSaveFile = [this](const std::string& name, const std::string&) {
    return std::optional<fs::path>(folder("in") / name);
  };
  const std::string slotInUse = "TRANSFILE:REPLY:Slot in use. Index:1\r\n";
  const std::string acceptance =
      "TRANSFILE:REPLY:YES:PORT:" + std::to_string(port + 2) + ":Index:1\r\n";
  struct Case {
    const char* name;
    std::function<void()> before;  // makes the first message go out
    std::string first;
    std::function<void()> after;  // makes the second go out
    std::string second;
    int ownOffer;  // the Index of this side's offer, refused before the next case
  };
  std::optional<OfferKey> reserved;
  const Case cases[] = {
      {"refusal, then offer",
       [&] {
         reserved = peer.offers().reserve();
         ASSERT_TRUE(raw.send(ask(1, "x.txt")));
       },
       slotInUse, [&] { peer.offerReserved(*reserved, {file("a.txt")}); }, ask(1, "a.txt"), 1},
      {"offer, then refusal", [&] { peer.offerFiles({file("a.txt")}); }, ask(1, "a.txt"),
       [&] { ASSERT_TRUE(raw.send(ask(1, "x.txt"))); }, slotInUse, 1},
      {"acceptance, then offer", [&] { ASSERT_TRUE(raw.send(ask(1, "x.txt"))); }, acceptance,
       [&] { peer.offerFiles({file("b.txt")}); }, ask(2, "b.txt"), 2},
  };
  for (const Case& c : cases) {
    c.before();
    EXPECT_EQ(raw.receiveSome(), c.first) << c.name;
    const auto firstRead = Clock::now();
    c.after();
    EXPECT_EQ(raw.receiveSome(), c.second) << c.name;
    EXPECT_GE(Clock::now() - firstRead, kPause * 3 / 4) << c.name;
    const std::string index = std::to_string(c.ownOffer);
    ASSERT_TRUE(raw.send("TRANSFILE:REPLY:NO:Index:" + index + "\r\n"));
    ASSERT_TRUE(ui.waitFor([&] { return !peer.offers().tsf(c.ownOffer); })) << c.name;
  }
}

}  // namespace
}  // namespace brisk
