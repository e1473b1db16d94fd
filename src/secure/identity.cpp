#include "secure/identity.h"

#include <cstring>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include "secure/private_file.h"

namespace brisk {

namespace {

constexpr char kFileName[] = "brisk-identity.pem";
// The file holds a key and a certificate of a few hundred bytes each.
constexpr std::size_t kMaxFileBytes = 64 * 1024;

std::string damaged(const std::filesystem::path& path, const char* why) {
  return std::string("本机的身份文件已损坏，无法使用：") + path.string() + "\r\n" + why +
         "\r\n为了不改变对方所认识的本机身份，程序不会自动替换它。请从备份恢复，或删除该文件后"
         "重新验证所有对方。";
}

// A certificate for `key`, signed by itself. Its names and dates mean nothing to Brisk (no
// one checks them); they are only there because a certificate must have them. It never
// expires (RFC 5280's "no well-defined expiration date"), so a key stays usable for good.
X509* selfSignedCertificate(EVP_PKEY* key) {
  X509* certificate = X509_new();
  if (!certificate) return nullptr;
  unsigned char serial[16];
  bool ok = RAND_bytes(serial, sizeof serial) == 1;
  serial[0] &= 0x7F;  // a positive number
  BIGNUM* number = ok ? BN_bin2bn(serial, sizeof serial, nullptr) : nullptr;
  ok = number && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate)) != nullptr;
  BN_free(number);
  ok = ok && X509_set_version(certificate, X509_VERSION_3) == 1;
  X509_NAME* name = X509_get_subject_name(certificate);
  ok = ok &&
       X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                  reinterpret_cast<const unsigned char*>("Brisk"), -1, -1, 0) == 1;
  ok = ok && X509_set_issuer_name(certificate, name) == 1;
  ok = ok && X509_gmtime_adj(X509_getm_notBefore(certificate), -24 * 60 * 60) != nullptr;
  ok = ok && ASN1_TIME_set_string(X509_getm_notAfter(certificate), "99991231235959Z") == 1;
  ok = ok && X509_set_pubkey(certificate, key) == 1;
  // Ed25519 signs the message itself: no separate digest.
  ok = ok && X509_sign(certificate, key, nullptr) > 0;
  if (!ok) {
    X509_free(certificate);
    return nullptr;
  }
  return certificate;
}

std::string pemOf(EVP_PKEY* key, X509* certificate) {
  BIO* out = BIO_new(BIO_s_mem());
  if (!out) return {};
  std::string text;
  if (PEM_write_bio_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr) == 1 &&
      PEM_write_bio_X509(out, certificate) == 1) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(out, &data);
    text.assign(data, static_cast<std::size_t>(length));
  }
  BIO_free(out);
  return text;
}

}  // namespace

void Identity::KeyFree::operator()(EVP_PKEY* key) const {
  EVP_PKEY_free(key);
}

void Identity::CertificateFree::operator()(X509* certificate) const {
  X509_free(certificate);
}

Identity::Identity(EVP_PKEY* key, X509* certificate)
    : key_(key), certificate_(certificate), fingerprint_(*fingerprintOf(certificate)) {}

std::filesystem::path Identity::fileIn(const std::filesystem::path& folder) {
  return folder / kFileName;
}

std::optional<Fingerprint> fingerprintOf(X509* certificate) {
  const EVP_PKEY* key = certificate ? X509_get0_pubkey(certificate) : nullptr;
  if (!key) return std::nullopt;
  unsigned char* der = nullptr;
  const int length = i2d_PUBKEY(key, &der);
  if (length <= 0) return std::nullopt;
  Fingerprint fingerprint;
  fingerprint.bytes = sha256({{der, static_cast<std::size_t>(length)}});
  OPENSSL_free(der);
  return fingerprint;
}

std::shared_ptr<const Identity> Identity::generate() {
  EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
  if (!key) return nullptr;
  X509* certificate = selfSignedCertificate(key);
  if (!certificate) {
    EVP_PKEY_free(key);
    return nullptr;
  }
  return std::shared_ptr<const Identity>(new Identity(key, certificate));
}

Identity::Loaded Identity::parse(const std::string& pem) {
  Loaded loaded;
  BIO* in = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  // A key under a pass phrase is not one this program wrote; without a callback of its own
  // OpenSSL would ask for the phrase on the terminal.
  pem_password_cb* noPassPhrase = [](char*, int, int, void*) { return 0; };
  EVP_PKEY* key = in ? PEM_read_bio_PrivateKey(in, nullptr, noPassPhrase, nullptr) : nullptr;
  X509* certificate = key ? PEM_read_bio_X509(in, nullptr, noPassPhrase, nullptr) : nullptr;
  // Only white space may follow; anything else means the file is not the one written.
  bool onlySpaceLeft = true;
  for (char c; in && BIO_read(in, &c, 1) == 1;) {
    if (!std::strchr(" \t\r\n", c)) onlySpaceLeft = false;
  }
  BIO_free(in);
  const char* why = nullptr;
  if (!key) {
    why = "没有可读的私钥。";
  } else if (EVP_PKEY_get_id(key) != EVP_PKEY_ED25519) {
    why = "私钥不是 Ed25519 密钥。";
  } else if (!certificate) {
    why = "没有可读的证书。";
  } else if (EVP_PKEY_eq(X509_get0_pubkey(certificate), key) != 1) {
    why = "证书与私钥不配对。";
  } else if (!onlySpaceLeft) {
    why = "证书之后还有多余的内容。";
  }
  if (why) {
    EVP_PKEY_free(key);
    X509_free(certificate);
    loaded.error = why;
    return loaded;
  }
  loaded.identity = std::shared_ptr<const Identity>(new Identity(key, certificate));
  return loaded;
}

Identity::Loaded Identity::loadOrCreate(const std::filesystem::path& folder) {
  const std::filesystem::path path = fileIn(folder);
  // Two programs of the same user may start at once: whichever writes the file first
  // makes the identity, the other loads it.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const PrivateFileRead read = readPrivateFile(path, kMaxFileBytes);
    if (read.status == PrivateFileRead::Status::Failed) {
      Loaded failed;
      failed.error = read.error;
      return failed;
    }
    if (read.status == PrivateFileRead::Status::Ok) {
      Loaded loaded = parse(read.bytes);
      if (!loaded.identity) loaded.error = damaged(path, loaded.error.c_str());
      loaded.tightened = read.tightened;
      return loaded;
    }
    Loaded made;
    made.identity = generate();
    if (!made.identity) {
      made.error = "无法生成本机的身份密钥。";
      return made;
    }
    std::string pem = pemOf(made.identity->key(), made.identity->certificate());
    const PrivateFileWrite written = writePrivateFile(path, pem, WriteMode::CreateOnly);
    OPENSSL_cleanse(pem.data(), pem.size());
    if (written.status == PrivateFileWrite::Status::Written) {
      made.created = true;
      return made;
    }
    if (written.status == PrivateFileWrite::Status::Failed) {
      Loaded failed;
      failed.error = written.error;
      return failed;
    }
  }
  Loaded failed;
  failed.error = "本机的身份文件无法读取：" + path.string();
  return failed;
}

}  // namespace brisk
