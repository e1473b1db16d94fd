#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "common/timing.h"

namespace brisk::test {

// A temporary folder for one test, removed afterwards, with XDG_CONFIG_HOME pointed into
// it so that settings never touch the real user's.
class Sandbox : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  const std::filesystem::path& root() const { return root_; }
  // A folder below the sandbox, created if missing.
  std::filesystem::path folder(const std::string& name) const;

 private:
  std::filesystem::path root_;
};

// Waits until `condition` holds or `limit` has passed; returns whether it held.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds limit = std::chrono::seconds(10));

// A port P such that P and the `span` ports after it could be bound just now; different
// for every call in this process, so tests running together do not meet.
int freePortRange(int span = 4);

// Whether some socket of this machine listens on `port` on every address. Reads the
// kernel's table, so it never disturbs the socket it looks for.
bool isListening(int port);

// The program's timing with every pause cut short, for fast tests.
Timing fastTiming();

// Writes `bytes` to a new file (creating its folders).
void writeFile(const std::filesystem::path& path, const std::string& bytes);
std::string readFile(const std::filesystem::path& path);
// `size` bytes of a repeatable pattern that differs from file to file with `seed`.
std::string patternBytes(std::size_t size, unsigned seed = 1);

}  // namespace brisk::test
