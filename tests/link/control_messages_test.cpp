#include <filesystem>

#include <gtest/gtest.h>

#include "link/offer_composition.h"
#include "link/peer.h"
#include "platform/text_codec.h"
#include "support/listening_peer_fixture.h"
#include "support/peer_pair.h"
#include "support/raw_connection.h"
#include "support/scripted_frontend.h"
#include "support/test_support.h"

namespace brisk {
namespace {

namespace fs = std::filesystem;
using test::RawConnection;
using test::ScriptedFrontend;

// A Peer that listens, and a raw socket in the connecting peer's place that speaks the
// control protocol byte for byte.
class ControlMessagesTest : public test::ListeningPeerFixture {
 protected:
  // Sends a message and waits until the peer has shown it in its log.
  void deliver(const std::string& message) {
    ASSERT_TRUE(raw.send(toWire(message)));
    ASSERT_TRUE(ui.waitForLog(message));
  }
};

TEST_F(ControlMessagesTest, TheListeningOffererNamesTheDataPortAndSendsTheProtocol) {
  const fs::path source = folder("out") / "a.txt";
  test::writeFile(source, test::patternBytes(100));
  peer.offerFiles({source});
  const std::string ask = "TRANSFILE:ASK:Index:1\r\na.txt\t100 bytes\r\n";
  EXPECT_EQ(raw.receive(ask.size()), ask);

  ASSERT_TRUE(raw.send("TRANSFILE:REPLY:YES:Index:1\r\n"));
  const std::string portMessage = "TRANSFILE:PORT:" + std::to_string(port + 2) + ":Index:1\r\n";
  EXPECT_EQ(raw.receive(portMessage.size()), portMessage);

  // The Peer's side starts listening on its own thread; connectTo waits for it.
  RawConnection data = RawConnection::connectTo(port + 2);
  ASSERT_TRUE(data.isOpen());
  const std::string header = data.receiveSome();
  ASSERT_TRUE(header.starts_with("\\a.txt\r\nFileSize:100\r\nFileAttr:"));
  EXPECT_EQ(header.size(), 1u + 5 + 11 + 3 + 11 + 36);
  ASSERT_TRUE(data.send("+0"));
  EXPECT_EQ(data.receive(100), test::readFile(source));
  ASSERT_TRUE(data.send("0"));
  const std::string end = data.receive(30);
  EXPECT_EQ(end, std::string("| Transfer file(s) finished.") + std::string(2, '\0'));
  EXPECT_TRUE(data.waitForClose());
}

TEST_F(ControlMessagesTest, TheListeningReceiverAnswersWithThePortAfterStartingItsSide) {
  const fs::path saveFolder = folder("in");
  ui.onPrompt = [](PromptHandle&, const PromptRequest&) { return PromptAnswer::Accept; };
  ui.onChooseSaveFile = [&](const std::string& name, const std::string&) {
    return std::optional<fs::path>(saveFolder / name);
  };
  ASSERT_TRUE(raw.send("TRANSFILE:ASK:Index:7\r\nb.bin\t3 bytes\r\n"));
  const std::string reply = "TRANSFILE:REPLY:YES:PORT:" + std::to_string(port + 8) + ":Index:7\r\n";
  EXPECT_EQ(raw.receive(reply.size()), reply);

  RawConnection data = RawConnection::connectTo(port + 8);
  ASSERT_TRUE(data.isOpen());
  FileAttributeData attributes;
  attributes.attributes = kAttributeArchive;
  attributes.size = 3;
  ASSERT_TRUE(data.send("\\b.bin\r\nFileSize:3\r\nFileAttr:" + attributes.toWire()));
  EXPECT_EQ(data.receiveSome(), "+0");
  ASSERT_TRUE(data.send("xyz"));
  EXPECT_EQ(data.receiveSome(), "0");
  std::string end = "| Transfer file(s) finished.";
  end.resize(30, '\0');
  ASSERT_TRUE(data.send(end));
  EXPECT_TRUE(data.waitForClose());
  EXPECT_EQ(test::readFile(saveFolder / "b.bin"), "xyz");
}

TEST_F(ControlMessagesTest, MalformedMessagesAreReportedAndTouchNothing) {
  const std::pair<std::string, std::string> cases[] = {
      {"TRANSFILE:ASK:1\r\na\t1 bytes\r\n", "Can not find Index"},
      {"TRANSFILE:ASK:Index:100\r\na\t1 bytes\r\n", "Index out of range: 100"},
      {"TRANSFILE:ASK:Index:0\r\na\t1 bytes\r\n", "Index out of range: 0"},
      {"TRANSFILE:ASK:Index:99999999999999999999999\r\na\t1 bytes\r\n", "Index out of range"},
      {"TRANSFILE:ASK:Index:3\r\nd\t文件夹\t1 KB\r\n\r\n总计 \r\n", "Can not find 文件个数"},
      {"TRANSFILE:ASK:Index:3\r\nd\t文件夹\t1 KB\r\n\r\n总计 文件个数：-1\r\n\r\n",
       "Can not find 文件大小"},
      {"TRANSFILE:REPLY:YES:Index\r\n", "找不到关键字“Index:”"},
      {"TRANSFILE:REPLY:YES:Index:5\r\n", "tsfwnd[index]==NULL"},
      {"TRANSFILE:REPLY:NO:Index:5\r\n", "tsf[5]为空6"},
      {"TRANSFILE:CANCEL:Index:5\r\n", "tsfwnd[index]==NULL"},
      {"TRANSFILE:STOP:\r\n", "Can not find Index:"},
      // A STOP crossing the end of its transfer says nothing: the notice that follows it
      // is the PORT's.
      {"TRANSFILE:STOP:Index:9\r\nTRANSFILE:PORT:6010:Index:9\r\n", "tsf[9]为空7"},
  };
  for (const auto& [message, notice] : cases) {
    const std::size_t before = ui.notices().size();
    deliver(message);
    ASSERT_TRUE(ui.waitFor([&] { return ui.notices().size() > before; })) << message;
    EXPECT_EQ(ui.notices().back().substr(0, notice.size()), notice) << message;
  }
  EXPECT_TRUE(ui.prompts().empty());
  EXPECT_TRUE(ui.transferWindows().empty());
}

TEST_F(ControlMessagesTest, AnOfferOfOneFolderIsAskedWithTwoButtonsAndWithoutTotals) {
  ui.onPrompt = [](PromptHandle&, const PromptRequest&) { return PromptAnswer::Refuse; };
  ASSERT_TRUE(
      raw.send(toWire("TRANSFILE:ASK:Index:4\r\nPhotos\t文件夹\t5.0 MB\r\n\r\n总计 "
                      "文件个数：-1\r\n　　 文件大小：5242880 Bytes = 5.0 MB\r\n")));
  const std::string refusal = "TRANSFILE:REPLY:NO:Index:4\r\n";
  EXPECT_EQ(raw.receive(refusal.size()), refusal);
  const auto prompt = ui.prompts().at(0);
  EXPECT_EQ(prompt.request.line, "对方要发送文件给你，你要接收吗？");
  EXPECT_EQ(prompt.request.text, "Photos\t文件夹\t5.0 MB");
  EXPECT_EQ(prompt.request.captions, (std::vector<std::string>{"接收", "拒绝"}));
}

TEST_F(ControlMessagesTest, AnOfferWhoseTotalsFollowItsFirstLineIsAskedWithAnEmptyText) {
  // No item line at all: the totals begin with the header's own line break. A single file
  // without a name has nothing to be saved under and is refused unasked.
  ui.onPrompt = [](PromptHandle&, const PromptRequest&) { return PromptAnswer::Refuse; };
  for (const char* count : {"-1", "1", "3"}) {
    SCOPED_TRACE(count);
    ASSERT_TRUE(raw.send(toWire(std::string("TRANSFILE:ASK:Index:4\r\n\r\n总计 文件个数：") +
                                count + "\r\n　　 文件大小：5 Bytes = 5 B\r\n")));
    const std::string answer = std::string_view(count) == "1"
                                   ? "TRANSFILE:REPLY:Invalid file name. Index:4\r\n"
                                   : "TRANSFILE:REPLY:NO:Index:4\r\n";
    EXPECT_EQ(raw.receive(answer.size()), answer);
    ASSERT_TRUE(ui.waitFor([&] { return test::slotsEmpty(peer); }));
  }
  ASSERT_EQ(ui.prompts().size(), 2u);
  EXPECT_EQ(ui.prompts().at(0).request.text, "");
}

// A single file is saved under its offered name unless the person picks another, so a name
// that could not be saved as sent is refused before the person sees anything of it; the
// peer reads the usual failure reply. Names that differ only in bytes that are no GBK text
// (y\xff.txt, y\xfe.txt) would otherwise be saved as one.
TEST_F(ControlMessagesTest, ASingleFileWhoseNameCannotBeSavedAsSentIsRefusedUnasked) {
  ui.onPrompt = [](PromptHandle&, const PromptRequest&) { return PromptAnswer::Refuse; };
  struct Case {
    const char* what;
    std::string wireName;
    bool refused;
  };
  const Case cases[] = {
      {"byte 0xFF",
       "a\xff"
       "b.txt",
       true},
      {"byte 0xFE", "y\xfe.txt", true},
      {"a lead byte at the end", "y\x81", true},
      {"right-to-left mark", toWire("gpj\u200F.exe"), true},
      {"line separator", toWire("two\u2028lines"), true},
      {"parent folder", "..", true},
      {"a path", "../x", true},
      {"backslash", "a\\b", true},
      {"escape", "a\x1b[2Jb", true},
      {"no name", "", true},
      {"GBK whose trail byte is a backslash", toWire("乗.txt"), false},
      {"GBK", toWire("报告 2024.txt"), false},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string slot = std::to_string(++index);
    const std::size_t notices = ui.notices().size();
    ASSERT_TRUE(raw.send("TRANSFILE:ASK:Index:" + slot + "\r\n" + c.wireName + "\t3 bytes\r\n"));
    const std::string answer = c.refused
                                   ? "TRANSFILE:REPLY:Invalid file name. Index:" + slot + "\r\n"
                                   : "TRANSFILE:REPLY:NO:Index:" + slot + "\r\n";
    EXPECT_EQ(raw.receive(answer.size()), answer);
    if (c.refused) {
      ASSERT_TRUE(ui.waitFor([&] { return ui.notices().size() > notices; }));
      EXPECT_TRUE(ui.notices().back().starts_with("对方要发送的文件的名字不能用于保存"));
    }
  }
  EXPECT_EQ(ui.prompts().size(), 2u);
  EXPECT_TRUE(ui.transferWindows().empty());

  // A folder's name is checked in its record, with every name inside it: its offer is asked.
  ASSERT_TRUE(
      raw.send("TRANSFILE:ASK:Index:50\r\nd\xff" +
               toWire("\t文件夹\t1 KB\r\n\r\n总计 文件个数：-1\r\n　　 文件大小：5 Bytes\r\n")));
  const std::string refusal = "TRANSFILE:REPLY:NO:Index:50\r\n";
  EXPECT_EQ(raw.receive(refusal.size()), refusal);
  EXPECT_EQ(ui.prompts().size(), 3u);
}

TEST_F(ControlMessagesTest, AnUnknownCommandIsOnlyShown) {
  deliver("TRANSFILE:HELLO:Index:1\r\n");
  deliver("plain chat\r\n");
  EXPECT_TRUE(ui.notices().empty());
}

}  // namespace
}  // namespace brisk
