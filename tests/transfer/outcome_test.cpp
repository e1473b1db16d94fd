// What a transfer thread records as its outcome, against a raw socket playing the peer that
// finishes the protocol, breaks it off, or answers with an error line.

#include <functional>

#include <gtest/gtest.h>

#include "support/raw_connection.h"
#include "transfer/data_records.h"
#include "transfer/transfer_fixture.h"

namespace brisk::test {
namespace {

using namespace std::string_literals;

FileAttributeData fileData(std::uint64_t size) {
  FileAttributeData data;
  data.attributes = kAttributeArchive;
  data.size = size;
  return data;
}

FileAttributeData folderData() {
  FileAttributeData data;
  data.attributes = kAttributeDirectory;
  return data;
}

struct SenderCase {
  const char* name;
  // Plays the receiving side after the header of a.bin (100 bytes) has been read.
  std::function<void(const RawConnection&)> peer;
  bool finished;
  std::uint64_t totalDone;
  bool notice;
};

class SenderOutcome : public Sandbox, public ::testing::WithParamInterface<SenderCase> {};

TEST_P(SenderOutcome, FilesCountOnlyOnceAcknowledgedAndTheEndOnlyAfterEveryOne) {
  writeFile(root() / "out/a.bin", patternBytes(100, 1));
  writeFile(root() / "out/b.bin", patternBytes(50, 2));
  const int port = freePortRange();
  const RawConnection listener = RawConnection::listenOn(port);
  TransferSide sender;
  sender.offer(root() / "out", {"a.bin", "b.bin"}, port, true);
  sender.start();
  RawConnection peer = listener.accept();
  ASSERT_TRUE(peer.isOpen());
  ASSERT_TRUE(peer.receiveSome().starts_with("\\a.bin\r\n"));
  GetParam().peer(peer);
  peer.close();

  ASSERT_TRUE(sender.join());
  EXPECT_EQ(sender.record->protocolFinished, GetParam().finished);
  EXPECT_EQ(sender.record->totalDone, GetParam().totalDone);
  EXPECT_EQ(!sender.frontend.notices().empty(), GetParam().notice);
}

void acknowledgeA(const RawConnection& peer) {
  peer.send("+0");
  EXPECT_EQ(peer.receive(100), patternBytes(100, 1));
  peer.send("0");
}

const SenderCase kSenderCases[] = {
    {"Complete",
     [](const RawConnection& peer) {
       acknowledgeA(peer);
       EXPECT_TRUE(peer.receiveSome().starts_with("\\b.bin\r\n"));
       peer.send("+0");
       EXPECT_EQ(peer.receive(50), patternBytes(50, 2));
       peer.send("0");
       EXPECT_EQ(peer.receive(30), fixedRecord(kEndText));
     },
     true, 150, false},
    {"ErrorLineAnswersTheData",
     [](const RawConnection& peer) {
       peer.send("+0");
       EXPECT_EQ(peer.receive(100), patternBytes(100, 1));
       peer.send("| WriteFile failed:\r\nNo space left on device"s + '\0');
     },
     false, 0, true},
    {"ClosedWithoutTheAcknowledgement",
     [](const RawConnection& peer) {
       peer.send("+0");
       EXPECT_EQ(peer.receive(100), patternBytes(100, 1));
     },
     false, 0, true},
    // Every byte of b.bin went through, but a.bin did not: not what was offered.
    {"FirstFileSkippedByThePeer",
     [](const RawConnection& peer) {
       peer.send(fixedRecord(kSkipText));
       EXPECT_TRUE(peer.receiveSome().starts_with("\\b.bin\r\n"));
       peer.send("+0");
       EXPECT_EQ(peer.receive(50), patternBytes(50, 2));
       peer.send("0");
       EXPECT_EQ(peer.receive(30), fixedRecord(kEndText));
     },
     false, 50, false},
    {"ClosedAfterTheFirstFile",
     [](const RawConnection& peer) {
       acknowledgeA(peer);
       EXPECT_TRUE(peer.receiveSome().starts_with("\\b.bin\r\n"));
       peer.send("+0");
       EXPECT_EQ(peer.receive(50), patternBytes(50, 2));
     },
     false, 100, true},
};

INSTANTIATE_TEST_SUITE_P(Peers, SenderOutcome, ::testing::ValuesIn(kSenderCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct ReceiverCase {
  const char* name;
  int fileCount;
  std::vector<std::string> records;  // sent one after another, each answer read in between
  bool finished;
  const char* notice;  // how the one notice begins, or nullptr for none
};

class OutcomeWire : public Sandbox {};

const char* const kCutOff = "传送文件连接中断：\r\n对方在传送结束前关闭了连接。";

class ReceiverOutcome : public Sandbox, public ::testing::WithParamInterface<ReceiverCase> {};

TEST_P(ReceiverOutcome, OnlyTheEndRecordAfterEveryFilesBytesFinishes) {
  const int port = freePortRange();
  TransferSide receiver;
  receiver.accept(folder("in"), GetParam().fileCount, 0, port, false);
  receiver.start();
  {
    const RawConnection peer = RawConnection::connectTo(port);
    ASSERT_TRUE(peer.isOpen());
    for (const std::string& record : GetParam().records) {
      ASSERT_TRUE(peer.send(record));
      // Data and the end record are not answered with anything to wait for.
      if (record[0] == '>' || record[0] == '\\') peer.receiveSome();
    }
  }
  ASSERT_TRUE(receiver.join());
  EXPECT_EQ(receiver.record->protocolFinished, GetParam().finished);
  const auto notices = receiver.frontend.notices();
  if (GetParam().notice == nullptr) {
    EXPECT_TRUE(notices.empty()) << notices.front();
  } else {
    ASSERT_EQ(notices.size(), 1u);
    // A peer that closes while our answer is still unread on its side resets the
    // connection instead: the receive error then names the cause.
    const bool reset = GetParam().notice == kCutOff && notices[0].starts_with("recv failed.8");
    EXPECT_TRUE(notices[0].starts_with(GetParam().notice) || reset) << notices[0];
  }
}

// A peer that stops the transfer closes the data connection before its STOP arrives: the
// cut-off transfer then shows no notice, since the peer ended it on purpose.
TEST_F(OutcomeWire, AStopRightAfterTheCloseShowsNoNotice) {
  const int port = freePortRange();
  TransferSide receiver;
  receiver.accept(folder("in"), 1, 0, port, false);
  receiver.start();
  {
    const RawConnection peer = RawConnection::connectTo(port);
    ASSERT_TRUE(peer.isOpen());
    ASSERT_TRUE(peer.send(fileHeader("a", 100, fileData(100))));
    peer.receiveSome();
    ASSERT_TRUE(peer.send("abc"));
  }
  receiver.record->dataSocket.interrupt();  // the STOP, a moment after the close
  ASSERT_TRUE(receiver.join());
  EXPECT_FALSE(receiver.record->protocolFinished);
  EXPECT_TRUE(receiver.frontend.notices().empty()) << receiver.frontend.notices().front();
}

const ReceiverCase kReceiverCases[] = {
    {"OneFileComplete",
     1,
     {fileHeader("a", 3, fileData(3)), "abc", fixedRecord(kEndText)},
     true,
     nullptr},
    {"OneFileClosedAtOnce", 1, {}, false, kCutOff},
    {"OneFileOpenFailedAtTheSender",
     1,
     {"| CreateFile failed:\r\n/out/a"s + '\0'},
     false,
     "对方打开文件失败："},
    {"OneFileShortOfItsBytes", 1, {fileHeader("a", 100, fileData(100)), "abc"}, false, kCutOff},
    {"EmptyFilesComplete",
     -1,
     {folderRecord("d", folderData()), fileHeader("e", 0, fileData(0)), "< upward",
      fixedRecord(kEndText)},
     true,
     nullptr},
    // The end record alone does not deliver an offer, even one whose total is 0.
    {"OneFileEndedWithoutTheFile", 1, {fixedRecord(kEndText)}, false, nullptr},
    {"OneFolderEndedWithoutTheFolder", -1, {fixedRecord(kEndText)}, false, nullptr},
    {"OneFileAnsweredWithAFolder",
     1,
     {folderRecord("d", folderData()), "< upward", fixedRecord(kEndText)},
     false,
     nullptr},
    {"OneFolderAnsweredWithAFile",
     -1,
     {fileHeader("e", 0, fileData(0)), fixedRecord(kEndText)},
     false,
     nullptr},
    {"TwoItemsEndedAfterOne",
     2,
     {fileHeader("e", 0, fileData(0)), fixedRecord(kEndText)},
     false,
     nullptr},
    {"TwoItemsComplete",
     2,
     {fileHeader("e", 0, fileData(0)), folderRecord("d", folderData()), "< upward",
      fixedRecord(kEndText)},
     true,
     nullptr},
    {"EmptyFilesCutOffBeforeTheEnd",
     -1,
     {folderRecord("d", folderData()), fileHeader("e", 0, fileData(0)), "< upward"},
     false,
     kCutOff},
};

INSTANTIATE_TEST_SUITE_P(Peers, ReceiverOutcome, ::testing::ValuesIn(kReceiverCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A go-ahead from beyond the end of the file (the peer's copy is longer) would move no data
// while both sides count the file as done: the sending side ends the transfer with an error
// line. A go-ahead right at the end is a file the peer holds whole already.
TEST_F(OutcomeWire, AGoAheadPastTheEndOfTheFileEndsTheTransfer) {
  writeFile(root() / "out/a.bin", patternBytes(100, 1));
  struct Case {
    const char* goAhead;
    bool finished;
  };
  for (const Case& c : {Case{"+101", false}, Case{"+1001", false}, Case{"+100", true}}) {
    SCOPED_TRACE(c.goAhead);
    const int port = freePortRange();
    const RawConnection listener = RawConnection::listenOn(port);
    TransferSide sender;
    sender.offer(root() / "out", {"a.bin"}, port, true);
    sender.start();
    const RawConnection peer = listener.accept();
    ASSERT_TRUE(peer.receiveSome().starts_with("\\a.bin\r\n"));
    ASSERT_TRUE(peer.send(c.goAhead));
    if (c.finished) {
      ASSERT_TRUE(peer.send("0"));
      EXPECT_EQ(peer.receive(30), fixedRecord(kEndText));
      EXPECT_TRUE(sender.frontend.notices().empty());
    } else {
      EXPECT_EQ(peer.receiveToEnd(), gbk("| 续传位置超过了文件的大小：\r\na.bin"));
      EXPECT_EQ(
          sender.frontend.notices(),
          std::vector<std::string>{"续传位置超过了文件的大小：\r\n" +
                                   (root() / "out/a.bin").string() + "\r\n对方要求从第 " +
                                   std::string(c.goAhead + 1) + " 字节续传，文件只有 100 字节。"});
    }
    ASSERT_TRUE(sender.join());
    EXPECT_EQ(sender.record->protocolFinished, c.finished);
  }
}

TEST_F(OutcomeWire, ANameTooLongToLookUpIsAFailureThatSaysSo) {
  const int port = freePortRange();
  TransferSide receiver;
  receiver.accept(folder("in"), 2, 3, port, false);
  receiver.start();
  const RawConnection peer = RawConnection::connectTo(port);
  ASSERT_TRUE(peer.send(fileHeader(std::string(300, 'n'), 3, fileData(3))));
  const std::string line = peer.receiveToEnd();
  EXPECT_TRUE(line.starts_with("| CreateFile failed:\r\n")) << line;
  EXPECT_NE(line.find("File name too long"), std::string::npos) << line;
  ASSERT_TRUE(receiver.join());
  EXPECT_FALSE(receiver.record->protocolFinished);
  const auto notices = receiver.frontend.notices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_TRUE(notices[0].starts_with("本地创建打开文件失败：")) << notices[0];
  EXPECT_NE(notices[0].find("File name too long"), std::string::npos) << notices[0];
  EXPECT_TRUE(receiver.frontend.questions().empty());  // never taken for an existing file
}

TEST_F(OutcomeWire, AReceiverRefusesFoldersNestedDeeperThanTheLimit) {
  const int port = freePortRange();
  TransferSide receiver;
  receiver.accept(folder("in"), -1, 0, port, false);
  receiver.start();
  const RawConnection peer = RawConnection::connectTo(port);
  for (std::size_t level = 1; level <= kMaxFolderDepth; ++level) {
    ASSERT_TRUE(peer.send(folderRecord("d", folderData())));
    ASSERT_EQ(peer.receive(1), "0") << level;
  }
  ASSERT_TRUE(peer.send(folderRecord("d", folderData())));
  EXPECT_EQ(peer.receiveToEnd(), gbk("| 文件夹层数超过256层：\r\nd"));
  ASSERT_TRUE(receiver.join());
  EXPECT_FALSE(receiver.record->protocolFinished);
  ASSERT_EQ(receiver.frontend.notices().size(), 1u);
}

TEST_F(OutcomeWire, ASenderRefusesFoldersNestedDeeperThanTheLimit) {
  std::filesystem::path deepest = root() / "out" / "top";
  for (std::size_t level = 1; level <= kMaxFolderDepth; ++level) deepest /= "d";
  std::filesystem::create_directories(deepest);
  const int port = freePortRange();
  const RawConnection listener = RawConnection::listenOn(port);
  TransferSide sender;
  sender.offer(root() / "out", {"top"}, port, true);
  sender.start();
  const RawConnection peer = listener.accept();
  for (std::size_t level = 1; level <= kMaxFolderDepth; ++level) {
    ASSERT_EQ(peer.receiveSome().front(), '>') << level;
    ASSERT_TRUE(peer.send("0"));
  }
  EXPECT_EQ(peer.receiveToEnd(), gbk("| 文件夹层数超过256层：\r\nd"));
  ASSERT_TRUE(sender.join());
  EXPECT_FALSE(sender.record->protocolFinished);
  const auto notices = sender.frontend.notices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_TRUE(
      notices[0].starts_with("文件夹层数超过256层：\r\n" + (root() / "out/top/d").string()));
}

}  // namespace
}  // namespace brisk::test
