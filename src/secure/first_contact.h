#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "secure/fingerprint.h"
#include "secure/session_lines.h"
#include "secure/tls_stream.h"

namespace brisk {

// First contact: the 6-digit code (验证码) two people compare before their installations
// trust each other's keys.
//
// Inside the TLS session, each side picks a random 32-byte nonce and sends a commitment
//   C = SHA-256("brisk first contact commitment v1" | role | own fingerprint | nonce)
// (role: 1 byte, 0 for the connecting side, 1 for the accepting side). Only once it holds
// the other side's commitment does it reveal its nonce, and a revealed nonce must match
// the commitment received before it. Both then compute
//   SHA-256("brisk first contact code v1" | E | F_c | F_a | N_c | N_a)
// where E is 32 bytes of the TLS exporter with the label "EXPORTER-brisk-first-contact",
// F are the fingerprints and N the nonces of the connecting (c) and accepting (a) sides,
// as each side saw them; every piece has a fixed length. The first 8 bytes, as an
// unsigned big-endian number, modulo 1,000,000 give the code (the bias is below 10^-13).
//
// Why this shape: without the commitments, whoever speaks last could try keys or nonces
// until the codes match (a million tries take seconds). With them, each side is bound to
// its nonce before it sees the other's, so neither, nor anyone in between, can steer the
// code. A man in the middle holds two TLS sessions with two different exporter values
// and presents its own key on both: the two people see two unrelated codes, which match
// only by a one-in-a-million chance.
//
// FirstContact is the exchange without any input or output, one instance per session;
// runFirstContact drives it over a stream.
class FirstContact {
 public:
  FirstContact(TlsRole role, const Fingerprint& own, const Fingerprint& peer,
               const Digest& exporterValue, const Digest& nonce);

  // The first line to send: this side's commitment.
  std::string commitLine() const;

  struct Step {
    std::string send;   // the line to send now (the reveal), if any
    std::string code;   // the 6 digits, once the exchange is complete
    std::string error;  // the exchange failed: the connection must end
  };
  // Takes the peer's next line: its commitment, then its nonce.
  Step take(const SessionLine& line);

 private:
  enum class State { AwaitingCommitment, AwaitingReveal, Done, Failed };
  Step failed(const char* why);

  TlsRole role_;
  Fingerprint own_;
  Fingerprint peer_;
  Digest exporterValue_;
  Digest nonce_;
  Digest peerCommitment_{};
  State state_ = State::AwaitingCommitment;
};

// The commitment and the code as described above.
Digest firstContactCommitment(TlsRole role, const Fingerprint& fingerprint, const Digest& nonce);
std::string firstContactCode(const Digest& exporterValue, const Fingerprint& connecting,
                             const Fingerprint& accepting, const Digest& connectingNonce,
                             const Digest& acceptingNonce);

// The exporter value of a control session, the E above.
std::optional<Digest> firstContactExporterValue(const TlsStream& session);

// Runs the exchange over an established control session, at most `limit` long: the
// code, or why there is none (a peer that sends something else, does not reveal in time,
// reveals another nonce than it committed to, or closes).
struct FirstContactResult {
  std::string code;
  std::string error;
  bool ok() const { return !code.empty(); }
};
FirstContactResult runFirstContact(TlsStream& session, TlsRole role, const Fingerprint& own,
                                   std::chrono::milliseconds limit);

}  // namespace brisk
