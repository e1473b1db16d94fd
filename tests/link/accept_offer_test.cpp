#include "link/accept_offer.h"

#include <gtest/gtest.h>

namespace brisk {
namespace {

TEST(SuggestedName, IsTheFirstLineUpToItsTab) {
  EXPECT_EQ(suggestedName("报告.docx\t1.2 MB\r\n"), "报告.docx");
  EXPECT_EQ(suggestedName("no tab\r\nsecond\tline"), "no tab");
  EXPECT_EQ(suggestedName(""), "");
  EXPECT_EQ(suggestedName(std::string(600, 'x')).size(), 511u);
}

TEST(DefaultSuffix, OnlyAThreeCharacterExtensionCounts) {
  EXPECT_EQ(defaultSuffix("a.txt"), "txt");
  EXPECT_EQ(defaultSuffix("archive.tar.bz2"), "bz2");
  EXPECT_EQ(defaultSuffix("photo.jpeg"), "");  // four characters
  EXPECT_EQ(defaultSuffix("a..tx"), "");       // a second dot among the last three
  EXPECT_EQ(defaultSuffix("README"), "");
  EXPECT_EQ(defaultSuffix(".rc"), "");
}

}  // namespace
}  // namespace brisk
