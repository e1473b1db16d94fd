#include <chrono>
#include <csignal>
#include <string>

#include <gtest/gtest.h>

#include "peer_process_fixture.h"
#include "support/test_support.h"

namespace brisk {
namespace {

using namespace std::chrono_literals;
using test::BriskPeerProcess;

constexpr auto kRunLimit = 60s;

TEST_F(BriskPeerProcess, KeptListenerWithClosedInputTakesFromOnePeerAfterAnother) {
  const std::filesystem::path received = folder("inbox");
  const int port = test::freePortRange();
  // Standard input is /dev/null: closed from the start, as under a service manager.
  auto inbox = startListener(port, {"--save-to", received.string(), "--keep"});

  const struct {
    std::string name;
    std::string bytes;
  } sent[] = {{"第一.bin", test::patternBytes(700000, 3)}, {"second.txt", "from the second peer"}};
  for (const auto& file : sent) {
    SCOPED_TRACE(file.name);
    ASSERT_TRUE(test::waitFor([&] { return test::isListening(port); }, kRunLimit))
        << inbox->output();
    const std::filesystem::path source = root() / "send" / file.name;
    test::writeFile(source, file.bytes);
    auto sender = startConnector(port, {"--send", source.string(), "--once"}, "to-" + file.name);
    EXPECT_EQ(sender->waitForExit(kRunLimit), 0) << sender->output();
    // The sender's verdict waited for the receiver's acknowledgement of every byte.
    EXPECT_TRUE(test::readFile(received / file.name) == file.bytes) << file.name;
    EXPECT_FALSE(inbox->exitStatus()) << inbox->output();
  }

  // Only a signal ends it, and cleanly.
  ASSERT_TRUE(test::waitFor([&] { return test::isListening(port); }, kRunLimit)) << inbox->output();
  inbox->signal(SIGTERM);
  EXPECT_EQ(inbox->waitForExit(kRunLimit), 128 + SIGTERM) << inbox->output();
  EXPECT_FALSE(inbox->endedBySignal());
}

TEST_F(BriskPeerProcess, UnattendedListenerServesItsPeerUntilThePeerLeaves) {
  // Input closed and offers answered automatically: the session is not over when the
  // connection is made, only when the peer has left.
  const std::filesystem::path received = folder("received");
  const std::filesystem::path source = root() / "send" / "a.txt";
  test::writeFile(source, "late offer");
  for (const bool refuse : {false, true}) {
    SCOPED_TRACE(refuse ? "--refuse" : "--save-to");
    const int port = test::freePortRange();
    auto listener =
        startListener(port, refuse ? std::vector<std::string>{"--refuse"}
                                   : std::vector<std::string>{"--save-to", received.string()});
    // The connector ends once its own line and offer are through; then the listener ends.
    auto talker = startConnector(port, {"--say", "hello", "--send", source.string()});
    EXPECT_EQ(talker->waitForExit(kRunLimit), 0) << talker->output();
    EXPECT_EQ(listener->waitForExit(kRunLimit), 0) << listener->output();
    EXPECT_NE(listener->output().find("hello"), std::string::npos) << listener->output();
    if (!refuse) {
      EXPECT_EQ(test::readFile(received / "a.txt"), "late offer");
    }
  }
}

}  // namespace
}  // namespace brisk
