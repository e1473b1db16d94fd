#include "platform/text_codec.h"

#include <algorithm>

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>

namespace brisk {

namespace {
constexpr const char* kWireEncoding = "GB18030";

// The euro sign: one byte in GBK as peers send it, two in GB18030 as the converter has it.
constexpr std::string_view kGbkEuro = "\x80";
constexpr std::string_view kGb18030Euro = "\xA2\xE3";

// The length of the character that starts at `at`, as far as its lead byte tells.
std::size_t characterLength(std::string_view wire, std::size_t at) {
  const auto lead = static_cast<unsigned char>(wire[at]);
  // 0x80 and 0xFF lead no character; they count alone, so they never swallow what follows.
  if (lead <= 0x80 || lead == 0xFF) return 1;
  // GB18030: a lead byte, then one trail byte, or a digit and two more bytes.
  const bool fourBytes = at + 1 < wire.size() && wire[at + 1] >= '0' && wire[at + 1] <= '9';
  return fourBytes ? 4 : 2;
}

// Plain ASCII reads the same in UTF-8 and on the wire, and is most names and messages:
// it needs no converter, which costs thousands of instructions to set up for every call.
bool isAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// `wire` with every whole character `from` replaced by `to`.
std::string replaceCharacter(std::string_view wire, std::string_view from, std::string_view to) {
  std::string result;
  result.reserve(wire.size());
  for (std::size_t at = 0; at < wire.size();) {
    const std::size_t length = std::min(characterLength(wire, at), wire.size() - at);
    const std::string_view character = wire.substr(at, length);
    result.append(character == from ? to : character);
    at += length;
  }
  return result;
}
}  // namespace

std::string toWire(std::string_view utf8) {
  if (isAscii(utf8)) return std::string(utf8);
  // Text that is not UTF-8 (a stray byte, an overlong form, an encoded surrogate) becomes
  // U+FFFD, one per bad byte, which GB18030 encodes like any other character; so the
  // encoder only ever sees whole characters, and every byte it gives is valid wire text.
  QStringEncoder encoder(kWireEncoding);
  const QByteArray bytes =
      encoder.encode(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
  // The euro sign goes out as GBK has it, so that a GBK peer reads it.
  return replaceCharacter(
      std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), kGb18030Euro,
      kGbkEuro);
}

std::string fromWire(std::string_view wire) {
  if (isAscii(wire)) return std::string(wire);
  // The converter drops a character cut at the end without a trace, so "a" plus half a
  // character would read as "a". A NUL after the text, which continues no character,
  // makes the cut bytes show as U+FFFD like any other bytes that are no character.
  // A GBK peer sends the euro sign as one byte that GB18030 leaves undefined.
  std::string terminated = replaceCharacter(wire, kGbkEuro, kGb18030Euro);
  terminated.push_back('\0');
  QStringDecoder decoder(kWireEncoding, QStringDecoder::Flag::Stateless);
  const QString text =
      decoder.decode(QByteArrayView(terminated.data(), static_cast<qsizetype>(terminated.size())));
  std::string utf8 = text.toStdString();
  if (!utf8.empty() && utf8.back() == '\0') utf8.pop_back();
  return utf8;
}

bool isValidWireText(std::string_view wire) {
  if (isAscii(wire)) return true;
  // Stateless: a character cut at the end counts as an error, not as pending input.
  QStringDecoder decoder(kWireEncoding, QStringDecoder::Flag::Stateless);
  const std::string text = replaceCharacter(wire, kGbkEuro, kGb18030Euro);
  // The decoding happens when the result becomes a QString.
  [[maybe_unused]] const QString decoded =
      decoder.decode(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
  return !decoder.hasError();
}

std::size_t wirePrefixLength(std::string_view wire, std::size_t limit) {
  std::size_t at = 0;
  while (at < wire.size()) {
    const std::size_t length = characterLength(wire, at);
    if (at + length > limit || at + length > wire.size()) break;
    at += length;
  }
  return at;
}

struct WireDecoder::State {
  std::string pending;  // the start of a character whose rest has not come yet
};

WireDecoder::WireDecoder() : state_(std::make_unique<State>()) {}

WireDecoder::~WireDecoder() = default;

std::string WireDecoder::decode(std::string_view wire) {
  // The converter forgets a character cut at the end of its input, so the cut bytes are
  // kept here until the next read completes them.
  std::string bytes = std::move(state_->pending);
  bytes.append(wire);
  const std::size_t complete = wirePrefixLength(bytes, bytes.size());
  state_->pending = bytes.substr(complete);
  bytes.resize(complete);
  return fromWire(bytes);
}

}  // namespace brisk
