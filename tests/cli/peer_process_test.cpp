#include <chrono>
#include <csignal>
#include <map>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "child_process.h"
#include "platform/socket.h"
#include "support/test_support.h"

namespace brisk {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;

constexpr auto kRunLimit = 60s;

// Every file and folder below `root`, by relative path, with the bytes of the files.
std::map<std::string, std::string> treeOf(const std::filesystem::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string name = entry.path().lexically_relative(root).string();
    tree[name] = entry.is_directory() ? "<folder>" : test::readFile(entry.path());
  }
  return tree;
}

std::uintmax_t sizeOf(const std::filesystem::path& path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  return error ? 0 : size;
}

class BriskPeerProcess : public test::Sandbox {
 protected:
  std::unique_ptr<ChildProcess> start(const std::string& name,
                                      const std::vector<std::string>& arguments) {
    return std::make_unique<ChildProcess>(BRISK_PEER_PROGRAM, arguments, root() / (name + ".out"));
  }

  // A listener, once it listens.
  std::unique_ptr<ChildProcess> startListener(int port, std::vector<std::string> options) {
    std::vector<std::string> arguments{"listen", "--port", std::to_string(port), "--no-announce"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    auto child = start("listener-" + std::to_string(port), arguments);
    EXPECT_TRUE(test::waitFor([&] { return test::isListening(port) || child->exitStatus(); }))
        << child->output();
    return child;
  }

  std::unique_ptr<ChildProcess> startConnector(int port, std::vector<std::string> options) {
    std::vector<std::string> arguments{"connect", "127.0.0.1", "--port", std::to_string(port)};
    arguments.insert(arguments.end(), options.begin(), options.end());
    return start("connector-" + std::to_string(port), arguments);
  }
};

TEST_F(BriskPeerProcess, FolderTreeMovesBetweenTwoProgramsByteForByte) {
  const std::filesystem::path tree = root() / "send" / "树";
  test::writeFile(tree / "说明.txt", test::patternBytes(1000, 1));
  test::writeFile(tree / "空.bin", "");
  test::writeFile(tree / "子" / "深" / "数据.dat", test::patternBytes(300000, 2));
  test::writeFile(tree / "子" / "b.txt", "b");
  std::filesystem::create_directories(tree / "空文件夹");
  const std::filesystem::path received = folder("received");

  const int port = test::freePortRange();
  auto listener = startListener(port, {"--save-to", received.string(), "--once"});
  auto connector = startConnector(port, {"--send", tree.string(), "--once"});

  EXPECT_EQ(connector->waitForExit(kRunLimit), 0) << connector->output();
  EXPECT_EQ(listener->waitForExit(kRunLimit), 0) << listener->output();
  EXPECT_EQ(treeOf(received / "树"), treeOf(tree));
  EXPECT_NE(listener->output().find("传送完毕！"), std::string::npos) << listener->output();
}

TEST_F(BriskPeerProcess, FileCutOffByAKilledSenderIsCompletedByResuming) {
  const std::string bytes = test::patternBytes(64u << 20, 7);
  const std::filesystem::path original = root() / "send" / "大文件.bin";
  test::writeFile(original, bytes);
  const std::filesystem::path received = folder("received");
  const std::filesystem::path partial = received / "大文件.bin";

  const int port = test::freePortRange();
  auto listener = startListener(port, {"--save-to", received.string(), "--once"});
  auto sender = startConnector(port, {"--send", original.string(), "--once"});
  // Freeze the receiver as soon as data arrives, so the sender can be killed mid-file.
  bool arrived = false;
  const auto deadline = std::chrono::steady_clock::now() + kRunLimit;
  while (!arrived && std::chrono::steady_clock::now() < deadline && !listener->exitStatus()) {
    arrived = sizeOf(partial) > 0;
    if (!arrived) std::this_thread::sleep_for(200us);
  }
  listener->signal(SIGSTOP);
  ASSERT_TRUE(arrived) << listener->output();
  ASSERT_LT(sizeOf(partial), bytes.size()) << "the transfer ended before it could be cut off";
  sender->signal(SIGKILL);
  sender->waitForExit(kRunLimit);
  listener->signal(SIGCONT);
  EXPECT_EQ(listener->waitForExit(kRunLimit), 1) << listener->output();
  const std::uintmax_t cutAt = sizeOf(partial);
  ASSERT_GT(cutAt, 0u);
  ASSERT_LT(cutAt, bytes.size());
  EXPECT_EQ(test::readFile(partial), bytes.substr(0, cutAt));

  const int again = test::freePortRange();
  auto resumer = startListener(again, {"--save-to", received.string(), "--resume", "--once"});
  auto resender = startConnector(again, {"--send", original.string(), "--once"});
  EXPECT_EQ(resender->waitForExit(kRunLimit), 0) << resender->output();
  EXPECT_EQ(resumer->waitForExit(kRunLimit), 0) << resumer->output();
  EXPECT_NE(resumer->output().find("续传已有文件"), std::string::npos) << resumer->output();
  EXPECT_TRUE(test::readFile(partial) == bytes) << "size " << sizeOf(partial);
}

TEST_F(BriskPeerProcess, SaidLineReachesThePeerAndBothEndOnTheirOwn) {
  const int port = test::freePortRange();
  auto listener = startListener(port, {"--once"});
  // Without --once and with its input closed, the connector ends once it has said it.
  auto connector = startConnector(port, {"--say", "你好，世界"});
  EXPECT_EQ(connector->waitForExit(kRunLimit), 0) << connector->output();
  // The connection closed before any transfer.
  EXPECT_EQ(listener->waitForExit(kRunLimit), 1) << listener->output();
  EXPECT_NE(listener->output().find("你好，世界\n"), std::string::npos) << listener->output();
}

TEST_F(BriskPeerProcess, RefusedOfferEndsBothOnceRunsWithoutSuccess) {
  const std::filesystem::path file = root() / "send" / "a.txt";
  test::writeFile(file, "a");
  const int port = test::freePortRange();
  auto listener = startListener(port, {"--refuse", "--once"});
  auto connector = startConnector(port, {"--send", file.string(), "--once"});
  EXPECT_EQ(connector->waitForExit(kRunLimit), 1) << connector->output();
  EXPECT_EQ(listener->waitForExit(kRunLimit), 1) << listener->output();
  EXPECT_NE(connector->output().find("对方不同意接收文件"), std::string::npos)
      << connector->output();
}

TEST_F(BriskPeerProcess, ExitStatusTellsUsageErrorsAndFailedLinksApart) {
  auto usage = start("usage", {"listen", "--exists", "sometimes"});
  EXPECT_EQ(usage->waitForExit(kRunLimit), 2);
  EXPECT_NE(usage->output().find("Usage: brisk-peer"), std::string::npos);

  // Nothing listens on the port: the connect fails.
  const int unused = test::freePortRange();
  auto connector = startConnector(unused, {"--once"});
  EXPECT_EQ(connector->waitForExit(kRunLimit), 3) << connector->output();
  EXPECT_NE(connector->output().find("连接失败！"), std::string::npos) << connector->output();

  // The port is taken: listening fails.
  const int taken = test::freePortRange();
  SocketResult holder = listenTcp(static_cast<std::uint16_t>(taken), 1);
  ASSERT_TRUE(holder.ok());
  auto listener = start("taken", {"listen", "--port", std::to_string(taken)});
  EXPECT_EQ(listener->waitForExit(kRunLimit), 3) << listener->output();
}

TEST_F(BriskPeerProcess, TerminationSignalEndsAWaitingListenerCleanly) {
  const int port = test::freePortRange();
  auto listener = startListener(port, {"--save-to", folder("received").string()});
  listener->signal(SIGTERM);
  EXPECT_EQ(listener->waitForExit(kRunLimit), 128 + SIGTERM) << listener->output();
  EXPECT_FALSE(listener->endedBySignal());
}

}  // namespace
}  // namespace brisk
