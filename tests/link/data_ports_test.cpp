// Data ports are used by their low 16 bits, as a peer's own conversion does; a port whose
// low bits are 0 is refused. Both roles, against a raw socket in the other peer's place.

#include <filesystem>

#include <gtest/gtest.h>

#include "link/offer_composition.h"
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

bool canListenOn(int port) {
  return listenTcp(static_cast<std::uint16_t>(port), 1).ok();
}

class DataPorts : public test::Sandbox {
 protected:
  ScriptedFrontend ui;
  Peer peer{ui, test::fastTiming()};
  RawConnection raw;

  void acceptEveryOffer() {
    ui.onPrompt = [](PromptHandle&, const PromptRequest&) { return PromptAnswer::Accept; };
    ui.onChooseSaveFile = [this](const std::string& name, const std::string&) {
      return std::optional<fs::path>(folder("in") / name);
    };
  }

  // Plays the sending side of a one-file transfer of "xyz" on a data connection.
  static void sendXyz(const RawConnection& data) {
    FileAttributeData attributes;
    attributes.attributes = kAttributeArchive;
    ASSERT_TRUE(data.send("\\b.bin\r\nFileSize:3\r\nFileAttr:" + attributes.toWire()));
    EXPECT_EQ(data.receiveSome(), "+0");
    ASSERT_TRUE(data.send("xyz"));
    EXPECT_EQ(data.receiveSome(), "0");
    std::string end = "| Transfer file(s) finished.";
    end.resize(30, '\0');
    ASSERT_TRUE(data.send(end));
    EXPECT_TRUE(data.waitForClose());
  }
};

TEST_F(DataPorts, ListeningNearTheTopNamesThePortAbove65535AndListensOnItsLowBits) {
  // Control port P: the offer in slot 65541 - P has data port 65542, which is port 6;
  // the one in slot 65535 - P has data port 65536, whose low bits are 0.
  int controlPort = 0;
  for (int candidate = 65534; candidate >= 65442 && controlPort == 0; --candidate) {
    if (canListenOn(candidate)) controlPort = candidate;
  }
  if (controlPort == 0 || !canListenOn(6)) {
    GTEST_SKIP() << "ports 6 and 65442-65534 cannot be listened on here (needs root)";
  }
  peer.listen(controlPort);
  raw = RawConnection::connectTo(controlPort);
  ASSERT_TRUE(raw.isOpen());
  ASSERT_TRUE(ui.waitForLinkState(LinkState::Connected));
  acceptEveryOffer();

  const std::string index = std::to_string(65541 - controlPort);
  ASSERT_TRUE(raw.send("TRANSFILE:ASK:Index:" + index + "\r\nb.bin\t3 bytes\r\n"));
  const std::string reply = "TRANSFILE:REPLY:YES:PORT:65542:Index:" + index + "\r\n";
  EXPECT_EQ(raw.receive(reply.size()), reply);
  RawConnection data = RawConnection::connectTo(6);
  ASSERT_TRUE(data.isOpen());
  sendXyz(data);
  EXPECT_EQ(test::readFile(folder("in") / "b.bin"), "xyz");

  const std::string zeroIndex = std::to_string(65535 - controlPort);
  ASSERT_TRUE(raw.send("TRANSFILE:ASK:Index:" + zeroIndex + "\r\nc.bin\t3 bytes\r\n"));
  const std::string refusal =
      "TRANSFILE:REPLY:Invalid data port 65536. Index:" + zeroIndex + "\r\n";
  EXPECT_EQ(raw.receive(refusal.size()), refusal);
  EXPECT_TRUE(ui.waitForNotice("Invalid data port: 65536 (port 0)"));
  EXPECT_FALSE(peer.offers().tsf(65535 - controlPort));
}

class ConnectingDataPorts : public DataPorts {
 protected:
  int port = test::freePortRange(100);
  RawConnection listener;

  void SetUp() override {
    DataPorts::SetUp();
    listener = RawConnection::listenOn(port);
    ASSERT_TRUE(listener.isOpen());
    peer.connect("127.0.0.1", port);
    raw = listener.accept();
    ASSERT_TRUE(raw.isOpen());
    ASSERT_TRUE(ui.waitForLinkState(LinkState::Connected));
  }
};

TEST_F(ConnectingDataPorts, TheOffererConnectsToTheLowBitsOfTheNamedPort) {
  const fs::path source = folder("out") / "a.txt";
  test::writeFile(source, "abc");
  const int dataPort = port + 2;
  RawConnection dataListener = RawConnection::listenOn(dataPort);
  peer.offerFiles({source});
  const std::string ask = "TRANSFILE:ASK:Index:1\r\na.txt\t3 bytes\r\n";
  EXPECT_EQ(raw.receive(ask.size()), ask);
  // A listening peer whose sum ran past 65535 three times over.
  ASSERT_TRUE(raw.send("TRANSFILE:REPLY:YES:PORT:" + std::to_string(3 * 65536 + dataPort) +
                       ":Index:1\r\n"));
  RawConnection data = dataListener.accept();
  ASSERT_TRUE(data.isOpen());
  EXPECT_TRUE(data.receiveSome().starts_with("\\a.txt\r\nFileSize:3\r\n"));

  // Low bits of 0: refused, the listening peer told to stop waiting, and the offer's slot
  // is free again.
  peer.offerFiles({source});
  const std::string second = "TRANSFILE:ASK:Index:2\r\na.txt\t3 bytes\r\n";
  EXPECT_EQ(raw.receive(second.size()), second);
  ASSERT_TRUE(raw.send("TRANSFILE:REPLY:YES:PORT:131072:Index:2\r\n"));
  EXPECT_TRUE(ui.waitForNotice("Invalid data port: 131072 (port 0)"));
  const std::string stop = "TRANSFILE:STOP:Index:2\r\n";
  EXPECT_EQ(raw.receive(stop.size()), stop);
  EXPECT_TRUE(ui.waitFor([&] { return !peer.offers().tsf(2); }));
}

// An acceptance that names no port this side can connect to ends the offer at once: the
// notice, a STOP so that the listening peer stops waiting, the Index free again and the
// end reported, instead of an offer held until the program ends.
TEST_F(ConnectingDataPorts, AnAcceptanceWithoutAUsablePortEndsTheOffer) {
  const fs::path source = folder("out") / "a.txt";
  test::writeFile(source, "abc");
  const std::pair<std::string, std::string> cases[] = {
      {"TRANSFILE:REPLY:YES:Index:1\r\n", "找不到关键字“PORT:”"},
      {"TRANSFILE:REPLY:YES:PORT:99999999999999999999:Index:1\r\n", "PORT out of range"},
      {"TRANSFILE:REPLY:YES:PORT:65536:Index:1\r\n", "Invalid data port: 65536 (port 0)"},
  };
  for (const auto& [acceptance, notice] : cases) {
    peer.offerFiles({source});
    const std::string ask = "TRANSFILE:ASK:Index:1\r\na.txt\t3 bytes\r\n";
    ASSERT_EQ(raw.receive(ask.size()), ask) << acceptance;
    ASSERT_TRUE(raw.send(acceptance));
    const std::string stop = "TRANSFILE:STOP:Index:1\r\n";
    EXPECT_EQ(raw.receive(stop.size()), stop) << acceptance;
    EXPECT_TRUE(ui.waitFor([&] { return peer.idle(); })) << acceptance;
    ASSERT_FALSE(ui.offerEnds().empty()) << acceptance;
    EXPECT_EQ(ui.notices().back(), notice);
    const OfferEnd end = ui.offerEnds().back();
    EXPECT_TRUE(end.ownOffer && end.outcome == OfferOutcome::Failed) << acceptance;
  }
  EXPECT_TRUE(ui.transferWindows().empty());
}

TEST_F(ConnectingDataPorts, TheReceiverTakesTheLowBitsOfAPortMessage) {
  acceptEveryOffer();
  const int dataPort = port + 5;
  RawConnection dataListener = RawConnection::listenOn(dataPort);
  ASSERT_TRUE(raw.send("TRANSFILE:ASK:Index:4\r\nb.bin\t3 bytes\r\n"));
  const std::string yes = "TRANSFILE:REPLY:YES:Index:4\r\n";
  EXPECT_EQ(raw.receive(yes.size()), yes);
  ASSERT_TRUE(raw.send("TRANSFILE:PORT:" + std::to_string(65536 + dataPort) + ":Index:4\r\n"));
  RawConnection data = dataListener.accept();
  ASSERT_TRUE(data.isOpen());
  sendXyz(data);
  EXPECT_EQ(test::readFile(folder("in") / "b.bin"), "xyz");

  ASSERT_TRUE(raw.send("TRANSFILE:ASK:Index:5\r\nc.bin\t3 bytes\r\n"));
  const std::string yes5 = "TRANSFILE:REPLY:YES:Index:5\r\n";
  EXPECT_EQ(raw.receive(yes5.size()), yes5);
  // After its acceptance this side sends nothing but PORT, STOP or CANCEL: a peer reads
  // any REPLY as the answer to its offer, which it has already had.
  ASSERT_TRUE(raw.send("TRANSFILE:PORT:65536:Index:5\r\n"));
  const std::string stop = "TRANSFILE:STOP:Index:5\r\n";
  EXPECT_EQ(raw.receive(stop.size()), stop);
  EXPECT_TRUE(ui.waitForNotice("Invalid data port: 65536 (port 0)"));
  EXPECT_TRUE(ui.waitFor([&] { return !peer.offers().tsf(5) && peer.idle(); }));
  ASSERT_FALSE(ui.offerEnds().empty());
  EXPECT_EQ(ui.offerEnds().back().outcome, OfferOutcome::Failed);
}

}  // namespace
}  // namespace brisk
