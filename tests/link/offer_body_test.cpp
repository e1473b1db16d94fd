#include "link/offer_body.h"

#include <gtest/gtest.h>

#include "platform/text_codec.h"

namespace brisk {
namespace {

TEST(OfferBody, TwoFilesListTheirLinesAndTheTotals) {
  const OfferText offer = composeOffer(1, {{"a.txt", false, 100}, {"big.bin", false, 2000000}});
  EXPECT_EQ(offer.message,
            "TRANSFILE:ASK:Index:1\r\n"
            "a.txt\t100 bytes\r\n"
            "big.bin\t1.9 MB\r\n"
            "\r\n总计 文件个数：2\r\n"
            "　　 文件大小：2000100 Bytes = 1.9 MB\r\n");
  EXPECT_EQ(offer.count, 2);
  EXPECT_EQ(offer.total, 2000100u);
  EXPECT_EQ(offer.shownBody, offer.message.substr(offer.message.find("\r\n") + 2));
}

TEST(OfferBody, TheTotalsHaveTheirExactGbkBytes) {
  const std::string wire = toWire(composeOffer(3, {{"d", true, 5242880}}).message);
  EXPECT_EQ(wire,
            "TRANSFILE:ASK:Index:3\r\n"
            "d\t\xCE\xC4\xBC\xFE\xBC\xD0\t5.0 MB\r\n"
            "\r\n\xD7\xDC\xBC\xC6 \xCE\xC4\xBC\xFE\xB8\xF6\xCA\xFD\xA3\xBA-1\r\n"
            "\xA1\xA1\xA1\xA1 \xCE\xC4\xBC\xFE\xB4\xF3\xD0\xA1\xA3\xBA"
            "5242880 Bytes = 5.0 MB\r\n");
}

TEST(OfferBody, OneFolderCountsMinusOneAndItsWindowShowsOnlyItsLine) {
  const OfferText offer = composeOffer(1, {{"Photos", true, 5242880}});
  EXPECT_EQ(offer.count, -1);
  EXPECT_EQ(offer.shownBody, "Photos\t文件夹\t5.0 MB");
}

TEST(OfferBody, OneFileHasNoTotals) {
  const OfferText offer = composeOffer(1, {{"a.txt", false, 100}});
  EXPECT_EQ(offer.message, "TRANSFILE:ASK:Index:1\r\na.txt\t100 bytes\r\n");
  EXPECT_EQ(offer.count, 1);
  EXPECT_EQ(offer.shownBody, "a.txt\t100 bytes\r\n");
}

TEST(OfferBody, TheSizeInWordsStartsAtOneKilobyte) {
  EXPECT_NE(composeOffer(1, {{"a", false, 1000}, {"b", false, 23}})
                .message.find("文件大小：1023 Bytes\r\n"),
            std::string::npos);
  EXPECT_NE(composeOffer(1, {{"a", false, 1000}, {"b", false, 24}})
                .message.find("文件大小：1024 Bytes = 1 KB\r\n"),
            std::string::npos);
  // Empty items still show their size.
  EXPECT_NE(composeOffer(1, {{"empty", true, 0}, {"zero", false, 0}})
                .message.find("empty\t文件夹\t0 bytes\r\nzero\t0 bytes\r\n"),
            std::string::npos);
}

TEST(OfferBody, AnOfferTooLongForOneReadIsCutButKeepsItsTotals) {
  std::vector<OfferItem> items;
  for (int i = 0; i < 5000; ++i) items.push_back({"文件-" + std::to_string(i) + ".dat", false, 10});
  const OfferText offer = composeOffer(42, items);
  const std::string wire = toWire(offer.message);
  EXPECT_LE(wire.size(), kMaxAskWireBytes);
  EXPECT_GT(wire.size(), kMaxAskWireBytes - 100);
  EXPECT_EQ(offer.count, 5000);
  EXPECT_EQ(offer.total, 50000u);
  EXPECT_NE(offer.message.find("\r\n总计 文件个数：5000\r\n"), std::string::npos);
  const std::size_t more = offer.message.find("……另有 ");
  ASSERT_NE(more, std::string::npos);
  const std::size_t listed = static_cast<std::size_t>(
      std::count(offer.message.begin(), offer.message.begin() + static_cast<long>(more), '\n') - 1);
  EXPECT_NE(offer.message.find("……另有 " + std::to_string(5000 - listed) + " 项\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace brisk
