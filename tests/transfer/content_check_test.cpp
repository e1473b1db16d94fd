#include "transfer/content_hash.h"

#include <string>

#include <gtest/gtest.h>

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

std::string hexOf(const ContentTag& tag) {
  std::string text;
  for (const unsigned char byte : tag) {
    text += "0123456789abcdef"[byte >> 4];
    text += "0123456789abcdef"[byte & 15];
  }
  return text;
}

// Both sides feed the same bytes in pieces of their own sizes (what one read or one receive
// brought): the tag must not depend on them, and must be the standard construction (the
// expected tags come from another implementation of RFC 8439's AEAD, with these bytes as
// its associated data and nothing to encrypt).
TEST(ContentCheck, IsPoly1305OfTheBytesWhateverThePiecesTheyCameIn) {
  ContentKey key{};
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<unsigned char>(i * 7);
  struct Case {
    std::size_t size;
    const char* tag;
  } const cases[] = {
      {0, "4def85e67149accfedd5df9d5c8ec732"},     {1, "3fdd56003485fb2d59e36fbfacdf0be2"},
      {15, "23b3888fa041bec33897924b5c982c90"},    {16, "2a3fbb74360aad50a2fbe29b7368d4ca"},
      {17, "5edf4107dfcda6a9694a62ff7fad900f"},    {4096, "a0365bd31579c7bc81a0524a2f94d2d5"},
      {70001, "9cb0314e88f6e03a5826e9322091bdcb"},
  };
  for (const Case& c : cases) {
    const std::string bytes = bytesOf(c.size, 3);
    for (const std::size_t piece : {1, 7, 16, 4096, 1 << 20}) {
      EXPECT_EQ(hexOf(checkOf(key, 0x01020304, bytes, piece)), c.tag)
          << c.size << " bytes in pieces of " << piece;
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
