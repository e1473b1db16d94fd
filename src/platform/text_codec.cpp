#include "platform/text_codec.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>

namespace brisk {

namespace {
constexpr const char* kWireEncoding = "GB18030";
}

std::string toWire(std::string_view utf8) {
  QStringEncoder encoder(kWireEncoding);
  const QByteArray bytes =
      encoder.encode(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
  return bytes.toStdString();
}

std::string fromWire(std::string_view wire) {
  QStringDecoder decoder(kWireEncoding);
  const QString text =
      decoder.decode(QByteArrayView(wire.data(), static_cast<qsizetype>(wire.size())));
  return text.toStdString();
}

std::size_t wirePrefixLength(std::string_view wire, std::size_t limit) {
  std::size_t at = 0;
  while (at < wire.size()) {
    std::size_t length = 1;
    if (static_cast<unsigned char>(wire[at]) >= 0x80) {
      // GB18030: a lead byte, then one trail byte, or a digit and two more bytes.
      const bool fourBytes = at + 1 < wire.size() && wire[at + 1] >= '0' && wire[at + 1] <= '9';
      length = fourBytes ? 4 : 2;
    }
    if (at + length > limit || at + length > wire.size()) break;
    at += length;
  }
  return at;
}

struct WireDecoder::State {
  QStringDecoder decoder{kWireEncoding};
};

WireDecoder::WireDecoder() : state_(std::make_unique<State>()) {}

WireDecoder::~WireDecoder() = default;

std::string WireDecoder::decode(std::string_view wire) {
  const QString text =
      state_->decoder.decode(QByteArrayView(wire.data(), static_cast<qsizetype>(wire.size())));
  return text.toStdString();
}

}  // namespace brisk
