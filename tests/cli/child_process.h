#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace brisk::test {

// A program started for a test, with standard input from a file (/dev/null unless
// given) and its output in a file. A child still running when the object goes is killed and reaped,
// so a failed test leaves nothing behind.
class ChildProcess {
 public:
  ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
               const std::filesystem::path& outputFile,
               const std::filesystem::path& inputFile = "/dev/null");
  // The process id, for looking at it in /proc.
  pid_t pid() const { return pid_; }
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The exit status once it has ended (128 + N after signal N), without waiting.
  std::optional<int> exitStatus();
  // Waits up to `limit` for the end.
  std::optional<int> waitForExit(std::chrono::milliseconds limit);
  // Whether the program was ended by a signal rather than returning its status itself.
  bool endedBySignal() const { return endedBySignal_; }
  void signal(int number) const;
  // The most memory it had resident at any time, in KiB, once it has ended.
  long peakResidentKiB() const { return peakResidentKiB_; }
  // Standard output and error so far.
  std::string output() const;

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
  bool endedBySignal_ = false;
  long peakResidentKiB_ = 0;
  std::filesystem::path outputFile_;
};

}  // namespace brisk::test
