#include "discovery/display_name.h"

#include <array>
#include <cstdint>
#include <optional>

#include <pwd.h>
#include <unistd.h>

namespace brisk {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one character at `at` and moves past it; an invalid sequence gives nothing and
// moves past its first byte only, so decoding picks up again at the next lead byte.
std::optional<char32_t> decodeOne(std::string_view text, std::size_t& at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) {
    ++at;
    return lead;
  }
  std::size_t length = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    ++at;
    return std::nullopt;
  }
  if (at + length > text.size()) {
    ++at;
    return std::nullopt;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) {
      ++at;
      return std::nullopt;
    }
    value = (value << 6) | (byte(at + i) & 0x3F);
  }
  // Overlong forms, surrogates and values past Unicode are not characters.
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    ++at;
    return std::nullopt;
  }
  at += length;
  return value;
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Characters that would break the line or let a name reorder the text shown after it
// (a right-to-left override could make "evil — 10.0.0.9" read as another address).
bool isDropped(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;
  if (c == 0x061C || c == 0x200E || c == 0x200F) return true;  // bidirectional marks
  if (c >= 0x202A && c <= 0x202E) return true;                 // embeddings, overrides
  if (c >= 0x2066 && c <= 0x2069) return true;                 // isolates
  return c == 0x2028 || c == 0x2029;                           // line, paragraph separator
}

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::string sanitizeDisplayName(std::string_view raw) {
  std::string clean;
  std::size_t at = 0;
  while (at < raw.size()) {
    const std::optional<char32_t> c = decodeOne(raw, at);
    if (c && isDropped(*c)) continue;
    std::string piece;
    appendUtf8(piece, c.value_or(kReplacement));
    // Cut only between characters; the trimmed result is never longer than this.
    if (trimmed(clean + piece).size() > kMaxDisplayNameBytes) break;
    clean += piece;
  }
  return trimmed(clean);
}

std::string defaultDisplayName() {
  std::string person;
  if (const passwd* account = ::getpwuid(::getuid())) {
    // The full name is the first comma-separated field of the account's comment.
    if (account->pw_gecos != nullptr) {
      const std::string gecos = account->pw_gecos;
      person = sanitizeDisplayName(gecos.substr(0, gecos.find(',')));
    }
    if (person.empty() && account->pw_name != nullptr) {
      person = sanitizeDisplayName(account->pw_name);
    }
  }
  std::array<char, 256> host{};
  if (::gethostname(host.data(), host.size() - 1) != 0) host[0] = '\0';
  const std::string hostName = sanitizeDisplayName(host.data());
  if (person.empty()) return hostName.empty() ? std::string("Brisk") : hostName;
  if (hostName.empty()) return person;
  return sanitizeDisplayName(person + " (" + hostName + ")");
}

}  // namespace brisk
