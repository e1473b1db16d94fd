#include "transfer/data_records.h"

#include <gtest/gtest.h>

namespace brisk {
namespace {

TEST(DataRecords, RecordLengthsFollowFromTheirFields) {
  FileAttributeData data;
  data.attributes = kAttributeArchive;
  const std::string header = fileHeader("a.txt", 12, data);
  EXPECT_EQ(header.size(), 1u + 5 + 11 + 2 + 11 + 36);
  for (std::size_t cut = 1; cut < header.size(); ++cut) {
    EXPECT_FALSE(completeRecordLength(header.substr(0, cut))) << cut;
  }
  EXPECT_EQ(completeRecordLength(header + "data"), header.size());

  const std::string folder = folderRecord("d", data);
  EXPECT_FALSE(completeRecordLength(folder.substr(0, folder.size() - 1)));
  EXPECT_EQ(completeRecordLength(folder + "<"), folder.size());
  EXPECT_FALSE(completeRecordLength("< upw"));
  EXPECT_EQ(completeRecordLength("< upward\\x"), 8u);
  EXPECT_EQ(completeRecordLength(fixedRecord(kEndText)), kFixedRecordSize);
  // An error line has no length of its own: it ends with the connection.
  EXPECT_FALSE(completeRecordLength("| CreateFile failed:\r\n"));
  EXPECT_EQ(completeRecordLength("xyz"), 3u);
}

TEST(DataRecords, HeadersAreTakenApart) {
  FileAttributeData data;
  data.attributes = kAttributeArchive | kAttributeReadOnly;
  data.lastWriteTime = 0x0123456789ABCDEFull;
  const std::string record = fileHeader("名", 18446744073709551615ull, data);
  const FileHeader header = parseFileHeader(record);
  EXPECT_EQ(header.problem, FileHeader::Problem::None);
  EXPECT_EQ(header.wireName, "名");
  EXPECT_EQ(header.size, 18446744073709551615ull);
  EXPECT_EQ(header.attributes, data);

  EXPECT_EQ(parseFileHeader("\\a\r\nFileAttr:").problem, FileHeader::Problem::NoFileSize);
  EXPECT_EQ(parseFileHeader("\\a\r\nFileSize:12").problem, FileHeader::Problem::NoFileAttr);
  EXPECT_EQ(parseFileHeader("\\a\r\nFileSize:1x\r\nFileAttr:" + data.toWire()).problem,
            FileHeader::Problem::BadSize);
  EXPECT_EQ(
      parseFileHeader("\\a\r\nFileSize:99999999999999999999\r\nFileAttr:" + data.toWire()).problem,
      FileHeader::Problem::BadSize);
  EXPECT_FALSE(parseFolderRecord(">name\r\nFileAttr:short"));
}

TEST(DataRecords, GoAheadOffsets) {
  EXPECT_EQ(parseGoAhead("+0"), 0u);
  EXPECT_EQ(parseGoAhead("+307200"), 307200u);
  EXPECT_EQ(parseGoAhead("+"), 0u);
  EXPECT_FALSE(parseGoAhead("+99999999999999999999"));
  EXPECT_EQ(goAhead(42), "+42");
  EXPECT_EQ(fixedRecord(kSkipText), std::string(kSkipText) + std::string(7, '\0'));
}

}  // namespace
}  // namespace brisk
