#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace brisk {

// The wire carries GBK text. We encode with GB18030, which gives GBK's bytes for every
// GBK character but the euro sign and stays lossless for the rest, and decode with it too;
// the euro sign travels as GBK's single byte 0x80 both ways.

// UTF-8 text to the bytes sent on the wire.
std::string toWire(std::string_view utf8);

// Wire bytes to UTF-8, for a complete piece of text (a name, a record, a message). Bytes
// that are no character, and a character cut at the end, become U+FFFD.
std::string fromWire(std::string_view wire);

// Whether `wire` is text the wire encoding defines, to its last byte. Bytes that are not
// decode to the replacement character, so two different names could become one.
bool isValidWireText(std::string_view wire);

// The longest prefix of wire text, at most `limit` bytes, that ends between two characters.
std::size_t wirePrefixLength(std::string_view wire, std::size_t limit);

// Decodes one connection's byte stream: a character cut between two reads is kept
// back and completed by the next read, so chat text never shows a broken glyph.
class WireDecoder {
 public:
  WireDecoder();
  ~WireDecoder();
  WireDecoder(const WireDecoder&) = delete;
  WireDecoder& operator=(const WireDecoder&) = delete;

  // Decodes the next bytes of the stream; returns the UTF-8 text they complete.
  std::string decode(std::string_view wire);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace brisk
