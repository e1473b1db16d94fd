#pragma once

#include <string>

namespace brisk {

// Why an encrypted connection failed, as a kind that callers can act on and a text for
// the person (with OpenSSL's own reason where it helps).
struct TlsFailure {
  enum class Kind {
    None,
    TimedOut,       // the handshake did not finish within its limit (a peer that says nothing)
    Closed,         // the peer closed the connection during the handshake
    NotTls,         // what came is not TLS: a peer of the plain protocol, or anything else
    OldVersion,     // the peer speaks no TLS 1.3
    NoCertificate,  // the peer presented no certificate
    WrongKey,       // data connection: the peer does not hold the session's key
    Tampered,       // a record failed its authentication: changed on the way, or not ours
    Cut,            // the connection ended without the peer ending the session in order
    Failed,         // anything else; the text tells
  };
  Kind kind = Kind::None;
  std::string text;

  explicit operator bool() const { return kind != Kind::None; }
};

// Where a failure happened, which decides how some of OpenSSL's reasons read.
enum class TlsStage { ControlHandshake, DataHandshake, Session };

// The failure that the last OpenSSL call on this thread reported (SSL_get_error's value
// `sslError`, errno as it was right after the call), taken off OpenSSL's error queue.
TlsFailure takeTlsFailure(int sslError, int systemError, TlsStage stage);

// The errno a failed receive or send reports for a failure of this kind.
int errnoFor(TlsFailure::Kind kind);

}  // namespace brisk
