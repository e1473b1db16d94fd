// Control sessions, and the attacks on a TLS connection that Brisk must survive: old
// versions, missing certificates, strangers, and records changed or cut on the way.

#include "secure/tls_stream.h"

#include <future>
#include <string>

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <openssl/ssl.h>

#include "secure/tls_fixture.h"

namespace brisk {
namespace {

using namespace std::chrono_literals;
using Kind = TlsFailure::Kind;

std::span<const std::uint8_t> bytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Our accepting side against a peer of the test's making, which gets `connecting`.
std::future<TlsStart> acceptOn(Socket socket, std::chrono::milliseconds limit = 10s) {
  return std::async(std::launch::async, [socket = std::move(socket), limit]() mutable {
    TlsStart started = startControlSession(*test::controlContext(test::bobIdentity()),
                                           std::move(socket), TlsRole::Accepting, limit);
    // Lets a foreign client's read return should it ever get through.
    if (started.ok()) (void)started.stream->sendAll("!");
    return started;
  });
}

TEST(TlsSessionTest, EachSideLearnsTheOthersFingerprintAndBothExportTheSameSecrets) {
  test::StartedPair pair = test::startControlPair(test::aliceIdentity(), test::bobIdentity());
  ASSERT_TRUE(pair.ok()) << pair.connecting.failure.text << pair.accepting.failure.text;
  TlsStream& alice = *pair.connecting.stream;
  TlsStream& bob = *pair.accepting.stream;
  EXPECT_EQ(alice.peerFingerprint(), test::bobIdentity().fingerprint());
  EXPECT_EQ(bob.peerFingerprint(), test::aliceIdentity().fingerprint());
  EXPECT_EQ(alice.parameters().version, "TLSv1.3");
  EXPECT_FALSE(alice.parameters().exchange.empty());

  const auto exported = alice.exportKeyingMaterial("EXPORTER-test", bytesOf("ctx"), 32);
  ASSERT_TRUE(exported);
  EXPECT_EQ(bob.exportKeyingMaterial("EXPORTER-test", bytesOf("ctx"), 32), exported);
  EXPECT_NE(alice.exportKeyingMaterial("EXPORTER-other", bytesOf("ctx"), 32), exported);
  EXPECT_NE(alice.exportKeyingMaterial("EXPORTER-test", bytesOf("cty"), 32), exported);
  // Another session between the same two has other secrets.
  test::StartedPair again = test::startControlPair(test::aliceIdentity(), test::bobIdentity());
  ASSERT_TRUE(again.ok());
  EXPECT_NE(again.connecting.stream->exportKeyingMaterial("EXPORTER-test", bytesOf("ctx"), 32),
            exported);
}

TEST(TlsSessionTest, PeersThatBriskNeverIsAreRefused) {
  const struct {
    const char* peer;
    std::function<void(SSL_CTX*)> configure;
    Kind expected;
  } rows[] = {
      {"TLS 1.2 at most, with a certificate",
       [](SSL_CTX* context) {
         SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION);
         SSL_CTX_use_certificate(context, test::aliceIdentity().certificate());
         SSL_CTX_use_PrivateKey(context, test::aliceIdentity().key());
       },
       Kind::OldVersion},
      {"TLS 1.3 without a certificate", [](SSL_CTX*) {}, Kind::NoCertificate},
  };
  for (const auto& row : rows) {
    auto [a, b] = test::socketPair();
    auto accepted = acceptOn(std::move(b));
    EXPECT_FALSE(test::foreignClientGetsThrough(std::move(a), row.configure)) << row.peer;
    const TlsStart result = accepted.get();
    EXPECT_FALSE(result.ok()) << row.peer;
    EXPECT_EQ(result.failure.kind, row.expected) << row.peer << ": " << result.failure.text;
  }
}

TEST(TlsSessionTest, StrangersThatSayNothingOrSomethingElseFailWithinTheLimit) {
  const struct {
    const char* stranger;
    const char* says;  // nothing: the stranger closes at once
    Kind expected;
  } rows[] = {
      {"silent", "", Kind::TimedOut},
      {"plain protocol", "TRANSFILE:ASK:Index:1\r\na.txt\t100 bytes\r\n", Kind::NotTls},
      {"closes at once", nullptr, Kind::Closed},
  };
  for (const auto& row : rows) {
    auto [stranger, ours] = test::socketPair();
    auto accepted = acceptOn(std::move(ours), 300ms);
    if (!row.says) {
      stranger.close();
    } else if (*row.says != '\0') {
      ASSERT_GT(stranger.sendAll(row.says), 0);
    }
    ASSERT_EQ(accepted.wait_for(10s), std::future_status::ready) << row.stranger;
    const TlsStart result = accepted.get();
    EXPECT_EQ(result.failure.kind, row.expected) << row.stranger << ": " << result.failure.text;
    EXPECT_FALSE(result.failure.text.empty());
  }
}

TEST(TlsSessionTest, AnInterruptEndsAHandshakeThatWaits) {
  auto [silent, ours] = test::socketPair();
  SocketInterrupter interrupter;
  ASSERT_TRUE(interrupter.arm(ours.fd()));
  auto accepted = acceptOn(std::move(ours), 600s);
  interrupter.interrupt();
  ASSERT_EQ(accepted.wait_for(10s), std::future_status::ready);
  EXPECT_FALSE(accepted.get().ok());
}

TEST(TlsSessionTest, ATamperedRecordEndsTheStreamAndNothingAfterItIsDelivered) {
  auto [alice, aliceWire] = test::socketPair();
  auto [bobWire, bob] = test::socketPair();
  test::Relay relay(std::move(aliceWire), std::move(bobWire));
  test::StartedPair pair = test::startControlPair(test::aliceIdentity(), test::bobIdentity(),
                                                  std::move(alice), std::move(bob));
  ASSERT_TRUE(pair.ok());
  TlsStream& sender = *pair.connecting.stream;
  TlsStream& receiver = *pair.accepting.stream;
  ASSERT_EQ(sender.sendAll("before"), 6);
  char buffer[64];
  ASSERT_EQ(receiver.receive(buffer, sizeof buffer), 6);

  relay.tamperWithNextRecord();
  ASSERT_EQ(sender.sendAll("changed on the way"), 18);
  ASSERT_EQ(sender.sendAll("after"), 5);
  EXPECT_EQ(receiver.receive(buffer, sizeof buffer), -1);
  EXPECT_EQ(errno, EBADMSG);
  EXPECT_EQ(receiver.failure().kind, Kind::Tampered) << receiver.failure().text;
  EXPECT_EQ(receiver.receive(buffer, sizeof buffer), -1);
  EXPECT_TRUE(receiver.waitReadable(0ms));
  EXPECT_EQ(receiver.sendAll("x"), -1);
  // The receiver told the sender, whose next receive fails too.
  EXPECT_EQ(sender.receive(buffer, sizeof buffer), -1);
}

TEST(TlsSessionTest, AConnectionCutWithoutTheSessionsEndIsNotAnOrderlyEnd) {
  for (const bool insideARecord : {false, true}) {
    auto [alice, aliceWire] = test::socketPair();
    auto [bobWire, bob] = test::socketPair();
    const int aliceFd = alice.fd();
    test::Relay relay(std::move(aliceWire), std::move(bobWire));
    test::StartedPair pair = test::startControlPair(test::aliceIdentity(), test::bobIdentity(),
                                                    std::move(alice), std::move(bob));
    ASSERT_TRUE(pair.ok());
    TlsStream& receiver = *pair.accepting.stream;
    char buffer[64];
    ASSERT_EQ(pair.connecting.stream->sendAll("whole"), 5);
    EXPECT_EQ(receiver.receive(buffer, sizeof buffer), 5) << insideARecord;
    if (insideARecord) {
      relay.cutInsideNextRecord();
      ASSERT_EQ(pair.connecting.stream->sendAll("half of this record"), 19);
    } else {
      // A TCP close where no record is open: only the missing close_notify tells.
      ::shutdown(aliceFd, SHUT_WR);
    }
    EXPECT_EQ(receiver.receive(buffer, sizeof buffer), -1) << insideARecord;
    EXPECT_EQ(receiver.failure().kind, Kind::Cut) << receiver.failure().text;
  }
}

}  // namespace
}  // namespace brisk
