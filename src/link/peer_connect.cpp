// How a Peer's control connection comes about: listening on the plain and the encrypted
// port, connecting to the encrypted port first, and verifying the peer of an encrypted
// session before anything of the protocol is read or sent.

#include <cerrno>

#include <poll.h>

#include "common/detached_call.h"
#include "common/diagnostics.h"
#include "link/peer.h"
#include "secure/tls_stream.h"

namespace brisk {

namespace {

// Only one peer is ever accepted on the control port; a few more may queue meanwhile and
// are closed with the listening socket.
constexpr int kControlBacklog = 5;

constexpr const char* kNotEncrypted = "连接未加密，对方的身份未经验证。\r\n";

// Waits until one of the two listeners has a connection: 0 for the first, 1 for the
// second, -1 when the wait was broken (the interrupter, armed with the first, shut it down)
// or failed.
int waitForEither(const Socket& first, const Socket& second, const SocketInterrupter& interrupter) {
  pollfd fds[2] = {{first.fd(), POLLIN, 0}, {second.fd(), POLLIN, 0}};
  for (;;) {
    const int ready = ::poll(fds, 2, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || interrupter.interrupted()) return -1;
    if (fds[1].revents != 0) return 1;
    return 0;
  }
}

void logConnectFailure(Frontend& frontend, int error) {
  std::string text = "连接失败！";
  appendErrorText(error, text);
  frontend.appendLog(text, kRed);
}

}  // namespace

bool Peer::sessionEncrypted() const {
  std::lock_guard lock(linkMutex_);
  return session_ != nullptr;
}

std::vector<std::string> Peer::sharedCapabilities() const {
  std::lock_guard lock(linkMutex_);
  return sharedCapabilities_;
}

DataSessionStart Peer::dataSessionFor(int index) {
  std::shared_ptr<TlsStream> session;
  {
    std::lock_guard lock(linkMutex_);
    session = session_;
  }
  if (!session || !secure_) return {};
  return dataSessionStart(secure_->data, dataKeyFor(*session, static_cast<std::uint32_t>(index)),
                          timing_.idleDataLimit);
}

void Peer::reportSession(const ControlLink& link) {
  if (link.verified) {
    const VerifiedSession& session = *link.verified;
    frontend_.appendLog(std::string(session.firstContact ? "已验证并记住对方：" : "对方已验证：") +
                            session.peerName + "（" + session.peer.groupedText() +
                            "），连接已加密。\r\n",
                        kGreen);
  } else if (secure_) {
    frontend_.appendLog(kNotEncrypted, kRed);
  }
}

bool Peer::encryptionMissing(const LinkAttempt& attempt) {
  if (!attempt.encryptedOnly || (secure_ && !secure_->plainOnly)) return false;
  frontend_.appendLog(
      "已选择只使用加密连接，但本机不能使用加密连接（原因见启动时的提示），所以没有连接。\r\n",
      kRed);
  return true;
}

std::optional<Peer::ControlLink> Peer::listenForPeer(LinkAttempt& attempt) {
  if (encryptionMissing(attempt)) return std::nullopt;
  SocketResult listening = listenTcp(static_cast<std::uint16_t>(attempt.port), kControlBacklog);
  if (!listening.ok()) {
    notices_.showErrorNotice(callFailed(listening.failedCall), listening.error);
    return std::nullopt;
  }
  Socket encrypted;
  const std::optional<int> encryptedPort =
      secure_ && !secure_->plainOnly ? encryptedPortFor(attempt.port) : std::nullopt;
  if (encryptedPort) {
    SocketResult second = listenTcp(static_cast<std::uint16_t>(*encryptedPort), kControlBacklog);
    if (second.ok()) {
      encrypted = std::move(second.socket);
    } else if (attempt.encryptedOnly) {
      notices_.showErrorNotice(callFailed(second.failedCall), second.error);
      return std::nullopt;
    } else {
      std::string text =
          "加密端口 " + std::to_string(*encryptedPort) + " 无法监听，只能接受未加密的连接。";
      appendErrorText(second.error, text);
      frontend_.appendLog(text, kRed);
    }
  }
  frontend_.showPortListening();
  SocketResult accepted;
  bool onEncrypted = false;
  if (attempt.interrupter.arm(listening.socket.fd())) {
    if (encrypted.isOpen()) {
      const int which = waitForEither(listening.socket, encrypted, attempt.interrupter);
      onEncrypted = which == 1;
      if (which < 0) {
        accepted.failedCall = "accept";
        accepted.error = ECONNABORTED;
      } else {
        accepted = acceptTcp(onEncrypted ? encrypted : listening.socket, attempt.interrupter);
      }
    } else {
      accepted = acceptTcp(listening.socket, attempt.interrupter);
    }
    attempt.interrupter.disarm();
  } else {
    accepted.failedCall = "accept";
    accepted.error = ECONNABORTED;
  }
  // No second peer is accepted: the listening sockets go as soon as one peer came.
  listening.socket.close();
  encrypted.close();
  if (!accepted.ok()) {
    std::string text = kAcceptFailed;
    appendErrorText(accepted.error, text);
    frontend_.appendLog(text, kRed);
    return std::nullopt;
  }
  const std::optional<IpAddress> address = peerAddressOf(accepted.socket);
  if (address) frontend_.setAddressText(address->text());
  if (!onEncrypted) return acceptedPlain(attempt, std::move(accepted.socket));
  EncryptedTry tried = startSession(attempt, std::move(accepted.socket), TlsRole::Accepting,
                                    address.value_or(IpAddress{}));
  return std::move(tried.link);
}

std::optional<Peer::ControlLink> Peer::acceptedPlain(const LinkAttempt& attempt, Socket socket) {
  if (secure_ && (secure_->verifiedOnly || attempt.encryptedOnly)) {
    // Closed before a byte of it is read: nothing from an unverified peer is looked at.
    frontend_.appendLog("拒绝了一个未加密的连接：这里只接受加密并验证过的对方。\r\n", kRed);
    return std::nullopt;
  }
  ControlLink link;
  link.address = peerAddressOf(socket);
  link.stream = std::make_shared<SocketStream>(std::move(socket));
  return link;
}

std::optional<Peer::ControlLink> Peer::connectToPeer(LinkAttempt& attempt) {
  if (encryptionMissing(attempt)) return std::nullopt;
  const std::optional<HostLookup> found = callDetached<HostLookup>(
      [host = attempt.host] { return resolveHost(host); }, attempt.stop.get_token());
  if (!found) {
    // Disconnect came while the resolver was still busy: reported as a broken connect.
    logConnectFailure(frontend_, ECONNABORTED);
    return std::nullopt;
  }
  const HostLookup& lookup = *found;
  if (!lookup.address) {
    // Neither a host name nor a dotted address: the resolver says why.
    frontend_.appendLog("连接失败！\r\nError code: " + std::to_string(lookup.errorCode) + "\r\n" +
                            lookup.errorText + "\r\n",
                        kRed);
    return std::nullopt;
  }
  const std::optional<int> encryptedPort =
      secure_ && !secure_->plainOnly ? encryptedPortFor(attempt.port) : std::nullopt;
  if (encryptedPort) {
    EncryptedTry tried = connectEncrypted(attempt, *lookup.address, *encryptedPort);
    if (!tried.noEncryptedPort) return std::move(tried.link);
    if (!mayFallBack(attempt, *lookup.address, *encryptedPort)) return std::nullopt;
  }
  return connectPlain(attempt, *lookup.address);
}

std::optional<Peer::ControlLink> Peer::connectPlain(LinkAttempt& attempt, IpAddress address) {
  SocketResult connected =
      connectTcp(address, static_cast<std::uint16_t>(attempt.port), attempt.interrupter);
  if (!connected.ok()) {
    if (connected.failedCall == std::string_view("socket")) {
      notices_.showErrorNotice(kSocketFailed, connected.error);
    } else {
      logConnectFailure(frontend_, connected.error);
    }
    return std::nullopt;
  }
  ControlLink link;
  link.address = peerAddressOf(connected.socket);
  link.stream = std::make_shared<SocketStream>(std::move(connected.socket));
  return link;
}

Peer::EncryptedTry Peer::connectEncrypted(LinkAttempt& attempt, IpAddress address, int port) {
  SocketResult connected = connectTcp(address, static_cast<std::uint16_t>(port),
                                      attempt.interrupter, timing_.encryptedPortWait);
  EncryptedTry tried;
  if (!connected.ok()) {
    if (attempt.interrupter.interrupted()) {
      logConnectFailure(frontend_, ECONNABORTED);
    } else {
      // Refused, or no answer in time: an older or other peer without the port.
      tried.noEncryptedPort = true;
    }
    return tried;
  }
  return startSession(attempt, std::move(connected.socket), TlsRole::Connecting, address);
}

bool Peer::mayFallBack(const LinkAttempt& attempt, IpAddress address, int encryptedPort) {
  const std::string where = address.text();
  if (attempt.encryptedOnly) {
    frontend_.appendLog("对方（" + where + "）的加密端口 " + std::to_string(encryptedPort) +
                            " 没有应答；已选择只使用加密连接，所以没有改用未加密的连接。\r\n",
                        kRed);
    return false;
  }
  const TrustStore::Peers known = secure_->trust->findByNameOrAddress({}, where);
  if (!known.ok()) {
    frontend_.appendLog(known.error + "\r\n", kRed);
    return false;
  }
  if (!known.peers.empty()) {
    // A verified peer always has the encrypted port: its silence there may be someone in
    // between who hopes for the plain port.
    const std::string text = "警告：以前验证过的“" + known.peers.front().name + "”（" + where +
                             "）的加密端口 " + std::to_string(encryptedPort) +
                             " 没有应答。为安全起见，没有改用未加密的连接。";
    frontend_.appendLog(text + "\r\n", kRed);
    notices_.showNotice(text);
    return false;
  }
  return true;
}

Peer::EncryptedTry Peer::startSession(LinkAttempt& attempt, Socket socket, TlsRole role,
                                      IpAddress address) {
  EncryptedTry tried;
  // Armed from the handshake on, so that Disconnect breaks it as it breaks a receive; the
  // question to the person closes with it.
  if (!attempt.interrupter.arm(socket.fd())) {
    logConnectFailure(frontend_, ECONNABORTED);
    return tried;
  }
  TlsStart started = startControlSession(*secure_->control, std::move(socket), role,
                                         role == TlsRole::Connecting
                                             ? timing_.encryptedPortWait + timing_.handshakeLimit
                                             : timing_.handshakeLimit);
  if (!started.ok()) {
    attempt.interrupter.disarm();
    // A port that accepts and closes without a word, as a relay in front of nothing does,
    // is no Brisk: as if nothing listened there.
    if (role == TlsRole::Connecting && !started.peerSpoke && !attempt.interrupter.interrupted()) {
      tried.noEncryptedPort = true;
      return tried;
    }
    frontend_.appendLog("加密连接失败：" + started.failure.text + "\r\n", kRed);
    return tried;
  }
  SessionSetup setup =
      verifySession(std::move(started.stream), role, *secure_, address, frontend_, timing_);
  attempt.interrupter.disarm();
  if (!setup.session) {
    frontend_.appendLog(setup.error + "\r\n", kRed);
    if (setup.warning) notices_.showNotice(setup.error);
    return tried;
  }
  ControlLink link;
  link.address = address;
  link.stream = setup.session->stream;
  link.verified = std::move(setup.session);
  tried.link = std::move(link);
  return tried;
}

}  // namespace brisk
