#include "common/size_text.h"

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

}  // namespace
}  // namespace brisk
