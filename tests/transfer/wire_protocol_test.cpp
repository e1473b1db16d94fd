// The bytes of the data connection, checked against a raw socket playing the other side.

#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "support/raw_connection.h"
#include "transfer/data_records.h"
#include "transfer/transfer_fixture.h"

namespace brisk::test {
namespace {

using namespace std::string_literals;

class WireProtocol : public Sandbox {
 protected:
  // The Photos example: one folder with one file of 1000 bytes.
  void makePhotos() {
    writeFile(root() / "out/Photos/a.jpg", patternBytes(1000));
    setLastWrite(root() / "out/Photos/a.jpg", 1600000000);
    setLastWrite(root() / "out/Photos", 1500000000);
  }

  // A receiving transfer thread that listens; the raw peer connects as the sender.
  RawConnection startReceiver(TransferSide& side, int fileCount = -1) {
    const int port = freePortRange();
    side.accept(folder("in"), fileCount, 0, port, false);
    side.start();
    return RawConnection::connectTo(port);
  }

  static std::string header(const std::string& name, std::uint64_t size,
                            const FileAttributeData& data = archiveData()) {
    return fileHeader(gbk(name), size, data);
  }

  static FileAttributeData archiveData() {
    FileAttributeData data;
    data.attributes = kAttributeArchive;
    data.lastWriteTime = fileTimeFromUnix(1600000000, 0);
    data.lastAccessTime = data.lastWriteTime;
    data.creationTime = data.lastWriteTime;
    return data;
  }
};

TEST_F(WireProtocol, SendsThePhotosFolderByteForByte) {
  makePhotos();
  const FileAttributeData folderData = attributesOf(root() / "out/Photos");
  const FileAttributeData fileData = attributesOf(root() / "out/Photos/a.jpg");
  const int port = freePortRange();
  RawConnection listener = RawConnection::listenOn(port);
  TransferSide sender;
  sender.offer(root() / "out", {"Photos"}, port, true);
  sender.start();
  RawConnection peer = listener.accept();
  ASSERT_TRUE(peer.isOpen());

  EXPECT_EQ(peer.receive(54), ">Photos\r\nFileAttr:" + folderData.toWire());
  peer.send("0");
  EXPECT_EQ(peer.receive(68), "\\a.jpg\r\nFileSize:1000\r\nFileAttr:" + fileData.toWire());
  peer.send("+0");
  EXPECT_EQ(peer.receive(1000), patternBytes(1000));
  peer.send("0");
  EXPECT_EQ(peer.receive(8), "< upward");
  peer.send("0");
  EXPECT_EQ(peer.receive(30), "| Transfer file(s) finished."s + std::string(2, '\0'));
  EXPECT_TRUE(peer.waitForClose());
  peer.close();

  ASSERT_TRUE(sender.join());
  EXPECT_EQ(sender.result(), 0);
  EXPECT_EQ(sender.record->totalDone, 1000u);
  EXPECT_EQ(sender.record->fileDone, 0u);
  EXPECT_TRUE(sender.frontend.notices().empty());
  EXPECT_EQ(sender.frontend.beeps(), 1);
  EXPECT_FALSE(sender.record->pathBuffer);
  EXPECT_EQ(sender.fileNames(), std::vector<std::string>{(root() / "out/Photos/a.jpg").string()});
}

TEST_F(WireProtocol, ReceivesThePhotosFolderByteForByte) {
  const std::string content = patternBytes(1000);
  FileAttributeData folderData;
  folderData.attributes = kAttributeDirectory;
  folderData.lastWriteTime = fileTimeFromUnix(1500000000, 0);
  TransferSide receiver;
  RawConnection peer = startReceiver(receiver);
  ASSERT_TRUE(peer.isOpen());

  peer.send(folderRecord("Photos", folderData));
  EXPECT_EQ(peer.receive(1), "0");
  peer.send(header("a.jpg", 1000));
  EXPECT_EQ(peer.receive(2), "+0");
  peer.send(content);
  EXPECT_EQ(peer.receive(1), "0");
  peer.send("< upward");
  EXPECT_EQ(peer.receive(1), "0");
  peer.send(fixedRecord(kEndText));
  EXPECT_TRUE(peer.waitForClose());
  peer.close();

  ASSERT_TRUE(receiver.join());
  EXPECT_EQ(receiver.result(), 0);
  EXPECT_EQ(readFile(root() / "in/Photos/a.jpg"), content);
  EXPECT_EQ(lastWriteNanoseconds(root() / "in/Photos/a.jpg"), 1600000000LL * 1'000'000'000);
  EXPECT_EQ(lastWriteNanoseconds(root() / "in/Photos"), 1500000000LL * 1'000'000'000);
  EXPECT_EQ(receiver.record->totalDone, 1000u);
  EXPECT_TRUE(receiver.frontend.notices().empty());
  EXPECT_EQ(receiver.frontend.beeps(), 1);
}

TEST_F(WireProtocol, RecordsSplitAcrossReceivesArePutBackTogether) {
  TransferSide receiver;
  // The rest of a record must come within this wait; a busy machine may be slow to send it.
  receiver.timing.recordRestWait = kWireLimit;
  RawConnection peer = startReceiver(receiver, 1);
  const std::string record = header("分开.txt", 5);
  peer.send(record.substr(0, 9));
  // Nothing is answered for half a record.
  EXPECT_EQ(peer.receive(1, std::chrono::milliseconds(50)), "");
  peer.send(record.substr(9));
  EXPECT_EQ(peer.receive(2), "+0");
  peer.send("12345");
  EXPECT_EQ(peer.receive(1), "0");
  const std::string end = fixedRecord(kEndText);
  peer.send(end.substr(0, 3));
  peer.send(end.substr(3));
  EXPECT_TRUE(peer.waitForClose());
  peer.close();
  ASSERT_TRUE(receiver.join());
  EXPECT_EQ(readFile(root() / "in/分开.txt"), "12345");
  EXPECT_TRUE(receiver.frontend.notices().empty());
  // A single-file offer carries no total; the header's size stands in for it.
  EXPECT_EQ(receiver.record->totalSize, 5u);
  EXPECT_EQ(receiver.record->fileDone, 5u);
}

TEST_F(WireProtocol, BytesBeyondTheFileAreReadAsTheNextRecord) {
  TransferSide receiver;
  RawConnection peer = startReceiver(receiver, 2);
  peer.send(header("ten.bin", 10));
  EXPECT_EQ(peer.receive(2), "+0");
  peer.send("0123456789#extra");
  EXPECT_EQ(peer.receive(1), "0");
  const std::string answer = peer.receiveToEnd();
  peer.close();
  EXPECT_EQ(answer, gbk("| 接收文件名出错，首字符不是'\\'：\r\n#extra"));
  ASSERT_TRUE(receiver.join());
  EXPECT_EQ(readFile(root() / "in/ten.bin"), "0123456789");
  EXPECT_EQ(receiver.frontend.notices(),
            std::vector<std::string>{"接收文件名出错，首字符不是'\\'：\r\n#extra"});
}

TEST_F(WireProtocol, HostileNamesAreRefusedAndNothingIsWrittenOutside) {
  const std::filesystem::path outside = folder("outside");
  writeFile(outside / "victim", "keep");
  folder("in");
  std::filesystem::create_symlink(outside / "victim", root() / "in/link");
  std::filesystem::create_symlink(outside, root() / "in/linkdir");

  const std::string malformed = gbk("| 接收文件名出错，首字符不是'\\'：\r\n");
  struct Case {
    std::string record;
    std::string answerStart;
  };
  FileAttributeData folderData;
  folderData.attributes = kAttributeDirectory;
  const std::vector<Case> cases = {
      {folderRecord("..", folderData), malformed},
      {folderRecord(".", folderData), malformed},
      {folderRecord("", folderData), malformed},
      {folderRecord("a/b", folderData), malformed},
      {header("..", 4), malformed},
      {header("../outside/victim", 4), malformed},
      {header("a\\b", 4), malformed},
      {header("tab\there", 4), malformed},
      {header(std::string("nul\0x", 5), 4), malformed},
      {folderRecord("linkdir", folderData), "| CreateDirectory failed:\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record);
    TransferSide receiver;
    RawConnection peer = startReceiver(receiver, 2);
    peer.send(c.record);
    EXPECT_EQ(peer.receiveToEnd().substr(0, c.answerStart.size()), c.answerStart);
    peer.close();
    ASSERT_TRUE(receiver.join());
    EXPECT_EQ(receiver.frontend.notices().size(), 1u);
  }

  // A file header naming the link: whatever the person answers, the link is not followed.
  for (const FileExistsAnswer answer :
       {FileExistsAnswer::Resume, FileExistsAnswer::TransferAgain}) {
    TransferSide receiver;
    receiver.frontend.onFileExists = [answer](const std::string&) {
      return FileExistsReply{answer, false};
    };
    RawConnection peer = startReceiver(receiver, 2);
    peer.send(header("link", 4));
    EXPECT_EQ(peer.receiveToEnd().substr(0, 22), "| CreateFile failed:\r\n");
    peer.close();
    ASSERT_TRUE(receiver.join());
    EXPECT_TRUE(receiver.frontend.waitForNotice("本地创建打开文件失败："));
  }
  EXPECT_EQ(readFile(outside / "victim"), "keep");
  EXPECT_EQ(std::filesystem::directory_iterator(outside)->path().filename(), "victim");
  EXPECT_FALSE(std::filesystem::exists(root() / "a"));
  EXPECT_FALSE(std::filesystem::exists(root() / "in/a"));
}

TEST_F(WireProtocol, AnOtherFirstByteIsAnsweredWithTheMalformedLine) {
  TransferSide receiver;
  RawConnection peer = startReceiver(receiver);
  peer.send("?what");
  EXPECT_EQ(peer.receiveToEnd(), gbk("| 接收文件名出错，首字符不是'\\'：\r\n?what"));
  peer.close();
  ASSERT_TRUE(receiver.join());
  EXPECT_EQ(receiver.result(), 0);
}

TEST_F(WireProtocol, TheSenderHonoursSkipResumeOffsetsAndOddAnswers) {
  writeFile(root() / "out/a.bin", patternBytes(1000, 1));
  writeFile(root() / "out/b.bin", patternBytes(1000, 2));
  writeFile(root() / "out/c.bin", patternBytes(10, 3));
  const int port = freePortRange();
  RawConnection listener = RawConnection::listenOn(port);
  TransferSide sender;
  sender.offer(root() / "out", {"a.bin", "b.bin", "c.bin"}, port, true);
  sender.start();
  RawConnection peer = listener.accept();

  EXPECT_EQ(peer.receive(68).substr(0, 21), "\\a.bin\r\nFileSize:1000");
  peer.send(fixedRecord(kSkipText));
  std::string second = peer.receive(1 + 5 + 11 + 4 + 11 + 36);
  EXPECT_EQ(second.substr(0, 21), "\\b.bin\r\nFileSize:1000");
  peer.send("+400");
  EXPECT_EQ(peer.receive(600), patternBytes(1000, 2).substr(400));
  peer.send("0");
  EXPECT_EQ(peer.receive(1 + 5 + 11 + 2 + 11 + 36).substr(0, 19), "\\c.bin\r\nFileSize:10");
  peer.send("ok?");
  EXPECT_TRUE(peer.waitForClose());
  peer.close();
  ASSERT_TRUE(sender.join());
  ASSERT_EQ(sender.frontend.notices().size(), 1u);
  EXPECT_EQ(sender.frontend.notices()[0].rfind("recv no + before file size.\r\n", 0), 0u);
  // b.bin counted as finished, a.bin skipped, c.bin never started.
  EXPECT_EQ(sender.record->totalDone, 1000u);
}

TEST_F(WireProtocol, TheSenderReportsThePeersRefusals) {
  writeFile(root() / "out/a.bin", "abc");
  struct Case {
    std::string answer;
    std::string notice;
  };
  const std::vector<Case> cases = {
      {fixedRecord(kStopText), "对方已终止文件传输。"},
      {"| CreateFile failed:\r\n/x\r\nError code: 13\r\n", "对方创建打开文件失败。"},
      {gbk("| 磁盘满了"), "磁盘满了\r\n对方"},
  };
  for (const Case& c : cases) {
    const int port = freePortRange();
    TransferSide sender;
    sender.offer(root() / "out", {"a.bin"}, port, false);
    sender.start();
    RawConnection peer = RawConnection::connectTo(port);
    peer.receive(1 + 5 + 11 + 1 + 11 + 36);
    peer.send(c.answer);
    peer.close();
    ASSERT_TRUE(sender.join());
    EXPECT_EQ(sender.frontend.notices(), std::vector<std::string>{c.notice});
  }
}

}  // namespace
}  // namespace brisk::test
