// A folder tree far deeper than any real one, received by brisk-peer as a process: its
// memory stays small, and the depth limit is refused with an error line.

#include <cstdlib>
#include <iostream>
#include <string>

#include <gtest/gtest.h>

#include "child_process.h"
#include "platform/text_codec.h"
#include "support/raw_connection.h"
#include "support/test_support.h"
#include "transfer/data_records.h"

namespace brisk {
namespace {

using namespace std::chrono_literals;

class DeepTreeProcess : public test::Sandbox {
 protected:
  void TearDown() override {
    // Paths below the received tree are longer than the system's path limit, which the
    // sandbox's own clean-up cannot go through; rm works relative to each folder.
    const std::string command = "rm -rf '" + root().string() + "/received'";
    EXPECT_EQ(std::system(command.c_str()), 0);
    Sandbox::TearDown();
  }
};

TEST_F(DeepTreeProcess, ReceivingA1500LevelTreeOf255ByteNamesStaysUnder64MiB) {
  const std::filesystem::path received = folder("received");
  const int port = test::freePortRange();
  test::ChildProcess listener(BRISK_PEER_PROGRAM,
                              {"listen", "--plain", "--port", std::to_string(port), "--save-to",
                               received.string(), "--once"},
                              root() / "listener.out");
  ASSERT_TRUE(test::waitFor([&] { return test::isListening(port); })) << listener.output();
  const test::RawConnection control = test::RawConnection::connectTo(port);
  ASSERT_TRUE(
      control.send(toWire("TRANSFILE:ASK:Index:1\r\ntop\t文件夹\t0 bytes\r\n\r\n总计 "
                          "文件个数：-1\r\n　　 文件大小：0 Bytes = 0 bytes\r\n")));
  const std::string reply = "TRANSFILE:REPLY:YES:PORT:" + std::to_string(port + 2) + ":Index:1\r\n";
  ASSERT_EQ(control.receive(reply.size()), reply) << listener.output();

  const test::RawConnection data = test::RawConnection::connectTo(port + 2);
  ASSERT_TRUE(data.isOpen());
  FileAttributeData folderData;
  folderData.attributes = kAttributeDirectory;
  std::size_t level = 0;
  std::string answer = "0";
  while (answer == "0" && level < 1500) {
    ++level;
    const std::string name(255, static_cast<char>('a' + level % 26));
    ASSERT_TRUE(data.send(folderRecord(name, folderData))) << level;
    answer = data.receiveSome();
  }
  EXPECT_EQ(level, kMaxFolderDepth + 1);
  EXPECT_TRUE(answer.starts_with(toWire("| 文件夹层数超过256层：\r\n"))) << answer.substr(0, 40);
  EXPECT_EQ(listener.waitForExit(60s), 1) << listener.output();
  EXPECT_LT(listener.peakResidentKiB(), 64 * 1024);
  std::cout << "peak resident memory of the receiver: " << listener.peakResidentKiB() << " KiB\n";
}

}  // namespace
}  // namespace brisk
