#include "link/message_builders.h"

#include "common/diagnostics.h"

namespace brisk {

namespace {

std::string indexTail(int index) {
  return "Index:" + std::to_string(index) + "\r\n";
}

// A failure reply: the reason, then the Index.
std::string replyFailure(const std::string& reason, int index) {
  return "TRANSFILE:REPLY:" + reason + " " + indexTail(index);
}

}  // namespace

std::string askHeader(int index) {
  return "TRANSFILE:ASK:" + indexTail(index);
}

std::string replyYes(int index) {
  return "TRANSFILE:REPLY:YES:" + indexTail(index);
}

std::string replyYesWithPort(std::int64_t dataPort, int index) {
  return "TRANSFILE:REPLY:YES:PORT:" + std::to_string(dataPort) + ":" + indexTail(index);
}

std::string replyNo(int index) {
  return "TRANSFILE:REPLY:NO:" + indexTail(index);
}

std::string replySlotInUse(int index) {
  return replyFailure(kSlotInUse, index);
}

std::string replyInvalidDataPort(std::int64_t named, int index) {
  return replyFailure(invalidDataPort(named), index);
}

std::string replyNotEnoughSpace(int index) {
  return replyFailure(kNotEnoughSpace, index);
}

std::string replyInvalidFileName(int index) {
  return replyFailure(kInvalidFileName, index);
}

std::string replyChoiceFailed(const std::string& dialog, int index) {
  return replyFailure(choiceFailed(dialog), index);
}

std::string portMessage(std::int64_t dataPort, int index) {
  return "TRANSFILE:PORT:" + std::to_string(dataPort) + ":" + indexTail(index);
}

std::string cancelMessage(int index) {
  return "TRANSFILE:CANCEL:" + indexTail(index);
}

std::string stopMessage(int index) {
  return "TRANSFILE:STOP:" + indexTail(index);
}

}  // namespace brisk
