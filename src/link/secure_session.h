#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/frontend.h"
#include "common/timing.h"
#include "platform/socket.h"
#include "secure/identity.h"
#include "secure/tls_context.h"
#include "secure/tls_stream.h"
#include "secure/trust_store.h"
#include "transfer/transfer_context.h"

namespace brisk {

// How a Peer runs encrypted sessions. A Peer without one speaks only the plain protocol.
struct SecureSetup {
  std::shared_ptr<const Identity> identity;
  std::shared_ptr<const TlsContext> control;  // for identity
  std::shared_ptr<const TlsContext> data;
  std::shared_ptr<TrustStore> trust;
  std::string name;  // this installation's name, as peers remember it
  // 只使用加密连接: Connect never falls back to the plain port, and a listening side
  // turns plain connections away. The Peer's start value: the switch itself is the Peer's
  // (Peer::setEncryptedOnly), so that it can change while this setup is shared with the
  // link thread.
  bool encryptedOnly = false;
  // The plain port only, as before encrypted sessions (brisk-peer --plain).
  bool plainOnly = false;
  // An unattended inbox: a plain connection is turned away before anything of it is read,
  // so only peers that are verified (before, or now by the person) get a session.
  bool verifiedOnly = false;
  // Streamed transfers are named in the capability line (brisk-peer --no-stream leaves
  // them out, so that both sides use the protocol's records inside the session).
  bool streamedTransfers = true;
};

// Makes the TLS settings of `identity`; nothing, with `error` set, when OpenSSL cannot.
std::shared_ptr<SecureSetup> makeSecureSetup(std::shared_ptr<const Identity> identity,
                                             std::shared_ptr<TrustStore> trust, std::string name,
                                             std::string& error);

// The encrypted port that belongs to a control port (nothing when it would pass 65535).
std::optional<int> encryptedPortFor(int controlPort);

// What this program can do beyond the protocol in an encrypted session, as its CAPS line
// names it: streamed, checked transfers.
std::vector<std::string> linkCapabilities();
// What this side names in the capability line of a session set up with `setup`.
std::vector<std::string> ownCapabilities(const SecureSetup& setup);

// How the data connections of one transfer of a verified session are made: with `key`
// (nothing: it could not be exported, and every connection fails with that reason), and
// giving up on a peer silent for `idleLimit`.
DataSessionStart dataSessionStart(std::shared_ptr<const TlsContext> data,
                                  std::optional<DataKey> key, std::chrono::milliseconds idleLimit);

// A control session whose peer is verified, ready for the protocol's messages.
struct VerifiedSession {
  std::shared_ptr<TlsStream> stream;
  Fingerprint peer;
  std::string peerName;
  std::vector<std::string> peerCapabilities;
  std::vector<std::string> ownCapabilities;  // what this side named
  bool firstContact = false;                 // verified just now by both people
};

struct SessionSetup {
  std::optional<VerifiedSession> session;
  std::string error;     // why there is none, for the log
  bool warning = false;  // a known peer presented another key: the error is also a notice
};

// Runs everything between the TLS handshake and the protocol's messages: both sides say
// whether they know each other and give their names; a peer known by its key goes on; a
// peer whose name or address is known with another key is stopped; otherwise both people
// compare the first-contact code and must both confirm it, after which the peer is
// remembered. Then both sides name their capabilities. On the link thread; another thread
// breaks it by shutting the socket down.
SessionSetup verifySession(std::unique_ptr<TlsStream> stream, TlsRole role,
                           const SecureSetup& setup, IpAddress peerAddress, Frontend& frontend,
                           const Timing& timing);

}  // namespace brisk
