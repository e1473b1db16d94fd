#include "secure/tls_context.h"

#include <cstring>

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "secure/identity.h"

namespace brisk {

namespace {

// AES-GCM first: with AES-NI it is the fastest here, and the data keys are made for it.
constexpr char kCipherSuites[] =
    "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256";
// TLS_AES_128_GCM_SHA256, the suite a data key is used with.
constexpr unsigned char kDataKeySuite[] = {0x13, 0x01};
// Names the data key in the handshake. There is only one key per connection, so the name
// tells nothing and is the same for all.
constexpr unsigned char kDataKeyName[] = "brisk data connection";
// Sessions must carry the context of the connections that take them (SSL_CTX_set_session_id_
// context), although none is ever cached or resumed.
constexpr unsigned char kSessionContext[] = "brisk";

int dataKeySlot() {
  static const int slot = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return slot;
}

// The data key as the session that OpenSSL takes an external pre-shared key in.
SSL_SESSION* dataKeySession(SSL* ssl) {
  const auto* key = static_cast<const DataKey*>(SSL_get_ex_data(ssl, dataKeySlot()));
  const SSL_CIPHER* suite = SSL_CIPHER_find(ssl, kDataKeySuite);
  if (!key || !suite) return nullptr;
  SSL_SESSION* session = SSL_SESSION_new();
  if (!session) return nullptr;
  if (SSL_SESSION_set1_master_key(session, key->bytes.data(), key->bytes.size()) != 1 ||
      SSL_SESSION_set_cipher(session, suite) != 1 ||
      SSL_SESSION_set1_id_context(session, kSessionContext, sizeof kSessionContext - 1) != 1 ||
      SSL_SESSION_set_protocol_version(session, TLS1_3_VERSION) != 1) {
    SSL_SESSION_free(session);
    return nullptr;
  }
  return session;
}

int offerDataKey(SSL* ssl, const EVP_MD* digest, const unsigned char** name, std::size_t* length,
                 SSL_SESSION** session) {
  *session = nullptr;
  const SSL_CIPHER* suite = SSL_CIPHER_find(ssl, kDataKeySuite);
  // After a retry request the server has chosen a suite; the key goes with SHA-256 only.
  if (digest && (!suite || digest != SSL_CIPHER_get_handshake_digest(suite))) return 1;
  *session = dataKeySession(ssl);
  if (!*session) return 0;
  *name = kDataKeyName;
  *length = sizeof kDataKeyName - 1;
  return 1;
}

int findDataKey(SSL* ssl, const unsigned char* name, std::size_t length, SSL_SESSION** session) {
  *session = nullptr;
  if (length != sizeof kDataKeyName - 1 || std::memcmp(name, kDataKeyName, length) != 0) return 1;
  *session = dataKeySession(ssl);
  return *session ? 1 : 0;
}

// The certificate is only the carrier of the key whose possession the handshake proves;
// who the key belongs to is decided by its fingerprint after the handshake.
int acceptAnyCertificate(X509_STORE_CTX*, void*) {
  return 1;
}

// A data connection never authenticates with a certificate.
int refuseEveryCertificate(X509_STORE_CTX*, void*) {
  return 0;
}

SSL_CTX* commonContext() {
  SSL_CTX* context = SSL_CTX_new(TLS_method());
  if (!context) return nullptr;
  const bool ok = SSL_CTX_set_min_proto_version(context, TLS1_3_VERSION) == 1 &&
                  SSL_CTX_set_max_proto_version(context, TLS1_3_VERSION) == 1 &&
                  SSL_CTX_set_ciphersuites(context, kCipherSuites) == 1 &&
                  SSL_CTX_set_num_tickets(context, 0) == 1;
  if (!ok) {
    SSL_CTX_free(context);
    return nullptr;
  }
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
  SSL_CTX_set_session_id_context(context, kSessionContext, sizeof kSessionContext - 1);
  SSL_CTX_set_options(context, SSL_OP_NO_TICKET);
  // A send goes on where the socket took part of it (the socket is non-blocking).
  SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  // No read-ahead: with it OpenSSL moves everything read ahead to the front of its buffer
  // at the start of every record (to align it), which costs more on a large transfer than
  // the second receive per record that reading each record exactly takes.
  return context;
}

std::string lastOpenSslError(const char* what) {
  std::string text = std::string("无法准备加密连接：") + what;
  if (const unsigned long code = ERR_peek_error()) {
    if (const char* reason = ERR_reason_error_string(code))
      text += std::string("（") + reason + "）";
  }
  ERR_clear_error();
  return text;
}

}  // namespace

DataKey::~DataKey() {
  OPENSSL_cleanse(bytes.data(), bytes.size());
}

std::shared_ptr<const TlsContext> TlsContext::forControl(const Identity& identity,
                                                         std::string& error) {
  SSL_CTX* context = commonContext();
  if (!context) {
    error = lastOpenSslError("SSL_CTX_new");
    return nullptr;
  }
  // Ed25519 is what every identity is; nothing else needs to be offered or accepted.
  const bool ok = SSL_CTX_use_certificate(context, identity.certificate()) == 1 &&
                  SSL_CTX_use_PrivateKey(context, identity.key()) == 1 &&
                  SSL_CTX_check_private_key(context) == 1 &&
                  SSL_CTX_set1_sigalgs_list(context, "ed25519") == 1;
  if (!ok) {
    error = lastOpenSslError("certificate");
    SSL_CTX_free(context);
    return nullptr;
  }
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
  SSL_CTX_set_cert_verify_callback(context, acceptAnyCertificate, nullptr);
  return std::shared_ptr<const TlsContext>(new TlsContext(context, Kind::Control));
}

std::shared_ptr<const TlsContext> TlsContext::forData(std::string& error) {
  SSL_CTX* context = commonContext();
  if (!context) {
    error = lastOpenSslError("SSL_CTX_new");
    return nullptr;
  }
  // Both sides take part in a fresh key exchange, so a key that leaks later does not open
  // the connections recorded before (SSL_OP_ALLOW_NO_DHE_KEX stays off).
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_cert_verify_callback(context, refuseEveryCertificate, nullptr);
  SSL_CTX_set_psk_use_session_callback(context, offerDataKey);
  SSL_CTX_set_psk_find_session_callback(context, findDataKey);
  return std::shared_ptr<const TlsContext>(new TlsContext(context, Kind::Data));
}

TlsContext::~TlsContext() {
  SSL_CTX_free(context_);
}

SSL* TlsContext::newConnection(const DataKey* key) const {
  SSL* ssl = SSL_new(context_);
  if (ssl && kind_ == Kind::Data &&
      SSL_set_ex_data(ssl, dataKeySlot(), const_cast<DataKey*>(key)) != 1) {
    SSL_free(ssl);
    return nullptr;
  }
  return ssl;
}

}  // namespace brisk
