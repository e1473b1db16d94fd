// brisk-peer's encrypted sessions as processes: each side with an identity of its own (a
// settings folder each), the code answered by --trust-first-contact, and the inbox that
// takes nothing from a stranger.

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "peer_process_fixture.h"
#include "support/test_support.h"

namespace brisk {
namespace {

using namespace std::chrono_literals;
using test::BriskPeerProcess;

constexpr auto kRunLimit = 60s;

class EncryptedProcess : public BriskPeerProcess {
 protected:
  // The processes started next keep their identity and trusted peers in `name`.
  void settingsOf(const std::string& name) { ::setenv("XDG_CONFIG_HOME", folder(name).c_str(), 1); }
  std::string fingerprintOf(const std::string& name) {
    settingsOf(name);
    auto id = start("id-" + name, {"id"});
    EXPECT_EQ(id->waitForExit(kRunLimit), 0) << id->output();
    return id->output();
  }
};

TEST_F(EncryptedProcess, TheInboxTakesFilesOnlyFromAPeerVerifiedOnce) {
  const std::string inboxId = fingerprintOf("inbox");
  const std::string senderId = fingerprintOf("sender");
  ASSERT_EQ(inboxId.size(), 80u) << inboxId;  // 16 groups of 4, spaces, a line break
  ASSERT_NE(inboxId, senderId);

  const std::filesystem::path received = folder("received");
  const std::filesystem::path source = root() / "send" / "a.bin";
  const std::string bytes = test::patternBytes(300000, 4);
  test::writeFile(source, bytes);
  const int port = test::freePortRange(102);
  const std::vector<std::string> inboxOptions{BriskPeerProcess::kEncrypted, "--save-to",
                                              received.string(), "--keep"};
  const auto send = [&](const std::string& name, std::vector<std::string> options) {
    options.insert(options.end(), {"--send", source.string(), "--once"});
    EXPECT_TRUE(test::waitFor([&] { return test::isListening(port); }, kRunLimit));
    auto sender = startConnector(port, options, name);
    return sender->waitForExit(kRunLimit);
  };

  // Nobody at the inbox compares codes: a stranger, even one that trusts anybody, and a
  // plain peer get nothing in.
  settingsOf("inbox");
  auto inbox = startListener(port, inboxOptions);
  settingsOf("stranger");
  EXPECT_EQ(send("stranger", {BriskPeerProcess::kEncrypted, "--trust-first-contact"}), 3);
  EXPECT_NE(send("plain", {}), 0);
  EXPECT_FALSE(std::filesystem::exists(received / "a.bin"));
  EXPECT_NE(inbox->output().find("不信任"), std::string::npos) << inbox->output();
  EXPECT_NE(inbox->output().find("拒绝了一个未加密的连接"), std::string::npos);
  inbox->signal(SIGTERM);
  EXPECT_EQ(inbox->waitForExit(kRunLimit), 128 + SIGTERM) << inbox->output();

  // Verified once (here by --trust-first-contact on both sides), then the inbox takes it.
  settingsOf("inbox");
  auto once = startListener(port, {BriskPeerProcess::kEncrypted, "--save-to", received.string(),
                                   "--once", "--trust-first-contact"});
  settingsOf("sender");
  EXPECT_EQ(send("verify", {BriskPeerProcess::kEncrypted, "--trust-first-contact"}), 0);
  EXPECT_EQ(once->waitForExit(kRunLimit), 0) << once->output();
  std::filesystem::remove(received / "a.bin");
  settingsOf("inbox");
  inbox = startListener(port, inboxOptions);
  settingsOf("sender");
  EXPECT_EQ(send("known", {BriskPeerProcess::kEncrypted}), 0);
  EXPECT_TRUE(test::readFile(received / "a.bin") == bytes);
  inbox->signal(SIGTERM);
  EXPECT_EQ(inbox->waitForExit(kRunLimit), 128 + SIGTERM) << inbox->output();

  auto list = start("list", {"trust", "list"});
  EXPECT_EQ(list->waitForExit(kRunLimit), 0);
  EXPECT_EQ(list->output().rfind(inboxId.substr(0, 79) + "\t", 0), 0u) << list->output();

  // Forgotten by the start of its fingerprint, as the list shows it; a start too short to
  // tell peers apart, or one nobody has, forgets nothing.
  for (const auto& [given, exit] :
       {std::pair{inboxId.substr(0, 4), 1}, std::pair{std::string("0000 0000 0"), 1},
        std::pair{inboxId.substr(0, 9), 0}}) {
    std::vector<std::string> arguments{"trust", "forget"};
    arguments.push_back(given);
    auto forget = start("forget", arguments);
    EXPECT_EQ(forget->waitForExit(kRunLimit), exit) << given << ": " << forget->output();
  }
  list = start("list again", {"trust", "list"});
  EXPECT_EQ(list->waitForExit(kRunLimit), 0);
  EXPECT_EQ(list->output(), "");
}

}  // namespace
}  // namespace brisk
