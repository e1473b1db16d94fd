#pragma once

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
    auto child = start("listener-" + std::to_string(port), arguments);
    EXPECT_TRUE(waitFor([&] { return isListening(port) || child->exitStatus(); }))
        << child->output();
    return child;
  }

  std::unique_ptr<ChildProcess> startConnector(int port, std::vector<std::string> options,
                                               const std::string& name = {}) {
    std::vector<std::string> arguments{"connect", "127.0.0.1", "--port", std::to_string(port)};
    arguments.insert(arguments.end(), options.begin(), options.end());
    return start(name.empty() ? "connector-" + std::to_string(port) : name, arguments);
  }
};

}  // namespace brisk::test
