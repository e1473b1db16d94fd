// Data connections: only a party holding the session's key for the transfer gets one.

#include <future>
#include <string>

#include <gtest/gtest.h>

#include "secure/tls_fixture.h"
#include "secure/tls_stream.h"

namespace brisk {
namespace {

using namespace std::chrono_literals;
using Kind = TlsFailure::Kind;

TEST(DataSessionTest, TheSameKeyConnectsWithAFreshKeyExchangeAndNoCertificates) {
  test::StartedPair pair = test::startDataPair(test::keyOf(1), test::keyOf(1));
  ASSERT_TRUE(pair.ok()) << pair.connecting.failure.text << pair.accepting.failure.text;
  for (const TlsStream* end : {pair.connecting.stream.get(), pair.accepting.stream.get()}) {
    const TlsParameters parameters = end->parameters();
    EXPECT_EQ(parameters.version, "TLSv1.3");
    EXPECT_TRUE(parameters.preSharedKey);
    // psk_dhe_ke: a key that leaks later does not open what was recorded.
    EXPECT_FALSE(parameters.exchange.empty());
    EXPECT_FALSE(end->peerFingerprint());
  }
  ASSERT_EQ(pair.connecting.stream->sendAll("file bytes"), 10);
  char buffer[16];
  EXPECT_EQ(pair.accepting.stream->receive(buffer, sizeof buffer), 10);
}

TEST(DataSessionTest, AWrongKeyFailsOnBothSides) {
  test::StartedPair pair = test::startDataPair(test::keyOf(1), test::keyOf(2));
  EXPECT_EQ(pair.accepting.failure.kind, Kind::WrongKey) << pair.accepting.failure.text;
  EXPECT_EQ(pair.connecting.failure.kind, Kind::WrongKey) << pair.connecting.failure.text;
}

TEST(DataSessionTest, StrangersAndControlSessionsFailAtTheDataPortWithinTheLimit) {
  const auto data = test::dataContext();
  const auto control = test::controlContext(test::malloryIdentity());
  const struct {
    const char* stranger;
    const char* says;     // sent as it is (a plain stranger), or
    bool controlSession;  // a TLS client with a certificate and no key
    Kind expected;
  } rows[] = {
      {"silent", "", false, Kind::TimedOut},
      {"plain bytes", "| Transfer file(s) finished.", false, Kind::NotTls},
      {"certificate instead of the key", "", true, Kind::WrongKey},
  };
  for (const auto& row : rows) {
    auto [stranger, ours] = test::socketPair();
    auto accepted = std::async(std::launch::async, [&, socket = std::move(ours)]() mutable {
      return startDataSession(*data, std::move(socket), TlsRole::Accepting, test::keyOf(1), 300ms);
    });
    TlsStart strangerSide;
    if (row.controlSession) {
      strangerSide = startControlSession(*control, std::move(stranger), TlsRole::Connecting, 10s);
    } else if (*row.says != '\0') {
      ASSERT_GT(stranger.sendAll(row.says), 0);
    }
    ASSERT_EQ(accepted.wait_for(10s), std::future_status::ready) << row.stranger;
    const TlsStart result = accepted.get();
    EXPECT_EQ(result.failure.kind, row.expected) << row.stranger << ": " << result.failure.text;
    EXPECT_FALSE(strangerSide.ok()) << row.stranger;
  }
}

TEST(DataSessionTest, AClientRefusesADataPortThatShowsACertificateInsteadOfTheKey) {
  auto [ours, impostor] = test::socketPair();
  const auto control = test::controlContext(test::malloryIdentity());
  auto impostorSide = std::async(std::launch::async, [&, socket = std::move(impostor)]() mutable {
    return startControlSession(*control, std::move(socket), TlsRole::Accepting, 10s);
  });
  const TlsStart result = startDataSession(*test::dataContext(), std::move(ours),
                                           TlsRole::Connecting, test::keyOf(1), 10s);
  EXPECT_EQ(result.failure.kind, Kind::WrongKey) << result.failure.text;
  EXPECT_FALSE(impostorSide.get().ok());
}

TEST(DataSessionTest, BothEndsOfAControlSessionDeriveTheSameKeyPerTransfer) {
  test::StartedPair control = test::startControlPair(test::aliceIdentity(), test::bobIdentity());
  ASSERT_TRUE(control.ok());
  const auto alice5 = dataKeyFor(*control.connecting.stream, 5);
  const auto bob5 = dataKeyFor(*control.accepting.stream, 5);
  ASSERT_TRUE(alice5 && bob5);
  EXPECT_EQ(alice5->bytes, bob5->bytes);
  EXPECT_NE(dataKeyFor(*control.accepting.stream, 6)->bytes, alice5->bytes);
  test::StartedPair other = test::startControlPair(test::aliceIdentity(), test::bobIdentity());
  ASSERT_TRUE(other.ok());
  EXPECT_NE(dataKeyFor(*other.connecting.stream, 5)->bytes, alice5->bytes);

  test::StartedPair data = test::startDataPair(*alice5, *bob5);
  EXPECT_TRUE(data.ok());
}

}  // namespace
}  // namespace brisk
