// The data connections of an encrypted session: a transfer runs over TLS with the key of
// its Index, and a side without that key (a stranger, or one speaking the plain protocol)
// gets nothing and is told why.

#include <optional>

#include <gtest/gtest.h>

#include "link/secure_session.h"
#include "transfer/transfer_fixture.h"

namespace brisk::test {
namespace {

namespace fs = std::filesystem;

DataKey keyOf(std::uint8_t seed) {
  DataKey key;
  key.bytes.fill(seed);
  return key;
}

class EncryptedDataConnection : public Sandbox {
 protected:
  DataSessionStart withKey(const DataKey& key) const {
    std::string error;
    std::shared_ptr<const TlsContext> data = TlsContext::forData(error);
    EXPECT_TRUE(data) << error;
    return dataSessionStart(data, key, std::chrono::seconds(5));
  }

  // Sends out/a.bin and out/b.txt from the connecting side to the listening one.
  void run(TransferSide& sender, TransferSide& receiver) {
    writeFile(root() / "out/a.bin", patternBytes(700 * 1024, 1));
    writeFile(root() / "out/b.txt", "b");
    const int port = freePortRange();
    sender.offer(root() / "out", {"a.bin", "b.txt"}, port, true);
    receiver.accept(folder("in"), 2, sender.record->totalSize.load(), port, false);
    receiver.start();
    ASSERT_TRUE(waitUntilListening(port));
    sender.start();
    ASSERT_TRUE(sender.join()) << ::testing::PrintToString(sender.frontend.notices());
    ASSERT_TRUE(receiver.join()) << ::testing::PrintToString(receiver.frontend.notices());
  }
};

TEST_F(EncryptedDataConnection, MovesFilesWithTheSessionsKey) {
  TransferSide sender;
  TransferSide receiver;
  sender.secureData = withKey(keyOf(7));
  receiver.secureData = withKey(keyOf(7));
  run(sender, receiver);
  EXPECT_EQ(readFile(root() / "in/a.bin"), patternBytes(700 * 1024, 1));
  EXPECT_EQ(readFile(root() / "in/b.txt"), "b");
  EXPECT_TRUE(receiver.record->protocolFinished.load());
  EXPECT_TRUE(sender.frontend.notices().empty());
}

TEST_F(EncryptedDataConnection, AWrongKeyOrAPlainPeerGetsNothingAndBothSidesSayWhy) {
  const struct {
    const char* what;
    std::optional<std::uint8_t> senderKey;  // nothing: the plain protocol
  } rows[] = {{"wrong key", 8}, {"plain peer", std::nullopt}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    TransferSide sender;
    TransferSide receiver;
    if (row.senderKey) sender.secureData = withKey(keyOf(*row.senderKey));
    receiver.secureData = withKey(keyOf(7));
    receiver.timing.acceptLimit = std::chrono::milliseconds(1500);
    run(sender, receiver);
    EXPECT_FALSE(fs::exists(root() / "in/a.bin"));
    EXPECT_EQ(receiver.result(), -1);
    ASSERT_EQ(receiver.frontend.notices().size(), 1u);
    EXPECT_NE(receiver.frontend.notices()[0].find("传送文件的加密连接没有建立"), std::string::npos)
        << receiver.frontend.notices()[0];
    // The connecting side with the wrong key cannot finish its handshake either.
    if (row.senderKey) {
      EXPECT_EQ(sender.result(), -1);
      EXPECT_NE(::testing::PrintToString(sender.frontend.notices()).find("加密连接没有建立"),
                std::string::npos);
    }
    fs::remove_all(root() / "in");
  }
}

// A large file is encrypted from its mapped pages; one cut shorter while it is sent ends
// the transfer as it does on a plain connection, with everything before the cut as it was.
TEST_F(EncryptedDataConnection, AFileCutShorterWhileSentEndsTheTransfer) {
  const std::string contents = patternBytes(32 << 20, 3);
  const std::size_t cut = 2 << 20;
  writeFile(root() / "out/big.bin", contents);
  TransferSide sender;
  TransferSide receiver;
  sender.secureData = withKey(keyOf(7));
  receiver.secureData = withKey(keyOf(7));
  // Cut once the data flows: when the receiving side begins the file.
  receiver.frontend.onTransferFileName = [&](const std::string&) {
    fs::resize_file(root() / "out/big.bin", cut);
  };
  const int port = freePortRange();
  sender.offer(root() / "out", {"big.bin"}, port, true);
  receiver.accept(folder("in"), 1, sender.record->totalSize.load(), port, false);
  receiver.start();
  ASSERT_TRUE(waitUntilListening(port));
  sender.start();
  ASSERT_TRUE(sender.join());
  ASSERT_TRUE(receiver.join());
  EXPECT_NE(::testing::PrintToString(sender.frontend.notices()).find("文件在发送过程中变短了"),
            std::string::npos);
  EXPECT_FALSE(receiver.record->protocolFinished.load());
  const std::string received = readFile(root() / "in/big.bin");
  EXPECT_LT(received.size(), contents.size());
  const std::size_t kept = std::min(received.size(), cut);
  EXPECT_TRUE(received.substr(0, kept) == contents.substr(0, kept));
}

}  // namespace
}  // namespace brisk::test
