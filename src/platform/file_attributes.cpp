#include "platform/file_attributes.h"

#include <cassert>

namespace brisk {

namespace {

void putU32(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint32_t getU32(std::string_view bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) {
    value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
  }
  return value;
}

void putFileTime(std::string& out, std::uint64_t time) {
  putU32(out, static_cast<std::uint32_t>(time));
  putU32(out, static_cast<std::uint32_t>(time >> 32));
}

std::uint64_t getFileTime(std::string_view bytes, std::size_t at) {
  return getU32(bytes, at) | (std::uint64_t{getU32(bytes, at + 4)} << 32);
}

}  // namespace

std::string FileAttributeData::toWire() const {
  std::string out;
  out.reserve(kWireSize);
  putU32(out, attributes);
  putFileTime(out, creationTime);
  putFileTime(out, lastAccessTime);
  putFileTime(out, lastWriteTime);
  putU32(out, static_cast<std::uint32_t>(size >> 32));
  putU32(out, static_cast<std::uint32_t>(size));
  return out;
}

FileAttributeData FileAttributeData::fromWire(std::string_view bytes) {
  assert(bytes.size() >= kWireSize);
  FileAttributeData data;
  data.attributes = getU32(bytes, 0);
  data.creationTime = getFileTime(bytes, 4);
  data.lastAccessTime = getFileTime(bytes, 12);
  data.lastWriteTime = getFileTime(bytes, 20);
  data.size = (std::uint64_t{getU32(bytes, 28)} << 32) | getU32(bytes, 32);
  return data;
}

}  // namespace brisk
