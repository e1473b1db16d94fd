#include "link/secure_session.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <sys/socket.h>

#include "secure/first_contact.h"
#include "secure/session_lines.h"

namespace brisk {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kEncryptedPortOffset = 101;

// One session line within `deadline`, or why none came.
struct LineRead {
  std::optional<SessionLine> line;
  std::string error;
};

LineRead readLine(TlsStream& stream, Clock::time_point deadline) {
  LineRead result;
  const SessionLineRead read = readSessionLine(stream, deadline);
  switch (read.status) {
    case SessionLineRead::Status::Line: {
      SessionLineParse parse = parseSessionLine(read.bytes);
      if (parse.line) {
        result.line = std::move(parse.line);
      } else {
        result.error = "对方发来的会话行无效：" + parse.error;
      }
      return result;
    }
    case SessionLineRead::Status::TimedOut:
      result.error = "对方没有在限定时间内回答。";
      return result;
    case SessionLineRead::Status::Ended:
      result.error = "对方断开了连接。";
      return result;
    case SessionLineRead::Status::Failed:
      result.error = stream.failureText();
      if (result.error.empty()) result.error = "对方断开了连接。";
      return result;
    case SessionLineRead::Status::TooLong:
      result.error = "对方发来的会话行过长。";
      return result;
  }
  return result;
}

LineRead expect(TlsStream& stream, Clock::time_point deadline, SessionLineKind kind) {
  LineRead read = readLine(stream, deadline);
  if (read.line && read.line->kind != kind) {
    read.line.reset();
    read.error = "对方发来的会话行不是此时应有的。";
  }
  return read;
}

// The peer's name as it is shown and kept: characters that would reorder the text around
// them (bidirectional marks, embeddings, overrides, isolates) or are C1 controls are
// dropped, so that a name cannot make a warning or the code's question read otherwise.
std::string shownPeerName(const std::string& name) {
  std::string shown;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto byte = [&](std::size_t at) {
      return at < name.size() ? static_cast<unsigned char>(name[at]) : 0;
    };
    if (byte(i) == 0xC2 && byte(i + 1) >= 0x80 && byte(i + 1) <= 0x9F) {
      ++i;
      continue;
    }
    if (byte(i) == 0xE2 &&
        ((byte(i + 1) == 0x80 && ((byte(i + 2) >= 0x8E && byte(i + 2) <= 0x8F) ||
                                  (byte(i + 2) >= 0xAA && byte(i + 2) <= 0xAE))) ||
         (byte(i + 1) == 0x81 && byte(i + 2) >= 0xA6 && byte(i + 2) <= 0xA9))) {
      i += 2;
      continue;
    }
    shown += name[i];
  }
  return shown.empty() ? std::string("?") : shown;
}

SessionSetup failed(std::string error, bool warning = false) {
  SessionSetup setup;
  setup.error = std::move(error);
  setup.warning = warning;
  return setup;
}

// Asks the person to compare the code while the peer's answer is read on a thread of its
// own: a peer that says 不同 or leaves closes the question at once. Returns the peer's
// answer line, or why there is none.
struct Comparison {
  CodeAnswer own = CodeAnswer::None;
  LineRead peer;
};

Comparison compareWithPerson(TlsStream& stream, const CodeComparison& request, Frontend& frontend,
                             Clock::time_point deadline) {
  Comparison result;
  PromptHandle handle(request.code);
  std::mutex mutex;
  std::condition_variable answeredChanged;
  bool answered = false;
  std::thread reader([&] {
    result.peer = readLine(stream, deadline);
    // Anything but the peer's confirmation ends the comparison here too; after it, the
    // time-out still does.
    if (result.peer.line && result.peer.line->kind == SessionLineKind::Confirm) {
      std::unique_lock lock(mutex);
      if (answeredChanged.wait_until(lock, deadline, [&] { return answered; })) return;
    }
    handle.close();
  });
  result.own = frontend.compareCode(handle, request);
  {
    std::lock_guard lock(mutex);
    answered = true;
  }
  answeredChanged.notify_all();
  (void)stream.sendAll(result.own == CodeAnswer::Same ? confirmLine() : denyLine());
  // Once this side said no, nothing the peer says matters: the reader is let go at once.
  if (result.own != CodeAnswer::Same) ::shutdown(stream.fd(), SHUT_RD);
  reader.join();
  return result;
}

}  // namespace

std::shared_ptr<SecureSetup> makeSecureSetup(std::shared_ptr<const Identity> identity,
                                             std::shared_ptr<TrustStore> trust, std::string name,
                                             std::string& error) {
  auto setup = std::make_shared<SecureSetup>();
  setup->control = TlsContext::forControl(*identity, error);
  if (!setup->control) return nullptr;
  setup->data = TlsContext::forData(error);
  if (!setup->data) return nullptr;
  setup->identity = std::move(identity);
  setup->trust = std::move(trust);
  setup->name = std::move(name);
  return setup;
}

DataSessionStart dataSessionStart(std::shared_ptr<const TlsContext> data,
                                  std::optional<DataKey> key, std::chrono::milliseconds idleLimit) {
  return [data = std::move(data), key = std::move(key), idleLimit](
             Socket socket, bool connecting, std::chrono::milliseconds limit) {
    DataStreamStart result;
    if (!key) {
      result.failure = "无法从本次会话导出数据连接的密钥。";
      return result;
    }
    TlsStart started =
        startDataSession(*data, std::move(socket),
                         connecting ? TlsRole::Connecting : TlsRole::Accepting, *key, limit);
    if (!started.ok()) {
      result.failure = started.failure.text;
      return result;
    }
    started.stream->setIdleLimit(idleLimit);
    result.stream = std::move(started.stream);
    return result;
  };
}

std::vector<std::string> linkCapabilities() {
  return {std::string(kStreamedCapability)};
}

std::vector<std::string> ownCapabilities(const SecureSetup& setup) {
  std::vector<std::string> own = linkCapabilities();
  if (!setup.streamedTransfers) std::erase(own, std::string(kStreamedCapability));
  return own;
}

std::optional<int> encryptedPortFor(int controlPort) {
  const int port = controlPort + kEncryptedPortOffset;
  if (port > 65535) return std::nullopt;
  return port;
}

SessionSetup verifySession(std::unique_ptr<TlsStream> stream, TlsRole role,
                           const SecureSetup& setup, IpAddress peerAddress, Frontend& frontend,
                           const Timing& timing) {
  if (!stream->peerFingerprint()) return failed("对方没有出示证书。");
  const Fingerprint peer = *stream->peerFingerprint();
  const Fingerprint& own = setup.identity->fingerprint();
  const std::string address = peerAddress.text();
  auto deadline = Clock::now() + timing.handshakeLimit;

  const TrustStore::Lookup known = setup.trust->find(peer);
  if (!known.ok()) return failed(known.error);
  if (stream->sendAll(helloLine(known.peer.has_value(), setup.name)) < 0) {
    return failed(stream->failureText());
  }
  const LineRead hello = expect(*stream, deadline, SessionLineKind::Hello);
  if (!hello.line) return failed(hello.error);
  const std::string peerName = shownPeerName(hello.line->name);

  if (!known.peer) {
    // A name or address verified before that now comes with another key is someone else,
    // or the same computer with a new key: only the person can tell, after checking.
    const TrustStore::Peers others = setup.trust->findByNameOrAddress(peerName, address);
    if (!others.ok()) return failed(others.error);
    if (!others.peers.empty()) {
      (void)stream->sendAll(denyLine());
      const TrustedPeer& before = others.peers.front();
      return failed(
          "警告：" + peerName + "（" + address + "）出示的密钥与以前验证过的“" + before.name +
              "”不同！可能有人冒充对方，连接已断开。\r\n以前的指纹：" +
              before.fingerprint.groupedText() + "\r\n现在的指纹：" + peer.groupedText() +
              "\r\n如果对方确实换了密钥，请先忘记以前的指纹（窗口右键菜单的"
              "“已信任的计算机...”，或 brisk-peer trust forget），再重新连接并核对验证码。",
          true);
    }
  }

  const bool firstContact = !known.peer || !hello.line->knowsPeer;
  if (firstContact) {
    const FirstContactResult exchange = runFirstContact(*stream, role, own, timing.handshakeLimit);
    if (!exchange.ok()) return failed("验证码交换失败：" + exchange.error);
    const CodeComparison request{exchange.code, peerName, address, peer.groupedText(),
                                 own.groupedText()};
    const Comparison answers =
        compareWithPerson(*stream, request, frontend, Clock::now() + timing.codeAnswerLimit);
    if (answers.own == CodeAnswer::Different) {
      return failed("你认为两边的验证码不同，连接已断开，什么也没有记住。");
    }
    if (answers.own != CodeAnswer::Same) {
      if (answers.peer.line && answers.peer.line->kind == SessionLineKind::Deny) {
        return failed("对方认为验证码不同或没有确认，连接已断开，什么也没有记住。");
      }
      return failed("验证码没有得到确认，连接已断开，什么也没有记住。");
    }
    if (!answers.peer.line) {
      return failed("验证码没有得到对方的确认：" + answers.peer.error);
    }
    if (answers.peer.line->kind != SessionLineKind::Confirm) {
      return failed("对方认为验证码不同或没有确认，连接已断开，什么也没有记住。");
    }
    const TrustStore::Change remembered = setup.trust->remember(
        peer, peerName, address,
        std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::system_clock::now()));
    if (remembered.status == TrustStore::ChangeStatus::Failed) return failed(remembered.error);
  } else {
    (void)setup.trust->noteSeen(peer, address);
  }

  deadline = Clock::now() + timing.handshakeLimit;
  std::vector<std::string> named = ownCapabilities(setup);
  if (stream->sendAll(capsLine(kSessionVersion, named)) < 0) {
    return failed(stream->failureText());
  }
  const LineRead caps = expect(*stream, deadline, SessionLineKind::Caps);
  if (!caps.line) return failed(caps.error);

  SessionSetup result;
  result.session = VerifiedSession{
      std::move(stream), peer, peerName, caps.line->capabilities, std::move(named), firstContact};
  return result;
}

}  // namespace brisk
