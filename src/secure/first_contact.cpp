#include "secure/first_contact.h"

#include <algorithm>
#include <cstdio>

#include <openssl/crypto.h>
#include <openssl/rand.h>

namespace brisk {

namespace {

constexpr std::string_view kCommitmentLabel = "brisk first contact commitment v1";
constexpr std::string_view kCodeLabel = "brisk first contact code v1";
constexpr char kExporterLabel[] = "EXPORTER-brisk-first-contact";

std::span<const std::uint8_t> bytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TlsRole otherRole(TlsRole role) {
  return role == TlsRole::Connecting ? TlsRole::Accepting : TlsRole::Connecting;
}

}  // namespace

Digest firstContactCommitment(TlsRole role, const Fingerprint& fingerprint, const Digest& nonce) {
  const std::uint8_t roleByte = role == TlsRole::Connecting ? 0 : 1;
  return sha256({bytesOf(kCommitmentLabel), {&roleByte, 1}, fingerprint.bytes, nonce});
}

std::string firstContactCode(const Digest& exporterValue, const Fingerprint& connecting,
                             const Fingerprint& accepting, const Digest& connectingNonce,
                             const Digest& acceptingNonce) {
  const Digest digest = sha256({bytesOf(kCodeLabel), exporterValue, connecting.bytes,
                                accepting.bytes, connectingNonce, acceptingNonce});
  std::uint64_t number = 0;
  for (int i = 0; i < 8; ++i) number = number << 8 | digest[i];
  char code[16];
  std::snprintf(code, sizeof code, "%06u", static_cast<unsigned>(number % 1'000'000));
  return code;
}

std::optional<Digest> firstContactExporterValue(const TlsStream& session) {
  const auto material = session.exportKeyingMaterial(kExporterLabel, {}, Digest{}.size());
  if (!material) return std::nullopt;
  Digest value{};
  std::copy(material->begin(), material->end(), value.begin());
  return value;
}

FirstContact::FirstContact(TlsRole role, const Fingerprint& own, const Fingerprint& peer,
                           const Digest& exporterValue, const Digest& nonce)
    : role_(role), own_(own), peer_(peer), exporterValue_(exporterValue), nonce_(nonce) {}

std::string FirstContact::commitLine() const {
  return brisk::commitLine(firstContactCommitment(role_, own_, nonce_));
}

FirstContact::Step FirstContact::failed(const char* why) {
  state_ = State::Failed;
  Step step;
  step.error = why;
  return step;
}

FirstContact::Step FirstContact::take(const SessionLine& line) {
  switch (state_) {
    case State::AwaitingCommitment: {
      if (line.kind != SessionLineKind::Commit) return failed("对方没有先发送承诺值。");
      // Our own commitment sent back would let a relay make both sides reveal first.
      if (line.value == firstContactCommitment(role_, own_, nonce_)) {
        return failed("对方送回了本方的承诺值。");
      }
      peerCommitment_ = line.value;
      state_ = State::AwaitingReveal;
      Step step;
      step.send = revealLine(nonce_);
      return step;
    }
    case State::AwaitingReveal: {
      if (line.kind != SessionLineKind::Reveal) return failed("对方没有公开它的随机数。");
      if (firstContactCommitment(otherRole(role_), peer_, line.value) != peerCommitment_) {
        return failed("对方公开的随机数与它先前的承诺不符，连接已断开。");
      }
      state_ = State::Done;
      const bool connecting = role_ == TlsRole::Connecting;
      Step step;
      step.code =
          firstContactCode(exporterValue_, connecting ? own_ : peer_, connecting ? peer_ : own_,
                           connecting ? nonce_ : line.value, connecting ? line.value : nonce_);
      return step;
    }
    case State::Done:
    case State::Failed:
      break;
  }
  return failed("验证码的交换已经结束。");
}

FirstContactResult runFirstContact(TlsStream& session, TlsRole role, const Fingerprint& own,
                                   std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  FirstContactResult result;
  const auto exporterValue = firstContactExporterValue(session);
  Digest nonce{};
  if (!session.peerFingerprint() || !exporterValue ||
      RAND_bytes(nonce.data(), static_cast<int>(nonce.size())) != 1) {
    result.error = "无法准备验证码。";
    return result;
  }
  FirstContact exchange(role, own, *session.peerFingerprint(), *exporterValue, nonce);
  OPENSSL_cleanse(nonce.data(), nonce.size());
  std::string send = exchange.commitLine();
  for (;;) {
    if (!send.empty() && session.sendAll(send) < 0) {
      result.error = session.failureText();
      return result;
    }
    const SessionLineRead read = readSessionLine(session, deadline);
    switch (read.status) {
      case SessionLineRead::Status::Line:
        break;
      case SessionLineRead::Status::TimedOut:
        result.error = "对方没有在限定时间内完成验证码的交换。";
        return result;
      case SessionLineRead::Status::Ended:
        result.error = "对方在交换验证码时断开了连接。";
        return result;
      case SessionLineRead::Status::Failed:
        result.error = session.failureText();
        return result;
      case SessionLineRead::Status::TooLong:
        result.error = "对方发来的会话行过长。";
        return result;
    }
    const SessionLineParse parse = parseSessionLine(read.bytes);
    if (!parse.line) {
      result.error = parse.error;
      return result;
    }
    const FirstContact::Step step = exchange.take(*parse.line);
    if (!step.error.empty()) {
      result.error = step.error;
      return result;
    }
    if (!step.code.empty()) {
      result.code = step.code;
      return result;
    }
    send = step.send;
  }
}

}  // namespace brisk
