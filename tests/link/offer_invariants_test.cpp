// Random sequences of control messages against a Peer, in either role: well-formed and
// malformed, out of order, crossing the Peer's own offers, with a person who answers at
// random, and the connection ending at any point. Whatever happened, once the connection
// has ended every Index is free, every offer was reported ended exactly once, every
// transfer that started gave its verdict, and nothing is left under way.

#include <atomic>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "link/control_message.h"
#include "link/peer.h"
#include "platform/text_codec.h"
#include "support/raw_connection.h"
#include "support/scripted_frontend.h"
#include "support/test_support.h"

namespace brisk {
namespace {

namespace fs = std::filesystem;
using test::RawConnection;
using test::ScriptedFrontend;

constexpr int kSeeds = 16;
constexpr int kSteps = 40;

// Thread-safe dice for the person and the peer.
class Dice {
 public:
  explicit Dice(unsigned seed) : engine_(seed) {}
  int roll(int sides) {
    std::lock_guard lock(mutex_);
    return std::uniform_int_distribution<int>(0, sides - 1)(engine_);
  }

 private:
  std::mutex mutex_;
  std::mt19937 engine_;
};

// The messages a peer may send, many of them wrong for the moment they come.
class MessageMaker {
 public:
  MessageMaker(Dice& dice, int controlPort) : dice_(dice), controlPort_(controlPort) {}

  std::string next() {
    const std::string index = this->index();
    switch (dice_.roll(9)) {
      case 0:
        return "TRANSFILE:ASK:Index:" + index + "\r\na.txt\t3 bytes\r\n";
      case 1:
        return "TRANSFILE:ASK:Index:" + index +
               "\r\nd\t文件夹\t1 KB\r\n\r\n总计 文件个数：-1\r\n　　 文件大小：" +
               std::to_string(dice_.roll(3) * 1024) + " Bytes = 1 KB\r\n";
      case 2:
        return "TRANSFILE:REPLY:YES:" + port() + "Index:" + index + "\r\n";
      case 3:
        return "TRANSFILE:REPLY:" + std::string(dice_.roll(2) ? "NO:" : "Slot in use. ") +
               "Index:" + index + "\r\n";
      case 4:
        return "TRANSFILE:PORT:" + port() + "Index:" + index + "\r\n";
      case 5:
        return "TRANSFILE:CANCEL:Index:" + index + "\r\n";
      case 6:
        return "TRANSFILE:STOP:Index:" + index + "\r\n";
      case 7:
        return "TRANSFILE:NOTHING:Index:" + index + "\r\n";
      default:
        return "a line of chat\r\n";
    }
  }

 private:
  // Mostly the few Indexes both sides use first, so that offers collide.
  std::string index() {
    switch (dice_.roll(8)) {
      case 0:
        return std::to_string(dice_.roll(3) * 100);  // 0, 100, 200: no slot
      case 1:
        return "";
      default:
        return std::to_string(1 + dice_.roll(4));
    }
  }
  // A data port near the control port (nobody listens there), one whose low bits are 0,
  // one too long to read, or none.
  std::string port() {
    switch (dice_.roll(5)) {
      case 0:
        return "";
      case 1:
        return "PORT:65536:";
      case 2:
        return "PORT:99999999999999999999:";
      default:
        return "PORT:" + std::to_string(controlPort_ + 2 + dice_.roll(5)) + ":";
    }
  }

  Dice& dice_;
  const int controlPort_;
};

class OfferInvariants : public test::Sandbox, public ::testing::WithParamInterface<int> {
 protected:
  static Timing timing() {
    Timing timing = test::fastTiming();
    // Transfers whose data connection nobody makes end soon.
    timing.acceptLimit = std::chrono::milliseconds(300);
    return timing;
  }

  void answerAtRandom(ScriptedFrontend& ui, Dice& dice) {
    ui.onPrompt = [&dice](PromptHandle& handle, const PromptRequest& request) {
      if (request.kind == PromptKind::OwnOfferWaiting) {
        return dice.roll(4) == 0 ? PromptAnswer::Cancel : ScriptedFrontend::waitUntilClosed(handle);
      }
      constexpr PromptAnswer kAnswers[] = {PromptAnswer::Accept, PromptAnswer::Refuse,
                                           PromptAnswer::Resume, PromptAnswer::None};
      return kAnswers[dice.roll(4)];
    };
    const fs::path saveFolder = folder("in");
    ui.onChooseSaveFile = [&dice, saveFolder](const std::string& name, const std::string&) {
      return dice.roll(3) ? std::optional<fs::path>(saveFolder / name) : std::nullopt;
    };
    ui.onChooseResumeFile = [&dice, saveFolder](const std::string& name) {
      return dice.roll(3) ? std::optional<fs::path>(saveFolder / name) : std::nullopt;
    };
    ui.onChooseFolder = [&dice, saveFolder] {
      return dice.roll(3) ? std::optional<fs::path>(saveFolder) : std::nullopt;
    };
  }
};

TEST_P(OfferInvariants, EveryOfferEndsOnceAndEveryIndexIsFreeOnceTheLinkHasEnded) {
  const int seed = GetParam();
  Dice dice(static_cast<unsigned>(seed));
  ScriptedFrontend ui;
  answerAtRandom(ui, dice);
  const fs::path offered = folder("out") / "o.txt";
  test::writeFile(offered, "offered");
  const int port = test::freePortRange(100);
  Peer peer(ui, timing());

  // The Peer listens for even seeds and connects for odd ones.
  RawConnection raw;
  RawConnection listening;
  if (seed % 2 == 0) {
    peer.listen(port);
    raw = RawConnection::connectTo(port);
  } else {
    listening = RawConnection::listenOn(port);
    peer.connect("127.0.0.1", port);
    raw = listening.accept();
  }
  ASSERT_TRUE(raw.isOpen());
  ASSERT_TRUE(ui.waitForLinkState(LinkState::Connected));
  // What the Peer sends is read as it comes, so that its writer never waits, until the
  // Peer closes the connection.
  std::thread reader([&raw] { raw.waitForClose(std::chrono::seconds(60)); });

  MessageMaker maker(dice, port);
  int peerOffers = 0;
  int ownOffers = 0;
  const int linkEnd = dice.roll(kSteps + 1);
  for (int step = 0; step < linkEnd; ++step) {
    if (dice.roll(4) == 0) {
      if (const auto key = peer.offers().reserve()) {
        ++ownOffers;
        peer.offerReserved(*key, {offered});
      }
      continue;
    }
    const std::string message = maker.next();
    const ControlMessage read = parseControlMessage(toWire(message));
    peerOffers += read.kind == ControlKind::Ask && read.problem.empty();
    ASSERT_TRUE(raw.send(toWire(message)));
    if (dice.roll(2) == 0) {
      ASSERT_TRUE(ui.waitForLog(message)) << message;
    }
  }
  // Everything sent has been read before the end: a Disconnect leaves unread bytes unread.
  ASSERT_TRUE(raw.send("the last line\r\n"));
  ASSERT_TRUE(ui.waitForLog("the last line\r\n"));
  // The peer leaves, or the person disconnects.
  if (dice.roll(2) == 0) {
    ASSERT_TRUE(raw.endSending());
  } else {
    peer.disconnect();
  }
  reader.join();

  ASSERT_TRUE(ui.waitFor([&] {
    if (ui.linkState() != LinkState::Idle || !peer.idle()) return false;
    int accepted = 0;
    for (const OfferEnd& end : ui.offerEnds()) accepted += end.outcome == OfferOutcome::Accepted;
    return static_cast<int>(ui.transferEnds().size()) == accepted;
  })) << "seed "
      << seed;
  EXPECT_FALSE(peer.offers().anyInUse()) << "seed " << seed;
  int ownEnded = 0;
  int peerEnded = 0;
  for (const OfferEnd& end : ui.offerEnds()) ++(end.ownOffer ? ownEnded : peerEnded);
  EXPECT_EQ(ownEnded, ownOffers) << "seed " << seed;
  EXPECT_EQ(peerEnded, peerOffers) << "seed " << seed;
}

INSTANTIATE_TEST_SUITE_P(Seeds, OfferInvariants, ::testing::Range(1, kSeeds + 1));

}  // namespace
}  // namespace brisk
