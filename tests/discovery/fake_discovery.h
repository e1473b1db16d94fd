#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "discovery/discovery_backend.h"

namespace brisk::test {

// A discovery backend driven by the test: it records what the program announces and hands
// the events the test makes to the program's sink, on the test's thread.
class FakeDiscovery : public DiscoveryBackend {
 public:
  struct Announcement {
    std::string name;
    int port = 0;
    PeerHints hints;
    bool operator==(const Announcement&) const = default;
  };

  // Events handed over as soon as the program starts the backend.
  explicit FakeDiscovery(std::vector<DiscoveryEvent> atStart = {}) : atStart_(std::move(atStart)) {}

  ~FakeDiscovery() override {
    if (onDestroyed) onDestroyed();
  }
  FakeDiscovery(const FakeDiscovery&) = delete;
  FakeDiscovery& operator=(const FakeDiscovery&) = delete;

  // Called when the program lets the backend go.
  std::function<void()> onDestroyed;

  void start(DiscoverySink sink) override {
    sink_ = std::move(sink);
    for (const DiscoveryEvent& event : atStart_) sink_(event);
  }
  void announce(const std::string& name, int port, const PeerHints& hints) override {
    announced_ = Announcement{name, port, hints};
    ++announcements_;
  }
  void withdraw() override { announced_.reset(); }

  bool started() const { return bool(sink_); }
  const std::optional<Announcement>& announced() const { return announced_; }
  int announcements() const { return announcements_; }
  void emit(const DiscoveryEvent& event) { sink_(event); }

 private:
  std::vector<DiscoveryEvent> atStart_;
  DiscoverySink sink_;
  std::optional<Announcement> announced_;
  int announcements_ = 0;
};

}  // namespace brisk::test
