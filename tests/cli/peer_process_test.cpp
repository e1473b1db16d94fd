#include <algorithm>
#include <chrono>
#include <clocale>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/syscall.h>

#include <gtest/gtest.h>

#include "child_process.h"
#include "peer_process_fixture.h"
#include "platform/socket.h"
#include "support/raw_connection.h"
#include "support/test_support.h"

namespace brisk {
namespace {

using namespace std::chrono_literals;
using test::BriskPeerProcess;
using test::ChildProcess;

constexpr auto kRunLimit = 60s;
// How often a transfer is started before the test gives up cutting one off.
constexpr int kCutAttempts = 10;

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

  // Freezes the receiver as soon as data arrives and kills the sender, so that the file is
  // cut off mid-way. The test can only watch from outside: on a busy machine the whole
  // file may arrive before it looks, and then the attempt shows nothing and is made again.
  // Both programs run at the lowest priority, so that the watching test is rarely late.
  std::filesystem::path received;
  std::uintmax_t cutAt = 0;
  int attempt = 0;
  for (; attempt < kCutAttempts && cutAt == 0; ++attempt) {
    received = folder("received" + std::to_string(attempt));
    const std::filesystem::path partial = received / "大文件.bin";
    const int port = test::freePortRange();
    auto listener = startListener(port, {"--save-to", received.string(), "--once"});
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(listener->pid()), 19);
    auto sender = startConnector(port, {"--send", original.string(), "--once"});
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(sender->pid()), 19);
    bool arrived = false;
    const auto deadline = std::chrono::steady_clock::now() + kRunLimit;
    while (!arrived && std::chrono::steady_clock::now() < deadline && !listener->exitStatus()) {
      arrived = sizeOf(partial) > 0;
      if (!arrived) std::this_thread::sleep_for(200us);
    }
    listener->signal(SIGSTOP);
    ASSERT_TRUE(arrived) << listener->output();
    sender->signal(SIGKILL);
    sender->waitForExit(kRunLimit);
    listener->signal(SIGCONT);
    const std::optional<int> status = listener->waitForExit(kRunLimit);
    // What the sender had sent before it died may still complete the file.
    if (test::readFile(partial) == bytes) {
      std::filesystem::remove_all(received);
      continue;
    }
    // The connection broke under the transfer: a network failure.
    EXPECT_EQ(status, 3) << listener->output();
    cutAt = sizeOf(partial);
    ASSERT_GT(cutAt, 0u);
    ASSERT_LT(cutAt, bytes.size());
    EXPECT_EQ(test::readFile(partial), bytes.substr(0, cutAt));
  }
  ASSERT_GT(cutAt, 0u) << "every transfer ended before it could be cut off";
  std::cout << "cut off at byte " << cutAt << " in attempt " << attempt << "\n";
  const std::filesystem::path partial = received / "大文件.bin";

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
  EXPECT_EQ(connector->waitForExit(kRunLimit), 4) << connector->output();
  EXPECT_EQ(listener->waitForExit(kRunLimit), 4) << listener->output();
  EXPECT_NE(connector->output().find("对方不同意接收文件"), std::string::npos)
      << connector->output();
}

// The JSON lines among a program's output (its human lines are on the same file here).
std::vector<std::string> jsonLines(const std::string& output) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < output.size()) {
    const std::size_t end = std::min(output.find('\n', at), output.size());
    if (output.compare(at, 9, "{\"event\":") == 0) lines.push_back(output.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

bool hasLine(const std::vector<std::string>& lines, const std::string& start) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.starts_with(start); });
}

TEST_F(BriskPeerProcess, JsonEventsTellAScriptTheOfferAndEachSidesVerdict) {
  const std::filesystem::path file = root() / "send" / "报告.pdf";
  test::writeFile(file, test::patternBytes(5000, 3));
  const std::filesystem::path received = folder("received");
  const int port = test::freePortRange();
  auto listener = startListener(port, {"--save-to", received.string(), "--once", "--json"});
  auto connector = startConnector(port, {"--send", file.string(), "--once", "--json"});
  EXPECT_EQ(connector->waitForExit(kRunLimit), 0) << connector->output();
  EXPECT_EQ(listener->waitForExit(kRunLimit), 0) << listener->output();

  const auto sent = jsonLines(connector->output());
  EXPECT_TRUE(hasLine(sent, R"({"event":"link","state":"connected"})")) << connector->output();
  EXPECT_TRUE(hasLine(sent, R"({"event":"offer","index":1,"own":true,"text":")"));
  EXPECT_TRUE(hasLine(sent, R"({"event":"offer-end","index":1,"own":true,"outcome":"accepted"})"));
  EXPECT_TRUE(hasLine(sent, R"({"event":"transfer","index":1,"sender":true,"file":")"));
  EXPECT_TRUE(hasLine(
      sent, R"({"event":"verdict","index":1,"sender":true,"complete":true,"cause":"complete",)"));
  const auto got = jsonLines(listener->output());
  EXPECT_TRUE(hasLine(got, R"({"event":"offer","index":1,"own":false,"text":"报告.pdf\u00095 KB)"))
      << listener->output();
  EXPECT_TRUE(hasLine(
      got, R"({"event":"verdict","index":1,"sender":false,"complete":true,"cause":"complete",)"));
}

// Whether one of the transfer lines of brisk-peer's output says that a send completed.
bool sentCompletely(const std::string& output) {
  std::size_t at = 0;
  while ((at = output.find("发送文件 Index: ", at)) != std::string::npos) {
    const std::size_t end = output.find('\n', at);
    if (output.substr(at, end - at).ends_with("传送完毕！")) return true;
    at = end;
  }
  return false;
}

TEST_F(BriskPeerProcess, OffersMadeAtTheSameMomentNeverLeaveEitherProgramWaiting) {
  const std::filesystem::path fromListener = root() / "send" / "l.txt";
  const std::filesystem::path fromConnector = root() / "send" / "c.txt";
  test::writeFile(fromListener, "from the listener");
  test::writeFile(fromConnector, "from the connector");
  // Twenty pairs, four at a time.
  for (int batch = 0; batch < 5; ++batch) {
    std::vector<std::unique_ptr<ChildProcess>> children;
    for (int pair = 0; pair < 4; ++pair) {
      // Both offer as soon as they are connected, each under the lowest free Index.
      const std::string saveFolder =
          folder("run" + std::to_string(batch) + std::to_string(pair)).string();
      const int port = test::freePortRange();
      children.push_back(
          startListener(port, {"--save-to", saveFolder, "--send", fromListener.string()}));
      children.push_back(
          startConnector(port, {"--save-to", saveFolder, "--send", fromConnector.string()}));
    }
    for (const auto& child : children) {
      // Each ends on its own once nothing is under way: no offer or slot is left waiting.
      EXPECT_EQ(child->waitForExit(kRunLimit), 0) << child->output();
      // Its own offer was refused because the offers crossed, or it went through.
      const std::string output = child->output();
      EXPECT_TRUE(output.find("对方接收文件出错") != std::string::npos || sentCompletely(output))
          << output;
    }
  }
}

// A --once run that offers something is judged by its own offer and that offer's transfer
// only: the peer's offer, refused on the way, is not its outcome.
TEST_F(BriskPeerProcess, OnceJudgesOnlyItsOwnOfferAndItsTransfer) {
  const int port = test::freePortRange(100);
  const test::RawConnection listening = test::RawConnection::listenOn(port);
  const std::filesystem::path file = root() / "send" / "a.txt";
  test::writeFile(file, "abc");
  auto child = startConnector(port, {"--send", file.string(), "--once", "--refuse"});
  const test::RawConnection raw = listening.accept();
  ASSERT_TRUE(raw.isOpen());
  ASSERT_TRUE(raw.send("TRANSFILE:ASK:Index:7\r\nx.txt\t1 bytes\r\n"));
  const std::string refusal = "TRANSFILE:REPLY:NO:Index:7\r\n";
  const std::string ask = "TRANSFILE:ASK:Index:1\r\na.txt\t3 bytes\r\n";
  std::string received;
  while (received.size() < refusal.size() + ask.size()) {
    const std::string more = raw.receiveSome();
    ASSERT_FALSE(more.empty()) << received << child->output();
    received += more;
  }
  EXPECT_NE(received.find(refusal), std::string::npos) << received;
  EXPECT_NE(received.find(ask), std::string::npos) << received;

  const test::RawConnection dataListener = test::RawConnection::listenOn(port + 2);
  ASSERT_TRUE(raw.send("TRANSFILE:REPLY:YES:PORT:" + std::to_string(port + 2) + ":Index:1\r\n"));
  const test::RawConnection data = dataListener.accept();
  ASSERT_TRUE(data.isOpen()) << child->output();
  EXPECT_TRUE(data.receiveSome().starts_with("\\a.txt\r\nFileSize:3\r\n"));
  ASSERT_TRUE(data.send("+0"));
  EXPECT_EQ(data.receive(3), "abc");
  ASSERT_TRUE(data.send("0"));
  EXPECT_EQ(data.receive(30), std::string("| Transfer file(s) finished.") + std::string(2, '\0'));
  EXPECT_EQ(child->waitForExit(kRunLimit), 0) << child->output();
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

// The system call one thread of a process is blocked in, by number (-1 while it runs);
// nothing when the kernel does not tell (/proc/.../syscall needs the right to trace).
std::optional<long> blockedSystemCall(const std::filesystem::path& task) {
  std::ifstream file(task / "syscall");
  std::string first;
  if (!(file >> first)) return std::nullopt;
  return first == "running" ? -1 : std::stol(first);
}

// Whether some thread of the process is blocked in `call`; nothing when the kernel does
// not tell.
std::optional<bool> anyThreadBlockedIn(pid_t pid, long call) {
  std::optional<bool> found;
  std::error_code error;
  for (const auto& task :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    const std::optional<long> blocked = blockedSystemCall(task.path());
    if (!blocked) continue;
    found = found.value_or(false) || *blocked == call;
  }
  return found;
}

TEST_F(BriskPeerProcess, TerminationSignalEndsAProgramBlockedSendingChatWithinASecond) {
  // Far more chat than the connection's buffers take while the peer reads nothing.
  std::string lines;
  for (int line = 0; line < 4096; ++line) lines += std::string(4095, 'x') + "\n";
  const std::filesystem::path input = root() / "chat.txt";
  test::writeFile(input, lines);
  for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
    const int port = test::freePortRange();
    const test::RawConnection silent = test::RawConnection::listenOn(port);
    ChildProcess talker(BRISK_PEER_PROGRAM,
                        {"connect", "127.0.0.1", "--port", std::to_string(port)},
                        root() / ("talker" + std::to_string(number) + ".out"), input);
    const test::RawConnection peer = silent.accept();
    ASSERT_TRUE(peer.isOpen());
    if (!anyThreadBlockedIn(talker.pid(), SYS_sendto)) {
      GTEST_SKIP() << "the kernel does not show system calls";
    }
    // A send blocks: the peer reads nothing and the buffers are full.
    ASSERT_TRUE(test::waitFor([&] { return anyThreadBlockedIn(talker.pid(), SYS_sendto) == true; }))
        << talker.output().substr(0, 200);

    const auto signalled = std::chrono::steady_clock::now();
    talker.signal(number);
    EXPECT_EQ(talker.waitForExit(kRunLimit), 128 + number) << talker.output().substr(0, 200);
    EXPECT_FALSE(talker.endedBySignal());
    const auto took = std::chrono::steady_clock::now() - signalled;
    EXPECT_LT(took, 1s);
    std::cout << "signal " << number << ": ended "
              << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
              << " ms after it\n";
  }
}

// The reason for a failure reads in the person's language, and in UTF-8 like every other
// line the program writes, also under a GBK locale.
TEST_F(BriskPeerProcess, SystemErrorTextsFollowThePersonsLocale) {
  const char* locale = "zh_CN.GBK";
  if (const locale_t found = ::newlocale(LC_ALL_MASK, locale, nullptr)) {
    ::freelocale(found);
  } else {
    GTEST_SKIP() << locale << " is not installed here (scripts/install-deps.sh makes it)";
  }
  const int port = test::freePortRange();  // nothing listens there
  const char* previous = std::getenv("LC_ALL");
  const std::string kept = previous ? previous : "";
  ::setenv("LC_ALL", locale, 1);
  auto connector = startConnector(port, {});
  previous ? ::setenv("LC_ALL", kept.c_str(), 1) : ::unsetenv("LC_ALL");
  EXPECT_TRUE(connector->waitForExit(kRunLimit));
  EXPECT_NE(connector->output().find("连接失败！"), std::string::npos) << connector->output();
  EXPECT_NE(connector->output().find("拒绝连接"), std::string::npos) << connector->output();
}

}  // namespace
}  // namespace brisk
