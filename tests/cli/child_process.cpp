#include "child_process.h"

#include <csignal>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/test_support.h"

namespace brisk::test {

ChildProcess::ChildProcess(const std::filesystem::path& program,
                           const std::vector<std::string>& arguments,
                           const std::filesystem::path& outputFile,
                           const std::filesystem::path& inputFile)
    : outputFile_(outputFile) {
  std::vector<std::string> all{program.string()};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  argv.reserve(all.size() + 1);
  for (std::string& argument : all) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, inputFile.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !exitStatus()) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
}

std::optional<int> ChildProcess::exitStatus() {
  if (status_ || pid_ <= 0) return pid_ <= 0 ? std::optional<int>(-1) : status_;
  int status = 0;
  struct rusage usage {};
  if (::wait4(pid_, &status, WNOHANG, &usage) == pid_) {
    peakResidentKiB_ = usage.ru_maxrss;
    endedBySignal_ = WIFSIGNALED(status);
    status_ = endedBySignal_ ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
  }
  return status_;
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds limit) {
  waitFor([&] { return exitStatus().has_value(); }, limit);
  return exitStatus();
}

void ChildProcess::signal(int number) const {
  if (pid_ > 0 && !status_) ::kill(pid_, number);
}

std::string ChildProcess::output() const {
  return readFile(outputFile_);
}

}  // namespace brisk::test
