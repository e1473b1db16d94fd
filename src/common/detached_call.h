#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <utility>

namespace brisk {

// Runs `work` on a thread of its own and waits for its result, or until `stop` is
// requested. For calls nothing can interrupt: a host name lookup may wait for the
// resolver's own time-out, and neither Disconnect nor closing the window should wait with
// it. The thread is detached and touches nothing but the state it shares with this call,
// so it may finish after its caller and even its Peer are gone. Nothing when stopped first.
template <class T>
std::optional<T> callDetached(std::function<T()> work, const std::stop_token& stop) {
  struct State {
    std::mutex mutex;
    std::condition_variable_any done;
    std::optional<T> result;
  };
  auto state = std::make_shared<State>();
  std::thread([state, work = std::move(work)] {
    T result = work();
    std::lock_guard lock(state->mutex);
    state->result = std::move(result);
    state->done.notify_all();
  }).detach();
  std::unique_lock lock(state->mutex);
  if (!state->done.wait(lock, stop, [&state] { return state->result.has_value(); })) {
    return std::nullopt;
  }
  return std::move(state->result);
}

}  // namespace brisk
