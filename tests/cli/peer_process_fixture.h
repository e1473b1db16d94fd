#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "support/test_support.h"

namespace brisk::test {

// Runs brisk-peer programs in a sandbox, each with its output in a file of the sandbox.
class BriskPeerProcess : public Sandbox {
 protected:
  std::unique_ptr<ChildProcess> start(const std::string& name,
                                      const std::vector<std::string>& arguments) {
    return std::make_unique<ChildProcess>(BRISK_PEER_PROGRAM, arguments, root() / (name + ".out"));
  }

  // A listener, once it listens.
  std::unique_ptr<ChildProcess> startListener(int port, std::vector<std::string> options) {
    std::vector<std::string> arguments{"listen", "--port", std::to_string(port), "--no-announce"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    plainUnlessEncrypted(arguments);
    auto child = start("listener-" + std::to_string(port), arguments);
    EXPECT_TRUE(waitFor([&] { return isListening(port) || child->exitStatus(); }))
        << child->output();
    return child;
  }

  // The tests of the protocol itself run on the plain port (an inbox then takes anyone);
  // those of encrypted sessions say so with kEncrypted among the options.
  static constexpr const char* kEncrypted = "(encrypted)";
  static void plainUnlessEncrypted(std::vector<std::string>& arguments) {
    const auto encrypted = std::find(arguments.begin(), arguments.end(), kEncrypted);
    if (encrypted != arguments.end()) {
      arguments.erase(encrypted);
      return;
    }
    arguments.push_back("--plain");
    if (std::find(arguments.begin(), arguments.end(), "--keep") != arguments.end()) {
      arguments.push_back("--accept-anyone");
    }
  }

  std::unique_ptr<ChildProcess> startConnector(int port, std::vector<std::string> options,
                                               const std::string& name = {}) {
    std::vector<std::string> arguments{"connect", "127.0.0.1", "--port", std::to_string(port)};
    arguments.insert(arguments.end(), options.begin(), options.end());
    plainUnlessEncrypted(arguments);
    return start(name.empty() ? "connector-" + std::to_string(port) : name, arguments);
  }
};

}  // namespace brisk::test
