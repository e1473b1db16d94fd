// Stopping a running transfer from either side, and a file that shrinks while it is sent.

#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "support/raw_connection.h"
#include "transfer/data_records.h"
#include "transfer/transfer_fixture.h"

namespace brisk::test {
namespace {

namespace fs = std::filesystem;

class TransferStop : public Sandbox {};

FileAttributeData plainFile() {
  FileAttributeData data;
  data.attributes = kAttributeArchive | kAttributeReadOnly;
  data.lastWriteTime = fileTimeFromUnix(1000000000, 0);
  return data;
}

TEST_F(TransferStop, StoppingTheReceivingSideKeepsTheResumablePartialFile) {
  const std::string content = patternBytes(1 << 20);
  const std::size_t part = 300 * 1024;
  {
    TransferSide receiver;
    const int port = freePortRange();
    receiver.accept(folder("in"), 1, 0, port, false);
    receiver.start();
    RawConnection peer = RawConnection::connectTo(port);
    peer.send(fileHeader("big.bin", content.size(), plainFile()));
    ASSERT_EQ(peer.receive(2), "+0");
    peer.send(std::string_view(content).substr(0, part));
    ASSERT_TRUE(waitFor([&] { return receiver.record->fileDone == part; }));

    receiver.record->dataSocket.interrupt();
    ASSERT_TRUE(receiver.join());
    EXPECT_TRUE(peer.waitForClose());
    peer.close();
    EXPECT_EQ(receiver.result(), 0);
    EXPECT_TRUE(receiver.frontend.notices().empty());
    EXPECT_EQ(readFile(root() / "in/big.bin"), content.substr(0, part));
    // Not complete, so not read-only yet: it can be resumed.
    EXPECT_TRUE(isOwnerWritable(root() / "in/big.bin"));
  }
  TransferSide receiver;
  const int port = freePortRange();
  receiver.accept(folder("in"), 1, 0, port, false);
  receiver.record->openMode = kOpenModeResume;
  receiver.frontend.onFileExists = [](const std::string&) {
    return FileExistsReply{FileExistsAnswer::Resume, false};
  };
  receiver.start();
  RawConnection peer = RawConnection::connectTo(port);
  peer.send(fileHeader("big.bin", content.size(), plainFile()));
  ASSERT_EQ(peer.receive(7), "+307200");
  peer.send(std::string_view(content).substr(part));
  EXPECT_EQ(peer.receive(1), "0");
  peer.send(fixedRecord(kEndText));
  peer.close();
  ASSERT_TRUE(receiver.join());
  EXPECT_EQ(readFile(root() / "in/big.bin"), content);
  EXPECT_FALSE(isOwnerWritable(root() / "in/big.bin"));
  EXPECT_EQ(receiver.record->fileDone, content.size());
}

TEST_F(TransferStop, StoppingTheSendingSideEndsItQuietly) {
  // Larger than what the socket buffers hold, so the sender is still sending.
  const std::size_t size = 16 << 20;
  writeFile(root() / "out/big.bin", std::string(size, 'b'));
  const int port = freePortRange();
  RawConnection listener = RawConnection::listenOn(port);
  TransferSide sender;
  sender.offer(root() / "out", {"big.bin"}, port, true);
  sender.start();
  RawConnection peer = listener.accept();
  ASSERT_FALSE(peer.receive(1 + 7 + 11 + 8 + 11 + 36).empty());
  peer.send("+0");
  ASSERT_EQ(peer.receive(1 << 20).size(), 1u << 20);
  ASSERT_TRUE(waitFor([&] { return sender.record->fileDone > 0; }));

  sender.record->dataSocket.interrupt();
  ASSERT_TRUE(sender.join());
  EXPECT_LT(peer.receiveToEnd().size(), size);
  EXPECT_EQ(sender.result(), 0);
  EXPECT_TRUE(sender.frontend.notices().empty());
  EXPECT_LT(sender.record->fileDone, size);
}

TEST_F(TransferStop, AStopWhileThePersonIsAskedEndsBothSides) {
  writeFile(root() / "out/a.txt", "remote");
  writeFile(root() / "in/a.txt", "local");
  TransferSide sender;
  TransferSide receiver;
  std::atomic<bool> asked{false};
  std::atomic<bool> release{false};
  receiver.frontend.onFileExists = [&](const std::string&) {
    asked = true;
    waitFor([&] { return release.load(); });
    return FileExistsReply{FileExistsAnswer::TransferAgain, false};
  };
  const int port = freePortRange();
  sender.offer(root() / "out", {"a.txt"}, port, true);
  receiver.accept(root() / "in", 1, 0, port, false);
  receiver.start();
  ASSERT_TRUE(waitUntilListening(port));
  sender.start();
  ASSERT_TRUE(waitFor([&] { return asked.load(); }));

  receiver.record->dataSocket.interrupt();  // Stop on the receiving side
  ASSERT_TRUE(sender.join());
  release = true;
  ASSERT_TRUE(receiver.join());
  EXPECT_TRUE(receiver.frontend.notices().empty());
  EXPECT_EQ(sender.frontend.notices().size(), 1u);  // the peer went away
  EXPECT_EQ(readFile(root() / "in/a.txt"), "local");
}

TEST_F(TransferStop, AFileThatShrinksWhileSentEndsTheTransfer) {
  const std::size_t size = 16 << 20;
  writeFile(root() / "out/log.txt", std::string(size, 'l'));
  const int port = freePortRange();
  RawConnection listener = RawConnection::listenOn(port);
  TransferSide sender;
  sender.offer(root() / "out", {"log.txt"}, port, true);
  sender.start();
  RawConnection peer = listener.accept();
  ASSERT_FALSE(peer.receive(1 + 7 + 11 + 8 + 11 + 36).empty());
  peer.send("+0");
  ASSERT_EQ(peer.receive(1 << 20).size(), 1u << 20);
  fs::resize_file(root() / "out/log.txt", 2 << 20);

  EXPECT_LT(peer.receiveToEnd().size(), size);
  peer.close();
  ASSERT_TRUE(sender.join());
  ASSERT_EQ(sender.frontend.notices().size(), 1u);
  EXPECT_NE(sender.frontend.notices()[0].find("文件在发送过程中变短了"), std::string::npos);
}

}  // namespace
}  // namespace brisk::test
