#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace brisk {

// 32 bytes, as SHA-256 gives them.
using Digest = std::array<std::uint8_t, 32>;

// SHA-256 of the pieces, one after the other (OpenSSL's implementation).
Digest sha256(std::initializer_list<std::span<const std::uint8_t>> pieces);

// Lower-case hex of any bytes, and back (exactly two lower-case digits per byte).
std::string lowerHex(std::span<const std::uint8_t> bytes);
std::optional<Digest> digestFromLowerHex(std::string_view text);

// Who an installation is: the SHA-256 of its public key (the DER SubjectPublicKeyInfo).
// Trust is kept and decided by this value alone.
struct Fingerprint {
  Digest bytes{};

  // 16 groups of four upper-case hex digits: "3F7A 91C2 ...". What people compare.
  std::string groupedText() const;
  // The first 8 hex digits, upper case: a hint for lists of peers on the network.
  std::string shortText() const;
  // 64 lower-case hex digits, for files.
  std::string hexText() const { return lowerHex(bytes); }

  // 64 hex digits of either case, with any spaces between them (so the grouped text and
  // the file's form both read back); nothing else.
  static std::optional<Fingerprint> parse(std::string_view text);

  friend bool operator==(const Fingerprint&, const Fingerprint&) = default;
  friend auto operator<=>(const Fingerprint&, const Fingerprint&) = default;
};

}  // namespace brisk
