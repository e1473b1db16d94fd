#include <clocale>
#include <string>

#include <gtest/gtest.h>

#include "platform/text_codec.h"

namespace brisk {
namespace {

TEST(WireText, ChineseTravelsAsGbkBytes) {
  EXPECT_EQ(toWire("中文 ok"), "\xD6\xD0\xCE\xC4 ok");
  EXPECT_EQ(fromWire("\xD6\xD0\xCE\xC4 ok"), "中文 ok");
  EXPECT_EQ(toWire("连接成功！"), "\xC1\xAC\xBD\xD3\xB3\xC9\xB9\xA6\xA3\xA1");
}

// The programs take the person's locale at start so system error texts follow it; the wire
// text must come out the same whatever the C locale's character set is.
TEST(WireText, DoesNotDependOnTheCLocale) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  for (const char* locale : {"C", "C.UTF-8", "POSIX"}) {
    if (!std::setlocale(LC_ALL, locale)) continue;
    EXPECT_EQ(toWire("中文 ok"), "\xD6\xD0\xCE\xC4 ok") << locale;
    EXPECT_EQ(fromWire("\xD6\xD0\xCE\xC4 ok"), "中文 ok") << locale;
  }
  std::setlocale(LC_ALL, before.c_str());
}

TEST(WireText, CharactersOutsideGbkSurviveTheRoundTrip) {
  const std::string text = "emoji 😀 and 𠀀";
  EXPECT_EQ(fromWire(toWire(text)), text);
}

TEST(WireText, AStreamDecoderJoinsACharacterCutBetweenReads) {
  const std::string wire = toWire("你好😀");
  for (std::size_t cut = 1; cut < wire.size(); ++cut) {
    WireDecoder decoder;
    std::string text = decoder.decode(wire.substr(0, cut));
    text += decoder.decode(wire.substr(cut));
    EXPECT_EQ(text, "你好😀") << cut;
  }
}

TEST(WireText, PrefixLengthNeverCutsACharacter) {
  const std::string wire = toWire("a中😀b");  // 1 + 2 + 4 + 1 bytes
  EXPECT_EQ(wirePrefixLength(wire, 8), 8u);
  EXPECT_EQ(wirePrefixLength(wire, 7), 7u);
  EXPECT_EQ(wirePrefixLength(wire, 6), 3u);
  EXPECT_EQ(wirePrefixLength(wire, 2), 1u);
  EXPECT_EQ(wirePrefixLength(wire, 0), 0u);
}

}  // namespace
}  // namespace brisk
