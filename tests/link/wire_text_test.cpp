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

// Whatever the person or a file name gives, the encoder sends only text a GB18030 decoder
// takes: bytes that are not UTF-8 go as U+FFFD (84 31 A4 37), one per bad byte.
TEST(WireText, EveryInputEncodesToValidWireText) {
  const std::string kBad = "\x84\x31\xA4\x37";
  const struct {
    const char* what;
    std::string utf8;
    std::string wire;
  } cases[] = {
      {"ascii and NUL", std::string("a\0b", 3), std::string("a\0b", 3)},
      {"euro sign, as GBK has it", "€ 5", "\x80 5"},
      {"outside the BMP", "😀", "\x94\x39\xFC\x36"},
      {"the last code point", "\xF4\x8F\xBF\xBF", "\xE3\x32\x9A\x35"},
      {"private use", "\xEE\x80\x80", "\xAA\xA1"},
      {"a stray byte",
       "a\xFF"
       "b",
       "a" + kBad + "b"},
      {"a character cut at the end", "a\xE4\xB8", "a" + kBad + kBad},
      {"an encoded surrogate", "\xED\xA0\x80", kBad + kBad + kBad},
      {"an overlong slash", "\xC0\xAF", kBad + kBad},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", kBad + kBad + kBad + kBad},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string wire = toWire(c.utf8);
    EXPECT_EQ(wire, c.wire);
    EXPECT_TRUE(isValidWireText(wire));
  }
}

// Bytes a peer sends that are no character show as U+FFFD and never swallow what follows;
// a character cut at the end shows too instead of vanishing, so that "a" and "a" plus
// half a character never read as the same text. GBK's one-byte euro sign reads as one.
TEST(WireText, BytesThatAreNoCharacterShowAsReplacements) {
  const std::string kReplacement = "\xEF\xBF\xBD";
  const struct {
    std::string wire;
    std::string utf8;
  } cases[] = {
      {"a\xD6", "a" + kReplacement},
      {"a\x81\x30\x81", "a" + kReplacement + "0" + kReplacement},
      {"\x80x", "€x"},
      {"\xA2\xE3", "€"},
      {"\xFFx", kReplacement + "x"},
      {"\xD6\xD0", "中"},
      {std::string("a\0", 2), std::string("a\0", 2)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(fromWire(c.wire), c.utf8) << testing::PrintToString(c.wire);
    EXPECT_EQ(isValidWireText(c.wire), fromWire(c.wire).find(kReplacement) == std::string::npos)
        << testing::PrintToString(c.wire);
  }
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
