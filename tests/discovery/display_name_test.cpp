#include "discovery/display_name.h"

#include <array>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

namespace brisk {
namespace {

// Whether `text` is well-formed UTF-8 (no stray, cut or overlong sequences, no surrogates).
bool isValidUtf8(const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = lead < 0x80         ? 1
                         : (lead >> 5) == 6  ? 2
                         : (lead >> 4) == 14 ? 3
                         : (lead >> 3) == 30 ? 4
                                             : 0;
    if (length == 0 || at + length > text.size()) return false;
    for (std::size_t i = 1; i < length; ++i) {
      if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return false;
    }
    at += length;
  }
  return true;
}

struct SanitizeCase {
  const char* what;
  std::string raw;
  std::string shown;
};

TEST(DisplayName, SanitisesNamesFromTheNetwork) {
  const SanitizeCase cases[] = {
      {"plain", "Alice", "Alice"},
      {"Chinese kept", "小明的电脑", "小明的电脑"},
      {"spaces trimmed, inner kept", "  Alice  Smith ", "Alice  Smith"},
      {"line breaks and tabs dropped", "Ali\r\nce\t", "Alice"},
      {"escape sequences lose their escape", "\x1b[31mred", "[31mred"},
      {"C1 controls dropped",
       "A\xC2\x85"
       "B\xC2\x9F",
       "AB"},
      {"right-to-left override dropped", "evil\xE2\x80\xAEgpj.exe", "evilgpj.exe"},
      {"marks, embeddings and isolates dropped",
       "\xE2\x80\x8F"
       "a\xE2\x80\xAA"
       "b\xE2\x81\xA6"
       "c\xE2\x81\xA9\xD8\x9C",
       "abc"},
      {"line and paragraph separators dropped",
       "a\xE2\x80\xA8"
       "b\xE2\x80\xA9",
       "ab"},
      {"stray continuation byte repaired", "a\x80z", "a\xEF\xBF\xBDz"},
      {"cut sequence at the end repaired", "ab\xE5\xB0", "ab\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"overlong slash repaired", "a\xC0\xAF", "a\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"surrogate repaired", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"only controls gives empty", "\x01\x02\n", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sanitizeDisplayName(c.raw), c.shown) << c.what;
  }
}

TEST(DisplayName, LongNamesAreCutOnACharacterBoundary) {
  // 600 bytes of ASCII, of three-byte characters, and of invalid bytes.
  const std::string longNames[] = {std::string(600, 'x'),
                                   [] {
                                     std::string s;
                                     for (int i = 0; i < 200; ++i) s += "名";
                                     return s;
                                   }(),
                                   std::string(600, '\xFF')};
  for (const std::string& raw : longNames) {
    const std::string shown = sanitizeDisplayName(raw);
    EXPECT_LE(shown.size(), kMaxDisplayNameBytes);
    EXPECT_GE(shown.size(), kMaxDisplayNameBytes - 3);
    EXPECT_TRUE(isValidUtf8(shown));
  }
  EXPECT_EQ(sanitizeDisplayName(std::string(600, 'x')), std::string(63, 'x'));
}

TEST(DisplayName, DefaultNameIsShowableAndNamesThisHost) {
  const std::string name = defaultDisplayName();
  EXPECT_FALSE(name.empty());
  EXPECT_EQ(sanitizeDisplayName(name), name);
  std::array<char, 256> host{};
  ASSERT_EQ(::gethostname(host.data(), host.size() - 1), 0);
  // A long name is cut to what a label holds, so only the start of the host may show.
  const std::string hostStart = std::string(host.data()).substr(0, 8);
  EXPECT_NE(name.find(hostStart), std::string::npos) << name << " lacks " << hostStart;
}

}  // namespace
}  // namespace brisk
