// How fast bytes cross a loopback TCP connection as a plain stream and as an encrypted
// data connection (TLS 1.3 with the data key), both through the ByteStream interface and
// user-space buffers, one thread sending and one receiving. Prints the throughput, the
// ratio and the CPU seconds per GiB of each side. The bytes come from and go to memory, so
// the figures are those of the streams alone; bench/run.sh measures whole transfers.
//
//   tls_stream_bench [MIB] [BLOCK_KIB]        defaults: 1024 MiB in blocks of 1024 KiB

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <string>

#include "platform/byte_stream.h"
#include "platform/socket.h"
#include "secure/tls_context.h"
#include "secure/tls_stream.h"

namespace {

using namespace brisk;
using Clock = std::chrono::steady_clock;

double threadCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Figures {
  double seconds = 0;
  double senderCpu = 0;
  double receiverCpu = 0;
};

using Wrap = std::function<std::unique_ptr<ByteStream>(Socket, TlsRole)>;

Figures measure(std::uint64_t total, std::size_t block, const Wrap& wrap) {
  SocketInterrupter never;
  static int port = 47800;
  ++port;
  SocketResult listening = listenTcp(static_cast<std::uint16_t>(port), 1);
  if (!listening.ok()) {
    std::fprintf(stderr, "listen on %d failed\n", port);
    std::exit(1);
  }
  auto receiver = std::async(std::launch::async, [&] {
    SocketResult accepted = acceptTcp(listening.socket, never);
    std::unique_ptr<ByteStream> stream = wrap(std::move(accepted.socket), TlsRole::Accepting);
    const double cpu = threadCpuSeconds();
    auto buffer = std::make_unique_for_overwrite<char[]>(block);
    std::uint64_t received = 0;
    while (received < total) {
      const ssize_t n = stream->receive(buffer.get(), block);
      if (n <= 0) break;
      received += static_cast<std::uint64_t>(n);
    }
    if (received != total)
      std::fprintf(stderr, "received %llu bytes only\n", (unsigned long long)received);
    return threadCpuSeconds() - cpu;
  });
  SocketResult connected =
      connectTcp(IpAddress::fromIpv4(0x7F000001), static_cast<std::uint16_t>(port), never);
  std::unique_ptr<ByteStream> stream = wrap(std::move(connected.socket), TlsRole::Connecting);
  const std::string bytes(block, 'x');
  Figures figures;
  const auto start = Clock::now();
  const double cpu = threadCpuSeconds();
  for (std::uint64_t sent = 0; sent < total; sent += block) {
    if (stream->sendAll(
            std::string_view(bytes).substr(0, std::min<std::uint64_t>(block, total - sent))) < 0) {
      std::fprintf(stderr, "send failed: %s\n", stream->failureText().c_str());
      std::exit(1);
    }
  }
  figures.senderCpu = threadCpuSeconds() - cpu;
  figures.receiverCpu = receiver.get();
  figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return figures;
}

void print(const char* name, std::uint64_t total, const Figures& figures) {
  const double gib = static_cast<double>(total) / (1 << 30);
  std::printf("%-10s %7.2f GB/s   CPU s/GiB: sender %.2f, receiver %.2f\n", name,
              static_cast<double>(total) / figures.seconds / 1e9, figures.senderCpu / gib,
              figures.receiverCpu / gib);
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t total = (argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024) << 20;
  const std::size_t block = (argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1024) << 10;
  std::string error;
  const auto context = TlsContext::forData(error);
  if (!context) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  DataKey key;
  key.bytes.fill(0x5A);
  const Figures plain = measure(total, block, [](Socket socket, TlsRole) {
    return std::make_unique<SocketStream>(std::move(socket));
  });
  const Figures encrypted = measure(total, block, [&](Socket socket, TlsRole role) {
    TlsStart started =
        startDataSession(*context, std::move(socket), role, key, std::chrono::seconds(10));
    if (!started.ok()) {
      std::fprintf(stderr, "handshake: %s\n", started.failure.text.c_str());
      std::exit(1);
    }
    return std::unique_ptr<ByteStream>(std::move(started.stream));
  });
  print("plain", total, plain);
  print("encrypted", total, encrypted);
  std::printf("encrypted / plain: %.2f\n", plain.seconds / encrypted.seconds);
  return 0;
}
