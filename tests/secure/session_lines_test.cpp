#include "secure/session_lines.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/byte_stream.h"
#include "secure/tls_fixture.h"

namespace brisk {
namespace {

using namespace std::chrono_literals;
using Words = std::vector<std::string>;

const std::string kHex = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

SessionLine lineOf(SessionLineKind kind, const Digest& value = {}, unsigned version = 0,
                   Words capabilities = {}, bool knowsPeer = false, std::string name = {}) {
  SessionLine line;
  line.kind = kind;
  line.value = value;
  line.version = version;
  line.capabilities = std::move(capabilities);
  line.knowsPeer = knowsPeer;
  line.name = std::move(name);
  return line;
}

TEST(SessionLinesTest, EveryWellFormedLineReadsBackAndIsWrittenTheSameWay) {
  Digest value{};
  for (std::size_t i = 0; i < value.size(); ++i) value[i] = static_cast<std::uint8_t>(i % 16 * 17);
  const struct {
    std::string line;
    SessionLine expected;
    std::string rewritten;
  } rows[] = {
      {"BRISK-COMMIT " + kHex + "\r\n", lineOf(SessionLineKind::Commit, value), commitLine(value)},
      {"BRISK-REVEAL " + kHex + "\r\n", lineOf(SessionLineKind::Reveal, value), revealLine(value)},
      {"BRISK-CONFIRM\r\n", lineOf(SessionLineKind::Confirm), confirmLine()},
      {"BRISK-DENY\r\n", lineOf(SessionLineKind::Deny), denyLine()},
      {"BRISK-CAPS 1\r\n", lineOf(SessionLineKind::Caps, {}, 1), capsLine(1, {})},
      {"BRISK-CAPS 99999 streamed,verified-resume,x9\r\n",
       lineOf(SessionLineKind::Caps, {}, 99999, {"streamed", "verified-resume", "x9"}),
       capsLine(99999, {"streamed", "verified-resume", "x9"})},
      {"BRISK-HELLO known 书房 的电脑\r\n",
       lineOf(SessionLineKind::Hello, {}, 0, {}, true, "书房 的电脑"),
       helloLine(true, "书房 的电脑")},
      {"BRISK-HELLO new ?\r\n", lineOf(SessionLineKind::Hello, {}, 0, {}, false, "?"),
       helloLine(false, "")},
  };
  for (const auto& row : rows) {
    const SessionLineParse parse = parseSessionLine(row.line);
    ASSERT_TRUE(parse.line) << row.line << parse.error;
    EXPECT_EQ(*parse.line, row.expected) << row.line;
    EXPECT_EQ(row.rewritten, row.line);
  }
}

TEST(SessionLinesTest, AnythingElseIsRefusedWithAReason) {
  const std::string words32 = [] {
    std::string words = "a0";
    for (int i = 1; i < 33; ++i) words += ",a" + std::to_string(i);
    return words;
  }();
  const std::string rows[] = {
      "BRISK-CONFIRM",                                  // no line end
      "BRISK-CONFIRM\n",                                // half a line end
      "BRISK-CONFIRM\r\n\r\n",                          // two lines
      "brisk-confirm\r\n",                              // other case
      "BRISK-CONFIRM \r\n",                             // trailing space
      "BRISK-COMMIT " + kHex.substr(1) + "\r\n",        // 63 digits
      "BRISK-COMMIT " + kHex + "0\r\n",                 // 65 digits
      "BRISK-COMMIT  " + kHex.substr(1) + "\r\n",       // two spaces
      "BRISK-REVEAL " + std::string(64, 'A') + "\r\n",  // upper case
      "BRISK-COMMIT\r\n",
      "BRISK-CAPS\r\n",
      "BRISK-CAPS 0\r\n",
      "BRISK-CAPS 01\r\n",
      "BRISK-CAPS 100000\r\n",
      "BRISK-CAPS -1\r\n",
      "BRISK-CAPS 1 \r\n",
      "BRISK-CAPS 1 a,,b\r\n",
      "BRISK-CAPS 1 a,\r\n",
      "BRISK-CAPS 1 -a\r\n",
      "BRISK-CAPS 1 Upper\r\n",
      "BRISK-CAPS 1 a b\r\n",
      "BRISK-CAPS 1 " + std::string(33, 'a') + "\r\n",
      "BRISK-CAPS 1 " + words32 + "\r\n",  // 33 words
      "BRISK-CAPS 1 a\0b\r\n",
      "BRISK-CAPS 1 caf\xc3\xa9\r\n",
      "BRISK-CAPS 1 " + std::string(600, 'a') + "\r\n",
      "BRISK-HELLO new\r\n",
      "BRISK-HELLO new \r\n",
      "BRISK-HELLO maybe x\r\n",
      "BRISK-HELLO new a\tb\r\n",
      "BRISK-HELLO new " + std::string(201, 'a') + "\r\n",
      "TRANSFILE:ASK:Index:1\r\n",
      "\r\n",
      "",
  };
  for (const std::string& line : rows) {
    const SessionLineParse parse = parseSessionLine(line);
    EXPECT_FALSE(parse.line) << line;
    EXPECT_FALSE(parse.error.empty()) << line;
  }
}

TEST(SessionLinesTest, OnlyCapabilitiesBothSidesKnowAreAgreed) {
  const struct {
    Words ours, theirs, agreed;
  } rows[] = {
      {{}, {"streamed"}, {}},
      {{"streamed"}, {}, {}},
      {{"streamed", "resume"}, {"future-thing", "resume", "streamed"}, {"streamed", "resume"}},
      {{"streamed"}, {"streamed", "streamed"}, {"streamed"}},
  };
  for (const auto& row : rows) EXPECT_EQ(agreedCapabilities(row.ours, row.theirs), row.agreed);
}

TEST(SessionLinesTest, ALineIsReadWithoutTakingWhatFollowsIt) {
  auto [a, b] = test::socketPair();
  SocketStream writer(std::move(a));
  SocketStream reader(std::move(b));
  const auto soon = [] { return std::chrono::steady_clock::now() + 10s; };
  ASSERT_GT(writer.sendAll("BRISK-CONFIRM\r\nTRANSFILE:"), 0);
  const SessionLineRead line = readSessionLine(reader, soon());
  EXPECT_EQ(line.status, SessionLineRead::Status::Line);
  EXPECT_EQ(line.bytes, "BRISK-CONFIRM\r\n");
  char rest[16];
  EXPECT_EQ(std::string(rest, static_cast<std::size_t>(reader.receive(rest, sizeof rest))),
            "TRANSFILE:");

  EXPECT_EQ(readSessionLine(reader, std::chrono::steady_clock::now() + 20ms).status,
            SessionLineRead::Status::TimedOut);
  ASSERT_GT(writer.sendAll(std::string(kMaxSessionLineBytes, 'x')), 0);
  EXPECT_EQ(readSessionLine(reader, soon()).status, SessionLineRead::Status::TooLong);
  ASSERT_EQ(writer.finishSending(), 0);
  (void)reader.receive(rest, sizeof rest);
  EXPECT_EQ(readSessionLine(reader, soon()).status, SessionLineRead::Status::Ended);
}

}  // namespace
}  // namespace brisk
