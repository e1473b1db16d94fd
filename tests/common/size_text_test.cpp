#include "common/size_text.h"

#include <vector>

#include <gtest/gtest.h>

namespace brisk {
namespace {

TEST(SizeText, EveryUnitAtAndAroundItsThresholds) {
  const std::pair<std::uint64_t, const char*> rows[] = {
      {0, "0 bytes"},         {1023, "1023 bytes"},
      {1024, "1 KB"},         {1025, "2 KB"},
      {1047552, "1023 KB"},   {1047553, "1024 KB"},
      {1048575, "1024 KB"},   {1048576, "1.0 MB"},
      {2000000, "1.9 MB"},    {1073741823, "1023.9 MB"},
      {1073741824, "1.0 GB"}, {1610612735, "1.4 GB"},
      {5368709120, "5.0 GB"}, {UINT64_MAX, "17179869183.9 GB"},
  };
  for (const auto& [bytes, text] : rows) EXPECT_EQ(sizeText(bytes), text) << bytes;
}

TEST(SizeText, DecimalIsCutOffNeverRounded) {
  // 1.99... MB and 2^32 + 1 bytes: the digit is cut, and a high half always means GB.
  EXPECT_EQ(sizeText((2ULL << 20) - 1), "1.9 MB");
  EXPECT_EQ(sizeText((1ULL << 32) + 1), "4.0 GB");
  EXPECT_EQ(sizeText((1ULL << 32) + (1ULL << 30) - 1), "4.9 GB");
}

// An offer of one file names its size only as text: the least it can stand for is what
// a free-space check may count on, and it must read back as the same text.
TEST(SizeText, TheLeastBytesATextStandsForReadBackAsTheSameText) {
  std::vector<std::uint64_t> sizes = {0,       1,          1023,       1024,
                                      1025,    1047553,    1048575,    1048576,
                                      2000000, 1073741823, 1073741824, UINT64_MAX};
  for (std::uint64_t bytes = 7; bytes < (1ULL << 62); bytes = bytes * 3 + 1) sizes.push_back(bytes);
  for (const std::uint64_t bytes : sizes) {
    const std::string text = sizeText(bytes);
    const std::optional<std::uint64_t> least = leastBytesOf(text);
    ASSERT_TRUE(least) << text;
    EXPECT_LE(*least, bytes) << text;
    EXPECT_EQ(sizeText(*least), text) << bytes;
    if (*least > 0) {
      EXPECT_NE(sizeText(*least - 1), text) << bytes;
    }
  }
  for (const char* notASize : {"", "bytes", "12", "1.5 TB", "2 kb", "1.x MB", "x bytes"}) {
    EXPECT_FALSE(leastBytesOf(notASize)) << notASize;
  }
}

}  // namespace
}  // namespace brisk
