#include "discovery/peer_hints.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace brisk {
namespace {

PeerHints parsed(const std::vector<std::string>& records) {
  const std::vector<std::string_view> views(records.begin(), records.end());
  return parseHintRecords(views);
}

TEST(PeerHints, ReadsOnlyWellFormedRecordsFromAnyone) {
  struct Case {
    const char* what;
    std::vector<std::string> records;
    PeerHints hints;
  };
  const std::string longRecord = "fp=3F7A91C2" + std::string(250, ' ');
  const Case cases[] = {
      {"ours", {"v=1", "sport=6101", "fp=3f7a91c2"}, {6101, "3F7A91C2"}},
      {"none", {}, {}},
      {"only the version", {"v=1"}, {}},
      {"keys in any case", {"SPORT=6101", "Fp=3F7A91C2"}, {6101, "3F7A91C2"}},
      {"unknown keys and flags", {"x=1", "sport", "fp", "=6101", "sportx=1"}, {}},
      {"the first of a key counts",
       {"sport=6101", "sport=7000", "fp=3F7A91C2", "fp=00000000"},
       {6101, "3F7A91C2"}},
      {"a malformed first one is not overridden", {"sport=x", "sport=6101"}, {}},
      {"port out of range", {"sport=0"}, {}},
      {"port too large", {"sport=65536"}, {}},
      {"port with a sign", {"sport=+6101"}, {}},
      {"port with a leading zero", {"sport=06101"}, {}},
      {"port with spaces", {"sport= 6101"}, {}},
      {"port too long", {"sport=0000000000006101"}, {}},
      {"port empty", {"sport="}, {}},
      {"highest port", {"sport=65535"}, {65535, ""}},
      {"prefix too short", {"fp=3F7A91C"}, {}},
      {"prefix too long", {"fp=3F7A91C2D"}, {}},
      {"prefix not hex", {"fp=3F7A91CG"}, {}},
      {"prefix in groups", {"fp=3F7A 91C2"}, {}},
      {"a NUL in the prefix",
       {std::string("fp=3F7A\0"
                    "91C",
                    11)},
       {}},
      {"bytes of no text", {"fp=\xff\xfe\xfd\xfc\xfb\xfa\xf9\xf8", "sport=\x80"}, {}},
      {"longer than a record can be", {longRecord.substr(0, 256)}, {}},
      {"a value with '=' in it", {"fp==3F7A91C", "sport=61=01"}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(parsed(c.records), c.hints) << c.what;
}

TEST(PeerHints, LooksNoFurtherThanTheFirstRecords) {
  std::vector<std::string> records(kMaxHintRecords, "x=1");
  records.push_back("sport=6101");
  EXPECT_EQ(parsed(records), PeerHints{});
  records.erase(records.begin());
  EXPECT_EQ(parsed(records), (PeerHints{6101, ""}));
}

TEST(PeerHints, WhatIsAnnouncedReadsBack) {
  const PeerHints cases[] = {{}, {6101, ""}, {std::nullopt, "3F7A91C2"}, {65535, "00000000"}};
  for (const PeerHints& hints : cases) {
    const std::vector<std::string> records = hintRecords(hints);
    EXPECT_EQ(records.front(), "v=1");
    EXPECT_EQ(parsed(records), hints);
  }
}

}  // namespace
}  // namespace brisk
