#include "transfer/content_hash.h"

#include <string>

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

namespace brisk {
namespace {

std::string bytesOf(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed) >> 3);
  return bytes;
}

ContentTag checkOf(const ContentKey& key, std::uint32_t file, const std::string& bytes,
                   std::size_t piece) {
  ContentCheck check(key);
  check.start(file ^ 1);
  check.update("left unfinished", 15);  // a new start drops it
  check.start(file);
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    check.update(bytes.data() + at, std::min(piece, bytes.size() - at));
  }
  return check.finish();
}

// OpenSSL's own GMAC over the same key, nonce (the number, big-endian, then zeros) and bytes.
ContentTag referenceGmac(const ContentKey& key, std::uint32_t file, const std::string& bytes) {
  unsigned char nonce[12] = {
      static_cast<unsigned char>(file >> 24), static_cast<unsigned char>(file >> 16),
      static_cast<unsigned char>(file >> 8), static_cast<unsigned char>(file)};
  EVP_MAC* mac = EVP_MAC_fetch(nullptr, "GMAC", nullptr);
  EVP_MAC_CTX* context = EVP_MAC_CTX_new(mac);
  char cipher[] = "AES-128-GCM";
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, cipher, 0),
      OSSL_PARAM_construct_octet_string(OSSL_MAC_PARAM_IV, nonce, sizeof nonce),
      OSSL_PARAM_construct_end()};
  ContentTag tag{};
  std::size_t length = 0;
  EXPECT_EQ(EVP_MAC_init(context, key.data(), key.size(), params), 1);
  EXPECT_EQ(
      EVP_MAC_update(context, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()),
      1);
  EXPECT_EQ(EVP_MAC_final(context, tag.data(), &length, tag.size()), 1);
  EVP_MAC_CTX_free(context);
  EVP_MAC_free(mac);
  return tag;
}

// Both sides feed the same bytes in pieces of their own sizes (what one read or one receive
// brought): the tag must not depend on them, and must be the standard GMAC.
TEST(ContentCheck, IsGmacWhateverThePiecesTheBytesCameIn) {
  ContentKey key{};
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<unsigned char>(i * 7);
  for (const std::size_t size : {0, 1, 15, 16, 17, 4096, 70001}) {
    const std::string bytes = bytesOf(size, 3);
    const ContentTag expected = referenceGmac(key, 0x01020304, bytes);
    for (const std::size_t piece : {1, 7, 16, 4096, 1 << 20}) {
      EXPECT_EQ(checkOf(key, 0x01020304, bytes, piece), expected)
          << size << " bytes in pieces of " << piece;
    }
  }
}

TEST(ContentCheck, DiffersForAnotherByteNumberOrKey) {
  const ContentKey key{};
  ContentKey otherKey{};
  otherKey[15] = 1;
  const std::string bytes = bytesOf(10000, 5);
  std::string flipped = bytes;
  flipped[9999] ^= 0x40;
  const ContentTag tag = checkOf(key, 7, bytes, 4096);
  EXPECT_NE(checkOf(key, 7, flipped, 4096), tag);
  EXPECT_NE(checkOf(key, 7, bytes + '\0', 4096), tag);
  EXPECT_NE(checkOf(key, 8, bytes, 4096), tag);
  EXPECT_NE(checkOf(otherKey, 7, bytes, 4096), tag);
}

}  // namespace
}  // namespace brisk
