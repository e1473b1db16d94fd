#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include <openssl/types.h>

namespace brisk {

class Identity;

// The pre-shared key of one data connection: 32 bytes that only the two ends of a verified
// control session know (dataKeyFor() exports them from it). Wiped when destroyed.
struct DataKey {
  std::array<std::uint8_t, 32> bytes{};

  DataKey() = default;
  DataKey(const DataKey&) = default;
  DataKey& operator=(const DataKey&) = default;
  ~DataKey();
};

// The settings every encrypted connection of one kind shares (OpenSSL's SSL_CTX), made
// once and used for any number of connections, from any thread.
//
// Both kinds speak TLS 1.3 only, resume no sessions and keep no tickets (every connection
// makes fresh keys, and nothing of one connection is stored to shorten another).
//  - Control: both sides present their identity's certificate (Ed25519) and require one
//    from the peer, but accept any: trust is decided afterwards from the fingerprint.
//  - Data: no certificates at all. The connecting side offers the data key as an external
//    pre-shared key with a fresh (EC)DHE exchange (psk_dhe_ke), the accepting side takes
//    nothing else; a party without the key cannot finish the handshake.
class TlsContext {
 public:
  enum class Kind { Control, Data };

  // Nothing, with `error` set, when OpenSSL cannot make it (a broken installation).
  static std::shared_ptr<const TlsContext> forControl(const Identity& identity, std::string& error);
  static std::shared_ptr<const TlsContext> forData(std::string& error);

  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  Kind kind() const { return kind_; }
  // A new connection's SSL object; a data connection's reads `key`, which must outlive it.
  SSL* newConnection(const DataKey* key) const;

 private:
  TlsContext(SSL_CTX* context, Kind kind) : context_(context), kind_(kind) {}

  SSL_CTX* context_;
  Kind kind_;
};

}  // namespace brisk
