#include "cli/console.h"

#include <sstream>

#include <gtest/gtest.h>

namespace brisk {
namespace {

TEST(PrintableText, KeepsTextAndLineBreaksAndDisarmsControlCharacters) {
  EXPECT_EQ(printableText("你好\r\nhello\tworld\n"), "你好\nhello\tworld\n");
  // An escape sequence from the peer must not reach the terminal as one.
  EXPECT_EQ(printableText("a\x1B[2Jb"), "a^[[2Jb");
  EXPECT_EQ(printableText("bell\a lone\r del\x7F"), "bell^G lone^M del^?");
  // C1 controls (U+009B is a one-character CSI) and bytes that are not UTF-8.
  EXPECT_EQ(printableText("x\xC2\x9B"
                          "y"),
            "x\xEF\xBF\xBDy");
  EXPECT_EQ(printableText("\xFF\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(printableText("cut \xE4\xBD"), "cut \xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Console, WithoutTerminalPrintsLinesAndNoLiveLine) {
  std::ostringstream out;
  Console console(out, false);
  console.print("本机IP地址：");
  console.print("10.0.0.1");
  console.setLiveLine("progress");
  console.printLine("next");
  console.print("open");
  console.finish();
  EXPECT_EQ(out.str(), "本机IP地址：10.0.0.1\nnext\nopen\n");
}

TEST(Console, OnATerminalOtherOutputScrollsAboveTheLiveLine) {
  std::ostringstream out;
  Console console(out, true);
  console.setLiveLine("50%");
  console.printLine("chat");
  console.setLiveLine("60%");
  console.setLiveLine("");
  console.printLine("done");
  EXPECT_EQ(out.str(), "50%\r\x1B[Kchat\n50%\r\x1B[K60%\r\x1B[Kdone\n");
}

TEST(Console, LiveLineIsCutToTheTerminalWidthAndToOneLine) {
  std::ostringstream out;
  Console console(out, true, [] { return 8; });
  console.setLiveLine("接收文件 Index: 1\nsecond");
  // Seven columns are free: a fourth wide character would need eight.
  EXPECT_EQ(out.str(), "接收文");
  console.finish();
  EXPECT_EQ(out.str(), "接收文\r\x1B[K");
}

TEST(Console, OpenLineIsEndedBeforeTheLiveLineIsDrawn) {
  std::ostringstream out;
  Console console(out, true);
  console.print("partial");
  console.setLiveLine("10%");
  EXPECT_EQ(out.str(), "partial\n10%");
}

}  // namespace
}  // namespace brisk
