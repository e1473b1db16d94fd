#include "link/peer.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include "platform/text_codec.h"
#include "support/raw_connection.h"
#include "support/scripted_frontend.h"
#include "support/test_support.h"

namespace brisk {
namespace {

using test::RawConnection;
using test::ScriptedFrontend;

// The black text a side received, in order.
std::string receivedText(const ScriptedFrontend& frontend) {
  std::string text;
  for (const auto& line : frontend.log()) {
    if (line.colour == kBlack) text += line.text;
  }
  return text;
}

bool logHas(const ScriptedFrontend& frontend, const std::string& text, Rgb colour) {
  for (const auto& line : frontend.log()) {
    if (line.text == text && line.colour == colour) return true;
  }
  return false;
}

class PeerLinkTest : public test::Sandbox {
 protected:
  explicit PeerLinkTest(Timing listenerTiming = test::fastTiming())
      : listener(listenerUi, listenerTiming) {}

  ScriptedFrontend listenerUi;
  ScriptedFrontend connectorUi;
  Peer listener;
  Peer connector{connectorUi, test::fastTiming()};
  int port = test::freePortRange();
  RawConnection raw;

  // Starts the listening Peer and connects `raw` to it in the connecting peer's place.
  void listenWithRawPeer() {
    listener.listen(port);
    raw = RawConnection::connectTo(port);
    ASSERT_TRUE(raw.isOpen());
    ASSERT_TRUE(listenerUi.waitForLinkState(LinkState::Connected));
  }
};

TEST_F(PeerLinkTest, RawPeerSeesChatAsGbkBytesAndTheListenerShowsItsAddress) {
  ASSERT_NO_FATAL_FAILURE(listenWithRawPeer());
  EXPECT_EQ(listenerUi.addressText(), "127.0.0.1");
  EXPECT_TRUE(logHas(listenerUi, "连接成功！\r\n", kGreen));
  EXPECT_TRUE(listener.connected());
  EXPECT_FALSE(listener.connectingPeer());

  EXPECT_EQ(listener.sendChatLine("中文 line\r\nsecond"), 19);
  EXPECT_EQ(raw.receive(19), "\xD6\xD0\xCE\xC4 line\r\nsecond\r\n");
  EXPECT_TRUE(
      listenerUi.waitFor([&] { return logHas(listenerUi, "中文 line\r\nsecond\r\n", kBlue); }));

  ASSERT_TRUE(raw.send("\xC4\xE3\xBA\xC3 hello\r\n"));
  ASSERT_TRUE(listenerUi.waitFor(
      [&] { return receivedText(listenerUi).find("你好 hello\r\n") != std::string::npos; }));

  raw.close();
  ASSERT_TRUE(listenerUi.waitForLinkState(LinkState::Idle));
  EXPECT_FALSE(listener.connected());
  EXPECT_TRUE(logHas(listenerUi, "\r\n连接中断\r\nError code: 0\r\nSuccess\r\n", kRed));
}

TEST_F(PeerLinkTest, TwoPeersChatBothWaysAndEitherSideCanEndIt) {
  listener.listen(port);
  ASSERT_TRUE(test::waitFor([&] {
    connector.connect("127.0.0.1", port);
    connectorUi.waitFor([&] {
      return connectorUi.linkState() == LinkState::Connected ||
             connectorUi.linkState() == LinkState::Idle;
    });
    return connector.connected();
  }));
  ASSERT_TRUE(listenerUi.waitForLinkState(LinkState::Connected));
  EXPECT_TRUE(connector.connectingPeer());
  EXPECT_EQ(connector.controlPort(), port);

  EXPECT_GT(connector.sendChatLine("早上好"), 0);
  EXPECT_GT(listener.sendChatLine("good morning"), 0);
  EXPECT_TRUE(listenerUi.waitFor(
      [&] { return receivedText(listenerUi).find("早上好\r\n") != std::string::npos; }));
  EXPECT_TRUE(connectorUi.waitFor(
      [&] { return receivedText(connectorUi).find("good morning\r\n") != std::string::npos; }));
  EXPECT_EQ(connector.sendChatLine(""), 0);

  connector.disconnect();
  EXPECT_TRUE(connectorUi.waitForLinkState(LinkState::Idle));
  EXPECT_TRUE(listenerUi.waitForLinkState(LinkState::Idle));
  EXPECT_TRUE(listenerUi.waitForLog("\r\n连接中断\r\n"));
  EXPECT_EQ(listener.sendChatLine("too late"), -1);
  EXPECT_TRUE(listenerUi.waitForNotice("未连接或者连接已断开！"));
}

TEST_F(PeerLinkTest, TheListeningSideCanEndItToo) {
  listener.listen(port);
  ASSERT_TRUE(test::waitFor([&] {
    connector.connect("localhost", port);  // a host name resolves
    connectorUi.waitFor([&] { return connectorUi.linkState() != LinkState::Connecting; });
    return connector.connected();
  }));
  ASSERT_TRUE(listenerUi.waitForLinkState(LinkState::Connected));
  listener.disconnect();
  EXPECT_TRUE(connectorUi.waitForLinkState(LinkState::Idle));
  EXPECT_TRUE(listenerUi.waitForLinkState(LinkState::Idle));
  EXPECT_FALSE(connector.connected());
}

TEST_F(PeerLinkTest, ALongChatLineArrivesWholeAndALongerOneIsCut) {
  ASSERT_NO_FATAL_FAILURE(listenWithRawPeer());

  const std::string line(61439, 'x');
  EXPECT_EQ(listener.sendChatLine(line), 61441);
  EXPECT_EQ(raw.receive(61441), line + "\r\n");
  EXPECT_EQ(listener.sendChatLine(line + "yz"), 61441);
  EXPECT_EQ(raw.receive(61441), line + "\r\n");

  ASSERT_TRUE(raw.send(line + "\r\n"));
  EXPECT_TRUE(listenerUi.waitFor([&] { return receivedText(listenerUi) == line + "\r\n"; }));
}

// A listener that waits for the rest of a cut message longer than any test, so that a busy
// machine cannot make it take the first part alone.
class PatientFraming : public PeerLinkTest {
 protected:
  PatientFraming()
      : PeerLinkTest([] {
          Timing timing = test::fastTiming();
          timing.controlRestWait = std::chrono::minutes(1);
          return timing;
        }()) {}
};

TEST_F(PatientFraming, CoalescedAndSplitMessagesAreFramedWithoutLoss) {
  ASSERT_NO_FATAL_FAILURE(listenWithRawPeer());

  ASSERT_TRUE(raw.send("one\r\nTRANSFILE:NOTHING:Index:1\r\ntwo\r\n"));
  ASSERT_TRUE(listenerUi.waitForLog("two\r\n"));
  // A character and a message cut by the network.
  ASSERT_TRUE(raw.send("\xC4"));
  ASSERT_TRUE(raw.send("\xE3\r\nTRANSFILE:NOT"));
  ASSERT_TRUE(raw.send("HING:Index:2\r\n"));
  ASSERT_TRUE(listenerUi.waitForLog("Index:2\r\n"));

  std::vector<std::string> pieces;
  for (const auto& line : listenerUi.log()) {
    if (line.colour == kBlack) pieces.push_back(line.text);
  }
  EXPECT_EQ(receivedText(listenerUi),
            "one\r\nTRANSFILE:NOTHING:Index:1\r\ntwo\r\n你\r\nTRANSFILE:NOTHING:Index:2\r\n");
  EXPECT_NE(std::find(pieces.begin(), pieces.end(), "TRANSFILE:NOTHING:Index:1\r\n"), pieces.end());
  EXPECT_NE(std::find(pieces.begin(), pieces.end(), "TRANSFILE:NOTHING:Index:2\r\n"), pieces.end());
}

TEST_F(PeerLinkTest, ListenWhileConnectedDoesNothingAndASecondPeerIsRefused) {
  ASSERT_NO_FATAL_FAILURE(listenWithRawPeer());

  listener.listen(port);
  listener.connect("127.0.0.1", port);
  EXPECT_EQ(listenerUi.linkState(), LinkState::Connected);

  connector.connect("127.0.0.1", port);
  ASSERT_TRUE(connectorUi.waitForLog("连接失败！"));
  EXPECT_TRUE(connectorUi.waitForLinkState(LinkState::Idle));
  EXPECT_NE(connectorUi.logText().find("Error code: 111\r\nConnection refused\r\n"),
            std::string::npos);
  EXPECT_TRUE(listener.connected());
}

TEST_F(PeerLinkTest, APortInUseIsReportedWithTheSystemsText) {
  SocketResult taken = listenTcp(static_cast<std::uint16_t>(port), 1);
  ASSERT_TRUE(taken.ok());
  // SO_REUSEADDR lets a second listener bind only after the first has gone.
  listener.listen(port);
  ASSERT_TRUE(listenerUi.waitForNotice("bind failed."));
  EXPECT_EQ(listenerUi.notices().front(),
            "bind failed.\r\nError code: 98\r\nAddress already in use\r\n");
  EXPECT_TRUE(listenerUi.waitForLinkState(LinkState::Idle));
  // Never reported as listening, so never announced on the network.
  EXPECT_EQ(listenerUi.portListenings(), 0);
}

TEST_F(PeerLinkTest, DisconnectWhileListeningEndsTheWait) {
  listener.listen(port);
  // Reported once the port really listens.
  ASSERT_TRUE(listenerUi.waitFor([&] { return listenerUi.portListenings() == 1; }));
  EXPECT_TRUE(test::isListening(port));
  listener.disconnect();
  ASSERT_TRUE(listenerUi.waitForLog("accept failed."));
  EXPECT_TRUE(listenerUi.waitForLinkState(LinkState::Idle));
  listener.shutdown();
  // The listening socket is gone: the port can be listened on again.
  EXPECT_TRUE(listenTcp(static_cast<std::uint16_t>(port), 1).ok());
}

TEST_F(PeerLinkTest, DisconnectWhileConnectingCancelsTheConnect) {
  // A listener whose queue is full and never accepts: further connects hang in SYN-SENT.
  SocketResult full = listenTcp(static_cast<std::uint16_t>(port), 0);
  ASSERT_TRUE(full.ok());
  // Non-blocking connects fill the queue without waiting for room in it.
  std::vector<Socket> fillers;
  for (int i = 0; i < 4; ++i) {
    Socket filler(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    (void)::connect(filler.fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    fillers.push_back(std::move(filler));
  }

  connector.connect("127.0.0.1", port);
  if (connectorUi.waitFor([&] { return connectorUi.linkState() != LinkState::Connecting; },
                          std::chrono::milliseconds(300))) {
    GTEST_SKIP() << "this system completed or refused the connect at once";
  }
  const auto pressed = std::chrono::steady_clock::now();
  connector.disconnect();
  ASSERT_TRUE(connectorUi.waitForLog("连接失败！", std::chrono::seconds(3)));
  EXPECT_LT(std::chrono::steady_clock::now() - pressed, std::chrono::seconds(3));
  EXPECT_TRUE(connectorUi.waitForLinkState(LinkState::Idle));
}

TEST_F(PeerLinkTest, AnAddressThatIsNeitherNameNorNumberFailsToConnect) {
  connector.connect("对方IP地址", port);
  ASSERT_TRUE(connectorUi.waitForLog("连接失败！"));
  EXPECT_TRUE(connectorUi.waitForLinkState(LinkState::Idle));
}

// Notices keep their pause on other threads; the link thread never waits for it, so a peer
// that sends malformed message after malformed message cannot hold the connection.
class LongNoticePause : public PeerLinkTest {
 protected:
  static Timing longPause() {
    Timing timing = test::fastTiming();
    timing.noticePause = std::chrono::seconds(30);
    return timing;
  }
  LongNoticePause() : PeerLinkTest(longPause()) {}
};

TEST_F(LongNoticePause, MalformedMessagesNeverHoldTheLinkThread) {
  ASSERT_NO_FATAL_FAILURE(listenWithRawPeer());
  std::string flood;
  for (int i = 0; i < 200; ++i) flood += "TRANSFILE:STOP:\r\nTRANSFILE:REPLY:NO:Index:5\r\n";
  ASSERT_TRUE(raw.send(flood + "after the flood\r\n"));
  ASSERT_TRUE(listenerUi.waitForLog("after the flood\r\n"));
  EXPECT_EQ(listenerUi.notices().size(), 400u);
}

// An unattended inbox lets go of a peer that connects and says nothing, so a stranger
// cannot hold its one connection; one that talks at once is served, and nothing is let go
// when nobody asked for it.
class SilentPeers : public PeerLinkTest {
 protected:
  static constexpr auto kLimit = std::chrono::milliseconds(300);
  static Timing shortLimit() {
    Timing timing = test::fastTiming();
    timing.silentPeerLimit = kLimit;
    return timing;
  }
  SilentPeers() : PeerLinkTest(shortLimit()) {}
};

TEST_F(SilentPeers, AnInboxLetsGoOfAPeerThatSaysNothing) {
  listener.setCloseSilentPeers(true);
  ASSERT_NO_FATAL_FAILURE(listenWithRawPeer());
  EXPECT_TRUE(raw.waitForClose());
  EXPECT_TRUE(listenerUi.waitForLinkState(LinkState::Idle));
  EXPECT_TRUE(listenerUi.waitForLog("对方连接后一直没有发送任何内容，已断开。"));

  // The next peer talks at once and stays, well past the limit.
  listener.listen(port);
  raw = RawConnection::connectTo(port);
  ASSERT_TRUE(raw.isOpen());
  ASSERT_TRUE(raw.send("hello\r\n"));
  ASSERT_TRUE(listenerUi.waitForLog("hello\r\n"));
  EXPECT_FALSE(raw.waitForClose(kLimit * 3));
  EXPECT_TRUE(listener.connected());
}

TEST_F(SilentPeers, APersonAtTheWindowMayTakeTheirTime) {
  ASSERT_NO_FATAL_FAILURE(listenWithRawPeer());
  EXPECT_FALSE(raw.waitForClose(kLimit * 3));
  EXPECT_TRUE(listener.connected());
}

TEST_F(PeerLinkTest, AChatLineThePeerWouldTakeForACommandIsNotSentAndSaysWhy) {
  ASSERT_NO_FATAL_FAILURE(listenWithRawPeer());
  EXPECT_EQ(listener.sendChatLine("ok\r\nTRANSFILE:STOP:Index:1"), -1);
  EXPECT_TRUE(listenerUi.waitForNotice("没有发送：以“TRANSFILE:”开头的一行"));
  EXPECT_EQ(listener.sendChatLine("after"), 7);
  EXPECT_EQ(raw.receiveSome(), "after\r\n");  // nothing went out before it
}

TEST_F(PeerLinkTest, SendingWhileNotConnectedTellsThePerson) {
  EXPECT_EQ(listener.sendText("TRANSFILE:STOP:Index:1\r\n"), -1);
  EXPECT_EQ(listener.sendChatLine("hello"), -1);
  EXPECT_EQ(listenerUi.notices(),
            (std::vector<std::string>{"未连接或者连接已断开！", "未连接或者连接已断开！"}));
}

// A peer that stops reading the control connection: the kernel's buffers fill, the writer
// blocks, and then every sender must still hand its message over and go on. The queue
// behind the writer ends with a notice instead of growing, and Disconnect breaks the
// blocked send.
TEST_F(PeerLinkTest, APeerThatStopsReadingHoldsNoSender) {
  using Clock = std::chrono::steady_clock;
  // Generous for a loaded machine; a sender that waited for the peer would never return.
  constexpr auto kPrompt = std::chrono::milliseconds(500);
  ASSERT_NO_FATAL_FAILURE(listenWithRawPeer());
  const std::string block(60000, 'x');
  Clock::duration slowest{};
  int handedOver = 0;
  for (int result = 0; result >= 0 && handedOver < 5000; ++handedOver) {
    const auto start = Clock::now();
    result = listener.sendText(block);
    slowest = std::max(slowest, Clock::now() - start);
  }
  EXPECT_LT(handedOver, 5000);
  EXPECT_LT(slowest, kPrompt);
  EXPECT_TRUE(listenerUi.waitForNotice("发送的消息太多，请稍后再试。"));

  // The person's chat is queued too, behind its own limit.
  auto start = Clock::now();
  EXPECT_EQ(listener.sendChatLine("still here"), 12);
  EXPECT_LT(Clock::now() - start, kPrompt);

  start = Clock::now();
  listener.disconnect();
  EXPECT_LT(Clock::now() - start, kPrompt);
  EXPECT_TRUE(listenerUi.waitFor([&] { return !listener.connected(); }));
  EXPECT_TRUE(listenerUi.waitForNotice("send failed."));
  EXPECT_TRUE(listenerUi.waitFor([&] { return !listener.personMessagesPending(); }));
  EXPECT_TRUE(listenerUi.waitForLog("连接中断"));
}

}  // namespace
}  // namespace brisk
