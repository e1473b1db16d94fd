#include "common/diagnostics.h"

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "platform/text_codec.h"
#include "transfer/data_records.h"

namespace brisk {
namespace {

// A person reports a numbered or slot text as it stands, and it must lead to one place:
// a new place that copies a number in use makes two places indistinguishable. The slot
// texts are taken at two Indexes, so that each must also carry its Index.
TEST(DiagnosticsTest, NumberedAndSlotTextsAreDistinct) {
  std::vector<std::string> texts{
      kSendFailed0,     kSendFailed2,  kSendFailed3,    kSendFailed4,  kSendFailed5,  kSendFailed6,
      kSendFailed7,     kSendFailed8,  kSendFailed9,    kSendFailed19, kSendFailed10, kSendFailed11,
      kSendFailed12,    kSendFailed13, kSendFailed13_5, kSendFailed14, kSendFailed15, kSendFailed16,
      kSendFailed17,    kSendFailed18, kRecvFailed1,    kRecvFailed2,  kRecvFailed3,  kRecvFailed4,
      kRecvFailed5,     kRecvFailed6,  kRecvFailed7,    kRecvFailed8,  kPtsfNull,     kPathnameNull,
      kNoWaitingWindow,
  };
  texts.insert(texts.end(), {kGetFileAttributesExFailed2, kGetFileAttributesExFailed3});
  for (const int index : {1, 99}) {
    texts.insert(texts.end(),
                 {slotEmpty5(index), slotEmpty6(index), slotEmpty7(index), slotNull2(index)});
  }
  std::set<std::string> seen;
  for (const std::string& text : texts) EXPECT_TRUE(seen.insert(text).second) << text;
}

// The data connection's texts as the peer reads them: an error line begins "| " and ends
// the transfer, the skip record begins "-", and a fixed record keeps at most 29 bytes
// before its NUL (fixedRecord cuts a longer text short without a word). The other lines
// end their own line, since a path or name follows them.
TEST(DiagnosticsTest, DataConnectionTextsReadAsTheirKind) {
  struct Case {
    const char* text;
    std::string_view prefix;
    bool fixed;
  };
  const Case cases[] = {
      {kEndText, "| ", true},
      {kStopText, "| ", true},
      {kResumeTargetMissingText, "| ", true},
      {kSkipText, "- ", true},
      {kNotADirectoryLine, "| ", false},
      {kPathNotFoundLine, "| ", false},
      {kCreateFileFailedLine, "| ", false},
      {kCreateDirectoryFailedLine, "| ", false},
      {kMalformedLine, "| ", false},
      {kTooDeepLine, "| ", false},
      {kResumePastEndLine, "| ", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string wire = toWire(c.text);
    EXPECT_TRUE(wire.starts_with(c.prefix));
    if (c.fixed) {
      EXPECT_LT(wire.size(), kFixedRecordSize);
    } else {
      EXPECT_TRUE(wire.ends_with("\r\n"));
    }
  }
  // The sending side tells a refusal by these words; this side's own lines must carry them.
  EXPECT_NE(std::string_view(kCreateFileFailedLine).find(kCreateFileFailedKey),
            std::string_view::npos);
  EXPECT_NE(std::string_view(kStopText).find(kStoppedKey), std::string_view::npos);
}

// A failure reply's reason sits before "Index:N\r\n": a line break in it would end the
// message early, and an "Index:" in it would be read as the Index.
TEST(DiagnosticsTest, ReplyReasonsLeaveTheIndexToBeFound) {
  for (const std::string& reason :
       {std::string(kSlotInUse), std::string(kInvalidFileName), invalidDataPort(65536),
        choiceFailed(kSaveFileStep), choiceFailed(kResumeFileStep), choiceFailed(kFolderStep)}) {
    SCOPED_TRACE(reason);
    EXPECT_EQ(reason.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(reason.find("Index:"), std::string::npos);
  }
}

}  // namespace
}  // namespace brisk
