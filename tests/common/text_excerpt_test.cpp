#include "common/text_excerpt.h"

#include <string>

#include <gtest/gtest.h>

namespace brisk {
namespace {

TEST(TextExcerpt, KeepsWhatFitsAndCountsWhatIsLeftOut) {
  struct Row {
    const char* what;
    std::string text;
    TextBounds bounds;
    std::string kept;
    std::size_t charsLeftOut;
    std::size_t linesLeftOut;
  };
  const Row rows[] = {
      {"fits as it is", "a\r\nbc\r\n", {2, 2, 3}, "a\r\nbc\r\n", 0, 0},
      {"no line break at the end", "ab\r\ncd", {2, 2, 4}, "ab\r\ncd", 0, 0},
      {"lines past the bound", "a\r\nbb\r\nccc\r\n", {1, 9, 99}, "a\r\n", 5, 2},
      {"a long line is cut", "abcdef\r\ng\r\n", {9, 3, 99}, "abc…\r\ng\r\n", 3, 0},
      {"the last line without a break is cut", "abcdef", {9, 3, 99}, "abc…", 3, 0},
      {"all characters counted across lines", "abc\ndef\nghi\n", {9, 9, 5}, "abc\nde…\n", 4, 1},
      {"empty lines count as lines", "\r\n\r\n\r\nx", {2, 9, 9}, "\r\n\r\n", 1, 2},
      {"Chinese counts by character, never cut inside one",
       "总计文件个数\r\n",
       {1, 2, 9},
       "总计…\r\n",
       4,
       0},
      {"a lone \\r stays in the line", "a\rb\n", {1, 9, 9}, "a\rb\n", 0, 0},
      {"empty text", "", {1, 1, 1}, "", 0, 0},
  };
  for (const Row& row : rows) {
    const Excerpt excerpt = excerptOf(row.text, row.bounds);
    EXPECT_EQ(excerpt.text, row.kept) << row.what;
    EXPECT_EQ(excerpt.charsLeftOut, row.charsLeftOut) << row.what;
    EXPECT_EQ(excerpt.linesLeftOut, row.linesLeftOut) << row.what;
    EXPECT_EQ(excerpt.shortened(), row.charsLeftOut + row.linesLeftOut > 0) << row.what;
  }
}

TEST(TextExcerpt, AHugeOfferKeepsOnlyItsBoundedStart) {
  // 1,000 item lines of 240 characters: what a stranger may send in one offer.
  std::string offer;
  for (int i = 0; i < 1000; ++i) offer += std::string(230, 'x') + "\t100 bytes\r\n";
  const Excerpt excerpt = excerptOf(offer, {200, 300, 60000});
  EXPECT_EQ(excerpt.text, offer.substr(0, 200 * 242));
  EXPECT_EQ(excerpt.linesLeftOut, 800u);
  EXPECT_EQ(excerpt.charsLeftOut, 800u * 240);
}

}  // namespace
}  // namespace brisk
