#include "common/notices.h"

#include <cerrno>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "support/scripted_frontend.h"

namespace brisk {
namespace {

TEST(ErrorSuffix, AddsTheCodeLineAndTheSystemText) {
  std::string text = "bind failed.";
  appendErrorText(EADDRINUSE, text);
  EXPECT_EQ(text, "bind failed.\r\nError code: 98\r\nAddress already in use\r\n");
}

TEST(ErrorSuffix, NoExtraBreakAfterATextEndingInNewLine) {
  std::string text = "gethostname failed.\r\n";
  appendErrorText(ENOENT, text);
  EXPECT_EQ(text, "gethostname failed.\r\nError code: 2\r\nNo such file or directory\r\n");
}

TEST(ErrorSuffix, CodeZeroStillGetsItsLineAndText) {
  std::string text;
  appendErrorText(0, text);
  EXPECT_EQ(text, "\r\nError code: 0\r\nSuccess\r\n");
}

TEST(ErrorSuffix, LastErrorIsTheCallersErrno) {
  std::string text = "x";
  errno = ECONNREFUSED;
  appendLastErrorText(text);
  EXPECT_NE(text.find("Error code: 111\r\nConnection refused\r\n"), std::string::npos);
}

TEST(Notices, EachNoticeOwnsItsTextAndTheCallerPausesBriefly) {
  test::ScriptedFrontend frontend;
  Timing timing;
  timing.noticePause = std::chrono::milliseconds(50);
  const Notices notices(frontend, timing);

  std::string buffer = "first";
  const auto started = std::chrono::steady_clock::now();
  notices.showNotice(buffer);
  EXPECT_GE(std::chrono::steady_clock::now() - started, timing.noticePause);
  buffer = "overwritten";

  std::thread other([&] { notices.showErrorNotice("send failed.5", EPIPE); });
  notices.showJoinedNotice("peer text", "对方");
  other.join();

  const auto shown = frontend.notices();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0], "first");
  EXPECT_NE(std::find(shown.begin(), shown.end(), "peer text\r\n对方"), shown.end());
  EXPECT_NE(
      std::find(shown.begin(), shown.end(), "send failed.5\r\nError code: 32\r\nBroken pipe\r\n"),
      shown.end());
}

}  // namespace
}  // namespace brisk
