#include "platform/mapped_file.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <mutex>

#include <sys/mman.h>
#include <unistd.h>

namespace brisk {

namespace {

// Mapped at a time: large enough that mapping costs nothing beside the reading, small
// enough not to crowd the address space with up to 99 transfers at once.
constexpr std::size_t kWindow = 4 << 20;

// The window the current thread reads, for the SIGBUS handler. Trivial, so that its use
// in the handler runs no initialisation; initial-exec, so that reaching it never allocates.
struct ActiveWindow {
  std::uintptr_t begin = 0;
  std::uintptr_t end = 0;
  volatile sig_atomic_t cut = 0;
};
[[gnu::tls_model("initial-exec")]] thread_local ActiveWindow activeWindow;

std::uintptr_t pageSize = 4096;
struct sigaction previousAction {};

// What would have happened without this handler: a handler installed before it runs,
// anything else ends the process as a SIGBUS does (the default action is put back and the
// faulting access, run again on return, raises it once more).
void passOn(int signal, siginfo_t* info, void* context) {
  if ((previousAction.sa_flags & SA_SIGINFO) != 0 && previousAction.sa_sigaction != nullptr) {
    previousAction.sa_sigaction(signal, info, context);
    return;
  }
  if (previousAction.sa_handler != SIG_DFL && previousAction.sa_handler != SIG_IGN) {
    previousAction.sa_handler(signal);
    return;
  }
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  ::sigaction(SIGBUS, &fallback, nullptr);
}

// A page of this thread's window past the file's end becomes a page of zeros, to the
// window's end; the access that faulted then reads zeros.
extern "C" void onBusError(int signal, siginfo_t* info, void* context) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  ActiveWindow& window = activeWindow;
  if (info->si_code > 0 && address >= window.begin && address < window.end) {
    const std::uintptr_t page = address & ~(pageSize - 1);
    void* zeros = ::mmap(reinterpret_cast<void*>(page), window.end - page, PROT_READ,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (zeros != MAP_FAILED) {
      window.cut = 1;
      return;
    }
  }
  passOn(signal, info, context);
}

void installHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &previousAction);
  });
}

}  // namespace

MappedFileReader::MappedFileReader(int fd, std::uint64_t offset, std::uint64_t count)
    : fd_(fd), offset_(offset), count_(count) {
  installHandler();
  activeWindow.cut = 0;
}

MappedFileReader::~MappedFileReader() {
  unmapWindow();
}

bool MappedFileReader::shrank() const {
  return shortFile_ || activeWindow.cut != 0;
}

std::optional<std::span<const char>> MappedFileReader::next(std::size_t limit) {
  if (done_ >= count_ || failed_ || shrank()) return std::nullopt;
  const std::uint64_t at = offset_ + done_;
  if (!window_ || at >= windowStart_ + windowLength_) {
    unmapWindow();
    if (!mapWindow()) return std::nullopt;
  }
  const std::uint64_t inWindow = windowStart_ + windowLength_ - at;
  const auto length =
      static_cast<std::size_t>(std::min<std::uint64_t>({limit, count_ - done_, inWindow}));
  char* piece = window_ + (at - windowStart_);
  // Making the piece present tells a file now shorter than it without touching it. A
  // kernel without MADV_POPULATE_READ (before 5.14) leaves it to the handler.
  char* firstPage = window_ + ((at - windowStart_) & ~(pageSize - 1));
  if (::madvise(firstPage, static_cast<std::size_t>(piece + length - firstPage),
                MADV_POPULATE_READ) != 0 &&
      errno == EFAULT) {
    shortFile_ = true;
    return std::nullopt;
  }
  done_ += length;
  return std::span<const char>(piece, length);
}

bool MappedFileReader::mapWindow() {
  const std::uint64_t at = offset_ + done_;
  windowStart_ = at & ~static_cast<std::uint64_t>(pageSize - 1);
  windowLength_ =
      static_cast<std::size_t>(std::min<std::uint64_t>(kWindow, offset_ + count_ - windowStart_));
  void* mapped =
      ::mmap(nullptr, windowLength_, PROT_READ, MAP_SHARED, fd_, static_cast<off_t>(windowStart_));
  if (mapped == MAP_FAILED) {
    failed_ = true;
    return false;
  }
  window_ = static_cast<char*>(mapped);
  activeWindow.begin = reinterpret_cast<std::uintptr_t>(window_);
  activeWindow.end = activeWindow.begin + windowLength_;
  return true;
}

void MappedFileReader::unmapWindow() {
  if (!window_) return;
  activeWindow.begin = activeWindow.end = 0;
  ::munmap(window_, windowLength_);
  window_ = nullptr;
}

}  // namespace brisk
