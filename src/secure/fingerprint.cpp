#include "secure/fingerprint.h"

#include <cstdlib>

#include <openssl/evp.h>

namespace brisk {

namespace {

constexpr char kLowerDigits[] = "0123456789abcdef";
constexpr char kUpperDigits[] = "0123456789ABCDEF";

int hexValue(char c, bool upperAllowed) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (upperAllowed && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

Digest sha256(std::initializer_list<std::span<const std::uint8_t>> pieces) {
  Digest digest{};
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  bool ok = context && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1;
  for (const auto piece : pieces) {
    ok = ok && EVP_DigestUpdate(context, piece.data(), piece.size()) == 1;
  }
  unsigned int length = 0;
  ok = ok && EVP_DigestFinal_ex(context, digest.data(), &length) == 1 && length == digest.size();
  EVP_MD_CTX_free(context);
  // Only an allocation failure or a broken library gets here; a wrong digest would be worse
  // than no program.
  if (!ok) std::abort();
  return digest;
}

std::string lowerHex(std::span<const std::uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const std::uint8_t byte : bytes) {
    text += kLowerDigits[byte >> 4];
    text += kLowerDigits[byte & 0xF];
  }
  return text;
}

std::optional<Digest> digestFromLowerHex(std::string_view text) {
  Digest digest{};
  if (text.size() != digest.size() * 2) return std::nullopt;
  for (std::size_t i = 0; i < digest.size(); ++i) {
    const int high = hexValue(text[2 * i], false);
    const int low = hexValue(text[2 * i + 1], false);
    if (high < 0 || low < 0) return std::nullopt;
    digest[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return digest;
}

std::string Fingerprint::groupedText() const {
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0 && i % 2 == 0) text += ' ';
    text += kUpperDigits[bytes[i] >> 4];
    text += kUpperDigits[bytes[i] & 0xF];
  }
  return text;
}

std::string Fingerprint::shortText() const {
  std::string text;
  for (std::size_t i = 0; i < 4; ++i) {
    text += kUpperDigits[bytes[i] >> 4];
    text += kUpperDigits[bytes[i] & 0xF];
  }
  return text;
}

std::optional<Fingerprint> Fingerprint::parse(std::string_view text) {
  Fingerprint fingerprint;
  std::size_t digits = 0;
  for (const char c : text) {
    if (c == ' ') continue;
    const int value = hexValue(c, true);
    if (value < 0 || digits == 2 * fingerprint.bytes.size()) return std::nullopt;
    auto& byte = fingerprint.bytes[digits / 2];
    byte = static_cast<std::uint8_t>(digits % 2 == 0 ? value << 4 : byte | value);
    ++digits;
  }
  if (digits != 2 * fingerprint.bytes.size()) return std::nullopt;
  return fingerprint;
}

}  // namespace brisk
