#include "support/test_support.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brisk::test {

namespace {

bool canBind(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_ANY);
  const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

void Sandbox::SetUp() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  root_ = std::filesystem::temp_directory_path() /
          ("brisk-test-" + std::to_string(::getpid()) + "-" + name);
  std::filesystem::remove_all(root_);
  std::filesystem::create_directories(root_);
  ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
}

void Sandbox::TearDown() {
  std::error_code ec;
  // Read-only files and folders made by a test must not keep the sandbox alive.
  for (auto it = std::filesystem::recursive_directory_iterator(root_, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(
        it->path(), std::filesystem::perms::owner_all,
        std::filesystem::perm_options::add | std::filesystem::perm_options::nofollow, ec);
  }
  std::filesystem::remove_all(root_, ec);
}

std::filesystem::path Sandbox::folder(const std::string& name) const {
  const auto path = root_ / name;
  std::filesystem::create_directories(path);
  return path;
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

namespace {

// The first port the system gives outgoing connections their local end from: ports below
// it are never taken by a connection of another test process between the check that a
// range is free and the listen on it.
int firstEphemeralPort() {
  std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range");
  int low = 0;
  return range >> low && low > 21000 ? low : 64000;
}

}  // namespace

// Whether this process may use the ports from `port` to `port + span`: a test process
// that took a port holds a lock on a file named by it for as long as it runs, since a port
// found free may be about to be listened on by another process that found it free a moment
// before. The locks go with the process; the files stay, harmless. Ports this process
// claimed before are its own to use again.
bool claimRange(int port, int span) {
  static const std::string folder = "/tmp/brisk-test-ports-" + std::to_string(::getuid());
  static std::mutex mutex;
  static std::set<int> own;
  std::lock_guard lock(mutex);
  ::mkdir(folder.c_str(), 0700);
  std::vector<int> held;
  for (int p = port; p <= port + span; ++p) {
    if (own.contains(p)) continue;
    const std::string path = folder + "/" + std::to_string(p);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) continue;  // nowhere to note it: the check of the port alone
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      for (const int taken : held) ::close(taken);
      return false;
    }
    held.push_back(fd);
  }
  // The descriptors stay open, and the locks held, until the process ends.
  for (int p = port; p <= port + span; ++p) own.insert(p);
  return true;
}

int freePortRange(int span) {
  static const int kEnd = firstEphemeralPort();
  // Start somewhere that depends on the process, so parallel test processes spread out.
  static std::atomic<int> next{20000 + static_cast<int>(::getpid() % ((kEnd - 20000) / 150)) * 150};
  for (;;) {
    int port = next.fetch_add(span + 1);
    if (port + span >= kEnd) {
      next = 20000;
      continue;
    }
    bool free = true;
    for (int p = port; p <= port + span && free; ++p) free = canBind(p);
    if (free && claimRange(port, span)) return port;
  }
}

bool isListening(int port) {
  // A listening socket on every address shows as 00000000:PORT (IPv4 alone) or as
  // 00000000000000000000000000000000:PORT (IPv6 and IPv4), in state 0A.
  char portText[8];
  std::snprintf(portText, sizeof portText, ":%04X", port);
  for (const auto& [table, any] : {std::pair{"/proc/net/tcp", std::string(8, '0')},
                                   std::pair{"/proc/net/tcp6", std::string(32, '0')}}) {
    std::ifstream lines(table);
    std::string line;
    while (std::getline(lines, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      fields >> slot >> local >> remote >> state;
      if (local == any + portText && state == "0A") return true;
    }
  }
  return false;
}

Timing fastTiming() {
  Timing timing;
  timing.noticePause = std::chrono::milliseconds(0);
  timing.messagePause = std::chrono::milliseconds(0);
  timing.acceptLimit = std::chrono::milliseconds(3000);
  timing.progressTick = std::chrono::milliseconds(5);
  timing.connectRetryWait = std::chrono::milliseconds(1);
  timing.controlRestWait = std::chrono::milliseconds(300);
  timing.recordRestWait = std::chrono::milliseconds(300);
  timing.acknowledgementWait = std::chrono::milliseconds(300);
  timing.closeDrainWait = std::chrono::milliseconds(300);
  timing.peerStopWait = std::chrono::milliseconds(300);
  timing.offerPause = std::chrono::milliseconds(0);
  return timing;
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string patternBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

}  // namespace brisk::test
