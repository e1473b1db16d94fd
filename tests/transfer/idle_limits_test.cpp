// Every wait on a data connection has a limit: a peer that connects and sends nothing, or
// goes quiet partway, ends the transfer with a notice that says so, and what was received
// stays for a resume. Time this side spends asking its own person is not the peer's
// silence. Raw sockets play the peer; the limits are shortened through Timing.

#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "support/raw_connection.h"
#include "transfer/data_records.h"
#include "transfer/transfer_fixture.h"

namespace brisk::test {
namespace {

namespace fs = std::filesystem;

constexpr auto kAcceptLimit = std::chrono::milliseconds(300);
constexpr auto kIdleLimit = std::chrono::milliseconds(400);
const std::string kFirstRecordNotice =
    "传送文件连接中断：\r\n对方已经300毫秒没有任何动静，传送已中止。";
const std::string kIdleNotice = "传送文件连接中断：\r\n对方已经400毫秒没有任何动静，传送已中止。";

FileAttributeData attributes(std::uint32_t bits) {
  FileAttributeData data;
  data.attributes = bits;
  return data;
}

void shortenLimits(TransferSide& side) {
  side.timing.acceptLimit = kAcceptLimit;
  side.timing.idleDataLimit = kIdleLimit;
}

struct ReceiverCase {
  const char* name;
  // Plays the sending side up to the moment it falls silent.
  std::function<void(const RawConnection&)> peer;
  const std::string* notice;
  const char* partialFile;  // what the save folder holds afterwards under "a", if anything
};

void PrintTo(const ReceiverCase& c, std::ostream* out) {
  *out << c.name;
}

class ReceiverWaits : public Sandbox, public ::testing::WithParamInterface<ReceiverCase> {};

TEST_P(ReceiverWaits, APeerThatFallsSilentEndsTheTransferAfterTheLimit) {
  const ReceiverCase& c = GetParam();
  const int port = freePortRange();
  TransferSide receiver;
  shortenLimits(receiver);
  receiver.accept(folder("in"), 2, 100, port, false);
  receiver.start();
  const RawConnection peer = RawConnection::connectTo(port);
  ASSERT_TRUE(peer.isOpen());
  c.peer(peer);

  // The peer keeps the connection open and says nothing more.
  EXPECT_TRUE(peer.waitForClose());
  ASSERT_TRUE(receiver.join());
  EXPECT_FALSE(receiver.record->protocolFinished);
  EXPECT_EQ(receiver.frontend.notices(), std::vector<std::string>{*c.notice});
  if (c.partialFile == nullptr) {
    EXPECT_FALSE(fs::exists(root() / "in/a"));
  } else {
    EXPECT_EQ(readFile(root() / "in/a"), c.partialFile);
    EXPECT_TRUE(isOwnerWritable(root() / "in/a"));  // left as it was, to be resumed
  }
}

const ReceiverCase kReceiverCases[] = {
    {"NothingAfterConnecting", [](const RawConnection&) {}, &kFirstRecordNotice, nullptr},
    {"NothingAfterAFolder",
     [](const RawConnection& peer) {
       ASSERT_TRUE(peer.send(folderRecord("d", attributes(kAttributeDirectory))));
       EXPECT_EQ(peer.receive(1), "0");
     },
     &kIdleNotice, nullptr},
    {"NothingAfterPartOfTheData",
     [](const RawConnection& peer) {
       ASSERT_TRUE(peer.send(fileHeader("a", 100, attributes(kAttributeArchive))));
       EXPECT_EQ(peer.receive(2), "+0");
       ASSERT_TRUE(peer.send("forty bytes of a file of a hundred bytes"));
     },
     &kIdleNotice, "forty bytes of a file of a hundred bytes"},
};

INSTANTIATE_TEST_SUITE_P(Peers, ReceiverWaits, ::testing::ValuesIn(kReceiverCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct SenderCase {
  const char* name;
  const char* item;  // in the offer folder: a.bin (100 bytes) or big.bin (32 MiB)
  // Plays the receiving side up to the moment it falls silent.
  std::function<void(const RawConnection&)> peer;
};

void PrintTo(const SenderCase& c, std::ostream* out) {
  *out << c.name;
}

class SenderWaits : public Sandbox, public ::testing::WithParamInterface<SenderCase> {};

TEST_P(SenderWaits, APeerThatFallsSilentEndsTheTransferAfterTheLimit) {
  writeFile(root() / "out/a.bin", patternBytes(100, 1));
  if (std::string_view(GetParam().item) == "big.bin") {
    // Far more than both sides' socket buffers take in, so that the send must wait.
    writeFile(root() / "out/big.bin", patternBytes(32 << 20, 3));
  }
  const int port = freePortRange();
  const RawConnection listener = RawConnection::listenOn(port);
  TransferSide sender;
  shortenLimits(sender);
  sender.offer(root() / "out", {GetParam().item}, port, true);
  sender.start();
  const RawConnection peer = listener.accept();
  ASSERT_TRUE(peer.isOpen());
  GetParam().peer(peer);

  EXPECT_TRUE(peer.waitForClose(std::chrono::seconds(20)));
  ASSERT_TRUE(sender.join());
  EXPECT_FALSE(sender.record->protocolFinished);
  EXPECT_EQ(sender.frontend.notices(), std::vector<std::string>{kIdleNotice});
}

const SenderCase kSenderCases[] = {
    // The first answer may be late for good reason (the peer's person is asked about an
    // existing file), so it has the idle limit, not the accept limit.
    {"NoAnswerToTheFirstHeader", "a.bin",
     [](const RawConnection& peer) { EXPECT_EQ(peer.receiveSome().front(), '\\'); }},
    {"NoRoomForTheData", "big.bin",
     [](const RawConnection& peer) {
       EXPECT_EQ(peer.receiveSome().front(), '\\');
       ASSERT_TRUE(peer.send("+0"));
     }},
};

INSTANTIATE_TEST_SUITE_P(Peers, SenderWaits, ::testing::ValuesIn(kSenderCases),
                         [](const auto& info) { return std::string(info.param.name); });

class PersonsTime : public Sandbox {
 protected:
  // A receiving side whose save folder holds "a" already; `peer` connects and offers a.
  void startWithExistingFile(TransferSide& receiver, RawConnection& peer) {
    writeFile(root() / "in/a", "old");
    const int port = freePortRange();
    shortenLimits(receiver);
    receiver.accept(folder("in"), 1, 10, port, false);
    receiver.start();
    peer = RawConnection::connectTo(port);
    ASSERT_TRUE(peer.send(fileHeader("a", 10, attributes(kAttributeArchive))));
  }
};

TEST_F(PersonsTime, ThePersonTakingLongerThanTheLimitIsNotThePeersSilence) {
  TransferSide receiver;
  receiver.frontend.onFileExists = [](const fs::path&) {
    // The person takes several idle limits to answer; the peer waits meanwhile.
    std::this_thread::sleep_for(3 * kIdleLimit);
    return FileExistsReply{FileExistsAnswer::TransferAgain, false};
  };
  RawConnection peer;
  startWithExistingFile(receiver, peer);
  EXPECT_EQ(peer.receive(2), "+0");
  ASSERT_TRUE(peer.send("0123456789"));
  EXPECT_EQ(peer.receive(1), "0");
  ASSERT_TRUE(peer.send(fixedRecord(kEndText)));
  ASSERT_TRUE(receiver.join());
  EXPECT_TRUE(receiver.record->protocolFinished);
  EXPECT_TRUE(receiver.frontend.notices().empty());
  EXPECT_EQ(readFile(root() / "in/a"), "0123456789");
}

// The peer gave up waiting while the person was asked: whatever the person answers, the
// existing file is neither truncated nor appended to, since no data can come any more.
TEST_F(PersonsTime, AnAnswerThatComesAfterThePeerLeftLeavesTheFileAsItWas) {
  for (const FileExistsAnswer answer :
       {FileExistsAnswer::TransferAgain, FileExistsAnswer::Resume}) {
    SCOPED_TRACE(answer == FileExistsAnswer::Resume ? "resume" : "again");
    TransferSide receiver;
    RawConnection peer;
    receiver.frontend.onFileExists = [&peer, answer](const fs::path&) {
      peer.close();  // the peer leaves before the answer
      return FileExistsReply{answer, false};
    };
    startWithExistingFile(receiver, peer);
    ASSERT_TRUE(receiver.join());
    EXPECT_EQ(readFile(root() / "in/a"), "old");
    EXPECT_EQ(receiver.record->cause, TransferCause::ConnectionLost);
    EXPECT_EQ(receiver.frontend.notices(),
              std::vector<std::string>{
                  "传送文件连接中断：\r\n对方没有等到回答就关闭了连接，文件保持原样：\r\n" +
                  (root() / "in/a").string()});
  }
}

}  // namespace
}  // namespace brisk::test
