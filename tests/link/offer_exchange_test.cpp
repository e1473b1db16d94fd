#include <algorithm>
#include <atomic>
#include <filesystem>

#include <gtest/gtest.h>

#include "link/offer_composition.h"
#include "link/peer.h"
#include "link/transfer_start.h"
#include "support/peer_pair.h"
#include "support/scripted_frontend.h"
#include "support/test_support.h"

namespace brisk {
namespace {

namespace fs = std::filesystem;
using test::ScriptedFrontend;
using test::slotsEmpty;

// The texts one side sent (blue) or received (black) on the control connection.
std::string logOf(const ScriptedFrontend& ui, Rgb colour) {
  std::string text;
  for (const auto& line : ui.log()) {
    if (line.colour == colour) text += line.text;
  }
  return text;
}

// Waits until `ui`'s log of `colour` holds `text`: a side logs a message it sent only after
// sending it, so the peer may act on it first.
bool waitForLogOf(const ScriptedFrontend& ui, Rgb colour, const std::string& text) {
  return ui.waitFor([&] { return logOf(ui, colour).find(text) != std::string::npos; });
}

// Sends a chat line and waits until the peer shows it and the sender has logged it: whatever
// the sender sent before has gone out and been logged by then.
void sendMarker(Peer& from, const ScriptedFrontend& fromUi, const ScriptedFrontend& toUi) {
  ASSERT_GT(from.sendChatLine("marker"), 0);
  ASSERT_TRUE(toUi.waitForLog("marker\r\n"));
  ASSERT_TRUE(waitForLogOf(fromUi, kBlue, "marker\r\n"));
}

// Answers an incoming offer's prompt with `answer`, and leaves the offering side's own
// waiting prompt open until the peer's answer closes it.
std::function<PromptAnswer(PromptHandle&, const PromptRequest&)> answerOffers(PromptAnswer answer) {
  return [answer](PromptHandle& handle, const PromptRequest& request) {
    if (request.kind == PromptKind::OwnOfferWaiting)
      return ScriptedFrontend::waitUntilClosed(handle);
    return answer;
  };
}

class OfferExchangeTest : public test::Sandbox {
 protected:
  ScriptedFrontend listenerUi;
  ScriptedFrontend connectorUi;
  Peer listener{listenerUi, test::fastTiming()};
  Peer connector{connectorUi, test::fastTiming()};
  int port = test::freePortRange(100);

  void SetUp() override {
    Sandbox::SetUp();
    listenerUi.onPrompt = answerOffers(PromptAnswer::Accept);
    connectorUi.onPrompt = answerOffers(PromptAnswer::Accept);
    ASSERT_TRUE(test::connectPeers(listener, listenerUi, connector, connectorUi, port));
  }

  // Waits until both sides have shown a verdict for their first transfer window.
  static std::optional<TransferVerdict> verdictOf(const ScriptedFrontend& ui) {
    const auto windows = ui.transferWindows();
    if (windows.empty()) return std::nullopt;
    return ui.transferWindow(windows.front()).verdict;
  }
  static bool waitForVerdict(const ScriptedFrontend& ui) {
    return ui.waitFor([&] { return verdictOf(ui).has_value(); });
  }
};

struct Roles {
  bool listenerOffers;
};

class OfferRolesTest : public OfferExchangeTest, public ::testing::WithParamInterface<Roles> {};

TEST_P(OfferRolesTest, OneFileGoesThroughInEitherRole) {
  Peer& sender = GetParam().listenerOffers ? listener : connector;
  Peer& receiver = GetParam().listenerOffers ? connector : listener;
  ScriptedFrontend& senderUi = GetParam().listenerOffers ? listenerUi : connectorUi;
  ScriptedFrontend& receiverUi = GetParam().listenerOffers ? connectorUi : listenerUi;

  const fs::path source = folder("out") / "a.txt";
  test::writeFile(source, test::patternBytes(100));
  const fs::path saveFolder = folder("in");
  receiverUi.onChooseSaveFile = [&](const std::string& name, const std::string& suffix) {
    EXPECT_EQ(name, "a.txt");
    EXPECT_EQ(suffix, "txt");
    return std::optional<fs::path>(saveFolder / "renamed.txt");
  };

  sender.offerFiles({source});
  ASSERT_TRUE(waitForVerdict(senderUi));
  ASSERT_TRUE(waitForVerdict(receiverUi));
  EXPECT_TRUE(verdictOf(senderUi)->complete);
  EXPECT_TRUE(verdictOf(receiverUi)->complete);
  EXPECT_EQ(test::readFile(saveFolder / "renamed.txt"), test::readFile(source));

  // The prompt showed the offer's line with three buttons.
  const auto prompts = receiverUi.prompts();
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_EQ(prompts[0].request.text, "a.txt\t100 bytes\r\n");
  EXPECT_EQ(prompts[0].request.captions.size(), 3u);

  // The negotiation on the control connection: the listening side names the data port.
  const std::string ask = "TRANSFILE:ASK:Index:1\r\na.txt\t100 bytes\r\n";
  const std::string dataPort = std::to_string(port + 2);
  EXPECT_TRUE(waitForLogOf(senderUi, kBlue, ask));
  EXPECT_TRUE(waitForLogOf(receiverUi, kBlack, ask));
  if (GetParam().listenerOffers) {
    EXPECT_TRUE(waitForLogOf(receiverUi, kBlue, "TRANSFILE:REPLY:YES:Index:1\r\n"));
    EXPECT_TRUE(waitForLogOf(senderUi, kBlue, "TRANSFILE:PORT:" + dataPort + ":Index:1\r\n"));
  } else {
    EXPECT_TRUE(
        waitForLogOf(receiverUi, kBlue, "TRANSFILE:REPLY:YES:PORT:" + dataPort + ":Index:1\r\n"));
  }
  EXPECT_TRUE(test::waitFor([&] { return slotsEmpty(sender) && slotsEmpty(receiver); }));
}

INSTANTIATE_TEST_SUITE_P(BothRoles, OfferRolesTest, ::testing::Values(Roles{true}, Roles{false}),
                         [](const auto& info) {
                           return info.param.listenerOffers ? "ListenerOffers" : "ConnectorOffers";
                         });

TEST_F(OfferExchangeTest, AFolderAndSeveralItemsFromDifferentFoldersArrive) {
  const fs::path tree = folder("out") / "照片";
  test::writeFile(tree / "a.jpg", test::patternBytes(1000, 1));
  test::writeFile(tree / "sub" / "b.jpg", test::patternBytes(5000, 2));
  fs::create_directories(tree / "empty");
  const fs::path elsewhere = folder("other") / "note.txt";
  test::writeFile(elsewhere, test::patternBytes(10, 3));

  const fs::path saveFolder = folder("in");
  listenerUi.onChooseFolder = [&] { return std::optional<fs::path>(saveFolder); };
  connector.offerFiles({tree, elsewhere});
  ASSERT_TRUE(waitForVerdict(connectorUi));
  ASSERT_TRUE(waitForVerdict(listenerUi));
  EXPECT_TRUE(verdictOf(listenerUi)->complete);
  EXPECT_TRUE(verdictOf(listenerUi)->hideFileBar);
  EXPECT_EQ(test::readFile(saveFolder / "照片" / "sub" / "b.jpg"),
            test::readFile(tree / "sub" / "b.jpg"));
  EXPECT_TRUE(fs::is_directory(saveFolder / "照片" / "empty"));
  EXPECT_EQ(test::readFile(saveFolder / "note.txt"), test::readFile(elsewhere));

  const auto prompt = listenerUi.prompts().at(0);
  EXPECT_EQ(prompt.request.captions, (std::vector<std::string>{"接收", "拒绝"}));
  EXPECT_NE(prompt.request.text.find("文件个数：2\r\n"), std::string::npos);
  const auto window = listenerUi.transferWindow(listenerUi.transferWindows().front());
  EXPECT_EQ(window.setup.fileCount, 2);
  EXPECT_FALSE(window.setup.isSender);
  // Several items have no one name; the window knows where they went.
  EXPECT_EQ(window.setup.itemName, "");
  EXPECT_EQ(window.setup.folder, saveFolder);
}

TEST_F(OfferExchangeTest, ARefusalFreesBothSidesAndTellsTheOfferingPerson) {
  listenerUi.onPrompt = answerOffers(PromptAnswer::Refuse);
  const fs::path source = folder("out") / "a.txt";
  test::writeFile(source, "hello");
  connector.offerFiles({source});
  ASSERT_TRUE(connectorUi.waitForNotice("对方不同意接收文件。"));
  EXPECT_EQ(connectorUi.notices().back(), "对方不同意接收文件。\r\n\r\na.txt\t5 bytes\r\n");
  // The refusing side logs its answer just after sending it.
  EXPECT_TRUE(listenerUi.waitForLog("TRANSFILE:REPLY:NO:Index:1\r\n"));
  EXPECT_TRUE(test::waitFor([&] { return slotsEmpty(connector) && slotsEmpty(listener); }));
  EXPECT_TRUE(connectorUi.transferWindows().empty());
}

TEST_F(OfferExchangeTest, BothSidesReportHowAnOfferEndedAndThenAreIdle) {
  const struct {
    const char* name;
    PromptAnswer answer;
    bool locationChosen;
    OfferOutcome outcome;
  } rows[] = {
      {"accepted", PromptAnswer::Accept, true, OfferOutcome::Accepted},
      {"refused", PromptAnswer::Refuse, false, OfferOutcome::Refused},
      {"no place to save", PromptAnswer::Accept, false, OfferOutcome::Failed},
  };
  const fs::path source = folder("out") / "a.txt";
  test::writeFile(source, "hello");
  std::size_t ends = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    listenerUi.onChooseSaveFile = [&](const std::string&, const std::string&) {
      return row.locationChosen ? std::optional<fs::path>(folder("in") / "a.txt") : std::nullopt;
    };
    listenerUi.onPrompt = [&](PromptHandle&, const PromptRequest& request) {
      EXPECT_EQ(request.kind, PromptKind::PeerSingleFileOffer);
      // While the person decides, the offer is under way on both sides.
      EXPECT_FALSE(listener.idle());
      EXPECT_FALSE(connector.idle());
      return row.answer;
    };
    connector.offerFiles({source});
    ++ends;
    ASSERT_TRUE(listenerUi.waitFor([&] {
      return listenerUi.offerEnds().size() == ends && connectorUi.offerEnds().size() == ends;
    }));
    const OfferEnd received = listenerUi.offerEnds().back();
    const OfferEnd offered = connectorUi.offerEnds().back();
    EXPECT_EQ(received.outcome, row.outcome);
    EXPECT_FALSE(received.ownOffer);
    EXPECT_EQ(offered.outcome, row.outcome);
    EXPECT_TRUE(offered.ownOffer);
    EXPECT_EQ(received.index, offered.index);
    if (row.outcome == OfferOutcome::Accepted) {
      ASSERT_TRUE(listenerUi.waitFor([&] {
        return listenerUi.transferEnds().size() == 1 && connectorUi.transferEnds().size() == 1;
      }));
      EXPECT_TRUE(listenerUi.transferEnds()[0].complete);
      EXPECT_FALSE(listenerUi.transferEnds()[0].isSender);
      EXPECT_TRUE(connectorUi.transferEnds()[0].complete);
      EXPECT_TRUE(connectorUi.transferEnds()[0].isSender);
    }
    EXPECT_TRUE(test::waitFor([&] { return listener.idle() && connector.idle(); }));
  }
  EXPECT_EQ(test::readFile(folder("in") / "a.txt"), "hello");
}

TEST_F(OfferExchangeTest, ACancelledChoiceOfLocationIsAnsweredAsAFailure) {
  const fs::path source = folder("out") / "a.txt";
  test::writeFile(source, "hello");
  connector.offerFiles({source});  // listenerUi.onChooseSaveFile cancels by default
  ASSERT_TRUE(connectorUi.waitForNotice("对方接收文件出错。"));
  EXPECT_TRUE(listenerUi.waitForNotice("GetSaveFileName failed or closed."));
  EXPECT_TRUE(waitForLogOf(listenerUi, kBlue,
                           "TRANSFILE:REPLY:GetSaveFileName failed or closed. Index:1\r\n"));
  EXPECT_TRUE(test::waitFor([&] { return slotsEmpty(connector) && slotsEmpty(listener); }));
}

TEST_F(OfferExchangeTest, TheOfferingPersonCanCancelWhileThePeerIsAsked) {
  std::atomic<bool> asked{false};
  listenerUi.onPrompt = [&](PromptHandle& handle, const PromptRequest&) {
    asked = true;
    return ScriptedFrontend::waitUntilClosed(handle);
  };
  connectorUi.onPrompt = [&](PromptHandle&, const PromptRequest& request) {
    EXPECT_EQ(request.captions, std::vector<std::string>{"取消"});
    EXPECT_TRUE(test::waitFor([&] { return asked.load(); }));
    return PromptAnswer::Cancel;
  };
  const fs::path source = folder("out") / "a.txt";
  test::writeFile(source, "hello");
  connector.offerFiles({source});
  ASSERT_TRUE(listenerUi.waitForNotice("对方已取消文件发送。"));
  EXPECT_EQ(listenerUi.notices().back(), "对方已取消文件发送。\r\n\r\na.txt\t5 bytes\r\n");
  EXPECT_TRUE(
      listenerUi.waitFor([&] { return listenerUi.prompts().at(0).result == PromptAnswer::None; }));
  EXPECT_TRUE(connectorUi.waitForLog("TRANSFILE:CANCEL:Index:1\r\n"));
  EXPECT_TRUE(test::waitFor([&] { return slotsEmpty(connector) && slotsEmpty(listener); }));
  // Both sides report the offer as cancelled, each from its own side.
  for (ScriptedFrontend* ui : {&listenerUi, &connectorUi}) {
    EXPECT_TRUE(ui->waitFor([&] {
      const auto ends = ui->offerEnds();
      return ends.size() == 1 && ends[0].outcome == OfferOutcome::Cancelled &&
             ends[0].ownOffer == (ui == &connectorUi);
    }));
  }
}

// The offer is withdrawn while the receiving person chooses where to save it. The choice
// made afterwards answers nothing: the peer may already use the Index for its next offer,
// which such an answer would accept in its place.
TEST_F(OfferExchangeTest, AnOfferWithdrawnWhileTheSaveDialogIsOpenIsNotAnswered) {
  std::atomic<bool> cancelled{false};
  listenerUi.onChooseSaveFile = [&](const std::string&, const std::string&) {
    // Chosen once the withdrawal has been taken here.
    EXPECT_TRUE(listenerUi.waitForNotice("对方已取消文件发送。"));
    cancelled = true;
    return std::optional<fs::path>(folder("in") / "a.txt");
  };
  connectorUi.onPrompt = [&](PromptHandle&, const PromptRequest&) {
    EXPECT_TRUE(test::waitFor([&] { return !listenerUi.prompts().empty(); }));
    return PromptAnswer::Cancel;
  };
  const fs::path source = folder("out") / "a.txt";
  test::writeFile(source, "hello");
  connector.offerFiles({source});
  ASSERT_TRUE(test::waitFor([&] { return cancelled.load(); }));
  ASSERT_TRUE(listener.waitUntilIdle(std::chrono::seconds(10)));
  ASSERT_NO_FATAL_FAILURE(sendMarker(listener, listenerUi, connectorUi));
  EXPECT_EQ(logOf(listenerUi, kBlue), "marker\r\n");
  EXPECT_TRUE(listenerUi.transferWindows().empty());
  EXPECT_TRUE(connectorUi.transferWindows().empty());
  EXPECT_TRUE(connectorUi.notices().empty());
}

class StopTest : public OfferExchangeTest, public ::testing::WithParamInterface<bool> {};

TEST_P(StopTest, StopFromEitherSideEndsBothTransfers) {
  const bool senderStops = GetParam();
  // The second file exists on the receiving side: its question holds the transfer still
  // while one side presses Stop.
  const fs::path sources = folder("out");
  test::writeFile(sources / "one.bin", test::patternBytes(4096, 1));
  test::writeFile(sources / "two.bin", test::patternBytes(4096, 2));
  const fs::path saveFolder = folder("in");
  test::writeFile(saveFolder / "two.bin", "old");
  listenerUi.onChooseFolder = [&] { return std::optional<fs::path>(saveFolder); };
  std::atomic<bool> asked{false};
  listenerUi.onFileExists = [&](const std::string&) {
    asked = true;
    // Held until the stop has reached this side, by its own button or the peer's message.
    EXPECT_TRUE(test::waitFor(
        [&] { return listenerUi.logText().find("TRANSFILE:STOP:Index:1") != std::string::npos; }));
    return FileExistsReply{FileExistsAnswer::TransferAgain, false};
  };
  connector.offerFiles({sources / "one.bin", sources / "two.bin"});
  ASSERT_TRUE(test::waitFor([&] { return asked.load(); }));
  // The Stop button of the stopping side's transfer window.
  const ScriptedFrontend& stopperUi = senderStops ? connectorUi : listenerUi;
  stopperUi.transferWindow(stopperUi.transferWindows().front()).setup.onStop();
  ASSERT_TRUE(waitForVerdict(connectorUi));
  ASSERT_TRUE(waitForVerdict(listenerUi));
  EXPECT_FALSE(verdictOf(connectorUi)->complete);
  EXPECT_EQ(verdictOf(listenerUi)->status, "传送中止！");
  EXPECT_EQ(test::readFile(saveFolder / "one.bin"), test::readFile(sources / "one.bin"));
  EXPECT_EQ(test::readFile(saveFolder / "two.bin"), "old");
  EXPECT_TRUE(test::waitFor([&] { return slotsEmpty(connector) && slotsEmpty(listener); }));
  // Each side knows who stopped it.
  ASSERT_TRUE(test::waitFor(
      [&] { return !connectorUi.transferEnds().empty() && !listenerUi.transferEnds().empty(); }));
  const TransferCause here = TransferCause::StoppedHere;
  const TransferCause there = TransferCause::StoppedByPeer;
  EXPECT_EQ(connectorUi.transferEnds().back().cause, senderStops ? here : there);
  EXPECT_EQ(listenerUi.transferEnds().back().cause, senderStops ? there : here);
  // The side that pressed Stop shows no notice about the broken connection.
  EXPECT_TRUE(stopperUi.notices().empty());
}

INSTANTIATE_TEST_SUITE_P(EitherSide, StopTest, ::testing::Bool(), [](const auto& info) {
  return info.param ? "SenderStops" : "ReceiverStops";
});

TEST_F(OfferExchangeTest, OneFolderIsOfferedAsMinusOneAndSavedIntoTheChosenFolder) {
  const fs::path tree = folder("out") / "Photos";
  test::writeFile(tree / "a.jpg", test::patternBytes(1000));
  const fs::path saveFolder = folder("in");
  connectorUi.onChooseFolder = [&] { return std::optional<fs::path>(saveFolder); };
  listener.offerFiles({tree});
  ASSERT_TRUE(waitForVerdict(listenerUi));
  ASSERT_TRUE(waitForVerdict(connectorUi));
  EXPECT_TRUE(verdictOf(connectorUi)->complete);
  EXPECT_EQ(test::readFile(saveFolder / "Photos" / "a.jpg"), test::readFile(tree / "a.jpg"));
  const auto prompt = connectorUi.prompts().at(0);
  EXPECT_EQ(prompt.request.text, "Photos\t文件夹\t1000 bytes");
  EXPECT_EQ(prompt.request.captions.size(), 2u);
  // Each side's window knows the folder by name, and where it lies on that side.
  const auto received = connectorUi.transferWindow(connectorUi.transferWindows().front()).setup;
  EXPECT_EQ(received.fileCount, -1);
  EXPECT_EQ(received.itemName, "Photos");
  EXPECT_EQ(received.folder, saveFolder);
  const auto sent = listenerUi.transferWindow(listenerUi.transferWindows().front()).setup;
  EXPECT_EQ(sent.itemName, "Photos");
  EXPECT_EQ(sent.folder, folder("out"));
  // The offering side's waiting prompt showed the folder's line alone (its thread may come
  // to it after the transfer has ended).
  ASSERT_TRUE(listenerUi.waitFor([&] { return !listenerUi.prompts().empty(); }));
  EXPECT_EQ(listenerUi.prompts().at(0).request.text, "Photos\t文件夹\t1000 bytes");
}

TEST_F(OfferExchangeTest, NinetyNinePendingOffersAreTheMost) {
  listenerUi.onPrompt = [](PromptHandle& handle, const PromptRequest&) {
    return ScriptedFrontend::waitUntilClosed(handle);
  };
  const fs::path source = folder("out") / "a.txt";
  test::writeFile(source, "x");
  for (int i = 0; i < 99; ++i) connector.offerFiles({source});
  ASSERT_TRUE(listenerUi.waitFor([&] { return listenerUi.prompts().size() == 99; }));
  connector.offerFiles({source});
  EXPECT_EQ(connectorUi.notices().back(), "同时传送的文件太多");
  ASSERT_NO_FATAL_FAILURE(sendMarker(connector, connectorUi, listenerUi));
  EXPECT_EQ(logOf(connectorUi, kBlue).find("TRANSFILE:ASK:Index:100"), std::string::npos);
}

TEST_F(OfferExchangeTest, OffersNeedAConnection) {
  connector.disconnect();
  ASSERT_TRUE(test::waitFor([&] { return !connector.connected(); }));
  const fs::path source = folder("out") / "a.txt";
  test::writeFile(source, "x");
  connector.offerFiles({source});
  EXPECT_EQ(connectorUi.notices().back(), "未连接或连接已断开！");
  EXPECT_TRUE(slotsEmpty(connector));
}

TEST_F(OfferExchangeTest, ACancelledFileDialogDoesNothingAtAll) {
  connector.offerFromDialog();  // the scripted dialog is cancelled
  EXPECT_TRUE(connectorUi.notices().empty());
  ASSERT_NO_FATAL_FAILURE(sendMarker(connector, connectorUi, listenerUi));
  EXPECT_EQ(logOf(connectorUi, kBlue), "marker\r\n");
  EXPECT_TRUE(slotsEmpty(connector));
  EXPECT_EQ(connector.offers().reserve()->index, 1);  // the slot it looked at is free again
}

TEST_F(OfferExchangeTest, ARootHasNoNameToOfferItUnder) {
  connector.offerFiles({"/"});
  ASSERT_TRUE(connectorUi.waitForNotice("strrchr failed"));
  EXPECT_EQ(connectorUi.notices().back(), "strrchr failed");
  ASSERT_NO_FATAL_FAILURE(sendMarker(connector, connectorUi, listenerUi));
  EXPECT_EQ(logOf(connectorUi, kBlue), "marker\r\n");
  // The failed offer lets go of its Index just after its notice.
  ASSERT_TRUE(test::waitFor([&] { return slotsEmpty(connector); }));
  EXPECT_EQ(connector.offers().reserve()->index, 1);
}

TEST_F(OfferExchangeTest, AnItemThatVanishedIsReportedAndNothingIsSent) {
  connector.offerFiles({folder("out") / "missing.txt"});
  ASSERT_TRUE(connectorUi.waitForNotice("GetFileAttributesEx failed:"));
  ASSERT_NO_FATAL_FAILURE(sendMarker(connector, connectorUi, listenerUi));
  EXPECT_EQ(logOf(connectorUi, kBlue), "marker\r\n");
  EXPECT_TRUE(slotsEmpty(connector));
}

}  // namespace
}  // namespace brisk

namespace brisk {
namespace {

// Many offers answered at once: the offering side must read every acceptance in time to
// connect before the receiving side stops waiting for its data connection, however long
// the pause after each transfer it starts.
using ManyOffersTest = test::Sandbox;

TEST_F(ManyOffersTest, AllAcceptedAtOnceComplete) {
  // Twenty pauses in a row take twice the accept limit; one connection made in time needs
  // far less, even on a busy machine.
  Timing timing = test::fastTiming();
  timing.messagePause = std::chrono::milliseconds(150);
  timing.acceptLimit = std::chrono::milliseconds(1500);
  ScriptedFrontend listenerUi;
  ScriptedFrontend connectorUi;
  Peer listener{listenerUi, timing};
  Peer connector{connectorUi, timing};
  const fs::path saveFolder = folder("in");
  constexpr int kOffers = 20;
  // Each side pauses after every transfer it starts: the offers take seconds in all.
  constexpr auto kAllVerdictsLimit = std::chrono::seconds(60);
  // The receiving side answers once every offer has been asked, all of them at once. A
  // transfer that ended before the last offer went out would free its Index on the
  // offering side first, and an offer under that Index could find it still taken here.
  listenerUi.onPrompt = [&](PromptHandle&, const PromptRequest&) {
    listenerUi.waitFor([&] { return listenerUi.prompts().size() == kOffers; }, kAllVerdictsLimit);
    return PromptAnswer::Accept;
  };
  connectorUi.onPrompt = answerOffers(PromptAnswer::Accept);
  listenerUi.onChooseSaveFile = [&](const std::string& name, const std::string&) {
    return std::optional<fs::path>(saveFolder / name);
  };
  ASSERT_TRUE(
      test::connectPeers(listener, listenerUi, connector, connectorUi, test::freePortRange(100)));

  for (int i = 0; i < kOffers; ++i) {
    const fs::path source = folder("out") / ("f" + std::to_string(i));
    test::writeFile(source, test::patternBytes(1000, i));
    connector.offerFiles({source});
  }
  const auto allVerdicts = [](const ScriptedFrontend& ui) {
    const auto windows = ui.transferWindows();
    return windows.size() == kOffers &&
           std::all_of(windows.begin(), windows.end(),
                       [&](TransferWindowId id) { return ui.transferWindow(id).verdict; });
  };
  // What each side shows, for a failure to tell where the offers stopped.
  const auto state = [](const ScriptedFrontend& ui) {
    std::string text = std::to_string(ui.transferWindows().size()) + " windows;";
    for (const TransferWindowId id : ui.transferWindows()) {
      const auto window = ui.transferWindow(id);
      text += " [" + (window.statuses.empty() ? std::string() : window.statuses.back()) + "|" +
              (window.verdict ? window.verdict->status : "no verdict") + "]";
    }
    for (const std::string& notice : ui.notices()) text += " notice: " + notice;
    return text + "\nlog: " + logOf(ui, kBlue) + "\n";
  };
  ASSERT_TRUE(connectorUi.waitFor([&] { return allVerdicts(connectorUi); }, kAllVerdictsLimit))
      << "connector: " << state(connectorUi) << "listener: " << state(listenerUi);
  ASSERT_TRUE(listenerUi.waitFor([&] { return allVerdicts(listenerUi); }, kAllVerdictsLimit))
      << "connector: " << state(connectorUi) << "listener: " << state(listenerUi);
  for (const TransferWindowId id : connectorUi.transferWindows()) {
    EXPECT_TRUE(connectorUi.transferWindow(id).verdict->complete);
  }
  for (int i = 0; i < kOffers; ++i) {
    EXPECT_EQ(test::readFile(saveFolder / ("f" + std::to_string(i))), test::patternBytes(1000, i));
  }
}

}  // namespace
}  // namespace brisk
