#include "link/message_builders.h"

namespace brisk {

namespace {

std::string indexTail(int index) {
  return "Index:" + std::to_string(index) + "\r\n";
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
  return "TRANSFILE:REPLY:Slot in use. " + indexTail(index);
}

std::string replyInvalidDataPort(std::int64_t named, int index) {
  return "TRANSFILE:REPLY:Invalid data port " + std::to_string(named) + ". " + indexTail(index);
}

std::string replyChoiceFailed(const std::string& dialog, int index) {
  return "TRANSFILE:REPLY:" + dialog + " failed or closed. " + indexTail(index);
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
