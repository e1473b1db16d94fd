#include "secure/first_contact.h"

#include <future>
#include <string>

#include <gtest/gtest.h>

#include "secure/session_lines.h"
#include "secure/tls_fixture.h"

namespace brisk {
namespace {

using namespace std::chrono_literals;

Digest filled(std::uint8_t byte) {
  Digest digest;
  digest.fill(byte);
  return digest;
}

Fingerprint fingerprintOf(std::uint8_t byte) {
  return Fingerprint{filled(byte)};
}

SessionLine lineOf(const std::string& text) {
  const SessionLineParse parse = parseSessionLine(text);
  EXPECT_TRUE(parse.line) << text << parse.error;
  return parse.line.value_or(SessionLine{});
}

// Both ends of a control session run the exchange at once; returns their codes.
std::pair<FirstContactResult, FirstContactResult> runBoth(TlsStream& connecting,
                                                          const Identity& connectingIdentity,
                                                          TlsStream& accepting,
                                                          const Identity& acceptingIdentity) {
  auto acceptingSide = std::async(std::launch::async, [&] {
    return runFirstContact(accepting, TlsRole::Accepting, acceptingIdentity.fingerprint(), 10s);
  });
  FirstContactResult connectingResult =
      runFirstContact(connecting, TlsRole::Connecting, connectingIdentity.fingerprint(), 10s);
  return {connectingResult, acceptingSide.get()};
}

TEST(FirstContactTest, BothSidesOfOneSessionShowTheSameSixDigits) {
  test::StartedPair pair = test::startControlPair(test::aliceIdentity(), test::bobIdentity());
  ASSERT_TRUE(pair.ok());
  const auto [alice, bob] = runBoth(*pair.connecting.stream, test::aliceIdentity(),
                                    *pair.accepting.stream, test::bobIdentity());
  ASSERT_TRUE(alice.ok()) << alice.error;
  ASSERT_TRUE(bob.ok()) << bob.error;
  EXPECT_EQ(alice.code, bob.code);
  EXPECT_EQ(alice.code.size(), 6u);
  EXPECT_EQ(alice.code.find_first_not_of("0123456789"), std::string::npos);
}

TEST(FirstContactTest, TheCodeIsFixedByItsConstructionAndChangesWithEveryInput) {
  const Digest exporter = filled(0xE0);
  const Fingerprint connecting = fingerprintOf(0xC0);
  const Fingerprint accepting = fingerprintOf(0xA0);
  const Digest connectingNonce = filled(0x01);
  const Digest acceptingNonce = filled(0x02);
  const std::string code =
      firstContactCode(exporter, connecting, accepting, connectingNonce, acceptingNonce);
  // Computed apart from this program: SHA-256 over the label and the five 32-byte pieces.
  // Every Brisk must compute the same code, so the construction may never drift.
  EXPECT_EQ(code, "399896");
  const std::pair<const char*, std::string> changed[] = {
      {"exporter",
       firstContactCode(filled(0xE1), connecting, accepting, connectingNonce, acceptingNonce)},
      {"connecting fingerprint",
       firstContactCode(exporter, fingerprintOf(0xC1), accepting, connectingNonce, acceptingNonce)},
      {"accepting fingerprint", firstContactCode(exporter, connecting, fingerprintOf(0xA1),
                                                 connectingNonce, acceptingNonce)},
      {"fingerprints swapped",
       firstContactCode(exporter, accepting, connecting, connectingNonce, acceptingNonce)},
      {"connecting nonce",
       firstContactCode(exporter, connecting, accepting, filled(0x03), acceptingNonce)},
      {"accepting nonce",
       firstContactCode(exporter, connecting, accepting, connectingNonce, filled(0x03))},
  };
  for (const auto& [input, other] : changed) EXPECT_NE(other, code) << input;
}

TEST(FirstContactTest, ARevealMustMatchItsCommitmentAndComeInItsTurn) {
  const Fingerprint alice = fingerprintOf(0xA1);
  const Fingerprint bob = fingerprintOf(0xB0);
  const Digest exporter = filled(0xE0);
  const Digest bobNonce = filled(0x22);
  const std::string bobCommits =
      commitLine(firstContactCommitment(TlsRole::Accepting, bob, bobNonce));
  const auto fresh = [&] {
    return FirstContact(TlsRole::Connecting, alice, bob, exporter, filled(0x11));
  };

  FirstContact honest = fresh();
  const FirstContact::Step afterCommit = honest.take(lineOf(bobCommits));
  EXPECT_EQ(afterCommit.send, revealLine(filled(0x11)));
  const FirstContact::Step done = honest.take(lineOf(revealLine(bobNonce)));
  EXPECT_EQ(done.code, firstContactCode(exporter, alice, bob, filled(0x11), bobNonce));
  EXPECT_FALSE(honest.take(lineOf(revealLine(bobNonce))).error.empty());

  const struct {
    const char* attack;
    std::vector<std::string> lines;
  } attacks[] = {
      {"reveals another nonce than it committed to", {bobCommits, revealLine(filled(0x23))}},
      {"commits as the connecting side",
       {commitLine(firstContactCommitment(TlsRole::Connecting, bob, bobNonce)),
        revealLine(bobNonce)}},
      {"commits for another key",
       {commitLine(firstContactCommitment(TlsRole::Accepting, fingerprintOf(0xB1), bobNonce)),
        revealLine(bobNonce)}},
      {"reveals before committing", {revealLine(bobNonce)}},
      {"sends our own commitment back", {fresh().commitLine()}},
      {"confirms without the exchange", {confirmLine()}},
  };
  for (const auto& row : attacks) {
    FirstContact exchange = fresh();
    FirstContact::Step step;
    for (const std::string& line : row.lines) step = exchange.take(lineOf(line));
    EXPECT_FALSE(step.error.empty()) << row.attack;
    EXPECT_TRUE(step.code.empty()) << row.attack;
  }
}

// A man in the middle at first contact: Alice's connection ends at Mallory, who connects
// to Bob, and each side sees Mallory's key in a TLS session of its own.
struct ManInTheMiddle {
  test::StartedPair aliceMallory =
      test::startControlPair(test::aliceIdentity(), test::malloryIdentity());
  test::StartedPair malloryBob =
      test::startControlPair(test::malloryIdentity(), test::bobIdentity());

  bool ok() const { return aliceMallory.ok() && malloryBob.ok(); }
  TlsStream& alice() { return *aliceMallory.connecting.stream; }
  TlsStream& malloryFacingAlice() { return *aliceMallory.accepting.stream; }
  TlsStream& malloryFacingBob() { return *malloryBob.connecting.stream; }
  TlsStream& bob() { return *malloryBob.accepting.stream; }
};

// Mallory runs the exchange honestly with each side.
TEST(FirstContactTest, AManInTheMiddleWithItsOwnKeyGetsDifferentCodesOnTheTwoSides) {
  ManInTheMiddle middle;
  ASSERT_TRUE(middle.ok());
  EXPECT_EQ(middle.alice().peerFingerprint(), test::malloryIdentity().fingerprint());
  EXPECT_EQ(middle.bob().peerFingerprint(), test::malloryIdentity().fingerprint());
  auto aliceSide = std::async(std::launch::async, [&] {
    return runBoth(middle.alice(), test::aliceIdentity(), middle.malloryFacingAlice(),
                   test::malloryIdentity());
  });
  const FirstContactResult bob =
      runBoth(middle.malloryFacingBob(), test::malloryIdentity(), middle.bob(), test::bobIdentity())
          .second;
  const FirstContactResult alice = aliceSide.get().first;
  ASSERT_TRUE(alice.ok() && bob.ok()) << alice.error << bob.error;
  // Equal only by chance, once in a million runs.
  EXPECT_NE(alice.code, bob.code);
}

// Mallory passes the exchange's lines on unchanged, hoping the two people then see one
// code: every commitment names the key of the side that made it, which is not the key the
// other side sees, so both reveals are refused.
TEST(FirstContactTest, AManInTheMiddleThatPassesTheLinesOnIsCaughtByTheCommitments) {
  ManInTheMiddle middle;
  ASSERT_TRUE(middle.ok());
  const auto pass = [](TlsStream& from, TlsStream& to) {
    for (int line = 0; line < 2; ++line) {
      const SessionLineRead read = readSessionLine(from, std::chrono::steady_clock::now() + 10s);
      if (read.status != SessionLineRead::Status::Line || to.sendAll(read.bytes) < 0) return;
    }
  };
  auto toBob = std::async(std::launch::async,
                          [&] { pass(middle.malloryFacingAlice(), middle.malloryFacingBob()); });
  auto toAlice = std::async(std::launch::async,
                            [&] { pass(middle.malloryFacingBob(), middle.malloryFacingAlice()); });
  const auto [alice, bob] =
      runBoth(middle.alice(), test::aliceIdentity(), middle.bob(), test::bobIdentity());
  EXPECT_FALSE(alice.ok());
  EXPECT_FALSE(bob.ok());
  EXPECT_NE(alice.error.find("承诺"), std::string::npos) << alice.error;
  toBob.get();
  toAlice.get();
}

}  // namespace
}  // namespace brisk
