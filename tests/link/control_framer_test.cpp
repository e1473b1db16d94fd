#include "link/control_framer.h"

#include <gtest/gtest.h>

#include "platform/text_codec.h"

namespace brisk {
namespace {

using Pieces = std::vector<ControlFramer::Piece>;

std::vector<std::pair<std::string, bool>> flatten(const Pieces& pieces) {
  std::vector<std::pair<std::string, bool>> flat;
  for (const auto& piece : pieces) flat.emplace_back(piece.bytes, piece.isControl);
  return flat;
}

using Flat = std::vector<std::pair<std::string, bool>>;

TEST(ControlFramer, SeveralMessagesInOneReadAreSplitAtEachLineStartingMarker) {
  ControlFramer framer;
  const Pieces pieces =
      framer.feed("hello\r\nTRANSFILE:REPLY:NO:Index:3\r\nTRANSFILE:STOP:Index:4\r\nbye\r\n");
  EXPECT_EQ(flatten(pieces), (Flat{{"hello\r\n", false},
                                   {"TRANSFILE:REPLY:NO:Index:3\r\n", true},
                                   {"TRANSFILE:STOP:Index:4\r\n", true},
                                   {"bye\r\n", false}}));
  EXPECT_FALSE(framer.holdsPartialMessage());
}

TEST(ControlFramer, TheMarkerInsideALineIsChat) {
  ControlFramer framer;
  EXPECT_EQ(flatten(framer.feed("see TRANSFILE:STOP:Index:1\r\n")),
            (Flat{{"see TRANSFILE:STOP:Index:1\r\n", false}}));
}

TEST(ControlFramer, AMessageCutByTheNetworkIsCompletedFirst) {
  ControlFramer framer;
  EXPECT_TRUE(framer.feed("TRANSFILE:STO").empty());
  EXPECT_TRUE(framer.holdsPartialMessage());
  EXPECT_EQ(flatten(framer.feed("P:Index:12\r\nnext")),
            (Flat{{"TRANSFILE:STOP:Index:12\r\n", true}, {"next", false}}));
}

TEST(ControlFramer, EvenTheMarkerItselfMayBeCut) {
  ControlFramer framer;
  EXPECT_EQ(flatten(framer.feed("chat\r\nTRANS")), (Flat{{"chat\r\n", false}}));
  EXPECT_EQ(flatten(framer.feed("FILE:CANCEL:Index:2\r\n")),
            (Flat{{"TRANSFILE:CANCEL:Index:2\r\n", true}}));
}

TEST(ControlFramer, ChatCutInTheMiddleOfALineIsHandedOnAtOnce) {
  ControlFramer framer;
  EXPECT_EQ(flatten(framer.feed("par")), (Flat{{"par", false}}));
  // Not at a line start any more: this is the rest of the chat line.
  EXPECT_EQ(flatten(framer.feed("TRANSFILE:x\r\n")), (Flat{{"TRANSFILE:x\r\n", false}}));
}

TEST(ControlFramer, AnOfferOfOneFileEndsAfterItsItemLine) {
  ControlFramer framer;
  const std::string ask = "TRANSFILE:ASK:Index:1\r\na.txt\t100 bytes\r\n";
  EXPECT_EQ(flatten(framer.feed(ask + "TRANSFILE:CANCEL:Index:1\r\n")),
            (Flat{{ask, true}, {"TRANSFILE:CANCEL:Index:1\r\n", true}}));
}

// What follows an offer at once: a chat line (it has no tab, so it is no item line) or the
// next control message, which ends an offer still missing its totals. Neither becomes part
// of the offer.
TEST(ControlFramer, WhatFollowsAnOfferAtOnceIsNotSwallowedByIt) {
  const std::string ask = "TRANSFILE:ASK:Index:1\r\na.txt\t100 bytes\r\n";
  ControlFramer framer;
  EXPECT_EQ(flatten(framer.feed(ask + "hello\r\nTRANSFILE:CANCEL:Index:1\r\n")),
            (Flat{{ask, true}, {"hello\r\n", false}, {"TRANSFILE:CANCEL:Index:1\r\n", true}}));

  // An offer whose totals never come ends where the next message begins; the totals of
  // an offer after it are not taken for its own.
  const std::string folder = toWire(
      "TRANSFILE:ASK:Index:4\r\nd\t文件夹\t1 KB\r\n\r\n总计 文件个数：-1\r\n　　 文件大小：0 "
      "Bytes = 1 KB\r\n");
  const std::string cut = "TRANSFILE:ASK:Index:3\r\nb.txt\t1 bytes\r\nc.txt\t1 bytes\r\n";
  EXPECT_EQ(flatten(framer.feed(cut + folder)), (Flat{{cut, true}, {folder, true}}));

  const std::string items = ask + "b.txt\tno totals come\r\n";
  EXPECT_EQ(flatten(framer.feed(items + "TRANSFILE:STOP:Index:2\r\n")),
            (Flat{{items, true}, {"TRANSFILE:STOP:Index:2\r\n", true}}));
  EXPECT_FALSE(framer.holdsPartialMessage());
}

TEST(ControlFramer, AnOfferWithTotalsWaitsForThemAcrossReads) {
  const std::string ask = toWire(
      "TRANSFILE:ASK:Index:2\r\na.txt\t100 bytes\r\nb\t文件夹\t2 KB\r\n\r\n总计 文件个数：2\r\n"
      "　　 文件大小：2148 Bytes = 3 KB\r\n");
  const std::size_t firstItemEnd = ask.find("bytes\r\n") + 7;
  for (std::size_t cut = 1; cut < ask.size(); ++cut) {
    // Cut right after its first item line, the text is a complete offer of one file.
    if (cut == firstItemEnd) continue;
    ControlFramer framer;
    Pieces pieces = framer.feed(ask.substr(0, cut));
    ASSERT_TRUE(pieces.empty()) << cut;
    pieces = framer.feed(ask.substr(cut) + "chat\r\n");
    ASSERT_EQ(flatten(pieces), (Flat{{ask, true}, {"chat\r\n", false}})) << cut;
  }
}

TEST(ControlFramer, AnIncompleteMessageIsHandedOnAsItIsWhenWaitingEnds) {
  ControlFramer framer;
  EXPECT_TRUE(framer.feed("TRANSFILE:STOP:Index:5").empty());
  EXPECT_EQ(flatten(framer.flush()), (Flat{{"TRANSFILE:STOP:Index:5", true}}));
  EXPECT_FALSE(framer.holdsPartialMessage());
}

TEST(ControlFramer, AnEndlessMessageIsNotHeldForever) {
  ControlFramer framer;
  Pieces pieces = framer.feed("TRANSFILE:STOP:Index:1");
  for (int i = 0; pieces.empty() && i < 1000; ++i) pieces = framer.feed(std::string(1000, 'x'));
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_GE(pieces[0].bytes.size(), ControlFramer::kMaxHeldBytes);
}

}  // namespace
}  // namespace brisk
