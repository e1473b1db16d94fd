#pragma once

#include <string_view>

namespace brisk {

// Keys of the control protocol as they stand on the wire. The Chinese ones are GBK bytes,
// so they are matched in received messages without decoding them first.
inline constexpr std::string_view kControlMarker = "TRANSFILE:";
inline constexpr std::string_view kAskMessage = "TRANSFILE:ASK";
inline constexpr std::string_view kReplyMessage = "TRANSFILE:REPLY:";
// Each followed directly by a number.
inline constexpr std::string_view kIndexKey = "Index:";
inline constexpr std::string_view kPortKey = "PORT:";
// "\r\n\r\n总计": where an offer's totals begin.
inline constexpr std::string_view kTotalsMarker = "\r\n\r\n\xD7\xDC\xBC\xC6";
// "文件个数：" and "文件大小：", each followed directly by a number.
inline constexpr std::string_view kFileCountKey = "\xCE\xC4\xBC\xFE\xB8\xF6\xCA\xFD\xA3\xBA";
inline constexpr std::string_view kFileSizeKey = "\xCE\xC4\xBC\xFE\xB4\xF3\xD0\xA1\xA3\xBA";
// "\t文件夹\t": marks a folder's item line.
inline constexpr std::string_view kOfferFolderMarker = "\t\xCE\xC4\xBC\xFE\xBC\xD0\t";

}  // namespace brisk
