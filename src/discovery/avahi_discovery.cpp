#include "discovery/avahi_discovery.h"

#include <array>
#include <map>
#include <mutex>
#include <string_view>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>

namespace brisk {

namespace {

// How long to wait before trying the bus and the daemon again.
constexpr int kRetrySeconds = 1;
// The most announcements resolved at once; a flood of fake ones must not grow without bound.
constexpr std::size_t kMaxResolvers = 256;
// Avahi renames on a clash ("Alice #2"); a name still taken after this many tries is given up.
constexpr int kMaxRenames = 20;

std::string reasonFor(int error) {
  switch (error) {
    case AVAHI_ERR_NO_DAEMON:
      return "avahi-daemon is not running";
    case AVAHI_ERR_DBUS_ERROR:
    case AVAHI_ERR_DISCONNECTED:
      return std::string("the system bus or avahi-daemon cannot be reached (") +
             avahi_strerror(error) + ")";
    default:
      return std::string("avahi-daemon: ") + avahi_strerror(error);
  }
}

IpProtocol protocolOf(AvahiProtocol protocol) {
  return protocol == AVAHI_PROTO_INET6 ? IpProtocol::V6 : IpProtocol::V4;
}

// The received text records as they are; the parser checks them. The list is walked no
// further than the parser reads.
PeerHints hintsIn(AvahiStringList* records) {
  std::vector<std::string_view> texts;
  for (AvahiStringList* record = records; record != nullptr && texts.size() < kMaxHintRecords;
       record = avahi_string_list_get_next(record)) {
    texts.emplace_back(reinterpret_cast<const char*>(avahi_string_list_get_text(record)),
                       avahi_string_list_get_size(record));
  }
  return parseHintRecords(texts);
}

// The text records to publish, in order (each added record goes in front).
AvahiStringList* recordsFor(const PeerHints& hints) {
  const std::vector<std::string> records = hintRecords(hints);
  AvahiStringList* list = nullptr;
  for (auto record = records.rbegin(); record != records.rend(); ++record) {
    list = avahi_string_list_add(list, record->c_str());
  }
  return list;
}

}  // namespace

// Everything below runs on Avahi's thread, except the constructor, the destructor (after
// the thread has stopped) and the two methods that record what is wanted.
struct AvahiDiscovery::Worker {
  struct Wanted {
    bool announce = false;
    std::string name;
    int port = 0;
    PeerHints hints;
  };
  struct Resolving {
    AvahiServiceResolver* resolver = nullptr;
    bool ours = false;
    bool found = false;
  };
  using ResolverKey = std::tuple<AvahiIfIndex, AvahiProtocol, std::string>;

  DiscoverySink sink;
  AvahiThreadedPoll* poll = nullptr;
  const AvahiPoll* api = nullptr;
  bool running = false;
  std::array<int, 2> wakePipe{-1, -1};
  AvahiWatch* wakeWatch = nullptr;
  AvahiTimeout* retryTimer = nullptr;

  AvahiClient* client = nullptr;
  AvahiServiceBrowser* browser = nullptr;
  std::map<ResolverKey, Resolving> resolvers;
  AvahiEntryGroup* group = nullptr;

  std::mutex wantedMutex;
  Wanted wanted;

  // What the entry group holds now.
  Wanted published;
  std::string publishedName;  // after renames

  bool reported = false;
  AvailabilityChanged lastReport;

  ~Worker() {
    if (poll != nullptr && running) avahi_threaded_poll_stop(poll);
    if (client != nullptr) avahi_client_free(client);
    if (poll != nullptr) avahi_threaded_poll_free(poll);
    for (const int fd : wakePipe) {
      if (fd >= 0) ::close(fd);
    }
  }

  void report(bool available, std::string reason) {
    if (reported && lastReport.available == available && lastReport.reason == reason) return;
    reported = true;
    lastReport = AvailabilityChanged{available, std::move(reason)};
    sink(lastReport);
  }

  void scheduleRetry() {
    timeval when{};
    avahi_elapse_time(&when, kRetrySeconds * 1000, 0);
    api->timeout_update(retryTimer, &when);
  }

  // Frees the client and with it the browser, resolvers and entry group.
  void dropClient() {
    if (client != nullptr) avahi_client_free(client);
    client = nullptr;
    browser = nullptr;
    group = nullptr;
    resolvers.clear();
    published = {};
    if (!publishedName.empty()) {
      publishedName.clear();
      sink(AnnouncedAs{});
    }
  }

  void connectClient() {
    dropClient();
    int error = 0;
    // The callback may already run inside avahi_client_new; it records the client itself.
    AvahiClient* made = avahi_client_new(api, AvahiClientFlags(0), onClientState, this, &error);
    if (made == nullptr) {
      client = nullptr;  // a callback may have seen the client that was then freed
      report(false, reasonFor(error));
      scheduleRetry();
      return;
    }
    client = made;
  }

  void failed(int error) {
    report(false, reasonFor(error));
    // The client cannot be freed inside its own callbacks; the retry timer does it.
    scheduleRetry();
  }

  static void onClientState(AvahiClient* c, AvahiClientState state, void* self) {
    auto& worker = *static_cast<Worker*>(self);
    worker.client = c;
    switch (state) {
      case AVAHI_CLIENT_S_RUNNING:
        worker.clientRunning();
        break;
      case AVAHI_CLIENT_S_COLLISION:
      case AVAHI_CLIENT_S_REGISTERING:
        // The daemon is choosing a new host name; services are added again once it runs.
        if (worker.group != nullptr) avahi_entry_group_reset(worker.group);
        worker.published = {};
        break;
      case AVAHI_CLIENT_FAILURE:
        worker.failed(avahi_client_errno(c));
        break;
      case AVAHI_CLIENT_CONNECTING:
        break;
    }
  }

  void clientRunning() {
    if (browser == nullptr) {
      browser = avahi_service_browser_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, kServiceType,
                                          "local", AvahiLookupFlags(0), onBrowse, this);
      if (browser == nullptr) {
        failed(avahi_client_errno(client));
        return;
      }
    }
    report(true, {});
    applyWanted();
  }

  static void onBrowse(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol,
                       AvahiBrowserEvent event, const char* name, const char* type,
                       const char* domain, AvahiLookupResultFlags flags, void* self) {
    auto& worker = *static_cast<Worker*>(self);
    switch (event) {
      case AVAHI_BROWSER_NEW:
        worker.resolve(interface, protocol, name, type, domain,
                       (flags & AVAHI_LOOKUP_RESULT_OUR_OWN) != 0);
        break;
      case AVAHI_BROWSER_REMOVE:
        worker.forget(ResolverKey{interface, protocol, name});
        break;
      case AVAHI_BROWSER_FAILURE:
        worker.failed(avahi_client_errno(worker.client));
        break;
      case AVAHI_BROWSER_ALL_FOR_NOW:
      case AVAHI_BROWSER_CACHE_EXHAUSTED:
        break;
    }
  }

  void resolve(AvahiIfIndex interface, AvahiProtocol protocol, const char* name, const char* type,
               const char* domain, bool ours) {
    const ResolverKey key{interface, protocol, name};
    if (resolvers.contains(key) || resolvers.size() >= kMaxResolvers) return;
    // The resolver stays: it reports again when the peer's address or port changes.
    AvahiServiceResolver* resolver =
        avahi_service_resolver_new(client, interface, protocol, name, type, domain, protocol,
                                   AvahiLookupFlags(0), onResolved, this);
    if (resolver != nullptr) resolvers[key] = Resolving{resolver, ours, false};
  }

  void forget(const ResolverKey& key) {
    const auto known = resolvers.find(key);
    if (known == resolvers.end()) return;
    const bool wasFound = known->second.found;
    avahi_service_resolver_free(known->second.resolver);
    resolvers.erase(known);
    const auto& [interface, protocol, name] = key;
    if (wasFound) sink(ServiceLost{name, interface, protocolOf(protocol)});
  }

  static void onResolved(AvahiServiceResolver*, AvahiIfIndex interface, AvahiProtocol protocol,
                         AvahiResolverEvent event, const char* name, const char*, const char*,
                         const char*, const AvahiAddress* address, uint16_t port,
                         AvahiStringList* records, AvahiLookupResultFlags, void* self) {
    auto& worker = *static_cast<Worker*>(self);
    const ResolverKey key{interface, protocol, name};
    const auto known = worker.resolvers.find(key);
    if (known == worker.resolvers.end()) return;
    if (event != AVAHI_RESOLVER_FOUND || address == nullptr) {
      // Not answering in time: treated as gone until the browser announces it again.
      worker.forget(key);
      return;
    }
    std::array<char, AVAHI_ADDRESS_STR_MAX> text{};
    avahi_address_snprint(text.data(), text.size(), address);
    known->second.found = true;
    worker.sink(ServiceFound{name, text.data(), port, interface, protocolOf(protocol),
                             known->second.ours, hintsIn(records)});
  }

  static void onWake(AvahiWatch*, int fd, AvahiWatchEvent, void* self) {
    std::array<char, 64> bytes{};
    while (::read(fd, bytes.data(), bytes.size()) > 0) {
    }
    auto& worker = *static_cast<Worker*>(self);
    if (worker.client != nullptr &&
        avahi_client_get_state(worker.client) == AVAHI_CLIENT_S_RUNNING) {
      worker.applyWanted();
    }
  }

  static void onRetry(AvahiTimeout*, void* self) { static_cast<Worker*>(self)->connectClient(); }

  // Brings the entry group in line with what was last asked for.
  void applyWanted() {
    Wanted now;
    {
      std::lock_guard lock(wantedMutex);
      now = wanted;
    }
    if (!now.announce) {
      if (group != nullptr) avahi_entry_group_reset(group);
      published = {};
      if (!publishedName.empty()) {
        publishedName.clear();
        sink(AnnouncedAs{});
      }
      return;
    }
    if (published.announce && published.name == now.name && published.port == now.port &&
        published.hints == now.hints) {
      return;
    }
    if (group == nullptr) {
      group = avahi_entry_group_new(client, onGroupState, this);
      if (group == nullptr) return;
    } else {
      avahi_entry_group_reset(group);
    }
    published = now;
    publishedName = now.name;
    publish();
  }

  void publish() {
    AvahiStringList* records = recordsFor(published.hints);
    for (int tries = 0; tries < kMaxRenames; ++tries) {
      const int result = avahi_entry_group_add_service_strlst(
          group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0), publishedName.c_str(),
          kServiceType, nullptr, nullptr, static_cast<uint16_t>(published.port), records);
      if (result == AVAHI_ERR_COLLISION) {
        rename();
        continue;
      }
      if (result == AVAHI_OK) avahi_entry_group_commit(group);
      break;
    }
    avahi_string_list_free(records);
  }

  void rename() {
    char* other = avahi_alternative_service_name(publishedName.c_str());
    publishedName = other;
    avahi_free(other);
  }

  static void onGroupState(AvahiEntryGroup* g, AvahiEntryGroupState state, void* self) {
    auto& worker = *static_cast<Worker*>(self);
    worker.group = g;
    if (state == AVAHI_ENTRY_GROUP_ESTABLISHED) {
      worker.sink(AnnouncedAs{worker.publishedName});
    } else if (state == AVAHI_ENTRY_GROUP_COLLISION) {
      // Another computer holds the name: take the daemon's next one ("Alice #2").
      worker.rename();
      avahi_entry_group_reset(g);
      worker.publish();
    }
  }
};

AvahiDiscovery::AvahiDiscovery() : worker_(std::make_unique<Worker>()) {}

AvahiDiscovery::~AvahiDiscovery() = default;

void AvahiDiscovery::start(DiscoverySink sink) {
  Worker& w = *worker_;
  w.sink = std::move(sink);
  w.poll = avahi_threaded_poll_new();
  if (w.poll == nullptr || ::pipe2(w.wakePipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
    w.report(false, "cannot start Avahi's thread");
    return;
  }
  w.api = avahi_threaded_poll_get(w.poll);
  w.wakeWatch = w.api->watch_new(w.api, w.wakePipe[0], AVAHI_WATCH_IN, Worker::onWake, &w);
  timeval now{};
  avahi_elapse_time(&now, 0, 0);
  // The first connection is made on Avahi's thread too, so start() never waits for D-Bus.
  w.retryTimer = w.api->timeout_new(w.api, &now, Worker::onRetry, &w);
  w.running = avahi_threaded_poll_start(w.poll) == 0;
  if (!w.running) w.report(false, "cannot start Avahi's thread");
}

void AvahiDiscovery::announce(const std::string& name, int port, const PeerHints& hints) {
  {
    std::lock_guard lock(worker_->wantedMutex);
    worker_->wanted = Worker::Wanted{true, name, port, hints};
  }
  // A full pipe already holds a wake-up.
  if (worker_->wakePipe[1] >= 0) (void)!::write(worker_->wakePipe[1], "w", 1);
}

void AvahiDiscovery::withdraw() {
  {
    std::lock_guard lock(worker_->wantedMutex);
    worker_->wanted.announce = false;
  }
  if (worker_->wakePipe[1] >= 0) (void)!::write(worker_->wakePipe[1], "w", 1);
}

}  // namespace brisk
