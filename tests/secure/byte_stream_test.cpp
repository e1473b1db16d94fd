// What every ByteStream promises, checked on the plain socket and on the two kinds of TLS
// session alike: protocol code written against the interface must not notice which one
// it runs over.

#include "platform/byte_stream.h"

#include <future>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/socket.h"
#include "secure/tls_fixture.h"
#include "support/test_support.h"

namespace brisk {
namespace {

using namespace std::chrono_literals;

enum class Kind { Plain, Control, Data };

struct StreamPair {
  std::unique_ptr<ByteStream> left;
  std::unique_ptr<ByteStream> right;
};

StreamPair makePair(Kind kind) {
  if (kind == Kind::Plain) {
    auto [a, b] = test::socketPair();
    return {std::make_unique<SocketStream>(std::move(a)),
            std::make_unique<SocketStream>(std::move(b))};
  }
  test::StartedPair started =
      kind == Kind::Control ? test::startControlPair(test::aliceIdentity(), test::bobIdentity())
                            : test::startDataPair(test::keyOf(7), test::keyOf(7));
  EXPECT_TRUE(started.ok()) << started.connecting.failure.text << started.accepting.failure.text;
  return {std::move(started.connecting.stream), std::move(started.accepting.stream)};
}

// Receives until `count` bytes came or the stream ended.
std::string receiveCount(ByteStream& stream, std::size_t count) {
  std::string received;
  std::string buffer(100000, '\0');
  while (received.size() < count) {
    const ssize_t n = stream.receive(buffer.data(), buffer.size());
    if (n <= 0) break;
    received.append(buffer.data(), static_cast<std::size_t>(n));
  }
  return received;
}

class ByteStreamContract : public ::testing::TestWithParam<Kind> {};

TEST_P(ByteStreamContract, AnOrderlyEndComesAfterEverySentByte) {
  StreamPair pair = makePair(GetParam());
  ASSERT_TRUE(pair.left && pair.right);
  EXPECT_FALSE(pair.right->waitReadable(0ms));
  ASSERT_EQ(pair.left->sendAll("hello"), 5);
  EXPECT_TRUE(pair.right->waitReadable(10s));
  ASSERT_EQ(pair.left->finishSending(), 0);
  EXPECT_EQ(receiveCount(*pair.right, 5), "hello");
  char byte = 0;
  EXPECT_EQ(pair.right->receive(&byte, 1), 0);
  EXPECT_TRUE(pair.right->failureText().empty());
  // The other direction still works after one side finished sending.
  ASSERT_EQ(pair.right->sendAll("back"), 4);
  EXPECT_EQ(receiveCount(*pair.left, 4), "back");
}

// What the check of streamed files is keyed with: the same at both ends of an encrypted
// stream, different per label, none for a plain one.
TEST_P(ByteStreamContract, SessionSecretsAreSharedByBothEndsOnlyWhenEncrypted) {
  StreamPair pair = makePair(GetParam());
  ASSERT_TRUE(pair.left && pair.right);
  const auto left = pair.left->sessionSecret("EXPORTER-test-a", 16);
  if (GetParam() == Kind::Plain) {
    EXPECT_FALSE(left);
    return;
  }
  ASSERT_TRUE(left);
  EXPECT_EQ(left->size(), 16u);
  EXPECT_EQ(pair.right->sessionSecret("EXPORTER-test-a", 16), left);
  EXPECT_NE(pair.right->sessionSecret("EXPORTER-test-b", 16), left);
}

TEST_P(ByteStreamContract, ReadingAndWritingAtOnceOnBothEndsLosesNothing) {
  StreamPair pair = makePair(GetParam());
  ASSERT_TRUE(pair.left && pair.right);
  const std::string leftward = test::patternBytes(3 << 20, 1);
  const std::string rightward = test::patternBytes(3 << 20, 2);
  // Each end has a writing thread and a reading thread, as the control connection has.
  auto leftWriter = std::async(std::launch::async, [&] { return pair.left->sendAll(rightward); });
  auto rightWriter = std::async(std::launch::async, [&] { return pair.right->sendAll(leftward); });
  auto leftReader =
      std::async(std::launch::async, [&] { return receiveCount(*pair.left, leftward.size()); });
  const std::string atRight = receiveCount(*pair.right, rightward.size());
  EXPECT_EQ(leftWriter.get(), static_cast<ssize_t>(rightward.size()));
  EXPECT_EQ(rightWriter.get(), static_cast<ssize_t>(leftward.size()));
  EXPECT_TRUE(leftReader.get() == leftward);
  EXPECT_TRUE(atRight == rightward);
}

TEST_P(ByteStreamContract, AnInterruptBreaksABlockedReceiveAndEveryLaterCall) {
  StreamPair pair = makePair(GetParam());
  ASSERT_TRUE(pair.left && pair.right);
  SocketInterrupter interrupter;
  ASSERT_TRUE(interrupter.arm(pair.right->fd()));
  auto blocked = std::async(std::launch::async, [&] {
    char byte = 0;
    return pair.right->receive(&byte, 1);
  });
  interrupter.interrupt();
  ASSERT_EQ(blocked.wait_for(10s), std::future_status::ready);
  // A plain socket sees its own shutdown as an end; a TLS session as a cut. Either way
  // nothing more is received and nothing can be sent.
  EXPECT_LE(blocked.get(), 0);
  char byte = 0;
  EXPECT_LE(pair.right->receive(&byte, 1), 0);
  EXPECT_EQ(pair.right->sendAll("x"), -1);
  interrupter.disarm();
}

INSTANTIATE_TEST_SUITE_P(Streams, ByteStreamContract,
                         ::testing::Values(Kind::Plain, Kind::Control, Kind::Data),
                         [](const auto& info) {
                           switch (info.param) {
                             case Kind::Plain:
                               return "Plain";
                             case Kind::Control:
                               return "TlsControl";
                             case Kind::Data:
                               return "TlsData";
                           }
                           return "";
                         });

}  // namespace
}  // namespace brisk
