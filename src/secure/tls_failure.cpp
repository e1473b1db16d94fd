#include "secure/tls_failure.h"

#include <cerrno>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include "platform/system_error.h"

namespace brisk {

namespace {

using Kind = TlsFailure::Kind;

Kind kindOfReason(int reason, TlsStage stage) {
  const bool handshake = stage != TlsStage::Session;
  switch (reason) {
    case SSL_R_UNEXPECTED_EOF_WHILE_READING:
      return handshake ? Kind::Closed : Kind::Cut;
    case SSL_R_DECRYPTION_FAILED_OR_BAD_RECORD_MAC:
    case SSL_R_DECRYPTION_FAILED:
    case SSL_R_SSLV3_ALERT_BAD_RECORD_MAC:
      return Kind::Tampered;
    // Records whose framing makes no sense: before the handshake, someone who does not
    // speak TLS; after it, bytes changed on the way.
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
    case SSL_R_ENCRYPTED_LENGTH_TOO_LONG:
    case SSL_R_DATA_LENGTH_TOO_LONG:
    case SSL_R_LENGTH_MISMATCH:
    case SSL_R_BAD_LENGTH:
    case SSL_R_BAD_RECORD_TYPE:
    case SSL_R_UNEXPECTED_RECORD:
    case SSL_R_HTTP_REQUEST:
    case SSL_R_HTTPS_PROXY_REQUEST:
      return handshake ? Kind::NotTls : Kind::Tampered;
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
      return Kind::OldVersion;
    case SSL_R_PEER_DID_NOT_RETURN_A_CERTIFICATE:
    case SSL_R_TLSV13_ALERT_CERTIFICATE_REQUIRED:
      return Kind::NoCertificate;
    // A data connection is made with the key alone: any disagreement about it or about
    // how to authenticate means that the other side does not hold it.
    case SSL_R_BINDER_DOES_NOT_VERIFY:
    case SSL_R_TLSV1_ALERT_DECRYPT_ERROR:
    case SSL_R_SSLV3_ALERT_ILLEGAL_PARAMETER:  // how OpenSSL refuses a key that does not match
    case SSL_R_NO_SHARED_CIPHER:
    case SSL_R_CERTIFICATE_VERIFY_FAILED:
    case SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE:
    case SSL_R_NO_SUITABLE_SIGNATURE_ALGORITHM:
    case SSL_R_MISSING_PSK_KEX_MODES_EXTENSION:
      return stage == TlsStage::DataHandshake ? Kind::WrongKey : Kind::Failed;
    default:
      return Kind::Failed;
  }
}

const char* textOf(Kind kind) {
  switch (kind) {
    case Kind::None:
      return "";
    case Kind::TimedOut:
      return "对方没有在限定时间内完成加密握手，连接已断开。";
    case Kind::Closed:
      return "加密握手尚未完成，对方就断开了连接。";
    case Kind::NotTls:
      return "对方发来的不是加密连接的数据（它可能只支持未加密的连接）。";
    case Kind::OldVersion:
      return "对方不支持 TLS 1.3，无法建立加密连接。";
    case Kind::NoCertificate:
      return "对方没有出示证书，无法确认它的身份。";
    case Kind::WrongKey:
      return "数据连接的对方没有本次会话的密钥，连接已拒绝。";
    case Kind::Tampered:
      return "加密连接的数据被篡改或损坏，连接已中止。";
    case Kind::Cut:
      return "加密连接被中途切断，没有正常结束。";
    case Kind::Failed:
      return "加密连接失败。";
  }
  return "";
}

}  // namespace

TlsFailure takeTlsFailure(int sslError, int systemError, TlsStage stage) {
  TlsFailure failure;
  // The earliest error is the cause; the later ones are the callers reporting it.
  const unsigned long first = ERR_peek_error();
  const bool handshake = stage != TlsStage::Session;
  std::string detail;
  if (first != 0) {
    failure.kind = ERR_GET_LIB(first) == ERR_LIB_SSL ? kindOfReason(ERR_GET_REASON(first), stage)
                                                     : Kind::Failed;
    if (const char* reason = ERR_reason_error_string(first)) detail = reason;
  } else if (sslError == SSL_ERROR_SYSCALL && systemError != 0) {
    const bool dropped = systemError == ECONNRESET || systemError == EPIPE;
    failure.kind = dropped ? (handshake ? Kind::Closed : Kind::Cut) : Kind::Failed;
    detail = systemErrorMessage(systemError);
  } else if (sslError == SSL_ERROR_SYSCALL || sslError == SSL_ERROR_ZERO_RETURN) {
    failure.kind = handshake ? Kind::Closed : Kind::Cut;
  } else {
    failure.kind = Kind::Failed;
  }
  ERR_clear_error();
  failure.text = textOf(failure.kind);
  if (!detail.empty()) failure.text += "（" + detail + "）";
  return failure;
}

int errnoFor(TlsFailure::Kind kind) {
  switch (kind) {
    case Kind::TimedOut:
      return ETIMEDOUT;
    case Kind::Closed:
    case Kind::Cut:
      return ECONNRESET;
    case Kind::Tampered:
      return EBADMSG;
    case Kind::None:
    case Kind::NotTls:
    case Kind::OldVersion:
    case Kind::NoCertificate:
    case Kind::WrongKey:
    case Kind::Failed:
      break;
  }
  return EPROTO;
}

}  // namespace brisk
