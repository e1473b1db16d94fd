// Encrypted sessions between two Peers: which port a connection takes, first contact and
// its code, known peers and changed keys, and what a session does with a peer that
// breaks its rules.

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>

#include "link/peer.h"
#include "platform/text_codec.h"
#include "secure/first_contact.h"
#include "secure/session_lines.h"
#include "support/raw_connection.h"
#include "support/scripted_frontend.h"
#include "support/test_support.h"

namespace brisk::test {
namespace {

using namespace std::chrono_literals;

Timing sessionTiming() {
  Timing timing = fastTiming();
  timing.handshakeLimit = 3s;
  timing.codeAnswerLimit = 3s;
  return timing;
}

// One side: a Peer with an identity of its own, and the store of the peers it trusts.
struct Side {
  Side(const std::filesystem::path& folder, const std::string& name) {
    std::string error;
    setup = makeSecureSetup(Identity::generate(),
                            std::make_shared<TrustStore>(TrustStore::fileIn(folder)), name, error);
    EXPECT_TRUE(setup) << error;
    ui.onCompareCode = [](PromptHandle&, const CodeComparison&) { return CodeAnswer::Same; };
  }
  ~Side() { peer.shutdown(); }

  void start() { peer.setSecureSetup(setup); }
  const Fingerprint& fingerprint() const { return setup->identity->fingerprint(); }
  std::size_t trusted() const { return setup->trust->list().peers.size(); }

  ScriptedFrontend ui;
  Peer peer{ui, sessionTiming()};
  std::shared_ptr<SecureSetup> setup;
};

class EncryptedSession : public Sandbox {
 protected:
  // Listens on `listener` and connects `connector`; true once both are connected.
  bool link(Side& listener, Side& connector) {
    listener.peer.listen(port);
    if (!waitFor([&] { return isListening(port); })) return false;
    connector.peer.connect("127.0.0.1", port);
    return listener.ui.waitForLinkState(LinkState::Connected, 8s) &&
           connector.ui.waitForLinkState(LinkState::Connected, 8s);
  }
  // Waits until neither side has a connection or an attempt.
  static void waitBothIdle(Side& a, Side& b) {
    EXPECT_TRUE(a.ui.waitForLinkState(LinkState::Idle, 8s));
    EXPECT_TRUE(b.ui.waitForLinkState(LinkState::Idle, 8s));
  }

  int port = freePortRange(102);
};

TEST_F(EncryptedSession, FirstContactShowsOneCodeOnBothSidesThenTheKeysAreKnown) {
  Side a(folder("a"), "甲");
  // A name that would turn the text around it is shown and kept without the override.
  Side b(folder("b"), "\u202E乙");
  a.start();
  b.start();
  ASSERT_TRUE(link(a, b)) << a.ui.logText() << b.ui.logText();
  ASSERT_EQ(a.ui.codeComparisons().size(), 1u);
  ASSERT_EQ(b.ui.codeComparisons().size(), 1u);
  EXPECT_EQ(a.ui.codeComparisons()[0].code, b.ui.codeComparisons()[0].code);
  EXPECT_EQ(a.ui.codeComparisons()[0].peerName, "乙");
  EXPECT_EQ(a.ui.codeComparisons()[0].peerFingerprint, b.fingerprint().groupedText());
  EXPECT_TRUE(a.peer.sessionEncrypted());
  EXPECT_EQ(a.peer.sharedCapabilities(), linkCapabilities());
  EXPECT_EQ(a.setup->trust->find(b.fingerprint()).peer->name, "乙");
  EXPECT_EQ(b.setup->trust->find(a.fingerprint()).peer->name, "甲");

  // Today's messages inside the session, byte for byte as chat.
  ASSERT_GT(b.peer.sendChatLine("加密的问候"), 0);
  EXPECT_TRUE(a.ui.waitForLog("加密的问候"));

  // A transfer's data connection is keyed from the session on both sides.
  const std::filesystem::path source = folder("out") / "a.bin";
  writeFile(source, patternBytes(200000, 5));
  a.ui.onPrompt = [](PromptHandle&, const PromptRequest&) { return PromptAnswer::Accept; };
  a.ui.onChooseSaveFile = [&](const std::string&, const std::string&) {
    return std::optional<std::filesystem::path>(folder("in") / "a.bin");
  };
  b.peer.offerFiles({source});
  ASSERT_TRUE(a.ui.waitFor([&] { return !a.ui.transferEnds().empty(); }));
  EXPECT_TRUE(a.ui.transferEnds()[0].complete) << ::testing::PrintToString(a.ui.notices());
  EXPECT_TRUE(readFile(folder("in") / "a.bin") == patternBytes(200000, 5));

  // Leaving ends the session in order: the peer sees the link end, not a cut.
  b.peer.disconnect();
  waitBothIdle(a, b);
  EXPECT_EQ(a.ui.logText().find("中途切断"), std::string::npos) << a.ui.logText();
  EXPECT_TRUE(a.ui.notices().empty()) << ::testing::PrintToString(a.ui.notices());

  // Known on both sides: no code the second time.
  ASSERT_TRUE(link(a, b));
  EXPECT_EQ(a.ui.codeComparisons().size(), 1u);
  EXPECT_EQ(b.ui.codeComparisons().size(), 1u);
  EXPECT_TRUE(b.ui.waitForLog("对方已验证：甲"));
}

TEST_F(EncryptedSession, TransfersAreStreamedOnlyWhenBothSidesNameIt) {
  const struct {
    const char* what;
    bool listenerStreams, connectorStreams;
  } rows[] = {{"both", true, true}, {"listener not", false, true}, {"connector not", true, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const std::filesystem::path here = folder(row.what);
    Side a(folder(std::string(row.what) + "/a"), "甲");
    Side b(folder(std::string(row.what) + "/b"), "乙");
    a.setup->streamedTransfers = row.listenerStreams;
    b.setup->streamedTransfers = row.connectorStreams;
    a.start();
    b.start();
    port = freePortRange(102);
    ASSERT_TRUE(link(a, b));
    // Neither side streams what the other would read as the protocol's records.
    EXPECT_EQ(a.peer.sharedCapabilities().empty(), !(row.listenerStreams && row.connectorStreams));
    EXPECT_EQ(b.peer.sharedCapabilities(), a.peer.sharedCapabilities());
    writeFile(here / "a.bin", patternBytes(300000, 7));
    a.ui.onPrompt = [](PromptHandle&, const PromptRequest&) { return PromptAnswer::Accept; };
    a.ui.onChooseSaveFile = [&](const std::string&, const std::string&) {
      return std::optional<std::filesystem::path>(here / "got.bin");
    };
    b.peer.offerFiles({here / "a.bin"});
    ASSERT_TRUE(a.ui.waitFor([&] { return !a.ui.transferEnds().empty(); }));
    EXPECT_TRUE(a.ui.transferEnds()[0].complete) << ::testing::PrintToString(a.ui.notices());
    EXPECT_TRUE(readFile(here / "got.bin") == patternBytes(300000, 7));
  }
}

TEST_F(EncryptedSession, DifferentNoAnswerOrAForgottenKeyOnOneSideDecideTogether) {
  const struct {
    const char* what;
    CodeAnswer listenerAnswer;  // None: the question stays open until the time-out
    bool listenerKnewBefore;    // the connector forgot the listener: both compare again
    bool connected;
  } rows[] = {
      {"不同", CodeAnswer::Different, false, false},
      {"time-out", CodeAnswer::None, false, false},
      {"one side forgot", CodeAnswer::Same, true, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Side a(folder(std::string("a-") + row.what), "甲");
    Side b(folder(std::string("b-") + row.what), "乙");
    a.ui.onCompareCode = [&row](PromptHandle& handle, const CodeComparison&) {
      if (row.listenerAnswer != CodeAnswer::None) return row.listenerAnswer;
      (void)ScriptedFrontend::waitUntilClosed(handle);
      return CodeAnswer::None;
    };
    if (row.listenerKnewBefore) {
      (void)a.setup->trust->remember(b.fingerprint(), "乙", "127.0.0.1", {});
    }
    a.start();
    b.start();
    port = freePortRange(102);
    a.peer.listen(port);
    ASSERT_TRUE(waitFor([&] { return isListening(port); }));
    b.peer.connect("127.0.0.1", port);
    ASSERT_TRUE(b.ui.waitFor([&] { return !b.ui.codeComparisons().empty(); }));
    if (row.connected) {
      ASSERT_TRUE(b.ui.waitForLinkState(LinkState::Connected, 8s));
      EXPECT_EQ(a.ui.codeComparisons().size(), 1u);
      EXPECT_EQ(b.trusted(), 1u);
      continue;
    }
    waitBothIdle(a, b);
    EXPECT_EQ(a.trusted() + b.trusted(), 0u);
    EXPECT_EQ(a.ui.logText().find("连接成功"), std::string::npos);
    EXPECT_EQ(b.ui.logText().find("连接成功"), std::string::npos);
  }
}

TEST_F(EncryptedSession, ConnectFallsBackToThePlainPortOnlyForAStranger) {
  const struct {
    const char* what;
    bool listenerEncrypted;    // false: a peer of the plain protocol only
    bool encryptedOnly;        // 只使用加密连接 on the connecting side
    bool listenerKnownBefore;  // the connecting side verified a peer at this address
    bool connected;
    const char* log;  // on the connecting side
  } rows[] = {
      {"encrypted both", true, false, false, true, "连接已加密"},
      {"plain peer", false, false, false, true, "连接未加密，对方的身份未经验证"},
      {"encrypted only", false, true, false, false, "只使用加密连接"},
      {"verified before", false, false, true, false, "为安全起见，没有改用未加密的连接"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Side a(folder(std::string("a-") + row.what), "甲");
    Side b(folder(std::string("b-") + row.what), "乙");
    if (row.listenerEncrypted) a.start();
    b.setup->encryptedOnly = row.encryptedOnly;
    if (row.listenerKnownBefore) {
      (void)b.setup->trust->remember(a.fingerprint(), "甲", "127.0.0.1", {});
    }
    b.start();
    port = freePortRange(102);
    a.peer.listen(port);
    ASSERT_TRUE(waitFor([&] { return isListening(port); }));
    b.peer.connect("127.0.0.1", port);
    EXPECT_TRUE(b.ui.waitForLog(row.log, 8s)) << b.ui.logText();
    if (row.connected) {
      EXPECT_TRUE(b.ui.waitForLinkState(LinkState::Connected, 8s));
      EXPECT_EQ(b.peer.sessionEncrypted(), row.listenerEncrypted);
    } else {
      EXPECT_TRUE(b.ui.waitForLinkState(LinkState::Idle, 8s));
      EXPECT_FALSE(a.peer.connected());
    }
  }
}

// The switch is the person's to flip while the program runs: each Connect goes by the
// setting it found when it started.
TEST_F(EncryptedSession, TheEncryptedOnlySwitchAppliesFromTheNextConnect) {
  Side b(folder("b"), "乙");
  b.start();
  for (const bool encryptedOnly : {true, false}) {
    SCOPED_TRACE(encryptedOnly);
    Side a(folder(encryptedOnly ? "a-1" : "a-2"), "甲");  // of the plain protocol only
    b.peer.setEncryptedOnly(encryptedOnly);
    port = freePortRange(102);
    a.peer.listen(port);
    ASSERT_TRUE(waitFor([&] { return isListening(port); }));
    b.peer.connect("127.0.0.1", port);
    if (encryptedOnly) {
      EXPECT_TRUE(b.ui.waitForLog("已选择只使用加密连接", 8s)) << b.ui.logText();
      EXPECT_TRUE(b.ui.waitForLinkState(LinkState::Idle, 8s));
      EXPECT_FALSE(a.peer.connected());
    } else {
      EXPECT_TRUE(b.ui.waitForLinkState(LinkState::Connected, 8s)) << b.ui.logText();
      EXPECT_FALSE(b.peer.sessionEncrypted());
    }
  }
  // Chosen where no identity could be had: nothing rather than a plain connection.
  Side c(folder("c"), "丙");
  c.peer.setEncryptedOnly(true);
  c.peer.connect("127.0.0.1", port);
  EXPECT_TRUE(c.ui.waitForLog("本机不能使用加密连接", 8s)) << c.ui.logText();
  EXPECT_TRUE(c.ui.waitForLinkState(LinkState::Idle, 8s));
}

TEST_F(EncryptedSession, AKnownAddressWithAnotherKeyIsStoppedShowingBothFingerprints) {
  Side a(folder("a"), "甲");
  Side b(folder("b"), "乙");
  Side intruder(folder("m"), "乙");
  ASSERT_EQ(a.setup->trust->remember(b.fingerprint(), "乙", "127.0.0.1", {}).status,
            TrustStore::ChangeStatus::Done);
  a.start();
  intruder.start();
  intruder.peer.listen(port);
  ASSERT_TRUE(waitFor([&] { return isListening(port + 101); }));
  a.peer.connect("127.0.0.1", port);
  ASSERT_TRUE(a.ui.waitForNotice("警告"));
  const std::string notice = a.ui.notices().back();
  EXPECT_NE(notice.find(b.fingerprint().groupedText()), std::string::npos) << notice;
  EXPECT_NE(notice.find(intruder.fingerprint().groupedText()), std::string::npos) << notice;
  EXPECT_NE(notice.find("已信任的计算机..."), std::string::npos) << notice;  // where to forget
  waitBothIdle(a, intruder);
  EXPECT_TRUE(a.ui.codeComparisons().empty());
  EXPECT_EQ(a.trusted(), 1u);
  EXPECT_EQ(intruder.trusted(), 0u);
}

TEST_F(EncryptedSession, ThePlainPortOfAnEncryptedListenerIsTodaysUnlessOnlyVerifiedPeersMayCome) {
  for (const bool verifiedOnly : {false, true}) {
    SCOPED_TRACE(verifiedOnly);
    Side a(folder(verifiedOnly ? "inbox" : "window"), "甲");
    a.setup->verifiedOnly = verifiedOnly;
    a.start();
    port = freePortRange(102);
    a.peer.listen(port);
    const RawConnection raw = RawConnection::connectTo(port);
    ASSERT_TRUE(raw.isOpen());
    if (verifiedOnly) {
      EXPECT_TRUE(raw.send(toWire("陌生人\r\n")));
      EXPECT_TRUE(raw.waitForClose());
      EXPECT_TRUE(a.ui.waitForLog("拒绝了一个未加密的连接"));
      EXPECT_EQ(a.ui.logText().find("陌生人"), std::string::npos);
      continue;
    }
    ASSERT_TRUE(a.ui.waitForLinkState(LinkState::Connected));
    EXPECT_TRUE(raw.send(toWire("你好\r\n")));
    EXPECT_TRUE(a.ui.waitForLog("你好"));
    ASSERT_GT(a.peer.sendChatLine("回答"), 0);
    EXPECT_EQ(raw.receive(toWire("回答\r\n").size()), toWire("回答\r\n"));
  }
}

// Plays the connecting side of a session by hand, up to a reveal of another nonce than
// the one committed to.
TEST_F(EncryptedSession, ARevealThatDoesNotMatchItsCommitmentEndsTheConnection) {
  Side a(folder("a"), "甲");
  a.ui.onCompareCode = [](PromptHandle&, const CodeComparison&) {
    ADD_FAILURE() << "no code may be shown";
    return CodeAnswer::Same;
  };
  a.start();
  a.peer.listen(port);
  ASSERT_TRUE(waitFor([&] { return isListening(port + 101); }));
  SocketInterrupter interrupter;
  SocketResult socket = connectTcp(*IpAddress::parseDotted("127.0.0.1"),
                                   static_cast<std::uint16_t>(port + 101), interrupter);
  ASSERT_TRUE(socket.ok());
  const std::shared_ptr<const Identity> cheat = Identity::generate();
  std::string error;
  const auto context = TlsContext::forControl(*cheat, error);
  TlsStart started =
      startControlSession(*context, std::move(socket.socket), TlsRole::Connecting, 3s);
  ASSERT_TRUE(started.ok()) << started.failure.text;
  TlsStream& session = *started.stream;
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  ASSERT_GT(session.sendAll(helloLine(false, "cheat")), 0);
  ASSERT_EQ(readSessionLine(session, deadline).status, SessionLineRead::Status::Line);
  const Digest committed{1};
  const Digest revealed{2};
  ASSERT_GT(session.sendAll(commitLine(
                firstContactCommitment(TlsRole::Connecting, cheat->fingerprint(), committed))),
            0);
  ASSERT_EQ(readSessionLine(session, deadline).status, SessionLineRead::Status::Line);  // commit
  ASSERT_EQ(readSessionLine(session, deadline).status, SessionLineRead::Status::Line);  // reveal
  ASSERT_GT(session.sendAll(revealLine(revealed)), 0);
  EXPECT_TRUE(a.ui.waitForLog("验证码交换失败"));
  EXPECT_TRUE(a.ui.waitForLinkState(LinkState::Idle));
  EXPECT_EQ(a.trusted(), 0u);
}

// Passes a session's bytes between two sides and, when told, changes or cuts the next
// piece from the connecting side.
class Relay {
 public:
  enum class Harm { None, Flip, Cut };

  Relay(int listenPort, int targetPort)
      : listener_(listenTcp(static_cast<std::uint16_t>(listenPort), 2).socket) {
    thread_ = std::thread([this, targetPort] { run(targetPort); });
  }
  ~Relay() {
    stop_ = true;
    thread_.join();
  }
  void harmNext(Harm harm) { harm_ = harm; }

 private:
  void run(int targetPort) {
    SocketInterrupter interrupter;
    const SocketResult from = acceptTcp(listener_, interrupter, std::nullopt, 8s);
    SocketResult to = connectTcp(*IpAddress::parseDotted("127.0.0.1"),
                                 static_cast<std::uint16_t>(targetPort), interrupter);
    if (!from.ok() || !to.ok()) return;
    const int fromFd = from.socket.fd();
    const int toFd = to.socket.fd();
    char buffer[65536];
    while (!stop_) {
      pollfd fds[2] = {{fromFd, POLLIN, 0}, {toFd, POLLIN, 0}};
      if (::poll(fds, 2, 50) <= 0) continue;
      for (int i = 0; i < 2; ++i) {
        if (fds[i].revents == 0) continue;
        const int in = i == 0 ? fromFd : toFd;
        const int out = i == 0 ? toFd : fromFd;
        const ssize_t n = ::recv(in, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        std::size_t length = static_cast<std::size_t>(n);
        const Harm harm = i == 0 ? harm_.exchange(Harm::None) : Harm::None;
        if (harm == Harm::Flip) buffer[length - 1] ^= 0x01;
        if (harm == Harm::Cut) length = length / 2;
        (void)::send(out, buffer, length, MSG_NOSIGNAL);
        if (harm == Harm::Cut) {
          ::shutdown(toFd, SHUT_WR);
          ::shutdown(fromFd, SHUT_RD);
        }
      }
    }
  }

  Socket listener_;
  std::atomic<bool> stop_{false};
  std::atomic<Harm> harm_{Harm::None};
  std::thread thread_;
};

TEST_F(EncryptedSession, AChangedOrCutRecordEndsTheSessionWithANoticeAndShowsNothingOfIt) {
  for (const Relay::Harm harm : {Relay::Harm::Flip, Relay::Harm::Cut}) {
    SCOPED_TRACE(static_cast<int>(harm));
    Side a(folder("a" + std::to_string(static_cast<int>(harm))), "甲");
    Side b(folder("b" + std::to_string(static_cast<int>(harm))), "乙");
    a.start();
    b.start();
    port = freePortRange(102);
    const int relayPort = freePortRange(102);
    a.peer.listen(port);
    ASSERT_TRUE(waitFor([&] { return isListening(port + 101); }));
    Relay relay(relayPort + 101, port + 101);
    b.peer.connect("127.0.0.1", relayPort);
    ASSERT_TRUE(a.ui.waitForLinkState(LinkState::Connected, 8s)) << a.ui.logText();
    ASSERT_TRUE(b.ui.waitForLinkState(LinkState::Connected, 8s));
    relay.harmNext(harm);
    ASSERT_GT(b.peer.sendChatLine("不该出现的秘密"), 0);
    EXPECT_TRUE(a.ui.waitForNotice("加密连接出错")) << a.ui.logText();
    EXPECT_TRUE(a.ui.waitForLinkState(LinkState::Idle));
    EXPECT_EQ(a.ui.logText().find("不该出现的秘密"), std::string::npos);
  }
}

}  // namespace
}  // namespace brisk::test
