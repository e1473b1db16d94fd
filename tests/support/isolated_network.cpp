#include "support/isolated_network.h"

#include <cstdlib>
#include <cstring>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace brisk::test {

namespace {
constexpr int kCannotIsolate = 77;
}

std::optional<std::string> runWithoutNetwork(const std::function<std::string()>& body,
                                             const char* hostName) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return std::nullopt;
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    return std::nullopt;
  }
  if (child == 0) {
    ::close(pipeEnds[0]);
    if (::unshare(CLONE_NEWNET | CLONE_NEWUTS) != 0) ::_exit(kCannotIsolate);
    if (hostName && ::sethostname(hostName, std::strlen(hostName)) != 0) ::_exit(kCannotIsolate);
    const std::string result = body();
    std::size_t written = 0;
    while (written < result.size()) {
      const ssize_t n = ::write(pipeEnds[1], result.data() + written, result.size() - written);
      if (n <= 0) break;
      written += static_cast<std::size_t>(n);
    }
    ::_exit(0);
  }
  ::close(pipeEnds[1]);
  std::string result;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0) {
    result.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipeEnds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) == kCannotIsolate) return std::nullopt;
  return result;
}

bool addAddressToLoopback(const char* dotted) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  auto* address = reinterpret_cast<sockaddr_in*>(&request.ifr_addr);
  address->sin_family = AF_INET;
  bool ok = ::inet_pton(AF_INET, dotted, &address->sin_addr) == 1 &&
            ::ioctl(fd, SIOCSIFADDR, &request) == 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  if (ok) {
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    ok = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  }
  ::close(fd);
  return ok;
}

bool keepOnlyIpv6Loopback() {
  // Up first: bringing it up is what gives the loopback its two addresses.
  return std::system("ip link set lo up && ip address del 127.0.0.1/8 dev lo") == 0;
}

bool useHostsFile(const std::string& lines) {
  char path[] = "/tmp/brisk-hosts-XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0) return false;
  const bool written =
      ::write(fd, lines.data(), lines.size()) == static_cast<ssize_t>(lines.size());
  ::close(fd);
  const bool mounted = written && ::unshare(CLONE_NEWNS) == 0 &&
                       ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                       ::mount(path, "/etc/hosts", nullptr, MS_BIND, nullptr) == 0;
  ::unlink(path);  // the bind mount keeps the file while it is in use
  return mounted;
}

}  // namespace brisk::test
