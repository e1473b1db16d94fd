// Name lookups that cannot succeed, run where no lookup can leave the machine: a network
// namespace that holds only loopback (skipped where one cannot be made).

#include <chrono>
#include <string>

#include <netdb.h>

#include <gtest/gtest.h>

#include "link/peer.h"
#include "support/isolated_network.h"
#include "support/scripted_frontend.h"
#include "support/test_support.h"

namespace brisk {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kCannotIsolate = "no network namespace here (needs root): skipped";

TEST(IsolatedResolver, AnUnknownHostNameShowsTheResolversReason) {
  const std::optional<std::string> line = test::runWithoutNetwork([] {
    test::ScriptedFrontend frontend;
    Peer peer(frontend, test::fastTiming());
    peer.onConnect("brisk-test.invalid", "6000");
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
