// Name lookups that cannot succeed, run where no lookup can leave the machine: a network
// namespace that holds only loopback (skipped where one cannot be made).

#include <chrono>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "link/peer.h"
#include "support/isolated_network.h"
#include "support/scripted_frontend.h"
#include "support/test_support.h"

namespace brisk {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kCannotIsolate = "no network namespace here (needs root): skipped";

// The first name server the resolver asks, when it is an IPv4 address.
std::optional<std::string> firstNameServer() {
  std::ifstream conf("/etc/resolv.conf");
  std::string line;
  while (std::getline(conf, line)) {
    std::istringstream words(line);
    std::string key;
    std::string value;
    in_addr parsed{};
    if (words >> key >> value && key == "nameserver" &&
        ::inet_pton(AF_INET, value.c_str(), &parsed) == 1) {
      return value;
    }
  }
  return std::nullopt;
}

// Inside runWithoutNetwork: takes the name server's address on loopback and listens on its
// port without ever answering, so that every lookup waits for the resolver's time-out.
class SilentNameServer {
 public:
  explicit SilentNameServer(const std::string& address) {
    if (!test::addAddressToLoopback(address.c_str())) return;
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(53);
    ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~SilentNameServer() {
    if (fd_ >= 0) ::close(fd_);
  }
  SilentNameServer(const SilentNameServer&) = delete;
  SilentNameServer& operator=(const SilentNameServer&) = delete;

  bool ready() const { return fd_ >= 0; }
  // Waits for a query that asks about `label`: proof that its lookup is under way.
  bool waitForQuery(const std::string& label) const {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
      pollfd pfd{fd_, POLLIN, 0};
      if (::poll(&pfd, 1, 100) != 1) continue;
      char buffer[512];
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n > 0 &&
          std::string(buffer, static_cast<std::size_t>(n)).find(label) != std::string::npos) {
        return true;
      }
    }
    return false;
  }

 private:
  int fd_ = -1;
};

// Neither Disconnect nor the end of the Peer waits for a lookup the resolver holds: the
// connect gives up at once, and shutting down leaves the start-up lookup to finish alone.
TEST(IsolatedResolver, ALookupThatHangsHoldsNeitherDisconnectNorShutdown) {
  const std::optional<std::string> nameServer = firstNameServer();
  if (!nameServer) GTEST_SKIP() << "no IPv4 name server in /etc/resolv.conf";
  const std::optional<std::string> outcome = test::runWithoutNetwork(
      [&nameServer] {
        const SilentNameServer server(*nameServer);
        if (!server.ready()) return std::string("no silent name server");
        test::ScriptedFrontend frontend;
        auto peer = std::make_unique<Peer>(frontend, test::fastTiming());
        peer->connect("brisk-test.example", 6000);
        if (!server.waitForQuery("brisk-test")) return std::string("no query for the connect");
        peer->disconnect();
        if (!frontend.waitForLog("连接失败！", std::chrono::milliseconds(2000))) {
          return std::string("the connect waited for the lookup");
        }
        peer->logLocalAddress();
        if (!server.waitForQuery("brisk-host-in-no-hosts-file")) {
          return std::string("no query for the local address");
        }
        const auto start = Clock::now();
        peer.reset();
        if (Clock::now() - start > std::chrono::milliseconds(1000)) {
          return std::string("the shutdown waited for the lookup");
        }
        return std::string("ok");
      },
      "brisk-host-in-no-hosts-file");
  if (!outcome) GTEST_SKIP() << kCannotIsolate;
  EXPECT_EQ(*outcome, "ok");
}

TEST(IsolatedResolver, AnUnknownHostNameShowsTheResolversReason) {
  const std::optional<std::string> line = test::runWithoutNetwork([] {
    test::ScriptedFrontend frontend;
    Peer peer(frontend, test::fastTiming());
    peer.connect("brisk-test.invalid", 6000);
    if (!frontend.waitForLog("连接失败！")) return std::string("no failure line");
    return frontend.log().back().text;
  });
  if (!line) GTEST_SKIP() << kCannotIsolate;
  ASSERT_TRUE(line->starts_with("连接失败！\r\nError code: ")) << *line;
  const int code = std::stoi(line->substr(std::string("连接失败！\r\nError code: ").size()));
  EXPECT_NE(code, 0);
  EXPECT_EQ(*line, "连接失败！\r\nError code: " + std::to_string(code) + "\r\n" +
                       ::gai_strerror(code) + "\r\n");
}

TEST(IsolatedResolver, AHostNameThatDoesNotResolveFallsBackToAnInterfaceAtOnce) {
  const std::optional<std::string> result = test::runWithoutNetwork(
      [] {
        if (!test::addAddressToLoopback("192.0.2.7")) return std::string("no address");
        test::ScriptedFrontend frontend;
        Peer peer(frontend, test::fastTiming());
        const auto start = Clock::now();
        peer.logLocalAddress();
        // The caller never waits for the lookup.
        if (Clock::now() - start > std::chrono::milliseconds(100)) return std::string("held");
        if (!frontend.waitForLog("本机IP地址")) return std::string("no line");
        return frontend.log().front().text;
      },
      "brisk-host-in-no-hosts-file");
  if (!result) GTEST_SKIP() << kCannotIsolate;
  EXPECT_EQ(*result, "本机IP地址：192.0.2.7\r\n");
}

}  // namespace
}  // namespace brisk
